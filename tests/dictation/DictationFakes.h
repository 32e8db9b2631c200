#pragma once
// Fakes of the coordinator's services: each records what it was asked to do; the recorder's start can be
// held open and then completed or failed, and the pipeline can be held open too.

#include "AudioCaptureService.h"
#include "DictationCoordinator.h"
#include "DictationServices.h"
#include "ManualTime.h"
#include "PromptComposer.h"
#include "UserFacingError.h"

#include "Clock.h"
#include "ManualScheduler.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace fakes {

// A door a coroutine can wait at; `open()` resumes the waiter at once, on the caller's stack.
class Gate {
public:
    bool isWaiting() const { return bool(m_waiting); }
    void open() {
        m_open = true;
        if (auto handle = std::exchange(m_waiting, {})) {
            handle.resume();
        }
    }
    auto wait() {
        struct Awaiter {
            Gate& gate;
            bool await_ready() const noexcept { return gate.m_open; }
            void await_suspend(std::coroutine_handle<> handle) noexcept { gate.m_waiting = handle; }
            void await_resume() const noexcept {}
        };
        return Awaiter{*this};
    }

private:
    std::coroutine_handle<> m_waiting;
    bool m_open = false;
};

class TestError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;
};

class FakeRecorder final : public Recorder {
public:
    explicit FakeRecorder(QString folder) : m_folder(std::move(folder)) {}

    // The next start waits at this gate until `completeStart()` or `failStart()`.
    bool holdStart = false;
    std::optional<QString> startError;         // the next start throws this
    std::optional<QString> stopError;          // the next stop throws this
    std::optional<AudioCaptureError> brokeOff; // the next stop throws this: the recording broke off
    QByteArray clip = QByteArray("RIFF....WAVE") + QByteArray(100, '\0');
    double clipDuration = 1.23;

    int startCalls = 0;
    int stopCalls = 0;
    QStringList filesHandedOut;

    bool isRecording() const override { return m_recording; }

    QCoro::Task<> startRecording() override {
        ++startCalls;
        if (holdStart) {
            m_gate = std::make_unique<Gate>();
            co_await m_gate->wait();
        }
        if (startError) {
            throw TestError(*std::exchange(startError, std::nullopt));
        }
        m_recording = true;
    }

    RecordedAudio stopRecording() override {
        ++stopCalls;
        if (stopError) {
            m_recording = false;
            throw TestError(*std::exchange(stopError, std::nullopt));
        }
        if (brokeOff) {
            m_recording = false;
            throw *std::exchange(brokeOff, std::nullopt);
        }
        if (!m_recording) {
            throw TestError(QStringLiteral("No recording file was created."));
        }
        m_recording = false;
        const QString path =
            QDir(m_folder).filePath(QStringLiteral("quillvane-%1.wav").arg(filesHandedOut.size()));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(clip);
        file.close();
        filesHandedOut << path;
        return RecordedAudio{QUrl::fromLocalFile(path), clipDuration};
    }

    bool isStartPending() const { return m_gate && m_gate->isWaiting(); }
    void completeStart() { m_gate->open(); }
    void failStart(const QString& message) {
        startError = message;
        m_gate->open();
    }

private:
    QString m_folder;
    bool m_recording = false;
    std::unique_ptr<Gate> m_gate;
};

class FakeShortcuts final : public ShortcutSource {
public:
    std::optional<QString> installError;
    std::optional<QString> registerError;
    QStringList calls;

    void setEventHandler(std::function<void(HotkeyIntent, HotkeyEvent)> handler) override {
        calls << QStringLiteral("setEventHandler");
        m_handler = std::move(handler);
    }
    void installHandlerIfNeeded() override {
        calls << QStringLiteral("installHandlerIfNeeded");
        if (installError) {
            throw TestError(*installError);
        }
    }
    void registerHotkey() override {
        calls << QStringLiteral("registerHotkey");
        if (registerError) {
            throw TestError(*registerError);
        }
    }
    void installFunctionKeyMonitors() override { calls << QStringLiteral("installFunctionKeyMonitors"); }

    bool hasHandler() const { return bool(m_handler); }
    void press(HotkeyIntent intent = HotkeyIntent::Dictation) { m_handler(intent, HotkeyEvent::Pressed); }
    void release(HotkeyIntent intent = HotkeyIntent::Dictation) { m_handler(intent, HotkeyEvent::Released); }

private:
    std::function<void(HotkeyIntent, HotkeyEvent)> m_handler;
};

class FakeOverlay final : public RecordingOverlay {
public:
    QStringList steps; // "recording", "processing", "hidden"
    void showRecording() override { steps << QStringLiteral("recording"); }
    void showProcessing() override { steps << QStringLiteral("processing"); }
    void hide() override { steps << QStringLiteral("hidden"); }
    QString state() const { return steps.isEmpty() ? QStringLiteral("hidden") : steps.last(); }
};

class FakeSounds final : public CueSounds {
public:
    int starts = 0;
    int completions = 0;
    void playStartSound() override { ++starts; }
    void playCompletionSound() override { ++completions; }
};

class FakeMuter final : public OutputMuter {
public:
    QStringList calls; // "mute", "restore"
    void muteIfNeeded() override { calls << QStringLiteral("mute"); }
    void restoreMuteStateIfNeeded() override { calls << QStringLiteral("restore"); }
};

class FakeContext final : public AppContextSource {
public:
    ActiveAppContext context{QStringLiteral("Kate"),
                             QStringLiteral("kate"),
                             QStringLiteral("notes.txt"),
                             QStringLiteral("code"),
                             QStringLiteral("Kate (CODE) - notes.txt"),
                             quint64(0x4200007),
                             qint64(4321)};
    int reads = 0;
    ActiveAppContext currentContext() override {
        ++reads;
        return context;
    }
};

class FakeSelection final : public SelectionSource {
public:
    QCoro::Task<QString> captureSelectedText() override { co_return QString(); }
};

class FakeInserter final : public TextInserter {
public:
    QCoro::Task<> pasteText(QString) override { co_return; }
    QCoro::Task<> typeText(QString, double) override { co_return; }
    QCoro::Task<WindowRaise> bringToFront(quint64, std::optional<qint64>) override {
        co_return WindowRaise::Raised;
    }
    bool copyToClipboard(const QString&) override { return true; }
};

class FakeSettings final : public DictationSettings {
public:
    bool toggle = false;
    bool autoPause = true;
    int threshold = 180;
    QString verbatim = QStringLiteral("off");
    bool disableEmail = false;
    bool lowercase = false;
    bool autoSpace = true;
    double typingDelay = 0.01;
    PromptSettings prompts;

    bool toggleHotkeyMode() const override { return toggle; }
    bool autoPauseMedia() const override { return autoPause; }
    int silenceThreshold() const override { return threshold; }
    QString verbatimModeStyle() const override { return verbatim; }
    bool disableEmailFormatting() const override { return disableEmail; }
    bool forceLowercaseOutput() const override { return lowercase; }
    bool autoSpaceEnabled() const override { return autoSpace; }
    double vdiTypingDelay() const override { return typingDelay; }
    PromptSettings promptSettings() const override { return prompts; }
};

class FakeSession final : public SessionAccess {
public:
    std::optional<QString> token = QStringLiteral("session-token");
    quint64 generation = 7;
    std::optional<QString> activeSessionToken() const override { return token; }
    quint64 sessionGeneration() const override { return generation; }
    void applySessionSnapshot(const SessionResponseDTO&, std::optional<quint64>) override {}
    void invalidateSessionDueToAuthenticationFailure(const QString&) override { token.reset(); }
};

class FakeKnowledgeBase final : public KnowledgeBaseSource {
public:
    QList<DictionaryTerm> terms;
    QList<KnowledgeSnippet> snippetList;
    QList<DictionaryTerm> dictionaryTerms() const override { return terms; }
    QList<KnowledgeSnippet> snippets() const override { return snippetList; }
    QList<DictionaryEntryDTO> dictionaryDTOs() const override { return {}; }
    QList<SnippetDTO> snippetDTOs() const override { return {}; }
};

class FakeHistory final : public HistoryRecorder {
public:
    void addEntry(const QString&, const std::optional<QString>&, const QString&, double) override {}
};

class FakeNotes final : public NoteRecorder {
public:
    NoteEntry addVoiceNote(const QString&, const QDateTime&) override { return {}; }
    bool renameIfTitleIs(const QUuid&, const QString&, const QString&) override { return false; }
};

// What the pipeline was handed, with the file's bytes as they were at that moment.
struct Handed {
    PipelineRequest request;
    QByteArray bytes;
    bool fileExisted = false;
};

class FakePipeline final : public DictationPipeline {
public:
    QList<Handed> runs;
    bool hold = false; // wait at a gate until `finish()`
    // Runs before returning (may publish through the run); its result is the run's.
    std::function<PipelineResult(PipelineRun&)> behaviour;
    bool keeps = true;                // hands the recording to the retry slot, as a clip with speech
    std::optional<QString> selection; // the AI Mode selection it hands over with it
    bool delivers = false;            // a run that succeeds has delivered its text

    QCoro::Task<PipelineResult> run(PipelineRequest request, PipelineRun& run) override {
        Handed handed{request, {}, false};
        QFile file(request.recording.url.toLocalFile());
        if (file.open(QIODevice::ReadOnly)) {
            handed.fileExisted = true;
            handed.bytes = file.readAll();
        }
        runs << handed;
        if (keeps) {
            run.keepForRetry(selection);
        }
        if (hold) {
            m_gates << std::make_shared<Gate>();
            const std::shared_ptr<Gate> gate = m_gates.last();
            co_await gate->wait();
        }
        const PipelineResult result = behaviour ? behaviour(run) : PipelineResult::succeeded();
        if (delivers && result.kind() == PipelineResult::Kind::Succeeded) {
            run.settled();
        }
        co_return result;
    }

    // Lets the oldest held run go on.
    void finish() { m_gates.takeFirst()->open(); }
    int heldRuns() const { return int(m_gates.size()); }

private:
    QList<std::shared_ptr<Gate>> m_gates;
};

// The coordinator over fakes, with the retry folder in a temporary data folder.
struct Harness {
    ManualTime time;
    QTemporaryDir dir;
    FakeRecorder recorder{dir.path()};
    FakeShortcuts shortcuts;
    FakeOverlay overlay;
    FakeSounds sounds;
    FakeMuter muter;
    FakeContext context;
    FakeSelection selection;
    FakeInserter inserter;
    FakeSettings settings;
    FakeSession session;
    FakeKnowledgeBase knowledgeBase;
    FakeHistory history;
    FakeNotes notes;
    FakePipeline pipeline;
    PromptComposer composer{context, knowledgeBase};
    DictationCoordinator coordinator{DictationServices{recorder, shortcuts, overlay, sounds, muter, context,
                                                       selection, inserter, settings, session, knowledgeBase,
                                                       history, notes},
                                     composer};

    explicit Harness(bool startNow = true) {
        coordinator.setPipeline(&pipeline);
        coordinator.setRetryDirectory(retryFolder());
        // Every press is a hold here; the tests of taps set the real minimum.
        coordinator.setMinimumHold(std::chrono::milliseconds(0));
        if (startNow) {
            coordinator.start();
        }
    }

    QString retryFolder() const { return QDir(dir.path()).filePath(QStringLiteral("data/Retry")); }
    QString retryFile() const { return QDir(retryFolder()).filePath(QStringLiteral("last-recording.wav")); }

    // Runs whatever the Scheduler holds (the preparation task).
    void runScheduled() { time.scheduler.runDue(); }
};

} // namespace fakes
