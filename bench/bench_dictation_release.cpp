// The main-thread work between the release of the shortcut and the upload: the speech check over a 60 s
// recording (goal: under 2 ms), and the coordinator's stop from the release to the moment the pipeline is
// handed the clip, with fakes for the services (goal: under 5 ms; the recorder's own stop is excluded,
// the retry copy of a 10 s clip is included). The runtime category's console output is switched off; the
// log file is still written.

#include "DictationCoordinator.h"
#include "PromptComposer.h"
#include "SpeechDetection.h"
#include "WavWriter.h"

#include "../tests/dictation/DictationFakes.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Speech-like: a tone whose loudness swells and falls every half second.
QByteArray speechLikeWav(double seconds) {
    std::vector<std::int16_t> samples = testwav::sineTone(180, seconds, 16000, 0.3);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double envelope = 0.5 + 0.5 * std::sin(double(i) / 16000.0 * 2 * 3.14159265 * 2);
        samples[i] = std::int16_t(samples[i] * envelope);
    }
    return testwav::monoPcm16Wav(samples, 16000);
}

void BM_SpeechCheck60s(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    const QByteArray clip = speechLikeWav(60.0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SpeechDetection::hasMeaningfulAudio(clip, 60.0, 180));
    }
    state.SetBytesProcessed(state.iterations() * clip.size());
}
BENCHMARK(BM_SpeechCheck60s)->Unit(benchmark::kMicrosecond);

// A recorder that notes when its stop begins and ends, so that its own work can be left out.
class TimedRecorder final : public Recorder {
public:
    explicit TimedRecorder(QString path, QByteArray clip)
        : m_path(std::move(path)), m_clip(std::move(clip)) {}
    SteadyClock::time_point stopEntered, stopReturned;

    bool isRecording() const override { return m_recording; }
    QCoro::Task<> startRecording() override {
        m_recording = true;
        co_return;
    }
    RecordedAudio stopRecording() override {
        stopEntered = SteadyClock::now();
        QFile file(m_path);
        file.open(QIODevice::WriteOnly);
        file.write(m_clip);
        file.close();
        m_recording = false;
        stopReturned = SteadyClock::now();
        return RecordedAudio{QUrl::fromLocalFile(m_path), 10.0};
    }

private:
    QString m_path;
    QByteArray m_clip;
    bool m_recording = false;
};

class TimedPipeline final : public DictationPipeline {
public:
    SteadyClock::time_point handedAt;
    QCoro::Task<PipelineResult> run(PipelineRequest, PipelineRun&) override {
        handedAt = SteadyClock::now();
        co_return PipelineResult::succeeded();
    }
};

void BM_ReleaseToPipeline(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    ManualTime time;
    QTemporaryDir dir;
    TimedRecorder recorder(dir.filePath(QStringLiteral("quillvane-bench.wav")), speechLikeWav(10.0));
    fakes::FakeShortcuts shortcuts;
    fakes::FakeOverlay overlay;
    fakes::FakeSounds sounds;
    fakes::FakeMuter muter;
    fakes::FakeContext context;
    fakes::FakeSelection selection;
    fakes::FakeInserter inserter;
    fakes::FakeSettings settings;
    settings.prompts.transcriptionModel = QStringLiteral("keystoner");
    fakes::FakeSession session;
    fakes::FakeKnowledgeBase knowledgeBase;
    for (int i = 0; i < 60; ++i) {
        knowledgeBase.terms << DictionaryTerm{QUuid::createUuid(), QStringLiteral("term %1").arg(i),
                                              QString()};
    }
    fakes::FakeHistory history;
    fakes::FakeNotes notes;
    TimedPipeline pipeline;
    PromptComposer composer(context, knowledgeBase);
    DictationServices services{recorder, shortcuts, overlay, sounds,        muter,   context, selection,
                               inserter, settings,  session, knowledgeBase, history, notes};
    DictationCoordinator coordinator(services, composer);
    coordinator.setPipeline(&pipeline);
    coordinator.setRetryDirectory(dir.filePath(QStringLiteral("Retry")));

    std::vector<double> microseconds;
    for (auto _ : state) {
        QCoro::Task<> start = coordinator.startRecording(RecordingMode::Transcription, OutputMode::Paste);
        time.scheduler.runDue(); // the prompt prepared while the user speaks
        const SteadyClock::time_point released = SteadyClock::now();
        QCoro::Task<> stop = coordinator.stopRecording();
        const double seconds = std::chrono::duration<double>((recorder.stopEntered - released) +
                                                             (pipeline.handedAt - recorder.stopReturned))
                                   .count();
        state.SetIterationTime(seconds);
        microseconds.push_back(seconds * 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    if (!microseconds.empty()) {
        state.counters["median_us"] = microseconds[microseconds.size() / 2];
        state.counters["p90_us"] = microseconds[microseconds.size() * 9 / 10];
    }
}
BENCHMARK(BM_ReleaseToPipeline)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
