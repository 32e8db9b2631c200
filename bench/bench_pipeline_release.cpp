// Release to text, with the stand-in answering a scripted transcript at once: the whole client side of
// a dictation (the coordinator's stop, the speech check, the upload through the backend client over
// loopback, post-processing, the paste call) with fakes for the desktop services, so that no insertion
// delay is counted; overhead_* leaves out the stand-in's own time answering (goal: under 15 ms median).
// The loopback round trip of the upload alone is measured beside it. And the stand-in's speech
// recognition on a 5 s flite clip, as a real-time factor (goal: under 0.5). The runtime category's
// console output is switched off; the log file is still written.

#include "../tests/dictation/PipelineRig.h"
#include "FliteSpeech.h"
#include "SpeechRecognizer.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

void report(benchmark::State& state, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
    }
}

void BM_ReleaseToPaste(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    rig::Rig r;
    r.standin.setTranscript("please send the report before noon");
    r.recorder.clipDuration = double(state.range(0)) / 1000.0;
    r.recorder.clip = rig::voicedClip(r.recorder.clipDuration);
    std::vector<double> ms, overheadMs;
    for (auto _ : state) {
        runTask(r.coordinator->startRecording(RecordingMode::Transcription, OutputMode::Paste));
        const auto handled = r.standin.handlingTime();
        const SteadyClock::time_point released = SteadyClock::now();
        runTask(r.coordinator->stopRecording());
        const auto releaseToPaste = r.inserter.lastPasteAt - released;
        const double seconds = std::chrono::duration<double>(releaseToPaste).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1e3);
        overheadMs.push_back(
            std::chrono::duration<double, std::milli>(releaseToPaste - (r.standin.handlingTime() - handled))
                .count());
    }
    if (r.inserter.pasted.size() != qsizetype(ms.size())) {
        state.SkipWithError("not every dictation was pasted");
    }
    report(state, ms);
    // The client's own share: release to paste minus the stand-in's time answering.
    std::sort(overheadMs.begin(), overheadMs.end());
    if (!overheadMs.empty()) {
        state.counters["overhead_median_ms"] = overheadMs[overheadMs.size() / 2];
        state.counters["overhead_p90_ms"] = overheadMs[overheadMs.size() * 9 / 10];
    }
}
// The argument is the clip's length in milliseconds.
BENCHMARK(BM_ReleaseToPaste)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100)
    ->Arg(600)
    ->Arg(1500)
    ->Arg(4000);

// The upload alone: the backend client's multipart request and the stand-in's answer over loopback. Qt
// writes a body larger than 16 KB in pieces; with Nagle's algorithm on, each piece would wait for the
// server's delayed acknowledgement (about 40 ms), so the client turns it off on its connections.
void BM_UploadRoundTrip(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    rig::Rig r;
    r.standin.setTranscript("please send the report before noon");
    const QByteArray clip = rig::voicedClip(double(state.range(0)) / 1000.0);
    const QMap<QString, QString> fields{{"session_token", r.token()}, {"model", "nova-3"}};
    std::vector<double> ms;
    for (auto _ : state) {
        const SteadyClock::time_point start = SteadyClock::now();
        runTask(
            r.client->transcribeAudio(clip, QStringLiteral("clip.wav"), QStringLiteral("audio/wav"), fields));
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1e3);
    }
    report(state, ms);
}
BENCHMARK(BM_UploadRoundTrip)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(100)
    ->Arg(10)
    ->Arg(1500);

void BM_RecognitionRealTimeFactor(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray wav = testspeech::speak(
        QStringLiteral(
            "this is a test of the speech recognition and we need more time to finish the project"),
        dir.path());
    if (wav.isEmpty()) {
        state.SkipWithError("flite or sox failed");
        return;
    }
    const std::vector<std::int16_t> samples = standin::pcm16kMonoSamples(wav.toStdString());
    const double clipSeconds = double(samples.size()) / standin::SpeechRecognizer::sampleRate;
    standin::SpeechRecognizer::shared().recognize({}); // loads the decoder outside the measurement
    std::vector<double> factors;
    for (auto _ : state) {
        const SteadyClock::time_point start = SteadyClock::now();
        benchmark::DoNotOptimize(standin::SpeechRecognizer::shared().recognize(samples));
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        state.SetIterationTime(seconds);
        factors.push_back(seconds / clipSeconds);
    }
    std::sort(factors.begin(), factors.end());
    state.counters["clip_s"] = clipSeconds;
    state.counters["rtf_median"] = factors[factors.size() / 2];
}
BENCHMARK(BM_RecognitionRealTimeFactor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// An AI Mode instruction: the instruction grammar and free dictation over the same clip.
void BM_InstructionRealTimeFactor(benchmark::State& state) {
    QTemporaryDir dir;
    const QByteArray wav = testspeech::speak(QStringLiteral("make it upper case"), dir.path());
    if (wav.isEmpty()) {
        state.SkipWithError("flite or sox failed");
        return;
    }
    const std::vector<std::int16_t> samples = standin::pcm16kMonoSamples(wav.toStdString());
    const double clipSeconds = double(samples.size()) / standin::SpeechRecognizer::sampleRate;
    standin::SpeechRecognizer::shared().recognize({}); // loads the decoder outside the measurement
    std::vector<double> factors;
    for (auto _ : state) {
        const SteadyClock::time_point start = SteadyClock::now();
        benchmark::DoNotOptimize(standin::SpeechRecognizer::shared().recognizeInstruction(samples));
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        state.SetIterationTime(seconds);
        factors.push_back(seconds / clipSeconds);
    }
    std::sort(factors.begin(), factors.end());
    state.counters["clip_s"] = clipSeconds;
    state.counters["rtf_median"] = factors[factors.size() / 2];
}
BENCHMARK(BM_InstructionRealTimeFactor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
