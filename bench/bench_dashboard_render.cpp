// The dashboard on screen: from the window being built and shown to its first paint with 100 history
// entries (goal: under 150 ms), and from a new history entry to the repainted window (goal: under 16 ms).
// Offscreen, so the numbers measure our layout and painting, not a compositor.

#include "DashboardRig.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {
void fill(DashboardRig& rig, int count) {
    for (int i = 0; i < count; ++i) {
        rig.history.addEntry(
            QStringLiteral("Entry %1: let's move the design review to Thursday at 3 pm and invite "
                           "the whole platform team.")
                .arg(i),
            QStringLiteral("Tidewell"), QStringLiteral("Kate (CODE) - notes.txt"), 3.5);
    }
}

// Paints the whole window once into an image, as the first expose would.
void paintOnce(QWidget& view, QImage& target) {
    target.fill(Qt::transparent);
    view.render(&target);
}

// The window shown with 100 entries and painted once.
DashboardView& shownWithHistory(DashboardRig& rig, QImage& target) {
    fill(rig, 100);
    DashboardView& view = rig.makeView({1100, 760});
    view.show();
    QApplication::processEvents();
    paintOnce(view, target);
    return view;
}

void BM_ShownToFirstPaint100Entries(benchmark::State& state) {
    DashboardRig rig;
    fill(rig, 100);
    QImage target(1100, 760, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        DashboardView view(rig.services);
        view.resize(1100, 760);
        view.show();
        QApplication::processEvents();
        paintOnce(view, target);
        state.PauseTiming();
        view.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShownToFirstPaint100Entries)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_NewEntryToRepaint(benchmark::State& state) {
    DashboardRig rig;
    QImage target(1100, 760, QImage::Format_ARGB32_Premultiplied);
    DashboardView& view = shownWithHistory(rig, target);
    for (auto _ : state) {
        rig.history.addEntry(QStringLiteral("A new transcript arrives."), QStringLiteral("AI Mode"),
                             QStringLiteral("Mail"), 1.0);
        QApplication::processEvents();
        paintOnce(view, target);
    }
}
BENCHMARK(BM_NewEntryToRepaint)->Unit(benchmark::kMillisecond)->Iterations(50);

// For comparison: the same repaint with nothing changed.
void BM_RepaintUnchanged(benchmark::State& state) {
    DashboardRig rig;
    QImage target(1100, 760, QImage::Format_ARGB32_Premultiplied);
    DashboardView& view = shownWithHistory(rig, target);
    for (auto _ : state) {
        paintOnce(view, target);
    }
}
BENCHMARK(BM_RepaintUnchanged)->Unit(benchmark::kMillisecond)->Iterations(50);
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
