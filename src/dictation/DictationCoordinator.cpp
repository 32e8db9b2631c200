#include "DictationCoordinator.h"

#include "AppLogger.h"
#include "AppPaths.h"
#include "AudioCaptureService.h"
#include "FailureWording.h"
#include "LatencyClock.h"
#include "PromptComposer.h"
#include "RecordingFiles.h"
#include "Scheduler.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

struct ModePair {
    RecordingMode mode;
    OutputMode output;
};

ModePair modesFor(HotkeyIntent intent) {
    switch (intent) {
    case HotkeyIntent::Dictation:
        return {RecordingMode::Transcription, OutputMode::Paste};
    case HotkeyIntent::SmartEdit:
        return {RecordingMode::SmartEdit, OutputMode::Paste};
    case HotkeyIntent::Vdi:
        return {RecordingMode::Transcription, OutputMode::Type};
    }
    return {RecordingMode::Transcription, OutputMode::Paste};
}

// The recording broke off before the stop (its own sentence says what happened and where it was cut).
bool brokeOff(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const AudioCaptureError& failure) {
        return failure.kind() == AudioCaptureError::Kind::recordingInterrupted;
    } catch (...) {
        return false;
    }
}

// What a pipeline run may call of the services itself.
PipelineServices pipelineServices(const DictationServices& services) {
    return {services.session,  services.settings, services.knowledgeBase, services.selection,
            services.inserter, services.history,  services.notes,         services.sounds};
}

} // namespace

DictationCoordinator::DictationCoordinator(DictationServices services, PromptComposer& composer,
                                           QObject* parent)
    : QObject(parent), m_services(services), m_composer(composer), m_retryDirectory(AppPaths::retryFolder()) {
}

DictationCoordinator::~DictationCoordinator() {
    // Nothing reads the copies of the user's voice after the application has gone.
    removeRetryCopy();
    removeInFlightCopies();
}

// ---- One run's view --------------------------------------------------------------------------------

class DictationCoordinator::RunHandle final : public PipelineRun {
public:
    RunHandle(DictationCoordinator& coordinator, const PipelineRequest& request)
        : m_coordinator(coordinator), m_request(request),
          m_services(pipelineServices(coordinator.m_services)) {}

    const PipelineServices& services() const override { return m_services; }

    void setStatusText(const QString& text) override {
        ifCurrent(&DictationCoordinator::setStatusText, text);
    }
    void setLastRecordingSummary(const std::optional<QString>& summary) override {
        ifCurrent(&DictationCoordinator::setLastRecordingSummary, summary);
    }
    void setLastTranscript(const std::optional<QString>& transcript) override {
        ifCurrent(&DictationCoordinator::setLastTranscript, transcript);
    }
    void setLastProvider(const std::optional<QString>& provider) override {
        ifCurrent(&DictationCoordinator::setLastProvider, provider);
    }
    void setLastPromptDebug(const std::optional<QString>& debug) override {
        ifCurrent(&DictationCoordinator::setLastPromptDebug, debug);
    }
    void setLastErrorMessage(const std::optional<QString>& message) override {
        ifCurrent(&DictationCoordinator::setLastErrorMessage, message);
    }
    void publishFailure(const QString& message) override {
        m_coordinator.noteRunFailure(m_request.runId, message);
        ifCurrent(&DictationCoordinator::publishFailure, message);
    }
    void hideOverlay() override {
        m_hidOverlay = true;
        m_coordinator.hideOverlay(m_request.runId);
    }
    void keepForRetry(const std::optional<QString>& selection) override {
        m_coordinator.keepForRetry(m_request, selection);
    }
    void settled() override { m_coordinator.submissionSettled(m_request); }

    // The run has put the overlay away itself (or tried to: a later recording or retry may have it).
    bool hidOverlay() const { return m_hidOverlay; }

private:
    // Calls the coordinator's `setter` with `value` while this run is the newest.
    template <class Value>
    void ifCurrent(void (DictationCoordinator::*setter)(const Value&), const Value& value) {
        if (m_coordinator.isCurrentRun(m_request.runId)) {
            (m_coordinator.*setter)(value);
        }
    }

    DictationCoordinator& m_coordinator;
    const PipelineRequest m_request;
    const PipelineServices m_services;
    bool m_hidOverlay = false;
};

// ---- Published state ----------------------------------------------------------------------------

void DictationCoordinator::setStatusText(const QString& text) {
    publish(m_statusText, text, &DictationCoordinator::statusTextChanged);
}

void DictationCoordinator::setLastRecordingSummary(const std::optional<QString>& summary) {
    publish(m_lastRecordingSummary, summary, &DictationCoordinator::lastRecordingSummaryChanged);
}

void DictationCoordinator::setLastTranscript(const std::optional<QString>& transcript) {
    publish(m_lastTranscript, transcript, &DictationCoordinator::lastTranscriptChanged);
}

void DictationCoordinator::setLastProvider(const std::optional<QString>& provider) {
    publish(m_lastProvider, provider, &DictationCoordinator::lastProviderChanged);
}

void DictationCoordinator::setLastPromptDebug(const std::optional<QString>& debug) {
    publish(m_lastPromptDebug, debug, &DictationCoordinator::lastPromptDebugChanged);
}

void DictationCoordinator::setLastErrorMessage(const std::optional<QString>& message) {
    publish(m_lastErrorMessage, message, &DictationCoordinator::lastErrorMessageChanged);
}

void DictationCoordinator::setUpgradePrompt(const std::optional<UpgradePrompt>& prompt) {
    publish(m_upgradePrompt, prompt, &DictationCoordinator::upgradePromptChanged);
}

void DictationCoordinator::publishFailure(const QString& message) {
    setLastErrorMessage(message);
    setStatusText(message);
}

void DictationCoordinator::setModes(RecordingMode mode, OutputMode outputMode) {
    m_currentMode = mode;
    publish(m_activeMode, mode, &DictationCoordinator::activeModeChanged);
    m_currentOutputMode = outputMode;
    publish(m_activeOutputMode, outputMode, &DictationCoordinator::activeOutputModeChanged);
}

bool DictationCoordinator::isRecordingOrStarting() const {
    return m_starting || m_services.recorder.isRecording();
}

bool DictationCoordinator::canRetryLastSubmission() const {
    return m_retryableSubmission.has_value() && !isRecordingOrStarting();
}

void DictationCoordinator::notifyCanRetryIfChanged() {
    publish(m_lastCanRetry, canRetryLastSubmission(), &DictationCoordinator::canRetryLastSubmissionChanged);
}

void DictationCoordinator::setRetryableSubmission(std::optional<RetryableSubmission> submission) {
    m_retryableSubmission = std::move(submission);
    notifyCanRetryIfChanged();
}

// ---- Helpers ------------------------------------------------------------------------------------

void DictationCoordinator::hideOverlay(quint64 runId) {
    // A pipeline of an earlier recording may end while the user is already speaking again, or while a
    // retry runs: the overlay then belongs to that one.
    if (!isCurrentRun(runId) || (m_services.recorder.isRecording() && m_holdConfirmed)) {
        return;
    }
    m_services.overlay.hide();
}

QString DictationCoordinator::effectiveTranscriptionModel(std::optional<double> duration) const {
    const PromptSettings prompts = m_services.settings.promptSettings();
    const ModelRouting::RoutingInput input{prompts.transcriptionModel, prompts.workDomainSelection,
                                           m_services.settings.verbatimModeStyle(), m_currentMode};
    return ModelRouting::effectiveTranscriptionModel(input, duration);
}

// ---- Shortcuts and triggers ---------------------------------------------------------------------

void DictationCoordinator::start() {
    // A copy left by a run that ended without going through its exit is never read again.
    removeRetryCopy();
    removeInFlightCopies();
    QPointer<DictationCoordinator> self(this);
    m_services.shortcuts.setEventHandler([self](HotkeyIntent intent, HotkeyEvent event) {
        if (!self) {
            return;
        }
        // Each event runs as its own task; the handler returns once it waits.
        QCoro::Task<> task = self->handleHotkeyEvent(intent, event);
        Q_UNUSED(task);
    });
    try {
        m_services.shortcuts.installHandlerIfNeeded();
        m_services.shortcuts.registerHotkey();
    } catch (...) {
        const QString description = SessionCoordinator::describe(std::current_exception());
        AppLogger::error(QStringLiteral("Hotkey registration failed: ") + description);
        setStatusText(QStringLiteral("Failed to register hotkey: ") + description);
        return;
    }
    m_services.shortcuts.installFunctionKeyMonitors();
    AppLogger::info(QStringLiteral("Dictation coordinator started"));
    setStatusText(QStringLiteral("Hotkey registered. Hold the shortcut to record."));
}

QCoro::Task<> DictationCoordinator::handleHotkeyEvent(HotkeyIntent intent, HotkeyEvent event) {
    const ModePair modes = modesFor(intent);
    if (!m_services.settings.toggleHotkeyMode()) {
        if (event == HotkeyEvent::Pressed) {
            co_await startRecording(modes.mode, modes.output);
        } else {
            co_await stopRecording();
        }
        co_return;
    }
    if (event == HotkeyEvent::Released) {
        co_return;
    }
    if (isRecordingOrStarting()) {
        co_await stopRecording();
    } else {
        co_await startRecording(modes.mode, modes.output);
    }
}

QCoro::Task<> DictationCoordinator::startMouseTrigger(MouseTriggerMode mode) {
    switch (mode) {
    case MouseTriggerMode::Off:
        co_return;
    case MouseTriggerMode::Dictation:
        co_await startRecording(RecordingMode::Transcription, OutputMode::Paste);
        co_return;
    case MouseTriggerMode::Vdi:
        co_await startRecording(RecordingMode::Transcription, OutputMode::Type);
        co_return;
    case MouseTriggerMode::AiRefinement:
        co_await startRecording(RecordingMode::SmartEdit, OutputMode::Paste);
        co_return;
    }
}

// ---- Start --------------------------------------------------------------------------------------

QCoro::Task<> DictationCoordinator::startRecording(RecordingMode mode, OutputMode outputMode) {
    if (isRecordingOrStarting()) {
        co_return;
    }
    if (!m_services.session.activeSessionToken()) {
        setUpgradePrompt(UpgradePrompt{QUuid::createUuid(), QStringLiteral("Sign in to use Quillvane"),
                                       QStringLiteral("You must sign in to use Quillvane. Sign in from the "
                                                      "bottom-left corner of the app, then try again.")});
        publishFailure(notAuthenticatedText);
        setLastRecordingSummary(
            QStringLiteral("Sign in from the bottom-left corner of the app to start dictating."));
        AppLogger::info(QStringLiteral("Blocked recording start because no active session is available"));
        co_return;
    }
    setModes(mode, outputMode);
    clearPrepared();
    const QUuid sessionId = QUuid::createUuid();
    m_activeRecordingSessionID = sessionId;
    m_holdConfirmed = false;
    m_muted = false;
    m_services.sounds.playStartSound();
    AppLogger::info(QStringLiteral("Recording start requested mode=") + logLabel(mode) +
                    QStringLiteral(" output=") + logLabel(outputMode));
    if (mode == RecordingMode::Note) {
        AppLogger::info(QStringLiteral("Voice note recording requested"));
    }

    m_starting = true;
    m_stopRequestedWhileStarting = false;
    notifyCanRetryIfChanged();
    QPointer<DictationCoordinator> self(this);
    std::exception_ptr failure;
    try {
        co_await m_services.recorder.startRecording();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    m_starting = false;
    const bool stopRequested = std::exchange(m_stopRequestedWhileStarting, false);

    if (failure) {
        m_activeRecordingSessionID.reset();
        const QString description = SessionCoordinator::describe(failure);
        AppLogger::error(QStringLiteral("Dictation start failed: ") + description);
        // Nothing was shown yet, so nothing is hidden: a clip still processing keeps its overlay.
        publishFailure(QStringLiteral("Unable to start recording: ") + description);
        notifyCanRetryIfChanged();
        co_return;
    }

    AppLogger::info(QStringLiteral("Dictation recording active"));
    // The model the stop will choose, so that what is prepared here is what it reuses.
    startPreparation(sessionId, effectiveTranscriptionModel(std::nullopt), mode);
    m_holdTimer.cancel();
    if (m_minimumHold.count() <= 0) {
        confirmHold(sessionId);
    } else {
        m_holdTimer = Scheduler::current().singleShot(m_minimumHold, [self, sessionId] {
            if (self) {
                self->confirmHold(sessionId);
            }
        });
    }
    notifyCanRetryIfChanged();
    if (stopRequested) {
        co_await stopRecording();
    }
}

void DictationCoordinator::confirmHold(QUuid sessionId) {
    if (m_activeRecordingSessionID != sessionId || !m_services.recorder.isRecording() || m_holdConfirmed) {
        return;
    }
    m_holdConfirmed = true;
    // From here on the texts are this recording's; an earlier recording's pipeline publishes nothing more.
    m_recordingRun = m_currentRun = ++m_runCounter;
    setLastErrorMessage(std::nullopt);
    setLastTranscript(std::nullopt);
    setLastProvider(std::nullopt);
    m_services.overlay.showRecording();
    setStatusText(m_currentMode == RecordingMode::SmartEdit
                      ? QStringLiteral("Recording AI Mode instruction...")
                  : m_currentMode == RecordingMode::Note ? QStringLiteral("Recording voice note...")
                                                         : QStringLiteral("Recording..."));
    if (m_services.settings.autoPauseMedia()) {
        m_muted = true;
        m_services.muter.muteIfNeeded();
    }
}

void DictationCoordinator::discardTap() {
    RecordedAudio recording;
    try {
        recording = m_services.recorder.stopRecording();
    } catch (...) {
        // Nothing was recorded: nothing to throw away.
    }
    m_activeRecordingSessionID.reset();
    clearPrepared();
    AppLogger::info(QStringLiteral("Press released before it became a recording; nothing was kept"));
    cleanupRecordingFile(recording);
    notifyCanRetryIfChanged();
}

void DictationCoordinator::clearPrepared() {
    m_preparedPromptResult.reset();
    m_preparedContext.reset();
    m_preparedPromptModel.reset();
}

void DictationCoordinator::startPreparation(QUuid sessionId, QString model, RecordingMode mode) {
    QPointer<DictationCoordinator> self(this);
    Scheduler::current().singleShot(Scheduler::Duration(0), [self, sessionId, model, mode] {
        if (!self) {
            return;
        }
        const double stamp = LatencyClock::now();
        PromptCompositionResult result;
        if (ModelRouting::needsFullPrompt(mode, model)) {
            result = self->m_composer.composePrompt(self->m_services.settings.promptSettings());
        } else {
            result.context = self->m_composer.activeAppContextService().currentContext();
            AppLogger::info(QStringLiteral("Fast-path context prepared during recording context=") +
                            result.context.logDescription() + QStringLiteral(" model=") + model);
        }
        if (self->m_activeRecordingSessionID != sessionId) {
            return;
        }
        self->m_preparedPromptResult = result;
        self->m_preparedContext = result.context;
        self->m_preparedPromptModel = model;
        AppLogger::info(QStringLiteral("Prompt/context prepared during recording context=") +
                        result.context.logDescription() + QStringLiteral(" chars=") +
                        QString::number(Text::graphemeCount(result.prompt)) + QStringLiteral(" prep_ms=") +
                        QString::number(LatencyClock::millisecondsSince(stamp)) + QStringLiteral(" model=") +
                        model);
    });
}

// ---- Stop ---------------------------------------------------------------------------------------

QCoro::Task<> DictationCoordinator::stopRecording() {
    if (m_starting) {
        m_stopRequestedWhileStarting = true;
        co_return;
    }
    if (!m_services.recorder.isRecording()) {
        co_return;
    }
    m_holdTimer.cancel();
    if (!m_holdConfirmed) {
        discardTap();
        co_return;
    }
    m_holdConfirmed = false;
    const quint64 runId = m_recordingRun;
    AppLogger::info(QStringLiteral("Dictation stop requested"));
    const double releaseStart = LatencyClock::now();
    m_services.overlay.showProcessing();
    setStatusText(m_currentMode == RecordingMode::SmartEdit
                      ? QStringLiteral("Running AI Mode...")
                      : QStringLiteral("Submitting audio to backend..."));

    const double stopStamp = LatencyClock::now();
    RecordedAudio recording;
    std::exception_ptr stopFailure;
    try {
        recording = m_services.recorder.stopRecording();
    } catch (...) {
        stopFailure = std::current_exception();
    }
    m_activeRecordingSessionID.reset();
    // Whatever the setting says now: what was muted for this recording is given back.
    if (std::exchange(m_muted, false)) {
        m_services.muter.restoreMuteStateIfNeeded();
    }
    if (stopFailure) {
        stopFailed(stopFailure, runId, true);
        notifyCanRetryIfChanged();
        co_return;
    }
    AppLogger::info(QStringLiteral("Audio stop finalize_ms=") +
                    QString::number(LatencyClock::millisecondsSince(stopStamp)));
    setLastRecordingSummary(QStringLiteral("Captured ") + QString::asprintf("%.1f", recording.duration) +
                            QStringLiteral("s WAV at ") + QFileInfo(recording.url.toLocalFile()).fileName());

    const QString model = effectiveTranscriptionModel(std::nullopt);
    PipelineRequest request;
    request.recording = recording;
    request.promptResult = chooseStopPromptResult(model);
    request.mode = m_currentMode;
    request.outputMode = m_currentOutputMode;
    request.releaseStart = releaseStart;
    request.sessionGeneration = m_services.session.sessionGeneration();
    request.runId = runId;
    request.submissionId = QUuid::createUuid();
    clearPrepared();
    notifyCanRetryIfChanged();

    QPointer<DictationCoordinator> self(this);
    m_runsInFlight.insert(runId);
    RunHandle run(*this, request);
    const PipelineResult result = co_await runPipeline(request, run);
    cleanupRecordingFile(recording);
    if (!self) {
        co_return;
    }
    switch (result.kind()) {
    case PipelineResult::Kind::Succeeded:
        break;
    case PipelineResult::Kind::FailureShown:
        if (!run.hidOverlay()) {
            putAwayFailedStop(runId);
        }
        break;
    case PipelineResult::Kind::FailureToShow:
        stopFailed(result.error(), runId, false);
        break;
    }
    runEnded(request);
}

QCoro::Task<PipelineResult> DictationCoordinator::runPipeline(PipelineRequest request, RunHandle& run) {
    if (!m_pipeline) {
        co_return PipelineResult::failureToShow(
            std::make_exception_ptr(std::runtime_error("No transcription pipeline is available.")));
    }
    std::exception_ptr thrown;
    try {
        co_return co_await m_pipeline->run(request, run);
    } catch (...) {
        thrown = std::current_exception();
    }
    co_return PipelineResult::failureToShow(thrown);
}

PromptCompositionResult DictationCoordinator::chooseStopPromptResult(const QString& model) {
    const bool fullPrompt = ModelRouting::needsFullPrompt(m_currentMode, model);
    if (fullPrompt && m_preparedPromptModel == model && m_preparedPromptResult) {
        AppLogger::info(QStringLiteral("Reusing prepared prompt/context for model=") + model);
        return *m_preparedPromptResult;
    }
    if (!fullPrompt && m_preparedContext) {
        AppLogger::info(QStringLiteral("Reusing prepared fast-path context for model=") + model +
                        QStringLiteral(" context=") + m_preparedContext->logDescription());
        return {QString(), *m_preparedContext};
    }
    return makePromptResult(model);
}

PromptCompositionResult DictationCoordinator::makePromptResult(const QString& model) {
    if (ModelRouting::needsFullPrompt(m_currentMode, model)) {
        return m_composer.composePrompt(m_services.settings.promptSettings());
    }
    const ActiveAppContext context = m_composer.activeAppContextService().currentContext();
    AppLogger::info(QStringLiteral("Prompt skipped for model=") + model + QStringLiteral(" context=") +
                    context.logDescription());
    return {QString(), context};
}

void DictationCoordinator::putAwayFailedStop(quint64 runId) {
    // A newer recording may already be under way; its overlay, mute and preparation stay.
    if (!isRecordingOrStarting()) {
        clearPrepared();
        m_activeRecordingSessionID.reset();
    }
    hideOverlay(runId);
}

void DictationCoordinator::stopFailed(std::exception_ptr error, quint64 runId, bool recorderFailed) {
    putAwayFailedStop(runId);
    const QString description = SessionCoordinator::describe(error);
    AppLogger::error(QStringLiteral("Dictation stop/transcribe failed: ") + description);
    const QString message = recorderFailed && !brokeOff(error)
                                ? QStringLiteral("Unable to stop recording: ") + description
                            : recorderFailed ? description
                                             : FailureWording::describe(error);
    noteRunFailure(runId, message);
    if (isCurrentRun(runId)) {
        publishFailure(message);
    }
}

void DictationCoordinator::cleanupRecordingFile(const RecordedAudio& recording) {
    const QString path = recording.url.toLocalFile();
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink())) {
        return;
    }
    QString error;
    if (RecordingFiles::remove(path, &error)) {
        AppLogger::info(QStringLiteral("Deleted temporary recording file ") + info.fileName());
    } else {
        AppLogger::error(QStringLiteral("Failed to delete temporary recording file ") + info.fileName() +
                         QStringLiteral(": ") + error);
    }
}

// ---- Retry --------------------------------------------------------------------------------------

void DictationCoordinator::keepForRetry(const PipelineRequest& request,
                                        const std::optional<QString>& selection) {
    if (request.isRetry) {
        return; // its recording is the slot's already
    }
    // Without a copy there is nothing to retry should it fail; it is still noted, so that its failure
    // does not leave an older recording in the slot in its place.
    const auto fail = [this, &request](const QString& description) {
        AppLogger::error(QStringLiteral("Failed to preserve retryable recording: ") + description);
        m_inFlight.push_back(InFlightCopy{RetryableSubmission{request.submissionId}, request.runId});
    };
    if (m_retryDirectory.isEmpty()) {
        fail(QStringLiteral("No data folder is available."));
        return;
    }
    if (!QDir().mkpath(m_retryDirectory)) {
        fail(QStringLiteral("The folder ") + m_retryDirectory + QStringLiteral(" could not be created."));
        return;
    }
    QFile::setPermissions(m_retryDirectory,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString destination = inFlightPath(request.submissionId);
    const QFileInfo existing(destination);
    if ((existing.exists() || existing.isSymLink()) && !RecordingFiles::remove(destination)) {
        fail(QStringLiteral("The previous copy could not be removed."));
        return;
    }
    QFile source(request.recording.url.toLocalFile());
    if (!source.copy(destination)) {
        fail(QStringLiteral("The recording could not be copied: ") + source.errorString());
        return;
    }
    RecordingFiles::adopt(destination); // gone on the way out, whatever becomes of it
    QFile::setPermissions(destination, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_inFlight.push_back(
        InFlightCopy{RetryableSubmission{request.submissionId, destination, request.recording.duration,
                                         request.mode, request.outputMode, request.promptResult,
                                         request.mode == RecordingMode::SmartEdit ? selection : std::nullopt},
                     request.runId});
}

void DictationCoordinator::submissionSettled(const PipelineRequest& request) {
    const auto copy = std::find_if(m_inFlight.begin(), m_inFlight.end(), [&](const InFlightCopy& kept) {
        return kept.submission.id == request.submissionId;
    });
    if (copy != m_inFlight.end()) {
        if (!copy->submission.filePath.isEmpty()) {
            RecordingFiles::remove(copy->submission.filePath);
        }
        m_inFlight.erase(copy);
    }
    if (!m_retryableSubmission || m_retryableSubmission->id != request.submissionId) {
        return;
    }
    setRetryableSubmission(std::nullopt);
    removeRetryCopy();
}

void DictationCoordinator::noteRunFailure(quint64 runId, const QString& message) {
    if (m_runsInFlight.contains(runId)) {
        m_runFailures[runId] = message;
    }
}

void DictationCoordinator::runEnded(const PipelineRequest& request) {
    m_runsInFlight.erase(request.runId);
    std::optional<QString> message;
    if (const auto noted = m_runFailures.find(request.runId); noted != m_runFailures.end()) {
        message = noted->second;
        m_runFailures.erase(noted);
    }
    const auto copy = std::find_if(m_inFlight.begin(), m_inFlight.end(), [&](const InFlightCopy& kept) {
        return kept.submission.id == request.submissionId;
    });
    if (copy == m_inFlight.end()) {
        // Delivered, never uploaded, or a retry: a retry that did not deliver leaves the slot as it was.
        if (request.isRetry && m_retryableSubmission && m_retryableSubmission->id == request.submissionId &&
            m_retryableRun == request.runId) {
            publishEarlierFailure(request.runId, message);
        }
        return;
    }
    InFlightCopy failed = std::move(*copy);
    m_inFlight.erase(copy);
    if (failed.submission.filePath.isEmpty()) {
        if (!m_retryableSubmission || m_retryableRun < failed.runId) {
            setRetryableSubmission(std::nullopt); // Retry would send an older recording than this one
            removeRetryCopy();
            publishEarlierFailure(failed.runId, message);
        }
        return;
    }
    if (m_retryableSubmission && m_retryableRun > failed.runId) {
        // A later recording failed already: the slot keeps that one, the one the user saw fail last.
        AppLogger::info(QStringLiteral("An earlier recording failed after a later one; the later one stays "
                                       "retryable"));
        RecordingFiles::remove(failed.submission.filePath);
        return;
    }
    removeRetryCopy();
    const QString destination = QDir(m_retryDirectory).filePath(retryFileName);
    if (!QFile::rename(failed.submission.filePath, destination)) {
        AppLogger::error(QStringLiteral("Failed to preserve retryable recording: the copy could not be moved "
                                        "to ") +
                         retryFileName);
        RecordingFiles::remove(failed.submission.filePath);
        setRetryableSubmission(std::nullopt);
        return;
    }
    RecordingFiles::adopt(destination);
    failed.submission.filePath = destination;
    m_retryableRun = failed.runId;
    setRetryableSubmission(failed.submission);
    AppLogger::info(QStringLiteral("Saved retryable recording to ") + retryFileName);
    publishEarlierFailure(failed.runId, message);
}

void DictationCoordinator::publishEarlierFailure(quint64 runId, const std::optional<QString>& message) {
    if (isCurrentRun(runId)) {
        return; // published as it happened
    }
    const QString text = message
                             ? earlierFailurePrefix + *message
                             : QStringLiteral("An earlier dictation failed before its text was inserted.");
    AppLogger::info(QStringLiteral("Showing the failure of an earlier recording after a later one began"));
    setLastErrorMessage(text);
    // A later recording or retry still under way keeps its own status line.
    const bool laterBusy = (m_services.recorder.isRecording() && m_holdConfirmed) ||
                           (!m_runsInFlight.empty() && *m_runsInFlight.rbegin() > runId);
    if (!laterBusy) {
        setStatusText(text);
    }
}

QString DictationCoordinator::inFlightPath(const QUuid& submissionId) const {
    return QDir(m_retryDirectory)
        .filePath(inFlightFilePrefix + submissionId.toString(QUuid::WithoutBraces) + QStringLiteral(".wav"));
}

void DictationCoordinator::removeRetryCopy() {
    if (m_retryDirectory.isEmpty()) {
        return;
    }
    const QString path = QDir(m_retryDirectory).filePath(retryFileName);
    const QFileInfo info(path);
    if ((info.exists() || info.isSymLink()) && !RecordingFiles::remove(path)) {
        AppLogger::error(QStringLiteral("Failed to delete the retry copy ") + retryFileName);
    }
}

void DictationCoordinator::removeInFlightCopies() {
    m_inFlight.clear();
    if (m_retryDirectory.isEmpty()) {
        return;
    }
    // Also what a run that never reached its exit left in the folder.
    const QDir folder(m_retryDirectory);
    const QStringList names = folder.entryList({inFlightFilePrefix + QStringLiteral("*.wav")},
                                               QDir::Files | QDir::System | QDir::Hidden);
    for (const QString& name : names) {
        if (!RecordingFiles::remove(folder.filePath(name))) {
            AppLogger::error(QStringLiteral("Failed to delete the retry copy ") + name);
        }
    }
}

QCoro::Task<> DictationCoordinator::retryLastSubmission() {
    if (isRecordingOrStarting()) {
        co_return;
    }
    if (!m_retryableSubmission) {
        publishFailure(QStringLiteral("There is no saved recording available to retry."));
        co_return;
    }
    const RetryableSubmission submission = *m_retryableSubmission;
    if (!QFileInfo::exists(submission.filePath)) {
        setRetryableSubmission(std::nullopt);
        publishFailure(QStringLiteral("The saved recording is no longer available. Record again and retry."));
        co_return;
    }
    if (!m_services.session.activeSessionToken()) {
        publishFailure(QStringLiteral(
            "Your saved recording is ready, but Quillvane needs you to sign in again before it can retry."));
        setLastRecordingSummary(QStringLiteral("Sign in again, then click Retry Last Submission."));
        co_return;
    }
    const quint64 runId = m_currentRun = ++m_runCounter;
    m_retryableRun = runId;
    setLastErrorMessage(std::nullopt);
    setModes(submission.mode, submission.outputMode);
    m_services.overlay.showProcessing();
    setStatusText(QStringLiteral("Retrying last backend submission..."));

    PipelineRequest request;
    request.recording = RecordedAudio{QUrl::fromLocalFile(submission.filePath), submission.duration};
    request.promptResult = submission.promptResult;
    request.mode = submission.mode;
    request.outputMode = submission.outputMode;
    request.releaseStart = LatencyClock::now();
    request.sessionGeneration = m_services.session.sessionGeneration();
    request.isRetry = true;
    request.runId = runId;
    request.submissionId = submission.id;
    request.savedSelection = submission.selection;

    QPointer<DictationCoordinator> self(this);
    m_runsInFlight.insert(runId);
    RunHandle run(*this, request);
    const PipelineResult result = co_await runPipeline(request, run);
    if (!self) {
        co_return;
    }
    if (result.kind() == PipelineResult::Kind::FailureShown && !run.hidOverlay()) {
        hideOverlay(runId);
    } else if (result.kind() == PipelineResult::Kind::FailureToShow) {
        hideOverlay(runId);
        const std::exception_ptr failure = result.error();
        const QString description = SessionCoordinator::describe(failure);
        AppLogger::error(QStringLiteral("Retry failed: ") + description);
        noteRunFailure(runId, FailureWording::describe(failure));
        if (isCurrentRun(runId)) {
            publishFailure(QStringLiteral("Retry failed: ") + FailureWording::describe(failure));
        }
    }
    runEnded(request);
}
