// One keystroke in the note editor with 1,000 notes of 2 KB each: from the title or body change to the
// notes file written on disk (the store rewrites the whole file for every change). The goal for a
// keystroke is 4 ms.
// Run by hand: build/bench/bench_note_keystroke

#include "NotesStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

void keystrokeWithThousandNotes(benchmark::State& state) {
    QTemporaryDir dir;
    NotesStore store(dir.path());
    const QString body = QString(2048, QLatin1Char('x'));
    for (int i = 0; i < 1000; ++i) {
        store.createNote(QStringLiteral("Note %1").arg(i), body, QDateTime::currentDateTimeUtc());
    }
    const QUuid id = store.notes().first().id;
    QString typed = body;
    for (auto _ : state) {
        typed.append(QLatin1Char('a'));
        store.updateNote(id, std::nullopt, typed);
    }
    state.counters["file_bytes"] = double(QFileInfo(store.filePath()).size());
}

} // namespace

BENCHMARK(keystrokeWithThousandNotes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
