// The dictation coordinator on fakes: shortcut and mouse events in hold and toggle mode, a recorder whose
// start is slow or fails, the sign-in gate, the preparation task before and after the stop, output muting,
// pipeline failures, the temporary file's deletion and the retry slot.

#include "DictationFakes.h"
#include "FailureWording.h"
#include "LatencyClock.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

using namespace fakes;

Q_DECLARE_METATYPE(HotkeyIntent)
Q_DECLARE_METATYPE(RecordingMode)
Q_DECLARE_METATYPE(OutputMode)
Q_DECLARE_METATYPE(MouseTriggerMode)

namespace {

// Every published property, for "nothing changed" checks.
struct Snapshot {
    QString status;
    std::optional<QString> summary, transcript, provider, promptDebug, error;
    RecordingMode mode;
    OutputMode output;
    std::optional<UpgradePrompt> upgrade;
    bool canRetry;

    explicit Snapshot(const DictationCoordinator& c)
        : status(c.statusText()), summary(c.lastRecordingSummary()), transcript(c.lastTranscript()),
          provider(c.lastProvider()), promptDebug(c.lastPromptDebug()), error(c.lastErrorMessage()),
          mode(c.activeMode()), output(c.activeOutputMode()), upgrade(c.upgradePrompt()),
          canRetry(c.canRetryLastSubmission()) {}
    bool operator==(const Snapshot&) const = default;
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A dictation recorded and handed over: press, let the preparation run, release.
void dictate(Harness& h, HotkeyIntent intent = HotkeyIntent::Dictation) {
    h.shortcuts.press(intent);
    h.runScheduled();
    h.shortcuts.release(intent);
}

} // namespace

class TestDictationCoordinator : public QObject {
    Q_OBJECT

private slots:
    // ---- start() ------------------------------------------------------------------------------------------

    void startActivatesShortcutsInOrder() {
        RuntimeLogCapture log;
        Harness h(false);
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Ready to record."));
        h.settings.toggle = true; // the text is the same in toggle mode
        h.coordinator.start();
        QCOMPARE(h.shortcuts.calls, (QStringList{"setEventHandler", "installHandlerIfNeeded",
                                                 "registerHotkey", "installFunctionKeyMonitors"}));
        QCOMPARE(h.coordinator.statusText(),
                 QStringLiteral("Hotkey registered. Hold the shortcut to record."));
        QVERIFY(log.entries().contains(QStringLiteral("INFO Dictation coordinator started")));
    }

    void startFailurePublishesStatusOnly_data() {
        QTest::addColumn<bool>("installFails");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("install") << true << QStringList{"setEventHandler", "installHandlerIfNeeded"};
        QTest::newRow("register") << false
                                  << QStringList{"setEventHandler", "installHandlerIfNeeded",
                                                 "registerHotkey"};
    }
    void startFailurePublishesStatusOnly() {
        QFETCH(bool, installFails);
        QFETCH(QStringList, calls);
        RuntimeLogCapture log;
        Harness h(false);
        const QString reason = QStringLiteral("Failed to register global hotkey (10)");
        (installFails ? h.shortcuts.installError : h.shortcuts.registerError) = reason;
        h.coordinator.start();

        QCOMPARE(h.shortcuts.calls, calls);
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Failed to register hotkey: ") + reason);
        QCOMPARE(h.coordinator.lastErrorMessage(), std::nullopt);
        QCOMPARE(log.entriesStartingWith(QStringLiteral("ERROR ")),
                 QStringList{QStringLiteral("ERROR Hotkey registration failed: ") + reason});
        // The handler stays installed: a shortcut that does arrive still records.
        QVERIFY(h.shortcuts.hasHandler());
        h.shortcuts.press();
        QVERIFY(h.recorder.isRecording());
    }

    void eventsAfterTheCoordinatorIsGoneAreDropped() {
        Harness h(false);
        auto coordinator = std::make_unique<DictationCoordinator>(
            DictationServices{h.recorder, h.shortcuts, h.overlay, h.sounds, h.muter, h.context, h.selection,
                              h.inserter, h.settings, h.session, h.knowledgeBase, h.history, h.notes},
            h.composer);
        coordinator->start();
        coordinator.reset();
        h.shortcuts.press();
        QCOMPARE(h.recorder.startCalls, 0);
        QVERIFY(h.overlay.steps.isEmpty());
    }

    // ---- Hold mode ----------------------------------------------------------------------------------------

    void holdModeRecordsAndHandsOver_data() {
        QTest::addColumn<HotkeyIntent>("intent");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<OutputMode>("output");
        QTest::addColumn<QString>("recordingStatus");
        QTest::addColumn<QString>("stopStatus");
        QTest::newRow("dictation") << HotkeyIntent::Dictation << RecordingMode::Transcription
                                   << OutputMode::Paste << "Recording..."
                                   << "Submitting audio to backend...";
        QTest::newRow("AI Mode") << HotkeyIntent::SmartEdit << RecordingMode::SmartEdit << OutputMode::Paste
                                 << "Recording AI Mode instruction..."
                                 << "Running AI Mode...";
        QTest::newRow("Typing Mode") << HotkeyIntent::Vdi << RecordingMode::Transcription << OutputMode::Type
                                     << "Recording..."
                                     << "Submitting audio to backend...";
    }
    void holdModeRecordsAndHandsOver() {
        QFETCH(HotkeyIntent, intent);
        QFETCH(RecordingMode, mode);
        QFETCH(OutputMode, output);
        QFETCH(QString, recordingStatus);
        QFETCH(QString, stopStatus);
        RuntimeLogCapture log;
        Harness h;
        h.coordinator.setLastPromptDebug(QStringLiteral("kept"));
        QString statusDuringPipeline;
        h.pipeline.behaviour = [&](PipelineRun&) {
            statusDuringPipeline = h.coordinator.statusText();
            return PipelineResult::succeeded();
        };

        h.shortcuts.press(intent);
        QVERIFY(h.recorder.isRecording());
        QCOMPARE(h.coordinator.activeMode(), mode);
        QCOMPARE(h.coordinator.activeOutputMode(), output);
        QCOMPARE(h.coordinator.statusText(), recordingStatus);
        QCOMPARE(h.overlay.steps, QStringList{"recording"});
        QCOMPARE(h.sounds.starts, 1);
        QCOMPARE(h.muter.calls, QStringList{"mute"});
        QVERIFY(log.entries().contains(QStringLiteral("INFO Recording start requested mode=") +
                                       logLabel(mode) + " output=" + logLabel(output)));
        QVERIFY(log.entries().contains(QStringLiteral("INFO Dictation recording active")));

        h.runScheduled();
        h.shortcuts.release(HotkeyIntent::Dictation); // any shortcut's release stops
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.pipeline.runs.size(), 1);
        const Handed& handed = h.pipeline.runs.first();
        QCOMPARE(handed.request.mode, mode);
        QCOMPARE(handed.request.outputMode, output);
        QCOMPARE(handed.request.sessionGeneration, quint64(7));
        QCOMPARE(handed.request.recording.duration, 1.23);
        QVERIFY(!handed.request.isRetry);
        QVERIFY(handed.fileExisted);
        QCOMPARE(handed.bytes, h.recorder.clip);
        QCOMPARE(statusDuringPipeline, stopStatus);
        QCOMPARE(h.overlay.steps, (QStringList{"recording", "processing"})); // the pipeline hides it
        QCOMPARE(h.muter.calls, (QStringList{"mute", "restore"}));
        QCOMPARE(h.coordinator.lastRecordingSummary(),
                 QStringLiteral("Captured 1.2s WAV at quillvane-0.wav"));
        QCOMPARE(h.coordinator.lastPromptDebug(), QStringLiteral("kept")); // the pipelines' to write
        // The temporary recording is gone once the pipeline has returned.
        QVERIFY(!QFileInfo::exists(h.recorder.filesHandedOut.first()));
        QVERIFY(
            log.entries().contains(QStringLiteral("INFO Deleted temporary recording file quillvane-0.wav")));
    }

    void eventsWithoutARecordingChangeNothing() {
        RuntimeLogCapture log;
        Harness h;
        const Snapshot before(h.coordinator);
        log.clear();
        h.shortcuts.release();                  // hold mode: release while idle
        runTask(h.coordinator.stopRecording()); // stop while idle
        runTask(h.coordinator.startMouseTrigger(MouseTriggerMode::Off));
        QVERIFY(Snapshot(h.coordinator) == before);
        QCOMPARE(h.recorder.startCalls, 0);
        QCOMPARE(h.recorder.stopCalls, 0);
        QVERIFY(log.entries().isEmpty());

        h.shortcuts.press();
        const Snapshot recording(h.coordinator);
        log.clear();
        h.shortcuts.press(HotkeyIntent::SmartEdit); // a start while recording
        QVERIFY(Snapshot(h.coordinator) == recording);
        QCOMPARE(h.recorder.startCalls, 1);
        QVERIFY(log.entries().isEmpty());
    }

    void mouseTriggerStartsItsMode_data() {
        QTest::addColumn<MouseTriggerMode>("trigger");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<OutputMode>("output");
        QTest::newRow("dictation") << MouseTriggerMode::Dictation << RecordingMode::Transcription
                                   << OutputMode::Paste;
        QTest::newRow("vdi") << MouseTriggerMode::Vdi << RecordingMode::Transcription << OutputMode::Type;
        QTest::newRow("ai") << MouseTriggerMode::AiRefinement << RecordingMode::SmartEdit
                            << OutputMode::Paste;
    }
    void mouseTriggerStartsItsMode() {
        QFETCH(MouseTriggerMode, trigger);
        QFETCH(RecordingMode, mode);
        QFETCH(OutputMode, output);
        Harness h;
        h.settings.toggle = true; // the middle button holds whatever the shortcut mode
        runTask(h.coordinator.startMouseTrigger(trigger));
        QVERIFY(h.recorder.isRecording());
        QCOMPARE(h.coordinator.activeMode(), mode);
        QCOMPARE(h.coordinator.activeOutputMode(), output);
        runTask(h.coordinator.stopRecording());
        QCOMPARE(h.pipeline.runs.size(), 1);
    }

    // ---- Toggle mode --------------------------------------------------------------------------------------

    void toggleModeStartsAndStopsOnPresses() {
        Harness h;
        h.settings.toggle = true;
        h.shortcuts.press(HotkeyIntent::Dictation);
        QVERIFY(h.recorder.isRecording());
        h.shortcuts.release(HotkeyIntent::Dictation);
        QVERIFY(h.recorder.isRecording());
        h.shortcuts.press(HotkeyIntent::SmartEdit); // any shortcut stops
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.pipeline.runs.size(), 1);
        QCOMPARE(h.pipeline.runs[0].request.mode, RecordingMode::Transcription);
        h.shortcuts.press(HotkeyIntent::Vdi); // the third press starts with its own intent
        QVERIFY(h.recorder.isRecording());
        QCOMPARE(h.coordinator.activeOutputMode(), OutputMode::Type);

        // The setting is read at every event: back in hold mode the release stops.
        h.settings.toggle = false;
        h.shortcuts.release(HotkeyIntent::Vdi);
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.pipeline.runs.size(), 2);
    }

    // A press while the previous clip is still being processed starts a new recording at once; each
    // pipeline keeps what it was handed; an earlier pipeline failing leaves the new recording alone.
    void pressDuringProcessingStartsANewRecording() {
        Harness h;
        h.settings.toggle = true;
        h.pipeline.hold = true;
        h.shortcuts.press(HotkeyIntent::Dictation);
        h.shortcuts.press(HotkeyIntent::Dictation);
        QCOMPARE(h.pipeline.heldRuns(), 1);
        QCOMPARE(h.overlay.state(), QStringLiteral("processing"));

        h.shortcuts.press(HotkeyIntent::Vdi);
        QVERIFY(h.recorder.isRecording());
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Recording..."));
        QCOMPARE(h.overlay.state(), QStringLiteral("recording"));
        const QStringList mutesBefore = h.muter.calls;

        // The earlier clip's outcome, whatever it says, never replaces the texts of the recording in
        // progress; its failure is shown as the earlier dictation's, beside the status of this one.
        h.pipeline.behaviour = [](PipelineRun& out) {
            out.setStatusText(QStringLiteral("Dictation pasted into the active app."));
            out.hideOverlay();
            return PipelineResult::failureToShow(std::make_exception_ptr(std::runtime_error("backend down")));
        };
        h.pipeline.finish();
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Recording..."));
        QCOMPARE(h.coordinator.lastErrorMessage(),
                 QStringLiteral("An earlier dictation failed: ") +
                     FailureWording::describe(std::make_exception_ptr(std::runtime_error("backend down"))));
        QCOMPARE(h.overlay.state(), QStringLiteral("recording")); // not hidden under the speaker
        QCOMPARE(h.muter.calls, mutesBefore);                     // the new mute stays
        QVERIFY(!QFileInfo::exists(h.recorder.filesHandedOut[0]));

        h.pipeline.behaviour = nullptr;
        h.shortcuts.press(HotkeyIntent::Dictation);
        h.pipeline.finish();
        QCOMPARE(h.pipeline.runs.size(), 2);
        QCOMPARE(h.pipeline.runs[0].request.outputMode, OutputMode::Paste);
        QCOMPARE(h.pipeline.runs[1].request.outputMode, OutputMode::Type);
    }

    // ---- Taps
    // -----------------------------------------------------------------------------------------------

    // A tap of the shortcut or a middle click shorter than the minimum hold leaves no trace: no overlay, no
    // texts, no muting, no pipeline, and the retry slot keeps the recording it held.
    void tapLeavesNoTrace_data() {
        QTest::addColumn<int>("trigger"); // 0 shortcut held, 1 middle click, 2 toggle mode pressed twice
        QTest::newRow("shortcut tap") << 0;
        QTest::newRow("middle click") << 1;
        QTest::newRow("toggle double press") << 2;
    }
    void tapLeavesNoTrace() {
        QFETCH(int, trigger);
        Harness h;
        h.coordinator.setMinimumHold(DictationCoordinator::defaultMinimumHold);
        const auto wait = [&h](int ms) { h.time.scheduler.advance(std::chrono::milliseconds(ms)); };
        // A 6 s dictation that failed: its copy waits for a retry.
        h.pipeline.behaviour = [](PipelineRun& out) {
            out.publishFailure(QStringLiteral("The service failed."));
            return PipelineResult::failureShown();
        };
        h.shortcuts.press();
        wait(500);
        h.shortcuts.release();
        QVERIFY(h.coordinator.canRetryLastSubmission());
        const QByteArray kept = readFile(h.retryFile());
        const Snapshot before(h.coordinator);
        const QStringList overlay = h.overlay.steps;
        const QStringList mutes = h.muter.calls;

        if (trigger == 0) {
            h.shortcuts.press();
            wait(200);
            h.shortcuts.release();
        } else if (trigger == 1) {
            runTask(h.coordinator.startMouseTrigger(MouseTriggerMode::Dictation));
            wait(120);
            runTask(h.coordinator.stopRecording());
        } else {
            h.settings.toggle = true;
            h.shortcuts.press();
            wait(300);
            h.shortcuts.press();
        }
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.pipeline.runs.size(), 1);
        QVERIFY(Snapshot(h.coordinator) == before);
        QCOMPARE(h.overlay.steps, overlay);
        QCOMPARE(h.muter.calls, mutes);
        QCOMPARE(readFile(h.retryFile()), kept);
        QVERIFY(!QFileInfo::exists(h.recorder.filesHandedOut.last()));
        wait(1000); // nothing was left waiting either
        QVERIFY(Snapshot(h.coordinator) == before);
        QCOMPARE(h.overlay.steps, overlay);

        // Held on past the minimum, a press is a recording as usual.
        h.settings.toggle = false;
        h.shortcuts.press();
        wait(449);
        QCOMPARE(h.overlay.steps, overlay);
        wait(1);
        QCOMPARE(h.overlay.state(), QStringLiteral("recording"));
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Recording..."));
        QCOMPARE(h.muter.calls.last(), QStringLiteral("mute"));
    }

    // ---- A slow or failing recorder start -----------------------------------------------------------------

    void releaseDuringASlowStartStopsOnceStarted() {
        Harness h;
        h.recorder.holdStart = true;
        h.shortcuts.press();
        QVERIFY(h.recorder.isStartPending());
        h.shortcuts.press(HotkeyIntent::SmartEdit); // a second start while starting is refused
        h.shortcuts.release();                      // remembered
        QCOMPARE(h.recorder.startCalls, 1);
        QCOMPARE(h.recorder.stopCalls, 0);
        QVERIFY(!h.coordinator.canRetryLastSubmission());

        h.recorder.completeStart();
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.recorder.stopCalls, 1);
        QCOMPARE(h.pipeline.runs.size(), 1);
        QCOMPARE(h.pipeline.runs[0].request.mode, RecordingMode::Transcription);
        QCOMPARE(h.muter.calls, (QStringList{"mute", "restore"}));
        QCOMPARE(h.overlay.steps, (QStringList{"recording", "processing"}));
    }

    void toggleSecondPressDuringASlowStartStops() {
        Harness h;
        h.settings.toggle = true;
        h.recorder.holdStart = true;
        h.shortcuts.press();
        h.shortcuts.press();
        h.recorder.completeStart();
        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.recorder.startCalls, 1);
        QCOMPARE(h.pipeline.runs.size(), 1);
    }

    void failedStartLeavesNothingRunning_data() {
        QTest::addColumn<bool>("releasedWhileStarting");
        QTest::newRow("held") << false;
        QTest::newRow("released while starting") << true;
    }
    void failedStartLeavesNothingRunning() {
        QFETCH(bool, releasedWhileStarting);
        RuntimeLogCapture log;
        Harness h;
        h.recorder.holdStart = true;
        h.shortcuts.press();
        if (releasedWhileStarting) {
            h.shortcuts.release();
        }
        h.recorder.failStart(QStringLiteral("Microphone permission was denied."));

        QVERIFY(!h.recorder.isRecording());
        QCOMPARE(h.recorder.stopCalls, 0);
        QVERIFY(h.pipeline.runs.isEmpty());
        QCOMPARE(h.sounds.starts, 1);
        QVERIFY(h.overlay.steps.isEmpty()); // nothing was shown yet
        QVERIFY(h.muter.calls.isEmpty());
        const QString text = QStringLiteral("Unable to start recording: Microphone permission was denied.");
        QCOMPARE(h.coordinator.statusText(), text);
        QCOMPARE(h.coordinator.lastErrorMessage(), text);
        QCOMPARE(log.entriesStartingWith(QStringLiteral("ERROR ")),
                 QStringList{"ERROR Dictation start failed: Microphone permission was denied."});
        h.runScheduled();
        QVERIFY(!log.entries().join('\n').contains(QStringLiteral("prepared")));

        // The next press records normally.
        h.recorder.holdStart = false;
        h.shortcuts.press();
        QVERIFY(h.recorder.isRecording());
    }

    void noSessionTokenAsksToSignIn() {
        RuntimeLogCapture log;
        Harness h;
        h.session.token.reset();
        QSignalSpy upgrade(&h.coordinator, &DictationCoordinator::upgradePromptChanged);
        h.shortcuts.press();

        QCOMPARE(h.recorder.startCalls, 0);
        QCOMPARE(h.sounds.starts, 0);
        QVERIFY(h.overlay.steps.isEmpty());
        QCOMPARE(upgrade.count(), 1);
        const std::optional<UpgradePrompt> prompt = h.coordinator.upgradePrompt();
        QVERIFY(prompt && !prompt->id.isNull());
        QCOMPARE(prompt->title, QStringLiteral("Sign in to use Quillvane"));
        QCOMPARE(prompt->message,
                 QStringLiteral("You must sign in to use Quillvane. Sign in from the bottom-left "
                                "corner of the app, then try again."));
        const QString text = QStringLiteral(
            "Quillvane is not authenticated right now. Sign in again, then retry your recording.");
        QCOMPARE(h.coordinator.statusText(), text);
        QCOMPARE(h.coordinator.lastErrorMessage(), text);
        QCOMPARE(h.coordinator.lastRecordingSummary(),
                 QStringLiteral("Sign in from the bottom-left corner of the app to start dictating."));
        QVERIFY(log.entries().contains(
            QStringLiteral("INFO Blocked recording start because no active session is available")));

        // A second attempt brings a new prompt; dismissal clears it.
        h.shortcuts.press();
        QVERIFY(h.coordinator.upgradePrompt()->id != prompt->id);
        h.coordinator.setUpgradePrompt(std::nullopt);
        QCOMPARE(h.coordinator.upgradePrompt(), std::nullopt);
    }

    // ---- Preparation while the user speaks ----------------------------------------------------------------

    void preparationBeforeOrAfterTheStop_data() {
        QTest::addColumn<QString>("tier");
        QTest::addColumn<HotkeyIntent>("intent");
        QTest::addColumn<bool>("preparedInTime");
        QTest::addColumn<QString>("stopLog");
        QTest::addColumn<bool>("fullPrompt");
        QTest::newRow("context, in time") << "tidewell" << HotkeyIntent::Dictation << true
                                          << "Reusing prepared fast-path context for model=nova-3" << false;
        QTest::newRow("context, late")
            << "tidewell" << HotkeyIntent::Dictation << false << "Prompt skipped for model=nova-3" << false;
        QTest::newRow("full prompt, in time")
            << "keystoner" << HotkeyIntent::Dictation << true
            << "Reusing prepared prompt/context for model=gpt-4o-transcribe" << true;
        QTest::newRow("full prompt, late")
            << "keystoner" << HotkeyIntent::Dictation << false << "Prompt composed" << true;
        QTest::newRow("AI Mode, late")
            << "tidewell" << HotkeyIntent::SmartEdit << false << "Prompt composed" << true;
    }
    void preparationBeforeOrAfterTheStop() {
        QFETCH(QString, tier);
        QFETCH(HotkeyIntent, intent);
        QFETCH(bool, preparedInTime);
        QFETCH(QString, stopLog);
        QFETCH(bool, fullPrompt);
        RuntimeLogCapture log;
        Harness h;
        h.settings.prompts.transcriptionModel = tier;
        h.shortcuts.press(intent);
        if (preparedInTime) {
            h.runScheduled();
            QCOMPARE(h.context.reads, 1);
        }
        log.clear();
        h.shortcuts.release(intent);
        QCOMPARE(h.context.reads, 1); // read once, either while speaking or at the stop
        QVERIFY2(!log.entriesStartingWith("INFO " + stopLog).isEmpty(), qPrintable(log.entries().join('\n')));
        const PipelineRequest& request = h.pipeline.runs.first().request;
        QCOMPARE(request.promptResult.context, h.context.context);
        QCOMPARE(request.promptResult.prompt.startsWith(PromptComposer::defaultBasePrompt()), fullPrompt);
        QCOMPARE(request.promptResult.prompt.isEmpty(), !fullPrompt);

        // A preparation that runs after the stop stores nothing: the next recording composes afresh.
        log.clear();
        h.runScheduled();
        QVERIFY(log.entriesStartingWith("INFO Prompt/context prepared").isEmpty());
    }

    // AI Mode always routes to the fast model: the prompt prepared while the user speaks is the one the
    // stop uses, whatever tier is chosen (it is not composed a second time).
    void aiModePromptPreparedWhileSpeakingIsReused_data() {
        QTest::addColumn<QString>("tier");
        QTest::newRow("balanced (the default)") << "tidewell";
        QTest::newRow("fast") << "zephyrix";
        QTest::newRow("most capable") << "keystoner";
    }
    void aiModePromptPreparedWhileSpeakingIsReused() {
        QFETCH(QString, tier);
        RuntimeLogCapture log;
        Harness h;
        h.settings.prompts.transcriptionModel = tier;
        h.shortcuts.press(HotkeyIntent::SmartEdit);
        h.runScheduled();
        h.shortcuts.release(HotkeyIntent::SmartEdit);
        QCOMPARE(h.context.reads, 1);
        QVERIFY2(log.entries().contains(
                     QStringLiteral("INFO Reusing prepared prompt/context for model=whisper-large-v3-turbo")),
                 qPrintable(log.entries().join('\n')));
        QVERIFY(!h.pipeline.runs.first().request.promptResult.prompt.isEmpty());
    }

    // The context alone is reused whatever model it was prepared for; a full prompt only for its model.
    void settingsChangedWhileSpeaking_data() {
        QTest::addColumn<QString>("tierAtStart");
        QTest::addColumn<QString>("tierAtStop");
        QTest::addColumn<QString>("verbatimAtStop");
        QTest::addColumn<QString>("stopLog");
        QTest::addColumn<bool>("fullPrompt");
        QTest::newRow("fast tier, then verbatim")
            << "zephyrix"
            << "zephyrix"
            << "on"
            << "Reusing prepared fast-path context for model=nova-3" << false;
        QTest::newRow("capable tier, then verbatim")
            << "keystoner"
            << "keystoner"
            << "on"
            << "Reusing prepared fast-path context for model=nova-3" << false;
        QTest::newRow("balanced, then capable") << "tidewell"
                                                << "keystoner"
                                                << "off"
                                                << "Prompt composed" << true;
    }
    void settingsChangedWhileSpeaking() {
        QFETCH(QString, tierAtStart);
        QFETCH(QString, tierAtStop);
        QFETCH(QString, verbatimAtStop);
        QFETCH(QString, stopLog);
        QFETCH(bool, fullPrompt);
        RuntimeLogCapture log;
        Harness h;
        h.settings.prompts.transcriptionModel = tierAtStart;
        h.shortcuts.press();
        h.runScheduled();
        h.settings.prompts.transcriptionModel = tierAtStop;
        h.settings.verbatim = verbatimAtStop;
        log.clear();
        h.shortcuts.release();
        QVERIFY2(!log.entriesStartingWith("INFO " + stopLog).isEmpty(), qPrintable(log.entries().join('\n')));
        QCOMPARE(h.pipeline.runs.first().request.promptResult.prompt.isEmpty(), !fullPrompt);
    }

    // ---- Output muting ------------------------------------------------------------------------------------

    void outputIsRestoredWhateverTheSettingSays_data() {
        QTest::addColumn<bool>("autoPauseAtStart");
        QTest::addColumn<bool>("pipelineFails");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("switched off while recording") << true << false << QStringList{"mute", "restore"};
        QTest::newRow("failing pipeline") << true << true << QStringList{"mute", "restore"};
        QTest::newRow("never muted") << false << false << QStringList{};
    }
    void outputIsRestoredWhateverTheSettingSays() {
        QFETCH(bool, autoPauseAtStart);
        QFETCH(bool, pipelineFails);
        QFETCH(QStringList, calls);
        Harness h;
        h.settings.autoPause = autoPauseAtStart;
        if (pipelineFails) {
            h.pipeline.behaviour = [](PipelineRun&) { return PipelineResult::failureShown(); };
        }
        h.shortcuts.press();
        h.settings.autoPause = false; // for instance by a cloud pull
        h.shortcuts.release();
        QCOMPARE(h.muter.calls, calls);
    }

    // ---- Failures at the stop -----------------------------------------------------------------------------

    void stopFailuresAreReported_data() {
        // 0 recorder stop, 1 pipeline error, 2 pipeline already reported, 3 the recording broke off
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("errorLog");
        QTest::newRow("recorder") << 0 << "Unable to stop recording: No recording file was created."
                                  << QStringList{
                                         "ERROR Dictation stop/transcribe failed: No recording file was "
                                         "created."};
        QTest::newRow("pipeline") << 1 << "The file could not be read."
                                  << QStringList{
                                         "ERROR Dictation stop/transcribe failed: The file could not be "
                                         "read."};
        QTest::newRow("reported") << 2 << "Transcription failed: 500" << QStringList{};
        // Said as it is: what happened to the recording, and where it was cut.
        QTest::newRow("recording broke off")
            << 3 << "The microphone stopped; the recording was cut at 4 s."
            << QStringList{
                   "ERROR Dictation stop/transcribe failed: The microphone stopped; the recording was cut "
                   "at 4 s."};
    }
    void stopFailuresAreReported() {
        QFETCH(int, failure);
        QFETCH(QString, status);
        QFETCH(QStringList, errorLog);
        RuntimeLogCapture log;
        Harness h;
        if (failure == 0) {
            h.recorder.stopError = QStringLiteral("No recording file was created.");
        } else if (failure == 3) {
            h.recorder.brokeOff =
                AudioCaptureError::microphoneStopped(4.2, QStringLiteral("the input stopped"));
        } else if (failure == 1) {
            h.pipeline.behaviour = [](PipelineRun&) {
                return PipelineResult::failureToShow(
                    std::make_exception_ptr(TestError("The file could not be read.")));
            };
        } else {
            h.pipeline.behaviour = [](PipelineRun& out) {
                out.publishFailure(QStringLiteral("Transcription failed: 500"));
                return PipelineResult::failureShown();
            };
        }
        dictate(h);
        QCOMPARE(h.coordinator.statusText(), status);
        QCOMPARE(h.coordinator.lastErrorMessage(), status);
        QCOMPARE(log.entriesStartingWith(QStringLiteral("ERROR ")), errorLog);
        QCOMPARE(h.overlay.state(), QStringLiteral("hidden"));
        // A clip that reached the pipeline stays retryable whatever the pipeline did.
        const bool reachedPipeline = failure == 1 || failure == 2;
        QCOMPARE(h.coordinator.canRetryLastSubmission(), reachedPipeline);
        QCOMPARE(readFile(h.retryFile()), reachedPipeline ? h.recorder.clip : QByteArray());
        for (const QString& file : h.recorder.filesHandedOut) {
            QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        }
        // The next recording starts from a clean slate.
        h.shortcuts.press();
        QVERIFY(h.recorder.isRecording());
    }

    // ---- Retry --------------------------------------------------------------------------------------------

    void stopKeepsACopyForRetry() {
        RuntimeLogCapture log;
        Harness h;
        QSignalSpy canRetry(&h.coordinator, &DictationCoordinator::canRetryLastSubmissionChanged);
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        dictate(h);
        QVERIFY(h.coordinator.canRetryLastSubmission());
        QCOMPARE(canRetry.count(), 1);
        QCOMPARE(readFile(h.retryFile()), h.recorder.clip);
        QCOMPARE(QFileInfo(h.retryFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
        QVERIFY(
            log.entries().contains(QStringLiteral("INFO Saved retryable recording to last-recording.wav")));
        const PipelineRequest original = h.pipeline.runs.first().request;

        h.session.generation = 8;
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.pipeline.runs.size(), 2);
        const PipelineRequest& retried = h.pipeline.runs[1].request;
        QVERIFY(retried.isRetry);
        QCOMPARE(retried.recording.url.toLocalFile(), h.retryFile());
        QCOMPARE(retried.recording.duration, 1.23);
        QCOMPARE(retried.submissionId, original.submissionId);
        QCOMPARE(retried.promptResult, original.promptResult);
        QCOMPARE(retried.mode, RecordingMode::Transcription);
        QCOMPARE(retried.sessionGeneration, quint64(8));
        QCOMPARE(h.pipeline.runs[1].bytes, h.recorder.clip);
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("Retrying last backend submission..."));
        QCOMPARE(h.overlay.state(), QStringLiteral("processing"));
        QCOMPARE(h.sounds.starts, 1);
        QCOMPARE(h.muter.calls, (QStringList{"mute", "restore"}));
        // The copy survives a retry whose text did not reach the user either.
        QVERIFY(QFileInfo::exists(h.retryFile()));
        QVERIFY(h.coordinator.canRetryLastSubmission());

        // A recording in progress blocks the retry.
        h.shortcuts.press();
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.pipeline.runs.size(), 2);
    }

    void retryKeepsModeAndOutput_data() {
        QTest::addColumn<HotkeyIntent>("intent");
        QTest::addColumn<bool>("voiceNote");
        QTest::addColumn<RecordingMode>("mode");
        QTest::addColumn<OutputMode>("output");
        QTest::newRow("Typing Mode") << HotkeyIntent::Vdi << false << RecordingMode::Transcription
                                     << OutputMode::Type;
        QTest::newRow("voice note") << HotkeyIntent::Dictation << true << RecordingMode::Note
                                    << OutputMode::Paste;
    }
    void retryKeepsModeAndOutput() {
        QFETCH(HotkeyIntent, intent);
        QFETCH(bool, voiceNote);
        QFETCH(RecordingMode, mode);
        QFETCH(OutputMode, output);
        Harness h;
        if (voiceNote) {
            runTask(h.coordinator.startRecording(RecordingMode::Note, OutputMode::Paste));
            runTask(h.coordinator.stopRecording());
        } else {
            dictate(h, intent);
        }
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.pipeline.runs.last().request.mode, mode);
        QCOMPARE(h.pipeline.runs.last().request.outputMode, output);
        QCOMPARE(h.coordinator.activeMode(), mode);
        QCOMPARE(h.coordinator.activeOutputMode(), output);
    }

    // The slot holds the last recording that went out, whatever its mode: a retry always sends the
    // recording the failure was about, AI Mode with the selection of its own moment.
    void aiModeRecordingIsRetriedAsAiMode() {
        Harness h;
        h.recorder.clip = "first clip";
        dictate(h);
        h.recorder.clip = "AI instruction";
        h.pipeline.selection = QStringLiteral("the selected draft");
        dictate(h, HotkeyIntent::SmartEdit);
        QCOMPARE(readFile(h.retryFile()), QByteArray("AI instruction"));
        h.pipeline.selection = QStringLiteral("something selected later");
        runTask(h.coordinator.retryLastSubmission());
        const PipelineRequest& retried = h.pipeline.runs.last().request;
        QCOMPARE(retried.mode, RecordingMode::SmartEdit);
        QCOMPARE(retried.savedSelection, QStringLiteral("the selected draft"));
        QCOMPARE(h.pipeline.runs.last().bytes, QByteArray("AI instruction"));
    }

    // Retry is offered only while the slot holds a recording whose text did not reach the user; once it
    // did, the copy of the user's voice is deleted.
    void deliveredTextEmptiesTheSlot() {
        Harness h;
        dictate(h);
        QVERIFY(h.coordinator.canRetryLastSubmission());
        h.pipeline.delivers = true;
        runTask(h.coordinator.retryLastSubmission());
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        QVERIFY(!QFileInfo::exists(h.retryFile()));

        dictate(h); // delivered at once: nothing to offer
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        QVERIFY(!QFileInfo::exists(h.retryFile()));

        // An earlier clip delivered late does not empty the slot of a later one that failed.
        h.pipeline.delivers = false;
        h.pipeline.hold = true;
        dictate(h);
        h.pipeline.hold = false;
        dictate(h);
        QVERIFY(h.coordinator.canRetryLastSubmission());
        h.pipeline.delivers = true;
        h.pipeline.finish();
        QVERIFY(h.coordinator.canRetryLastSubmission());
    }

    // Each clip keeps its own copy while it is uploaded, whatever order the answers come in: an earlier clip
    // that fails after a later one's text was pasted is shown as the earlier dictation's failure and Retry
    // sends its audio (never the later, pasted clip again); of two failures the later recording's stays.
    void lateOutcomesKeepTheirOwnRecording_data() {
        QTest::addColumn<int>("earlier");        // 0 delivered, 1 failure published by it, 2 thrown
        QTest::addColumn<bool>("laterDelivers"); // or publishes a failure
        QTest::addColumn<QString>("status");
        QTest::addColumn<std::optional<QString>>("error");
        QTest::addColumn<QByteArray>("retried"); // the clip Retry sends (none: nothing to retry)
        const QString earlierFailed = QStringLiteral("An earlier dictation failed: ");
        const QString published = earlierFailed + QStringLiteral("The service did not answer.");
        const QString thrown =
            earlierFailed +
            FailureWording::describe(std::make_exception_ptr(std::runtime_error("backend down")));
        const QString busy = QStringLiteral("The service was busy.");
        QTest::newRow("both delivered")
            << 0 << true << "Dictation pasted." << std::optional<QString>() << QByteArray();
        QTest::newRow("earlier fails after later pasted, published")
            << 1 << true << published << std::optional<QString>(published) << QByteArray("earlier clip");
        QTest::newRow("earlier fails after later pasted, thrown")
            << 2 << true << thrown << std::optional<QString>(thrown) << QByteArray("earlier clip");
        QTest::newRow("earlier pasted after later failed")
            << 0 << false << busy << std::optional<QString>(busy) << QByteArray("later clip");
        QTest::newRow("both fail, earlier last")
            << 1 << false << busy << std::optional<QString>(busy) << QByteArray("later clip");
        QTest::newRow("both fail, thrown last")
            << 2 << false << busy << std::optional<QString>(busy) << QByteArray("later clip");
    }
    void lateOutcomesKeepTheirOwnRecording() {
        QFETCH(int, earlier);
        QFETCH(bool, laterDelivers);
        QFETCH(QString, status);
        QFETCH(std::optional<QString>, error);
        QFETCH(QByteArray, retried);
        Harness h;
        h.recorder.clip = "earlier clip";
        h.pipeline.hold = true;
        dictate(h);
        h.pipeline.hold = false;
        h.recorder.clip = "later clip";
        h.pipeline.delivers = laterDelivers;
        h.pipeline.behaviour = [laterDelivers](PipelineRun& out) {
            laterDelivers ? out.setStatusText(QStringLiteral("Dictation pasted."))
                          : out.publishFailure(QStringLiteral("The service was busy."));
            return PipelineResult::succeeded();
        };
        dictate(h);

        h.pipeline.delivers = earlier == 0;
        h.pipeline.behaviour = [earlier](PipelineRun& out) {
            if (earlier == 2) {
                return PipelineResult::failureToShow(
                    std::make_exception_ptr(std::runtime_error("backend down")));
            }
            if (earlier == 1) {
                out.publishFailure(QStringLiteral("The service did not answer."));
            }
            return PipelineResult::succeeded();
        };
        h.pipeline.finish();
        QCOMPARE(h.coordinator.statusText(), status);
        QCOMPARE(h.coordinator.lastErrorMessage(), error);
        QCOMPARE(h.coordinator.canRetryLastSubmission(), !retried.isEmpty());
        // Only the slot's copy is left; the copies of the clips that settled are gone.
        const QStringList left = QDir(h.retryFolder()).entryList(QDir::Files);
        QCOMPARE(left, retried.isEmpty() ? QStringList() : QStringList{QStringLiteral("last-recording.wav")});

        h.pipeline.behaviour = nullptr;
        h.pipeline.delivers = true;
        runTask(h.coordinator.retryLastSubmission());
        if (retried.isEmpty()) {
            QCOMPARE(h.pipeline.runs.size(), 2); // nothing sent again
            return;
        }
        QCOMPARE(h.pipeline.runs.size(), 3);
        const int original = retried == "earlier clip" ? 0 : 1;
        const PipelineRequest& retry = h.pipeline.runs[2].request;
        QVERIFY(retry.isRetry);
        QCOMPARE(h.pipeline.runs[2].bytes, retried);
        QCOMPARE(retry.submissionId, h.pipeline.runs[original].request.submissionId);
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        QCOMPARE(QDir(h.retryFolder()).entryList(QDir::Files), QStringList());
    }

    // Nothing reads the copy once the application has gone: it is deleted then, and one left behind by a
    // run that could not go through its exit is deleted at the next start.
    void retryCopyIsDeletedOnExitAndAtStart() {
        QString file;
        {
            Harness h;
            dictate(h);
            file = h.retryFile();
            QVERIFY(QFileInfo::exists(file));
            QVERIFY(QFile::copy(file, file + ".kept"));
        }
        QVERIFY(!QFileInfo::exists(file));
        Harness h(false);
        QVERIFY(QDir().mkpath(h.retryFolder()));
        QFile stale(h.retryFile());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("left from a crash");
        stale.close();
        h.coordinator.start();
        QVERIFY(!QFileInfo::exists(h.retryFile()));
        QVERIFY(!h.coordinator.canRetryLastSubmission());
    }

    void retryRefusals_data() {
        QTest::addColumn<int>("situation"); // 0 nothing saved, 1 file deleted, 2 signed out
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QString>>("summary");
        QTest::addColumn<bool>("slotKept");
        QTest::newRow("nothing saved")
            << 0 << "There is no saved recording available to retry." << std::optional<QString>() << false;
        QTest::newRow("file deleted")
            << 1 << "The saved recording is no longer available. Record again and retry."
            << std::optional<QString>(QStringLiteral("Captured 1.2s WAV at quillvane-0.wav")) << false;
        QTest::newRow("signed out")
            << 2
            << "Your saved recording is ready, but Quillvane needs you to sign in again before it can retry."
            << std::optional<QString>(QStringLiteral("Sign in again, then click Retry Last Submission."))
            << true;
    }
    void retryRefusals() {
        QFETCH(int, situation);
        QFETCH(QString, text);
        QFETCH(std::optional<QString>, summary);
        QFETCH(bool, slotKept);
        Harness h;
        if (situation > 0) {
            dictate(h);
        }
        if (situation == 1) {
            QVERIFY(QFile::remove(h.retryFile()));
        }
        if (situation == 2) {
            h.session.token.reset();
        }
        const int runsBefore = int(h.pipeline.runs.size());
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.pipeline.runs.size(), runsBefore);
        QCOMPARE(h.coordinator.statusText(), text);
        QCOMPARE(h.coordinator.lastErrorMessage(), text);
        QCOMPARE(h.coordinator.lastRecordingSummary(), summary);
        QCOMPARE(h.coordinator.canRetryLastSubmission(), slotKept);

        // After signing in again the same retry goes through.
        if (situation == 2) {
            h.session.token = QStringLiteral("new-token");
            runTask(h.coordinator.retryLastSubmission());
            QCOMPARE(h.pipeline.runs.size(), runsBefore + 1);
            QCOMPARE(h.coordinator.lastErrorMessage(), std::nullopt);
        }
    }

    void copyFailureEmptiesTheSlotAndStillTranscribes() {
        RuntimeLogCapture log;
        Harness h;
        dictate(h);
        QVERIFY(h.coordinator.canRetryLastSubmission());
        // A regular file where the Retry folder should be.
        QVERIFY(QDir(h.retryFolder()).removeRecursively());
        QFile blocker(h.retryFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        dictate(h);
        QCOMPARE(h.pipeline.runs.size(), 2);
        QVERIFY(!h.coordinator.canRetryLastSubmission());
        QCOMPARE(
            log.entriesStartingWith(QStringLiteral("ERROR Failed to preserve retryable recording: ")).size(),
            1);
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.coordinator.statusText(),
                 QStringLiteral("There is no saved recording available to retry."));
    }

    void retryFailures_data() {
        QTest::addColumn<bool>("alreadyReported");
        QTest::addColumn<QString>("status");
        QTest::newRow("reported by the pipeline") << true << "Session expired.";
        QTest::newRow("not reported") << false << "Retry failed: The network connection was lost.";
    }
    void retryFailures() {
        QFETCH(bool, alreadyReported);
        QFETCH(QString, status);
        RuntimeLogCapture log;
        Harness h;
        dictate(h);
        h.pipeline.behaviour = [alreadyReported](PipelineRun& out) {
            if (alreadyReported) {
                out.publishFailure(QStringLiteral("Session expired."));
                return PipelineResult::failureShown();
            }
            return PipelineResult::failureToShow(
                std::make_exception_ptr(TestError(QStringLiteral("The network connection was lost."))));
        };
        log.clear();
        runTask(h.coordinator.retryLastSubmission());
        QCOMPARE(h.coordinator.statusText(), status);
        QCOMPARE(h.coordinator.lastErrorMessage(), status);
        QCOMPARE(h.overlay.state(), QStringLiteral("hidden"));
        QCOMPARE(log.entriesStartingWith(QStringLiteral("ERROR ")),
                 alreadyReported ? QStringList{} : QStringList{"ERROR " + status});
        QVERIFY(h.coordinator.canRetryLastSubmission()); // the slot stays for another try
        QVERIFY(QFileInfo::exists(h.retryFile()));
    }

    // ---- What the pipelines use ---------------------------------------------------------------------------

    // How a run ended decides what follows: a failure the run told is not told again, a failure it
    // returns (or throws) is told once, and the overlay is put away once, by the run or else by the
    // coordinator, after a stop and after a retry alike.
    void runEndingDecidesWhatFollows_data() {
        QTest::addColumn<bool>("retry");
        QTest::addColumn<int>("ending"); // 0 succeeded, 1 told after hiding, 2 told, 3 to tell, 4 thrown
        QTest::addColumn<QStringList>("overlay"); // the steps from the stop (or the retry) on
        QTest::addColumn<QString>("status");
        const QString told = QStringLiteral("The service failed.");
        const QString toTell =
            FailureWording::describe(std::make_exception_ptr(TestError("The upload broke off.")));
        const QStringList hidden{"processing", "hidden"};
        for (const bool retry : {false, true}) {
            const QString prefix = retry ? QStringLiteral("retry, ") : QStringLiteral("stop, ");
            const QString tellStatus = retry ? QStringLiteral("Retry failed: ") + toTell : toTell;
            QTest::newRow(qPrintable(prefix + "succeeded"))
                << retry << 0 << QStringList{"processing"}
                << (retry ? QStringLiteral("Retrying last backend submission...")
                          : QStringLiteral("Submitting audio to backend..."));
            QTest::newRow(qPrintable(prefix + "told after hiding")) << retry << 1 << hidden << told;
            QTest::newRow(qPrintable(prefix + "told")) << retry << 2 << hidden << told;
            QTest::newRow(qPrintable(prefix + "to tell")) << retry << 3 << hidden << tellStatus;
            QTest::newRow(qPrintable(prefix + "thrown")) << retry << 4 << hidden << tellStatus;
        }
    }
    void runEndingDecidesWhatFollows() {
        QFETCH(bool, retry);
        QFETCH(int, ending);
        QFETCH(QStringList, overlay);
        QFETCH(QString, status);
        Harness h;
        if (retry) {
            h.pipeline.behaviour = [](PipelineRun&) { return PipelineResult::failureShown(); };
            dictate(h);
            QVERIFY(h.coordinator.canRetryLastSubmission());
        }
        h.pipeline.behaviour = [ending](PipelineRun& out) {
            switch (ending) {
            case 0:
                return PipelineResult::succeeded();
            case 1:
                out.hideOverlay();
                [[fallthrough]];
            case 2:
                out.publishFailure(QStringLiteral("The service failed."));
                return PipelineResult::failureShown();
            case 3:
                return PipelineResult::failureToShow(
                    std::make_exception_ptr(TestError(QStringLiteral("The upload broke off."))));
            }
            throw TestError(QStringLiteral("The upload broke off."));
        };
        const qsizetype before = h.overlay.steps.size() + (retry ? 0 : 1); // a stop follows "recording"
        if (retry) {
            runTask(h.coordinator.retryLastSubmission());
        } else {
            dictate(h);
        }
        QCOMPARE(h.overlay.steps.mid(before), overlay);
        QCOMPARE(h.coordinator.statusText(), status);
        QCOMPARE(h.coordinator.lastErrorMessage(),
                 ending == 0 ? std::nullopt : std::optional<QString>(status));
    }

    void silentClipPublishesTheSilentTexts() {
        Harness h;
        h.pipeline.behaviour = [](PipelineRun& out) {
            if (!SpeechDetection::hasMeaningfulAudio(QByteArray(32000, '\0'), 1.0,
                                                     out.services().settings.silenceThreshold())) {
                out.handleSilentTranscription();
                return PipelineResult::failureShown();
            }
            return PipelineResult::succeeded();
        };
        dictate(h);
        QCOMPARE(h.coordinator.statusText(), QStringLiteral("No speech detected."));
        QCOMPARE(h.coordinator.lastErrorMessage(), QStringLiteral("No speech detected."));
        QCOMPARE(h.coordinator.lastRecordingSummary(),
                 QStringLiteral("The recording was silent, so Quillvane did not insert any text."));
        QCOMPARE(h.overlay.state(), QStringLiteral("hidden"));
    }

    void elapsedMillisecondsRoundsToWholeMilliseconds() {
        ManualTime time;
        const double stamp = LatencyClock::now();
        time.clock.advance(std::chrono::microseconds(1234600));
        QCOMPARE(LatencyClock::millisecondsSince(stamp), qint64(1235));
    }
};

QTEST_GUILESS_MAIN(TestDictationCoordinator)
#include "tst_dictation_coordinator.moc"
