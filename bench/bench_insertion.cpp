// Text insertion into another application's window, on a private X server with openbox, side by side in
// one run against the same target window:
//   - typing a 200-character mixed text (accents, symbols, CJK, an emoji): ours against
//     `xdotool type --delay 0`, from the call until the text stopped changing in the target, and whether it
//     arrived exactly ("exact" = share of exact runs); the ratio of the two is printed at the end;
//   - a paste of the same text, from the call until the text is in the target.
// Run by hand: build/bench/bench_insertion (it starts Xvfb, openbox and its target itself).

#include "ClipboardRestorer.h"
#include "KeySynthesizer.h"
#include "TestDesktop.h"
#include "TextInsertionService.h"
#include "X11KeyInjector.h"

#include "../tests/services/insertion/InsertionTargetWindow.h"
#include "../tests/services/insertion/InsertionTestSupport.h"
#include "../tests/services/insertion/PrivateXServer.h"
#include "../tests/services/insertion/TargetProcess.h"
#include "RunTask.h"

#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

namespace {
const char* kTargetSwitch = "--insertion-target";

// 200 Unicode scalars (and 200 user-perceived characters): words, accented letters, punctuation and
// symbols the US layout lacks, CJK and an emoji.
QString mixedText() {
    const QString base = QString::fromUtf8(
        "Grüße aus Köln – café, naïve Ünïcödé ✓ 12,50 € für 日本語のテキスト 🎉 and plain words; "
        "Straße, Ærøskøbing, déjà vu, œuvre… ");
    QList<uint> scalars;
    while (scalars.size() < 200) {
        scalars += base.toUcs4();
    }
    scalars.resize(200);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()), scalars.size());
}

struct Fixture {
    std::unique_ptr<TargetProcess> target;
    QElapsedTimer clock;
    qint64 lastChangeNs = 0;
    std::vector<double> oursSeconds, xdotoolSeconds;
    int oursExact = 0, xdotoolExact = 0;
    QString xdotoolSample; // what xdotool's first inexact run left in the target
};
Fixture* g_fixture = nullptr;

// Empties the target's field, runs `insert`, then waits until the text equals `expected` or stopped
// changing for 1.5 s. Returns the seconds from the call to the last change, and whether it was exact.
std::pair<double, bool> measure(const QString& expected, const std::function<void()>& insert) {
    Fixture& f = *g_fixture;
    f.target->setText(QString());
    (void)QTest::qWaitFor([&] { return f.target->text().isEmpty(); }, 5000);
    f.lastChangeNs = 0;
    const qint64 start = f.clock.nsecsElapsed();
    insert();
    qint64 seenAt = f.lastChangeNs;
    QElapsedTimer quiet;
    quiet.start();
    (void)QTest::qWaitFor(
        [&] {
            if (f.target->text() == expected) {
                return true;
            }
            if (f.lastChangeNs != seenAt) {
                seenAt = f.lastChangeNs;
                quiet.restart();
            }
            return quiet.elapsed() > 1500;
        },
        60000);
    const bool exact = f.target->text() == expected;
    const double seconds = double(std::max(f.lastChangeNs, start) - start) / 1e9;
    return {seconds, exact};
}

// Our typing leaves its spare keys mapped for a moment; empty them so that xdotool finds none of ours.
void resetKeyboard() {
    if (auto* injector = dynamic_cast<X11KeyInjector*>(testDesktop().keys.get())) {
        injector->restoreKeyboardNow();
    }
    QTest::qWait(200);
}

void BM_TypeOurs(benchmark::State& state) {
    const QString text = mixedText();
    TextInsertionService service(testDesktop().keys, testDesktop().windows);
    for (auto _ : state) {
        resetKeyboard();
        const auto [seconds, exact] = measure(text, [&] { runTask(service.typeText(text, 0.0)); });
        state.SetIterationTime(seconds);
        g_fixture->oursSeconds.push_back(seconds);
        g_fixture->oursExact += exact;
    }
    state.counters["exact"] = benchmark::Counter(g_fixture->oursExact, benchmark::Counter::kAvgIterations);
}

void BM_TypeXdotool(benchmark::State& state) {
    const QString text = mixedText();
    for (auto _ : state) {
        resetKeyboard();
        const auto [seconds, exact] = measure(text, [&] {
            QProcess xdotool;
            xdotool.start(QStringLiteral("xdotool"), {"type", "--delay", "0", "--", text});
            xdotool.waitForFinished(60000);
        });
        state.SetIterationTime(seconds);
        if (!exact && g_fixture->xdotoolSample.isEmpty()) {
            g_fixture->xdotoolSample = g_fixture->target->text();
        }
        g_fixture->xdotoolSeconds.push_back(seconds);
        g_fixture->xdotoolExact += exact;
    }
    state.counters["exact"] = benchmark::Counter(g_fixture->xdotoolExact, benchmark::Counter::kAvgIterations);
}

void BM_PasteUntilInTarget(benchmark::State& state) {
    const QString text = mixedText();
    TextInsertionService service(testDesktop().keys, testDesktop().windows);
    int exactCount = 0;
    for (auto _ : state) {
        g_fixture->target->setClipboard(QStringLiteral("the user's clipboard"), false);
        (void)QTest::qWaitFor([] { return !ClipboardRestorer::instance().hasPendingRestore(); }, 10000);
        const auto [seconds, exact] = measure(text, [&] { runTask(service.pasteText(text)); });
        state.SetIterationTime(seconds);
        exactCount += exact;
    }
    (void)QTest::qWaitFor([] { return !ClipboardRestorer::instance().hasPendingRestore(); }, 10000);
    state.counters["exact"] = benchmark::Counter(exactCount, benchmark::Counter::kAvgIterations);
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kTargetSwitch) == 0) {
            return insertion_target::run(argc, argv);
        }
    }
    PrivateXServer server;
    QString error;
    if (!server.start(true, &error)) {
        qCritical("cannot start the private X server: %s", qPrintable(error));
        return 1;
    }
    qputenv("DISPLAY", server.displayName());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    Fixture fixture;
    g_fixture = &fixture;
    fixture.clock.start();
    fixture.target = std::make_unique<TargetProcess>(QCoreApplication::applicationFilePath(),
                                                     QStringList{QString::fromLatin1(kTargetSwitch)});
    fixture.target->onTextChanged = [&fixture](const QString&) {
        fixture.lastChangeNs = fixture.clock.nsecsElapsed();
    };
    X11WindowInspector windows;
    if (!fixture.target->start() || !waitUntilFrontmost(windows, *fixture.target)) {
        qCritical("the target window did not come up");
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("BM_TypeOurs", BM_TypeOurs)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_TypeXdotool", BM_TypeXdotool)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PasteUntilInTarget", BM_PasteUntilInTarget)
        ->Iterations(10)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double ours = median(fixture.oursSeconds), xdotool = median(fixture.xdotoolSeconds);
    if (ours > 0 && xdotool > 0) {
        std::printf(
            "typing 200 characters: ours %.0f ms (%d/%zu exact), xdotool --delay 0 %.0f ms (%d/%zu exact); "
            "xdotool/ours time ratio %.2f\n",
            ours * 1000, fixture.oursExact, fixture.oursSeconds.size(), xdotool * 1000, fixture.xdotoolExact,
            fixture.xdotoolSeconds.size(), xdotool / ours);
    }
    if (!fixture.xdotoolSample.isEmpty()) {
        std::printf("expected:        %s\nxdotool typed:   %s\n", qPrintable(mixedText()),
                    qPrintable(fixture.xdotoolSample));
    }
    fixture.target.reset();
    return 0;
}
