// Time from `startRecording()` returning to the first audio frame written to the recording's file: the
// words a user speaks right after the start cue must reach the file. Needs the test session's audio server:
// `scripts/test-session build-<name>/bench/bench_audio_start`.
//
// The virtual microphone is the monitor of a null sink, which (unlike a real microphone) sleeps in blocks of
// up to 2 s while nothing plays into it; a steady stream of silence into that sink keeps it running in real
// time, as a real microphone would.

#include "AudioCaptureService.h"
#include "RunTask.h"
#include "TestDesktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

void BM_StartToFirstFrameWritten(benchmark::State& state) {
    QProcess feed;
    feed.start(QStringLiteral("pacat"),
               {QStringLiteral("--playback"), QStringLiteral("--raw"), QStringLiteral("--latency-msec=20"),
                QStringLiteral("-d"), qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK"),
                QStringLiteral("/dev/zero")});
    if (!feed.waitForStarted() || qEnvironmentVariableIsEmpty("QUILLVANE_TEST_MIC_SINK")) {
        state.SkipWithError("pacat could not feed the virtual microphone: run under scripts/test-session");
        return;
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2500) // the sink finishes its current long block first
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
    std::vector<double> samples;
    for (auto _ : state) {
        runTask(service.startRecording());
        QElapsedTimer timer;
        timer.start();
        while (service.framesWritten() == 0 && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // the meter wakes it every 0.1 s
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const bool wrote = service.framesWritten() > 0;
        const RecordedAudio recording = service.stopRecording();
        QFile::remove(recording.url.toLocalFile());
        if (!wrote) {
            state.SkipWithError("no audio frame reached the file within 10 s");
            break;
        }
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000.0);
    }
    feed.kill();
    feed.waitForFinished();
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ms"] = samples[samples.size() / 2];
        state.counters["p90_ms"] = samples[samples.size() * 9 / 10];
        state.counters["max_ms"] = samples.back();
    }
}
BENCHMARK(BM_StartToFirstFrameWritten)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
