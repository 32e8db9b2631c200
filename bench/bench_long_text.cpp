// Long texts in bounded places: a 100,000-character transcript (or error text) fitted and elided where the
// windows show it. Goal: each under 50 ms, whatever the length, since only what can be seen is laid out.
// - fitLines: four lines of the tray panel's width, the text's words wrapped and the last line elided;
// - elidedLabel: a two-line ElidedLabel given the text, asked its height and painted;
// - trayPanel: the tray panel shown a new last transcript;
// - historyEntry: a new history entry with the text, until the window is repainted;
// - notePreview: the notes list's preview of a note whose body is the text.
// Each runs at 10,000 and 100,000 characters, so growth with the length shows. Offscreen.
// Run by hand: build/bench/bench_long_text

#include "AppSettings.h"
#include "DashboardRig.h"
#include "DictationFakes.h"
#include "DisplayText.h"
#include "ElidedLabel.h"
#include "NotesRules.h"
#include "TrayPanel.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Words of varied length with a line break now and then, `length` characters in all; `round` varies the
// start so no cache of the last text can answer.
QString longText(qsizetype length, int round) {
    static const QStringList words{QStringLiteral("the"),       QStringLiteral("quarterly"),
                                   QStringLiteral("review"),    QStringLiteral("moves"),
                                   QStringLiteral("to"),        QStringLiteral("Thursday,"),
                                   QStringLiteral("afternoon"), QStringLiteral("with"),
                                   QStringLiteral("everyone."), QStringLiteral("Überprüfung")};
    QString text = QStringLiteral("Take %1: ").arg(round);
    text.reserve(length + 16);
    for (int i = 0; text.size() < length; ++i) {
        text += words.at(i % words.size());
        text += i % 97 == 96 ? QLatin1Char('\n') : QLatin1Char(' ');
    }
    text.truncate(length);
    return text;
}

void BM_FitLines(benchmark::State& state) {
    QFont font;
    font.setPixelSize(11);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = longText(state.range(0), round++);
        state.ResumeTiming();
        benchmark::DoNotOptimize(DisplayText::fitLines(text, font, 268, 4));
    }
}
BENCHMARK(BM_FitLines)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ElidedLabel(benchmark::State& state) {
    ElidedLabel label(2);
    label.resize(320, 40);
    QImage target(320, 40, QImage::Format_ARGB32_Premultiplied);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = longText(state.range(0), round++);
        state.ResumeTiming();
        label.setText(text);
        benchmark::DoNotOptimize(label.sizeHint());
        benchmark::DoNotOptimize(label.heightForWidth(320));
        label.render(&target);
    }
}
BENCHMARK(BM_ElidedLabel)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_TrayPanel(benchmark::State& state) {
    fakes::Harness harness;
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("settings.json")));
    AppSettings settings(defaults);
    TrayPanel panel(harness.coordinator, settings, nullptr);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = longText(state.range(0), round++);
        state.ResumeTiming();
        harness.coordinator.setLastTranscript(text);
        benchmark::DoNotOptimize(panel.sizeHint());
    }
}
BENCHMARK(BM_TrayPanel)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_HistoryEntry(benchmark::State& state) {
    DashboardRig rig;
    DashboardView& view = rig.makeView({1100, 760});
    view.show();
    QApplication::processEvents();
    QImage target(1100, 760, QImage::Format_ARGB32_Premultiplied);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = longText(state.range(0), round++);
        state.ResumeTiming();
        rig.history.addEntry(text, QStringLiteral("Tidewell"), QStringLiteral("Mail"), 1.0);
        QApplication::processEvents();
        view.render(&target);
    }
}
BENCHMARK(BM_HistoryEntry)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_NotePreview(benchmark::State& state) {
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QString text = longText(state.range(0), round++);
        text.replace(QLatin1Char('\n'), QLatin1Char(' ')); // one long line
        state.ResumeTiming();
        benchmark::DoNotOptimize(NotesRules::rowPreview(text));
    }
}
BENCHMARK(BM_NotePreview)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
