// One dictation on the real services of the test session: Right Ctrl held through XTest on Xvfb while
// flite's speech plays into the virtual microphone, then released. The pipeline is handed a WAV that
// passes the speech check and a prompt describing the frontmost window; output is muted while recording
// and restored after; the token comes from the Secret Service. A silent hold is turned away by the speech
// check with the silent texts.

#include "AudioTestMain.h"

#include "ActiveAppContextService.h"
#include "AppSettings.h"
#include "AudioCaptureService.h"
#include "BackendClient.h"
#include "DictationCoordinator.h"
#include "DictationServiceAdapters.h"
#include "GlobalHotkeyService.h"
#include "KnowledgeBaseStore.h"
#include "MediaControlService.h"
#include "NotesStore.h"
#include "PromptComposer.h"
#include "PromptSettingsStore.h"
#include "RecordingOverlayController.h"
#include "RunTask.h"
#include "SecureStore.h"
#include "SelectedTextService.h"
#include "SessionCoordinator.h"
#include "SoundFeedbackService.h"
#include "SpeechDetection.h"
#include "TestDesktop.h"
#include "TextInsertionService.h"
#include "TranscriptionHistoryStore.h"
#include "UserDefaults.h"

#include "../services/audio/AudioTestTools.h"

#include <algorithm>

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <QTest>

// Xlib after Qt.
#include "../services/hotkeys/XTestInjector.h"

namespace {

constexpr int kRate = 16000;
const QString kTargetTitle = QStringLiteral("Quarterly report draft");

struct Handed {
    PipelineRequest request;
    QByteArray bytes;
};

// Stands in for the mode pipelines: keeps what it was handed and applies the speech check as they do.
class SpeechCheckingPipeline final : public DictationPipeline {
public:
    QList<Handed> runs;

    QCoro::Task<PipelineResult> run(PipelineRequest request, PipelineRun& out) override {
        QFile file(request.recording.url.toLocalFile());
        file.open(QIODevice::ReadOnly);
        runs << Handed{request, file.readAll()};
        if (!SpeechDetection::hasMeaningfulAudio(runs.last().bytes, request.recording.duration,
                                                 out.services().settings.silenceThreshold())) {
            out.handleSilentTranscription();
            co_return PipelineResult::failureShown();
        }
        out.keepForRetry(std::nullopt);
        out.hideOverlay();
        out.setStatusText(QStringLiteral("Handed over."));
        co_return PipelineResult::succeeded();
    }
};

} // namespace

class TestDictationSession : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_sink;
    QString m_speechPath;
    double m_speechSeconds = 0;
    XTestInjector m_keys;

    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<PromptSettingsStore> m_prompts;
    std::unique_ptr<KnowledgeBaseStore> m_knowledgeBase;
    std::unique_ptr<TranscriptionHistoryStore> m_history;
    std::unique_ptr<NotesStore> m_notes;
    std::unique_ptr<BackendClient> m_backend;
    std::unique_ptr<SecureStore> m_secureStore;
    std::unique_ptr<SessionCoordinator> m_session;
    std::unique_ptr<AudioCaptureService> m_recorder;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
    std::unique_ptr<RecordingOverlayController> m_overlay;
    std::unique_ptr<SoundFeedbackService> m_sounds;
    std::unique_ptr<MediaControlService> m_media;
    std::unique_ptr<ActiveAppContextService> m_context;
    std::unique_ptr<SelectedTextService> m_selection;
    std::unique_ptr<TextInsertionService> m_insertion;
    std::unique_ptr<SystemDictationServices> m_system;
    std::unique_ptr<PromptComposer> m_composer;
    std::unique_ptr<DictationCoordinator> m_coordinator;
    SpeechCheckingPipeline m_pipeline;
    QWidget m_target;

    bool play(const QString& path) {
        const audiotest::CommandResult result =
            audiotest::run(QStringLiteral("paplay"), {QStringLiteral("-d"), m_sink, path});
        if (!result.ok) {
            qWarning("paplay: %s", qPrintable(result.errors));
        }
        return result.ok;
    }

    // Holds Right Ctrl (Fn here) until the coordinator records, runs `whileHeld`, then lets go and waits
    // for the clip to reach the pipeline.
    template <class Action> void holdRightCtrl(Action whileHeld) {
        const qsizetype runsBefore = m_pipeline.runs.size();
        m_keys.press(XK_Control_R);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->isRecording(), 10000);
        whileHeld();
        m_keys.release(XK_Control_R);
        QTRY_COMPARE_WITH_TIMEOUT(m_pipeline.runs.size(), runsBefore + 1, 10000);
        QVERIFY(!m_recorder->isRecording());
    }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(m_keys.isOpen(), "no X display: run under scripts/test-session");
        m_sink = qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK");
        QVERIFY2(!m_sink.isEmpty(), "QUILLVANE_TEST_MIC_SINK is not set: run under scripts/test-session");
        QVERIFY(m_dir.isValid());
        QString error;
        m_speechPath = m_dir.filePath(QStringLiteral("speech.wav"));
        QVERIFY2(audiotest::makeSpeech(
                     QStringLiteral("Please send the quarterly report to Margaret before Friday."),
                     m_dir.filePath(QStringLiteral("speech-raw.wav")), m_speechPath, &error),
                 qPrintable(error));
        m_speechSeconds = double(audiotest::readWav(m_speechPath)->samples.size()) / kRate;

        // Settings and stores in a throwaway folder; the most capable tier, so the full prompt is composed.
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings = std::make_unique<AppSettings>(*m_defaults);
        m_prompts = std::make_unique<PromptSettingsStore>(*m_defaults);
        PromptSettings prompts = m_prompts->settings();
        prompts.transcriptionModel = QStringLiteral("keystoner");
        m_prompts->setSettings(prompts);
        m_knowledgeBase = std::make_unique<KnowledgeBaseStore>(m_dir.path());
        m_knowledgeBase->createDictionaryTerm(QStringLiteral("Margaret"), QString());
        m_history = std::make_unique<TranscriptionHistoryStore>(m_dir.path());
        m_notes = std::make_unique<NotesStore>(m_dir.path());

        // A session token from the Secret Service; the refresh finds no backend and keeps it.
        m_secureStore = std::make_unique<SecureStore>(testDesktop().secrets);
        m_secureStore->writeSessionToken(QStringLiteral("integration-session-token"));
        m_backend = std::make_unique<BackendClient>(QUrl(QStringLiteral("http://127.0.0.1:9")));
        m_session = std::make_unique<SessionCoordinator>(*m_backend, *m_secureStore);
        runTask(m_session->bootstrapFromSecureStore());
        QCOMPARE(m_session->activeSessionToken(), QStringLiteral("integration-session-token"));

        m_recorder = std::make_unique<AudioCaptureService>(testDesktop().audioInputs);
        m_hotkeys = std::make_unique<GlobalHotkeyService>(
            testDesktop().openKeyGrabber,
            testDesktop().openInputMonitor); // dictation on Right Ctrl held alone
        m_overlay = std::make_unique<RecordingOverlayController>(Scheduler::current(), testDesktop().windows);
        m_sounds = std::make_unique<SoundFeedbackService>();
        m_media = std::make_unique<MediaControlService>(testDesktop().openOutputMute);
        m_context = std::make_unique<ActiveAppContextService>(testDesktop().windows);
        m_selection = std::make_unique<SelectedTextService>(testDesktop().keys, testDesktop().windows,
                                                            testDesktop().accessibleSelection);
        m_insertion = std::make_unique<TextInsertionService>(testDesktop().keys, testDesktop().windows);
        m_system = std::make_unique<SystemDictationServices>(SystemServiceRefs{
            *m_recorder, *m_hotkeys, *m_overlay, *m_sounds, *m_media, *m_context, *m_selection, *m_insertion,
            *m_settings, *m_prompts, *m_session, *m_knowledgeBase, *m_history, *m_notes});
        m_composer = std::make_unique<PromptComposer>(m_system->services().context,
                                                      m_system->services().knowledgeBase);
        m_coordinator = std::make_unique<DictationCoordinator>(m_system->services(), *m_composer);
        m_coordinator->setPipeline(&m_pipeline);
        m_coordinator->setRetryDirectory(m_dir.filePath(QStringLiteral("Retry")));
        m_coordinator->start();
        QCOMPARE(m_coordinator->statusText(),
                 QStringLiteral("Hotkey registered. Hold the shortcut to record."));

        // The window the user dictates into.
        m_target.setWindowTitle(kTargetTitle);
        m_target.resize(400, 200);
        m_target.show();
        m_target.activateWindow();
        QTRY_COMPARE_WITH_TIMEOUT(m_context->currentContext().windowTitle, kTargetTitle, 10000);
    }

    void cleanupTestCase() {
        m_coordinator.reset();
        m_media->flush();
        m_secureStore->deleteSessionToken();
        runTask(m_secureStore->settled());
    }

    void speechHeldOnRightCtrlReachesThePipeline() {
        // Another application plays: it is muted while the user dictates, the output itself never is.
        audiotest::OtherAppStream music(QStringLiteral("Music"));
        QVERIFY(music.start());
        holdRightCtrl([&] {
            QTRY_COMPARE_WITH_TIMEOUT(m_coordinator->statusText(), QStringLiteral("Recording..."), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(music.muted(), std::optional<bool>(true), 10000);
            QCOMPARE(audiotest::sinkMuted(), false);
            const qint64 atStart = m_recorder->framesWritten();
            QVERIFY(play(m_speechPath));
            // Let the clip's end travel through the server into the file: half a second past it, and at
            // least the clip's length (a loaded machine can drop frames of a lagging record stream).
            const qint64 atEnd =
                std::max(m_recorder->framesWritten(), atStart + qint64(m_speechSeconds * kRate));
            QTRY_VERIFY_WITH_TIMEOUT(m_recorder->framesWritten() >= atEnd + kRate / 2, 20000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(music.muted(), std::optional<bool>(false), 10000);

        const Handed& handed = m_pipeline.runs.last();
        QCOMPARE(handed.request.mode, RecordingMode::Transcription);
        QCOMPARE(handed.request.outputMode, OutputMode::Paste);
        QCOMPARE(handed.request.sessionGeneration, m_session->sessionGeneration());
        QVERIFY2(handed.request.recording.duration >= m_speechSeconds,
                 qPrintable(QString::number(handed.request.recording.duration)));
        QVERIFY(handed.bytes.startsWith("RIFF"));
        QVERIFY(SpeechDetection::hasMeaningfulAudio(handed.bytes, handed.request.recording.duration,
                                                    m_settings->silenceThreshold()));
        QCOMPARE(m_coordinator->statusText(), QStringLiteral("Handed over."));

        // The prompt describes the frontmost window and carries the vocabulary.
        const PromptCompositionResult& prompt = handed.request.promptResult;
        QCOMPARE(prompt.context.windowTitle, kTargetTitle);
        QVERIFY2(prompt.prompt.contains(QStringLiteral(" CONTEXT: User is currently in ") +
                                        prompt.context.appName + QStringLiteral(" (window: ") + kTargetTitle +
                                        QStringLiteral(").")),
                 qPrintable(prompt.prompt));
        QVERIFY(prompt.prompt.contains(QStringLiteral("\n\nPROTECTED VOCABULARY:\nMargaret")));

        // The temporary recording is gone; its copy waits in the retry folder.
        QVERIFY(!QFileInfo::exists(handed.request.recording.url.toLocalFile()));
        QFile copy(m_dir.filePath(QStringLiteral("Retry/last-recording.wav")));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), handed.bytes);
        QVERIFY(m_coordinator->canRetryLastSubmission());
    }

    void silentHoldIsTurnedAway() {
        holdRightCtrl([&] {
            const qint64 start = m_recorder->framesWritten();
            QTRY_VERIFY_WITH_TIMEOUT(m_recorder->framesWritten() >= start + kRate * 3 / 2, 20000);
        });
        const Handed& handed = m_pipeline.runs.last();
        QVERIFY(handed.request.recording.duration >= 1.5);
        QCOMPARE(m_coordinator->statusText(), QStringLiteral("No speech detected."));
        QCOMPARE(m_coordinator->lastErrorMessage(), QStringLiteral("No speech detected."));
        QCOMPARE(m_coordinator->lastRecordingSummary(),
                 QStringLiteral("The recording was silent, so Quillvane did not insert any text."));
        QCOMPARE(m_overlay->state(), RecordingOverlayController::OverlayState::Hidden);
        QVERIFY(!QFileInfo::exists(handed.request.recording.url.toLocalFile()));
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestDictationSession, QApplication)
#include "tst_dictation_session.moc"
