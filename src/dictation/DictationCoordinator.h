#pragma once

#include "DictationModes.h"
#include "DictationPipeline.h"
#include "DictationServices.h"
#include "ModelRouting.h"
#include "MouseTriggerMode.h"
#include "PromptCompositionResult.h"
#include "Scheduler.h"
#include "SpeechDetection.h"

#include <QObject>
#include <QString>
#include <QUuid>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <vector>

class PromptComposer;

// The blocking prompt shown when a recording needs a signed-in user; the dashboard shows it as a sheet and
// sets the coordinator's `upgradePrompt` back to none when the sheet is dismissed.
struct UpgradePrompt {
    QUuid id; // a new one for every prompt
    QString title;
    QString message;

    friend bool operator==(const UpgradePrompt&, const UpgradePrompt&) = default;
};

// Turns shortcut presses, middle-mouse presses and menu or dashboard buttons into recordings, and hands
// each finished recording with its prompt to the pipeline of its mode. It keeps the last dictation or
// voice-note recording for a retry and publishes a few texts for the menu and the dashboard.
//
// A recording: the start needs a session token, shows the overlay, plays the start cue and starts the
// recorder; while the user speaks, a task on the Scheduler prepares the prompt (or only the frontmost
// context); the stop finalises the file, restores system output, reuses what was prepared when it still
// fits, copies the file to the retry slot, runs the pipeline, and deletes the temporary file whatever the
// pipeline did. A press while a pipeline is still processing starts a new recording at once.
//
// While the recorder is starting, a second start is refused and a stop is remembered: it runs as soon as
// the start completes (and if the start fails, nothing is left running).
//
// A press is a recording only once it has lasted `minimumHold` after the recorder started: only then do
// the overlay, the "Recording..." texts and the muting of other applications begin. A tap or a click
// released sooner leaves no trace: its clip is dropped, nothing is published and the retry slot keeps what
// it held. (The start cue plays at once, so that the user knows when to speak.)
//
// Every recording that passed the speech check is copied before it is uploaded, and its copy is kept while
// its submission is in flight: once its text is delivered the copy goes; once its run ends without
// delivering, it becomes the retry slot, unless the slot holds a newer failed one already (the newest
// failure wins, whatever order the answers come in). A failure of an earlier recording that arrives after
// a later one has begun is published as that earlier dictation's failure. The slot is emptied (and its copy
// deleted) once a retry delivers the text; all copies are deleted when the coordinator goes and at start.
//
// A pipeline run publishes through its own handle (applied while it is the newest run) and returns how it
// ended: succeeded; a failure it told the user (the coordinator then hides the overlay if the run has not);
// or a failure for the coordinator to tell.
//
// No operation throws: failures are published (`lastErrorMessage`, then `statusText`, then the summary).
// Main thread only.
class DictationCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(std::optional<QString> lastRecordingSummary READ lastRecordingSummary NOTIFY
                   lastRecordingSummaryChanged)
    Q_PROPERTY(std::optional<QString> lastTranscript READ lastTranscript NOTIFY lastTranscriptChanged)
    Q_PROPERTY(std::optional<QString> lastProvider READ lastProvider NOTIFY lastProviderChanged)
    Q_PROPERTY(std::optional<QString> lastPromptDebug READ lastPromptDebug NOTIFY lastPromptDebugChanged)
    Q_PROPERTY(std::optional<QString> lastErrorMessage READ lastErrorMessage NOTIFY lastErrorMessageChanged)
    Q_PROPERTY(RecordingMode activeMode READ activeMode NOTIFY activeModeChanged)
    Q_PROPERTY(OutputMode activeOutputMode READ activeOutputMode NOTIFY activeOutputModeChanged)
    Q_PROPERTY(std::optional<UpgradePrompt> upgradePrompt READ upgradePrompt WRITE setUpgradePrompt NOTIFY
                   upgradePromptChanged)
    Q_PROPERTY(bool canRetryLastSubmission READ canRetryLastSubmission NOTIFY canRetryLastSubmissionChanged)

public:
    static constexpr double minRecordingDuration = SpeechDetection::minRecordingDuration;
    static constexpr double shortClipZephyrixCutoff = ModelRouting::shortClipZephyrixCutoff;

    static inline const QString& initialStatus = DictationTexts::ready;
    static inline const QString notAuthenticatedText =
        QStringLiteral("Quillvane is not authenticated right now. Sign in again, then retry your recording.");
    static inline const QString retryFileName = QStringLiteral("last-recording.wav");
    // The copies of the recordings still in flight: "in-flight-<submission id>.wav".
    static inline const QString inFlightFilePrefix = QStringLiteral("in-flight-");
    static inline const QString earlierFailurePrefix = QStringLiteral("An earlier dictation failed: ");
    static constexpr std::chrono::milliseconds defaultMinimumHold{450};

    // `composer` must outlive the coordinator, as must every service. Calls no service.
    DictationCoordinator(DictationServices services, PromptComposer& composer, QObject* parent = nullptr);
    ~DictationCoordinator() override;

    // The pipelines of the three modes; set once by the composition root before the first stop.
    void setPipeline(DictationPipeline* pipeline) { m_pipeline = pipeline; }
    // The retry copy's folder; by default the "Retry" folder of the app's data folder.
    void setRetryDirectory(const QString& directory) { m_retryDirectory = directory; }
    QString retryDirectory() const { return m_retryDirectory; }
    // How long a press must last to become a recording (tests shorten it).
    void setMinimumHold(std::chrono::milliseconds hold) { m_minimumHold = hold; }

    // Installs the shortcut handler and activates the shortcuts. A failure is published as the status.
    void start();

    QCoro::Task<> startMouseTrigger(MouseTriggerMode mode);
    QCoro::Task<> startRecording(RecordingMode mode, OutputMode outputMode);
    QCoro::Task<> stopRecording();
    QCoro::Task<> retryLastSubmission();

    // True while the slot holds a recording whose text did not reach the user, and no recording is being
    // made (or started).
    bool canRetryLastSubmission() const;

    const QString& statusText() const { return m_statusText; }
    const std::optional<QString>& lastRecordingSummary() const { return m_lastRecordingSummary; }
    const std::optional<QString>& lastTranscript() const { return m_lastTranscript; }
    const std::optional<QString>& lastProvider() const { return m_lastProvider; }
    const std::optional<QString>& lastPromptDebug() const { return m_lastPromptDebug; }
    const std::optional<QString>& lastErrorMessage() const { return m_lastErrorMessage; }
    RecordingMode activeMode() const { return m_activeMode; }
    OutputMode activeOutputMode() const { return m_activeOutputMode; }
    const std::optional<UpgradePrompt>& upgradePrompt() const { return m_upgradePrompt; }
    void setUpgradePrompt(const std::optional<UpgradePrompt>& prompt);

    // The published texts, set directly (the views' tests show a state this way; the pipelines publish
    // through their run, which applies only while it is the newest).
    void setStatusText(const QString& text);
    void setLastRecordingSummary(const std::optional<QString>& summary);
    void setLastTranscript(const std::optional<QString>& transcript);
    void setLastProvider(const std::optional<QString>& provider);
    void setLastPromptDebug(const std::optional<QString>& debug);
    void setLastErrorMessage(const std::optional<QString>& message);
    // `message` as `lastErrorMessage`, then as `statusText`.
    void publishFailure(const QString& message);

    // The services it was given (the views ask the recorder whether a recording is under way).
    const DictationServices& services() const { return m_services; }

signals:
    void statusTextChanged();
    void lastRecordingSummaryChanged();
    void lastTranscriptChanged();
    void lastProviderChanged();
    void lastPromptDebugChanged();
    void lastErrorMessageChanged();
    void activeModeChanged();
    void activeOutputModeChanged();
    void upgradePromptChanged();
    void canRetryLastSubmissionChanged();

private:
    struct RetryableSubmission {
        QUuid id; // PipelineRequest::submissionId
        QString filePath;
        double duration = 0;
        RecordingMode mode = RecordingMode::Transcription;
        OutputMode outputMode = OutputMode::Paste;
        PromptCompositionResult promptResult;
        std::optional<QString> selection; // AI Mode: the selection captured when it was recorded
    };

    // One pipeline run's view of the coordinator (see PipelineRun).
    class RunHandle;

    // Stores a published value and announces it when it changed.
    template <class T> void publish(T& field, const T& value, void (DictationCoordinator::*changed)()) {
        if (field == value) {
            return;
        }
        field = value;
        (this->*changed)();
    }

    QCoro::Task<> handleHotkeyEvent(HotkeyIntent intent, HotkeyEvent event);
    bool isRecordingOrStarting() const;
    void setModes(RecordingMode mode, OutputMode outputMode);
    void clearPrepared();
    void startPreparation(QUuid sessionId, QString model, RecordingMode mode);
    PromptCompositionResult chooseStopPromptResult(const QString& model);
    PromptCompositionResult makePromptResult(const QString& model);
    // The pipeline's result; an error it throws all the same is a failure to show.
    QCoro::Task<PipelineResult> runPipeline(PipelineRequest request, RunHandle& run);
    void confirmHold(QUuid sessionId);
    void discardTap();
    void setRetryableSubmission(std::optional<RetryableSubmission> submission);
    void removeRetryCopy();
    void removeInFlightCopies();
    QString inFlightPath(const QUuid& submissionId) const;
    // The pipeline of `request` returned: a copy still in flight failed to deliver.
    void runEnded(const PipelineRequest& request);
    void publishEarlierFailure(quint64 runId, const std::optional<QString>& message);
    // After a failed stop or run: what the stop prepared goes (unless a newer recording is under way) and
    // the overlay is hidden (unless a later recording or retry has it).
    void putAwayFailedStop(quint64 runId);
    void stopFailed(std::exception_ptr error, quint64 runId, bool recorderFailed);
    static void cleanupRecordingFile(const RecordedAudio& recording);

    bool isCurrentRun(quint64 runId) const { return runId == m_currentRun; }
    // Hides the overlay unless a later recording or retry has it.
    void hideOverlay(quint64 runId);
    // The model for the recording in progress (current mode, prompt settings, verbatim style).
    QString effectiveTranscriptionModel(std::optional<double> duration) const;
    // The recording passed the speech check and is about to be uploaded: a copy of its file is kept with its
    // prompt and, for AI Mode, its selection, and becomes the retry slot's if its run ends undelivered. A
    // retry's recording is the slot's already.
    void keepForRetry(const PipelineRequest& request, const std::optional<QString>& selection);
    // The recording's text reached the user (or there was none to deliver): its copy in flight is deleted,
    // and the slot, if it holds this recording, is emptied and its copy deleted.
    void submissionSettled(const PipelineRequest& request);
    // What a run told the user went wrong; kept until the run ends, so that an earlier run's failure can
    // still be shown once it is known to have failed.
    void noteRunFailure(quint64 runId, const QString& message);
    void notifyCanRetryIfChanged();

    DictationServices m_services;
    PromptComposer& m_composer;
    DictationPipeline* m_pipeline = nullptr;
    QString m_retryDirectory;

    QString m_statusText = initialStatus;
    std::optional<QString> m_lastRecordingSummary;
    std::optional<QString> m_lastTranscript;
    std::optional<QString> m_lastProvider;
    std::optional<QString> m_lastPromptDebug;
    std::optional<QString> m_lastErrorMessage;
    RecordingMode m_activeMode = RecordingMode::Transcription;
    OutputMode m_activeOutputMode = OutputMode::Paste;
    std::optional<UpgradePrompt> m_upgradePrompt;

    RecordingMode m_currentMode = RecordingMode::Transcription;
    OutputMode m_currentOutputMode = OutputMode::Paste;
    std::optional<PromptCompositionResult> m_preparedPromptResult;
    std::optional<ActiveAppContext> m_preparedContext;
    std::optional<QString> m_preparedPromptModel;
    std::optional<QUuid> m_activeRecordingSessionID;
    std::optional<RetryableSubmission> m_retryableSubmission;
    quint64 m_retryableRun = 0; // the run that last failed to deliver the slot's recording
    struct InFlightCopy {
        RetryableSubmission submission;
        quint64 runId = 0;
    };
    std::vector<InFlightCopy> m_inFlight;     // copies of recordings being uploaded
    std::map<quint64, QString> m_runFailures; // runs in flight: what each told the user went wrong
    std::set<quint64> m_runsInFlight;         // runs whose pipeline has not ended

    bool m_starting = false;                   // the recorder's start is being awaited
    bool m_stopRequestedWhileStarting = false; // a stop arrived meanwhile; it runs once the start completes
    bool m_lastCanRetry = false;

    std::chrono::milliseconds m_minimumHold = defaultMinimumHold;
    TimerHandle m_holdTimer;
    bool m_holdConfirmed = false; // the recording in progress has lasted the minimum hold
    bool m_muted = false;         // other applications were muted for the recording in progress
    quint64 m_runCounter = 0;
    quint64 m_currentRun = 0;   // the newest recording or retry: only its texts are published
    quint64 m_recordingRun = 0; // the run of the recording in progress
};
