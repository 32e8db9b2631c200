// The dashboard with a real amount of data: 1,000 notes, 1,000 dictionary terms and 1,000 snippets (and
// 100 history entries). Goals:
// - the window built, shown and painted once: under 300 ms;
// - (for information) a page of a thousand rows opened for the first time;
// - saving an edited term, adding one or deleting one, until the window is repainted: under 50 ms each
//   (the store's file write included);
// - the same for a snippet;
// - for comparison, the store's part of a delete alone (its file written), without a window.
// Offscreen, so the numbers measure our widgets, not a compositor.
// Run by hand: build/bench/bench_dashboard_data

#include "DashboardRig.h"
#include "KnowledgePage.h"

#include <QApplication>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QStackedWidget>
#include <QToolButton>

#include <benchmark/benchmark.h>

namespace {

constexpr int kCount = 1000;
const QSize kWindow(1100, 760);

void fill(DashboardRig& rig) {
    const QString body = QStringLiteral(
        "Agenda for the planning meeting: the roadmap, the hiring plan and the budget for next quarter. ");
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-30);
    for (int i = 0; i < kCount; ++i) {
        rig.notes.createNote(QStringLiteral("Note %1").arg(i), body.repeated(3), start.addSecs(i * 60));
        rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Term %1").arg(i, 4, 10, QLatin1Char('0')),
                                               i % 2 ? QStringLiteral("A product name, said as written.")
                                                     : QString());
        rig.knowledgeBase.createSnippet(QStringLiteral("snippet %1").arg(i, 4, 10, QLatin1Char('0')),
                                        QStringLiteral("Kind regards,\nThe platform team (%1)").arg(i));
    }
    rig.notes.flush();
    for (int i = 0; i < 100; ++i) {
        rig.history.addEntry(QStringLiteral("Entry %1: move the design review to Thursday at 3 pm.").arg(i),
                             QStringLiteral("Tidewell"), QStringLiteral("Mail"), 3.5);
    }
}

void paintOnce(QWidget& view, QImage& target) {
    target.fill(Qt::transparent);
    view.render(&target);
}

void BM_WindowShownWithThousands(benchmark::State& state) {
    DashboardRig rig;
    fill(rig);
    QImage target(kWindow, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        auto* view = new DashboardView(rig.services);
        view->resize(kWindow);
        view->show();
        QApplication::processEvents();
        paintOnce(*view, target);
        state.PauseTiming();
        delete view;
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowShownWithThousands)->Unit(benchmark::kMillisecond)->Iterations(10);

// The window shown on the home page, then a page with a thousand rows opened for the first time, until it
// is painted.
void BM_FirstOpenOfAPage(benchmark::State& state) {
    const AppSection section = AppSection(state.range(0));
    DashboardRig rig;
    fill(rig);
    QImage target(kWindow, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        state.PauseTiming();
        auto* view = new DashboardView(rig.services);
        view->resize(kWindow);
        view->show();
        QApplication::processEvents();
        paintOnce(*view, target);
        state.ResumeTiming();
        view->state().setSelectedSection(section);
        QApplication::processEvents();
        paintOnce(*view, target);
        state.PauseTiming();
        delete view;
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetLabel(AppSections::toRaw(section).toStdString());
}
BENCHMARK(BM_FirstOpenOfAPage)
    ->Arg(int(AppSection::Dictionary))
    ->Arg(int(AppSection::Snippets))
    ->Arg(int(AppSection::Notes))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The window on the dictionary or snippets page, with that page shown and painted once.
struct KnowledgeWindow {
    DashboardRig rig;
    QImage target{kWindow, QImage::Format_ARGB32_Premultiplied};
    KnowledgePage* page = nullptr;
    bool dictionary;

    explicit KnowledgeWindow(bool dictionaryPage) : dictionary(dictionaryPage) {
        fill(rig);
        DashboardView& view = rig.makeView(kWindow);
        view.state().setSelectedSection(dictionary ? AppSection::Dictionary : AppSection::Snippets);
        view.show();
        QApplication::processEvents();
        page = qobject_cast<KnowledgePage*>(view.pages()->currentWidget());
        paintOnce(view, target);
    }
    int size() const {
        return int(dictionary ? rig.knowledgeBase.dictionaryTerms().size()
                              : rig.knowledgeBase.snippets().size());
    }
    QUuid idAt(int i) const {
        return dictionary ? rig.knowledgeBase.dictionaryTerms().at(i).id
                          : rig.knowledgeBase.snippets().at(i).id;
    }
    void settle() {
        QApplication::processEvents();
        paintOnce(*rig.view, target);
    }
};

// An edited entry saved through the page's editor (the entry keeps its place in the order).
void BM_SaveEdit(benchmark::State& state) {
    KnowledgeWindow window(state.range(0) != 0);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const int i = (round * 7) % 50; // a row on the first screens
        const QList<KnowledgeRow> rows = window.page->config().rows();
        window.page->openEditor(rows.at(i));
        window.settle();
        state.ResumeTiming();
        window.page->saveDraft();
        window.settle();
        ++round;
    }
}
BENCHMARK(BM_SaveEdit)->ArgName("dictionary")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(30);

// A new entry saved through the page's editor.
void BM_SaveNew(benchmark::State& state) {
    KnowledgeWindow window(state.range(0) != 0);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.page->openNewEditor();
        window.settle();
        auto* key = window.page->findChild<QLineEdit*>(QStringLiteral("keyField"));
        key->setText(QStringLiteral("New entry %1").arg(round++));
        emit key->textEdited(key->text());
        state.ResumeTiming();
        window.page->saveDraft();
        window.settle();
    }
}
BENCHMARK(BM_SaveNew)->ArgName("dictionary")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(30);

// A row's trash button clicked; the entry is put back (untimed) for the next round.
void BM_Delete(benchmark::State& state) {
    KnowledgeWindow window(state.range(0) != 0);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const int i = (round++ * 7) % 50; // a row on the first screens
        const QUuid id = window.idAt(i);
        QToolButton* trash = nullptr;
        for (QWidget* row : window.page->findChildren<QWidget*>(QStringLiteral("row"))) {
            if (row->property("entryId").toUuid() == id) {
                trash = row->findChild<QToolButton*>(QStringLiteral("deleteButton"));
            }
        }
        if (!trash) {
            state.SkipWithError("no row for the entry");
            break;
        }
        state.ResumeTiming();
        trash->click();
        window.settle();
        state.PauseTiming();
        if (window.dictionary) {
            window.rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Again %1").arg(round), QString());
        } else {
            window.rig.knowledgeBase.createSnippet(QStringLiteral("again %1").arg(round),
                                                   QStringLiteral("x"));
        }
        window.settle();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Delete)->ArgName("dictionary")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(30);

// For comparison: the store's part of a delete alone (the list changed, the file written), no window.
void BM_StoreDeleteOnly(benchmark::State& state) {
    DashboardRig rig;
    fill(rig);
    int round = 0;
    for (auto _ : state) {
        const QList<DictionaryTerm>& terms = rig.knowledgeBase.dictionaryTerms();
        rig.knowledgeBase.deleteDictionaryTerm(terms.at((round++ * 37) % terms.size()).id);
        state.PauseTiming();
        rig.knowledgeBase.createDictionaryTerm(QStringLiteral("Again %1").arg(round), QString());
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StoreDeleteOnly)->Unit(benchmark::kMillisecond)->Iterations(30);

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
