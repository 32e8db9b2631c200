// One keystroke in a note with 1,000 notes of 2 KB each. The store keeps edits in memory and writes the
// whole file once typing pauses (or on flush), so a keystroke and the write are measured apart:
// - keystrokeInStore/flush:0: the store's part of a keystroke (the change, the delayed save pushed back);
// - keystrokeInStore/flush:1: a keystroke and the file written at once, the cost paid once per pause in
//   typing (and what every keystroke cost when each one rewrote the file);
// - keystrokeInEditor: a key pressed in the notes page's editor, the page with its 1,000 rows on screen
//   (offscreen platform); paint:1 counts the repaint that follows, paint:0 leaves it out.
// The goal for a keystroke is 4 ms.
// Run by hand: build/bench/bench_note_keystroke

#include "DashboardState.h"
#include "NotesPage.h"
#include "NotesStore.h"
#include "VoiceNoteControl.h"

#include <QApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

namespace {

const QString kBody = QString(2048, QLatin1Char('x'));

void fill(NotesStore& store) {
    for (int i = 0; i < 1000; ++i) {
        store.createNote(QStringLiteral("Note %1").arg(i), kBody, QDateTime::currentDateTimeUtc());
    }
}

class IdleVoice final : public VoiceNoteControl {
public:
    bool recorderIsRecording() const override { return false; }
    RecordingMode activeMode() const override { return RecordingMode::Transcription; }
    std::optional<QString> lastRecordingSummary() const override { return std::nullopt; }
    QCoro::Task<> startRecording(RecordingMode, OutputMode) override { co_return; }
    QCoro::Task<> stopRecording() override { co_return; }
};

// The store's part of a keystroke; with `flush` set, the file is written at once as well.
void keystrokeInStore(benchmark::State& state) {
    const bool flush = state.range(0) != 0;
    QTemporaryDir dir;
    NotesStore store(dir.path());
    fill(store);
    const QUuid id = store.notes().first().id;
    QString typed = kBody;
    for (auto _ : state) {
        typed.append(QLatin1Char('a'));
        store.updateNote(id, std::nullopt, typed);
        if (flush) {
            store.flush();
        }
        QCoreApplication::processEvents(); // the replaced timers are deleted
    }
    state.counters["file_bytes"] = double(QFileInfo(store.filePath()).size());
}

void keystrokeInEditor(benchmark::State& state) {
    QTemporaryDir dir;
    NotesStore store(dir.path());
    fill(store);
    DashboardState dashboard;
    IdleVoice voice;
    NotesPage page(store, voice, dashboard);
    page.resize(1000, 700);
    page.show();
    QApplication::processEvents();
    auto* body = page.findChild<QPlainTextEdit*>(QStringLiteral("noteBodyField"));
    body->setFocus();
    body->moveCursor(QTextCursor::End);
    const bool paint = state.range(0) != 0;
    for (auto _ : state) {
        QTest::keyClick(body, Qt::Key_A);
        if (!paint) {
            state.PauseTiming();
        }
        QApplication::processEvents(); // the repaint
        if (!paint) {
            state.ResumeTiming();
        }
    }
    state.counters["body_chars"] = double(store.notes().first().body.size());
}

} // namespace

BENCHMARK(keystrokeInStore)->ArgName("flush")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(keystrokeInEditor)->ArgName("paint")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
