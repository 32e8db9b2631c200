// The whole path on the real services of the test session: Right Ctrl held through XTest on Xvfb while
// flite's speech plays into the virtual microphone, then released; the stand-in backend recognises the
// speech, and the text is pasted into a Qt window of another process. Afterwards the history holds the
// text, the overlay is hidden and the clipboard holds what the user had on it before. AI Mode the same way
// (Left Ctrl and Right Ctrl held): text selected in that window, a spoken instruction, and the selection
// replaced by its rewrite.

#include "AudioTestMain.h"

#include "ActiveAppContextService.h"
#include "AppSettings.h"
#include "AudioCaptureService.h"
#include "BackendClient.h"
#include "DictationCoordinator.h"
#include "DictationPipelines.h"
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
#include "StandinBackend.h"
#include "TestDesktop.h"
#include "TextInsertionService.h"
#include "TranscriptionHistoryStore.h"
#include "UserDefaults.h"

#include "../services/audio/AudioTestTools.h"
#include "../services/insertion/TargetProcess.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// Xlib after Qt.
#include "../services/hotkeys/XTestInjector.h"

namespace {

constexpr int kRate = 16000;
const QString kSentence = QStringLiteral("we need more time to finish the project");
const QString kTargetTitle = QStringLiteral("Project notes");
const QString kUserClipboard = QStringLiteral("what the user copied before");

QStringList words(const QString& text) {
    QString letters;
    for (const QChar c : text.toLower()) {
        letters += c.isLetterOrNumber() ? c : QLatin1Char(' ');
    }
    return letters.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class TestWholePath : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_sink;
    QString m_speechPath;
    XTestInjector m_keys;
    standin::StandinBackend m_standin;
    TargetProcess m_target{QStringLiteral(INSERTION_TARGET_PATH)};

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
    std::unique_ptr<DictationPipelines> m_pipelines;
    std::unique_ptr<DictationCoordinator> m_coordinator;

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(m_keys.isOpen(), "no X display: run under scripts/test-session");
        m_sink = qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK");
        QVERIFY2(!m_sink.isEmpty(), "QUILLVANE_TEST_MIC_SINK is not set: run under scripts/test-session");
        QVERIFY(m_dir.isValid());
        QString error;
        m_speechPath = m_dir.filePath(QStringLiteral("speech.wav"));
        QVERIFY2(audiotest::makeSpeech(kSentence, m_dir.filePath(QStringLiteral("speech-raw.wav")),
                                       m_speechPath, &error),
                 qPrintable(error));

        QVERIFY(m_standin.start() > 0);
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings = std::make_unique<AppSettings>(*m_defaults);
        m_prompts = std::make_unique<PromptSettingsStore>(*m_defaults);
        m_knowledgeBase = std::make_unique<KnowledgeBaseStore>(m_dir.path());
        m_history = std::make_unique<TranscriptionHistoryStore>(m_dir.path());
        m_notes = std::make_unique<NotesStore>(m_dir.path());

        // Signed in against the stand-in; the token lives in the session's Secret Service.
        m_secureStore = std::make_unique<SecureStore>(testDesktop().secrets);
        m_backend = std::make_unique<BackendClient>(QUrl(QString::fromStdString(m_standin.baseUrl())));
        m_session = std::make_unique<SessionCoordinator>(*m_backend, *m_secureStore);
        QVERIFY(runTask(m_session->establishSession(QStringLiteral("google"), QStringLiteral("Google"),
                                                    QStringLiteral("whole-path-id"), std::nullopt,
                                                    std::nullopt, std::nullopt)));
        QCOMPARE(runTask(m_secureStore->readSessionToken()), m_session->activeSessionToken());

        m_recorder = std::make_unique<AudioCaptureService>(testDesktop().audioInputs);
        // Dictation on Right Ctrl held alone, AI Mode on Left Ctrl and Right Ctrl held.
        m_hotkeys = std::make_unique<GlobalHotkeyService>(testDesktop().openKeyGrabber,
                                                          testDesktop().openInputMonitor);
        m_hotkeys->setHotkeys({{HotkeyIntent::Dictation, AppSettings::defaultHotkey()},
                               {HotkeyIntent::SmartEdit, AppSettings::defaultSmartEditHotkey()}});
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
        m_pipelines = std::make_unique<DictationPipelines>(*m_backend);
        m_coordinator = std::make_unique<DictationCoordinator>(m_system->services(), *m_composer);
        m_coordinator->setPipeline(m_pipelines.get());
        m_coordinator->setRetryDirectory(m_dir.filePath(QStringLiteral("Retry")));
        m_coordinator->start();

        // The window the user dictates into, frontmost, with the user's own text on the clipboard.
        QVERIFY(m_target.start({QStringLiteral("--title"), kTargetTitle}));
        QCOMPARE(m_target.setClipboard(kUserClipboard, false), QByteArray("done"));
        QTRY_COMPARE_WITH_TIMEOUT(m_context->currentContext().windowTitle, kTargetTitle, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_target.isActive(), 10000);
    }

    void cleanupTestCase() {
        m_coordinator.reset();
        m_media->flush();
        m_secureStore->deleteSessionToken();
        runTask(m_secureStore->settled());
        m_target.stop();
        m_standin.stop();
    }

    void spokenSentenceLandsInTheFrontmostWindow() {
        m_keys.press(XK_Control_R);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->isRecording(), 10000);
        QVERIFY(playIntoTheMicrophone(m_speechPath));
        m_keys.release(XK_Control_R);

        QTRY_COMPARE_WITH_TIMEOUT(m_coordinator->statusText(),
                                  QStringLiteral("Dictation pasted into the active app."), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_target.text().isEmpty(), 10000);
        QCOMPARE(words(m_target.text()), words(kSentence));

        QVERIFY(!m_history->entries().isEmpty());
        QCOMPARE(m_history->entries().first().text, m_target.text());
        QCOMPARE(m_overlay->state(), RecordingOverlayController::OverlayState::Hidden);
        QCOMPARE(m_coordinator->lastErrorMessage(), std::nullopt);

        // The paste borrowed the clipboard and gave it back.
        std::optional<QString> clipboard;
        QTRY_VERIFY_WITH_TIMEOUT((clipboard = m_target.clipboard().text) == kUserClipboard, 5000);

        // The backend received the recording made from the microphone, and counted its words.
        const auto upload = m_standin.lastRequest("/api/transcription");
        QVERIFY(upload.has_value());
        QVERIFY(upload->file.has_value());
        QCOMPARE(m_session->totalWords(), qint64(words(kSentence).size()));
    }

    void spokenInstructionRewritesTheSelection_data() {
        QTest::addColumn<QString>("instruction");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QString>("rewritten");
        QTest::newRow("upper case") << "make it upper case"
                                    << "draft text for the team"
                                    << "DRAFT TEXT FOR THE TEAM";
        QTest::newRow("lower case") << "lower case"
                                    << "Quarterly REPORT Draft"
                                    << "quarterly report draft";
    }
    void spokenInstructionRewritesTheSelection() {
        QFETCH(QString, instruction);
        QFETCH(QString, selection);
        QFETCH(QString, rewritten);
        const QString speech = m_dir.filePath(QStringLiteral("instruction.wav"));
        QString error;
        QVERIFY2(audiotest::makeSpeech(instruction, m_dir.filePath(QStringLiteral("instruction-raw.wav")),
                                       speech, &error),
                 qPrintable(error));
        QCOMPARE(m_target.setText(selection), QByteArray("done"));
        QCOMPARE(m_target.select(0, int(selection.size())), QByteArray("done"));
        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(), selection, 5000);

        m_keys.press(XK_Control_L);
        m_keys.press(XK_Control_R);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->isRecording(), 10000);
        QVERIFY(playIntoTheMicrophone(speech));
        m_keys.release(XK_Control_R);
        m_keys.release(XK_Control_L);

        QTRY_COMPARE_WITH_TIMEOUT(m_coordinator->statusText(),
                                  QStringLiteral("AI Mode applied and pasted into the active app."), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(), rewritten, 10000);
        QCOMPARE(m_history->entries().first().text, rewritten);
        QCOMPARE(m_coordinator->lastErrorMessage(), std::nullopt);

        // The combined call carried the selection as AI Mode does.
        const auto request = m_standin.lastRequest("/api/transcription/refine");
        QVERIFY(request.has_value());
        QCOMPARE(QString::fromStdString(request->formFields.at("selected_text")), selection);
        QCOMPARE(QString::fromStdString(request->formFields.at("refinement_mode")),
                 QStringLiteral("generic"));

        // Reading the selection and pasting borrowed the clipboard; it is the user's again.
        std::optional<QString> clipboard;
        QTRY_VERIFY_WITH_TIMEOUT((clipboard = m_target.clipboard().text) == kUserClipboard, 5000);
    }

private:
    // Plays the clip into the virtual microphone while recording, and lets its end travel through the
    // server into the recording.
    bool playIntoTheMicrophone(const QString& path) {
        const audiotest::CommandResult played =
            audiotest::run(QStringLiteral("paplay"), {QStringLiteral("-d"), m_sink, path});
        if (!played.ok) {
            qWarning("paplay failed: %s", qPrintable(played.errors));
            return false;
        }
        const qint64 atEnd = m_recorder->framesWritten();
        return QTest::qWaitFor([&] { return m_recorder->framesWritten() >= atEnd + kRate / 2; }, 20000);
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestWholePath, QApplication)
#include "tst_whole_path.moc"
