#include "DictationPipelines.h"

#include "AppLogger.h"
#include "BackendClient.h"
#include "Clock.h"
#include "DictationCoordinator.h"
#include "ModelRouting.h"
#include "OutputPostProcessing.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"
#include "TranscriptionSubmission.h"
#include "UserFacingError.h"

#include <QFile>

#include <exception>
#include <optional>

namespace {

const QString transcriptionLabel = QStringLiteral("Transcription");
const QString smartEditLabel = QStringLiteral("AI Mode");
const QString voiceNoteLabel = QStringLiteral("Voice Note");

class RecordingReadError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;
};

QByteArray readRecording(const RecordedAudio& recording) {
    QFile file(recording.url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        throw RecordingReadError(QStringLiteral("The recording could not be read: ") + file.errorString());
    }
    return file.readAll();
}

// The session token to send, or nothing when the user is signed out.
std::optional<QString> usableToken(const DictationCoordinator& coordinator) {
    std::optional<QString> token = coordinator.services().session.activeSessionToken();
    if (!token || token->isEmpty()) {
        return std::nullopt;
    }
    return token;
}

bool isMissingEndpoint(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BackendClientError& e) {
        return e.kind() == BackendClientError::Kind::HttpError &&
               (e.statusCode() == 404 || e.statusCode() == 405);
    } catch (...) {
        return false;
    }
}

QString describe(std::exception_ptr error) {
    return SessionCoordinator::describe(error);
}

// "name=value" pairs after the lead, blank-separated.
QString latencyLine(const QString& pipeline, std::initializer_list<std::pair<const char*, qint64>> fields) {
    QString line = QStringLiteral("Latency ") + pipeline;
    for (const auto& [name, value] : fields) {
        line += QLatin1Char(' ') + QLatin1String(name) + QLatin1Char('=') + QString::number(value);
    }
    return line;
}

qint64 since(double stamp) {
    return DictationCoordinator::elapsedMilliseconds(stamp);
}

double now() {
    return DictationCoordinator::uptimeStamp();
}

const QString nothingRecognisedText = QStringLiteral("No speech was recognised.");
const QString nothingRecognisedSummary =
    QStringLiteral("The recording was sent, but no words came back, so nothing was inserted.");

// Where the text of a run went.
struct Delivery {
    bool onClipboard = false; // the recording's window was not there: the text waits on the clipboard
    std::exception_ptr failure;
};

// Pastes or types `text`. A retry's text goes to the window the recording was made for, brought to the
// front first; never into whatever is frontmost then (the dashboard, most likely). When that window is
// closed, is ours, or does not come to the front, the text is left on the clipboard and the user told.
QCoro::Task<Delivery> deliver(const PipelineRequest& request, const DictationServices& services, QString text,
                              bool typing, RunReport out) {
    Delivery delivery;
    if (request.isRetry) {
        const ActiveAppContext& context = request.promptResult.context;
        const WindowRaise raised =
            context.windowId ? co_await services.inserter.bringToFront(*context.windowId, context.processId)
                             : WindowRaise::Closed;
        if (raised != WindowRaise::Raised) {
            if (!services.inserter.copyToClipboard(text)) {
                delivery.failure = std::make_exception_ptr(
                    UserFacingError(QStringLiteral("The text could not be put on the clipboard.")));
                co_return delivery;
            }
            delivery.onClipboard = true;
            out.setLastErrorMessage(std::nullopt);
            out.setStatusText(
                raised == WindowRaise::Refused
                    ? QStringLiteral("The window you dictated into did not come to the front; the text is on "
                                     "the clipboard.")
                    : QStringLiteral(
                          "The window you dictated into is closed; the text is on the clipboard."));
            out.setLastRecordingSummary(QStringLiteral("Paste it where you want it."));
            co_return delivery;
        }
    }
    try {
        if (typing) {
            co_await services.inserter.typeText(text, services.settings.vdiTypingDelay());
        } else {
            co_await services.inserter.pasteText(text);
        }
    } catch (...) {
        delivery.failure = std::current_exception();
    }
    co_return delivery;
}

// The answer held no words: nothing is inserted, stored or sounded, and there is nothing to retry.
void nothingRecognised(const PipelineRequest& request, DictationCoordinator& coordinator, RunReport& out) {
    AppLogger::info(QStringLiteral("Transcription returned no text; nothing inserted"));
    out.hideOverlay();
    out.publishFailure(nothingRecognisedText);
    out.setLastRecordingSummary(nothingRecognisedSummary);
    coordinator.submissionSettled(request);
}

} // namespace

DictationPipelines::DictationPipelines(BackendClient& backend) : m_backend(backend) {}

QCoro::Task<> DictationPipelines::run(PipelineRequest request, DictationCoordinator& coordinator) {
    switch (request.mode) {
    case RecordingMode::Transcription:
        co_await transcribeAndInsert(request, coordinator);
        co_return;
    case RecordingMode::SmartEdit:
        co_await transcribeAndSmartEdit(request, coordinator);
        co_return;
    case RecordingMode::Note:
        co_await transcribeAndSaveNote(request, coordinator);
        co_return;
    }
}

// ---- Dictation and Typing Mode ----------------------------------------------------------------------------

QCoro::Task<> DictationPipelines::transcribeAndInsert(PipelineRequest request,
                                                      DictationCoordinator& coordinator) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const ActiveAppContext context = promptResult.context;
    const DictationServices& services = coordinator.services();
    RunReport out = coordinator.report(request);

    const std::optional<QString> token = usableToken(coordinator);
    if (!token) {
        out.hideOverlay();
        AppLogger::error(QStringLiteral("Transcription skipped: no backend session token"));
        out.publishFailure(noSessionTextDictation);
        co_return;
    }
    const QString sessionToken = *token;

    const double audioStamp = now();
    const QByteArray audioData = readRecording(recording);
    const qint64 audioLoadMs = since(audioStamp);

    if (!coordinator.hasMeaningfulAudio(audioData, recording.duration)) {
        out.handleSilentTranscription();
        co_return;
    }
    out.setLastPromptDebug(context.debugDescription);
    coordinator.keepForRetry(request, std::nullopt);

    TranscriptionSubmission submission(coordinator, m_backend, request.mode, request.sessionGeneration,
                                       request.runId);
    const bool combined = OutputPostProcessing::isEmailContext(context, request.mode) &&
                          !services.settings.disableEmailFormatting();
    QString outputText;
    SessionResponseDTO session;
    std::optional<QString> provider;
    qint64 words = 0;
    qint64 backendMs = 0;
    qint64 postprocessMs = 0;
    bool answered = false;

    double backendStamp = now();
    if (combined) {
        std::exception_ptr failure;
        try {
            const CombinedTranscriptionResponseDTO answer = co_await submission.submitRefinedTranscription(
                audioData, recording, promptResult, sessionToken, transcriptionLabel, QStringLiteral("email"),
                std::nullopt, std::nullopt);
            backendMs = since(backendStamp);
            outputText = coordinator.prepareOutputText(answer.text);
            AppLogger::info(
                QStringLiteral("Combined transcription/email refinement applied in single backend call"));
            session = answer.session;
            provider = answer.provider;
            words = answer.words;
            answered = true;
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            if (!isMissingEndpoint(failure)) {
                std::rethrow_exception(failure);
            }
            AppLogger::info(
                QStringLiteral("Combined transcription/email endpoint unavailable. Falling back to "
                               "legacy two-call pipeline."));
            backendStamp = now();
        }
    }
    if (!answered) {
        const TranscriptionResponseDTO answer = co_await submission.submitTranscription(
            audioData, recording, promptResult, sessionToken, transcriptionLabel);
        backendMs = since(backendStamp);
        const double postprocessStamp = now();
        BackendClient& backend = m_backend;
        const QString processed = co_await OutputPostProcessing::applyPostProcessing(
            answer.text, context, sessionToken, request.mode, services.settings,
            [&backend](FormatEmailRequestDTO body) { return backend.formatEmail(std::move(body)); });
        postprocessMs = since(postprocessStamp);
        outputText = coordinator.prepareOutputText(processed);
        session = answer.session;
        provider = answer.provider;
        words = answer.words;
    }

    submission.applySessionSnapshot(session);
    if (Text::trimmed(outputText).isEmpty()) {
        nothingRecognised(request, coordinator, out);
        co_return;
    }
    const QString providerLabel = ModelRouting::publicModelLabel(provider);
    out.setLastTranscript(outputText);
    out.setLastProvider(providerLabel);
    AppLogger::info(QStringLiteral("Transcription succeeded provider=") +
                    provider.value_or(QStringLiteral("unknown")) + QStringLiteral(" words=") +
                    QString::number(words));

    const bool typing = request.outputMode == OutputMode::Type;
    const double insertStamp = now();
    const Delivery delivery = co_await deliver(request, services, outputText, typing, out);
    const std::exception_ptr insertFailure = delivery.failure;
    const qint64 insertMs = since(insertStamp);

    const double historyStamp = now();
    // Also after a failed insertion: the failure message points the user to the history.
    services.history.addEntry(outputText, providerLabel, context.debugDescription, recording.duration);
    const qint64 historyMs = since(historyStamp);

    if (insertFailure) {
        const QString description = describe(insertFailure);
        out.hideOverlay();
        AppLogger::error(QStringLiteral("Transcript paste failed: ") + description);
        out.publishFailure(QStringLiteral("Transcribed successfully, but output insertion failed: ") +
                           description);
        out.setLastRecordingSummary(
            QStringLiteral("Transcript captured. Copy it manually from the dashboard if needed."));
        co_return;
    }
    coordinator.submissionSettled(request);
    if (delivery.onClipboard) {
        out.hideOverlay();
        co_return;
    }

    coordinator.playCompletionSound();
    out.hideOverlay();
    AppLogger::info(QStringLiteral("Transcript paste succeeded"));
    AppLogger::info(latencyLine(QStringLiteral("transcription_pipeline"),
                                {{"release_to_paste_ms", since(request.releaseStart)},
                                 {"audio_load_ms", audioLoadMs},
                                 {"prompt_ms", 0},
                                 {"backend_ms", backendMs},
                                 {"postprocess_ms", postprocessMs},
                                 {"insert_ms", insertMs},
                                 {"history_ms", historyMs}}));
    out.setLastErrorMessage(std::nullopt);
    out.setStatusText(typing ? QStringLiteral("Dictation typed into the active app.")
                             : QStringLiteral("Dictation pasted into the active app."));
    out.setLastRecordingSummary(QStringLiteral("Transcribed ") + QString::number(words) +
                                QStringLiteral(" words in ") + QString::asprintf("%.1f", recording.duration) +
                                QStringLiteral("s"));
}

// ---- AI Mode ----------------------------------------------------------------------------------------------

QCoro::Task<> DictationPipelines::transcribeAndSmartEdit(PipelineRequest request,
                                                         DictationCoordinator& coordinator) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const ActiveAppContext context = promptResult.context;
    const DictationServices& services = coordinator.services();
    const auto customInstructions = [&services]() -> std::optional<QString> {
        const QString prompt = services.settings.promptSettings().customPrompt;
        return prompt.isEmpty() ? std::nullopt : std::optional<QString>(prompt);
    };

    RunReport out = coordinator.report(request);
    const std::optional<QString> token = usableToken(coordinator);
    if (!token) {
        out.hideOverlay();
        AppLogger::error(QStringLiteral("Smart Edit skipped: no backend session token"));
        out.publishFailure(noSessionText);
        co_return;
    }
    const QString sessionToken = *token;

    const double audioStamp = now();
    const QByteArray audioData = readRecording(recording);
    const qint64 audioLoadMs = since(audioStamp);

    if (!coordinator.hasMeaningfulAudio(audioData, recording.duration)) {
        out.hideOverlay();
        out.publishFailure(QStringLiteral("No spoken AI Mode instruction detected."));
        out.setLastRecordingSummary(QStringLiteral("AI Mode skipped because the recording was silent."));
        AppLogger::info(QStringLiteral("Smart Edit skipped due to insufficient speech content"));
        coordinator.setSelectedTextForSmartEdit(std::nullopt);
        coordinator.setVoiceInstructionForSmartEdit(std::nullopt);
        co_return;
    }

    // Any failure to read a selection (none, no access, the copy failed) means there is none; the
    // selection service leaves the user's clipboard as it was. A retry uses the selection of the
    // recording's own moment.
    const double selectionStamp = now();
    std::optional<QString> selection;
    if (request.isRetry) {
        selection = request.savedSelection;
    } else {
        try {
            selection = co_await services.selection.captureSelectedText();
        } catch (...) {
            selection.reset();
        }
    }
    coordinator.setSelectedTextForSmartEdit(selection);
    out.setLastPromptDebug(context.debugDescription);
    coordinator.keepForRetry(request, selection);

    TranscriptionSubmission submission(coordinator, m_backend, request.mode, request.sessionGeneration,
                                       request.runId);
    double transcriptionStamp = now();
    qint64 transcriptionMs = 0;
    qint64 formatterMs = 0;
    QString outputText;
    bool answered = false;
    std::exception_ptr failure;
    try {
        const CombinedTranscriptionResponseDTO answer = co_await submission.submitRefinedTranscription(
            audioData, recording, promptResult, sessionToken, smartEditLabel, QStringLiteral("generic"),
            customInstructions(), selection);
        transcriptionMs = since(transcriptionStamp);
        submission.applySessionSnapshot(answer.session);
        coordinator.setVoiceInstructionForSmartEdit(answer.transcript_text);
        outputText = coordinator.prepareOutputText(answer.text);
        answered = true;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (!isMissingEndpoint(failure)) {
            std::rethrow_exception(failure);
        }
        AppLogger::info(QStringLiteral(
            "Combined AI mode endpoint unavailable. Falling back to legacy two-call pipeline."));
        transcriptionStamp = now();
    }
    if (!answered) {
        const TranscriptionResponseDTO answer = co_await submission.submitTranscription(
            audioData, recording, promptResult, sessionToken, smartEditLabel);
        transcriptionMs = since(transcriptionStamp);
        submission.applySessionSnapshot(answer.session);
        coordinator.setVoiceInstructionForSmartEdit(answer.text);

        const double formatterStamp = now();
        FormatGenericRequestDTO body;
        body.session_token = sessionToken;
        body.text = answer.text;
        body.app_name = context.appName;
        body.window_title = context.windowTitle;
        body.custom_instructions = customInstructions();
        body.selected_text = selection;
        body.verbatim = false;
        body.snippets = services.knowledgeBase.snippetDTOs();
        std::optional<FormatResponseDTO> formatted;
        std::exception_ptr formatFailure;
        try {
            formatted = co_await m_backend.formatGeneric(body);
        } catch (...) {
            formatFailure = std::current_exception();
        }
        if (formatFailure) {
            // A rejected session is the same failure here as on the transcription itself.
            if (submission.handleIfAuthenticationFailure(formatFailure, sessionToken)) {
                throw CoordinatorHandledError();
            }
            std::rethrow_exception(formatFailure);
        }
        formatterMs = since(formatterStamp);
        outputText = coordinator.prepareOutputText(formatted->text);
    }

    if (Text::trimmed(outputText).isEmpty()) {
        coordinator.setSelectedTextForSmartEdit(std::nullopt);
        coordinator.setVoiceInstructionForSmartEdit(std::nullopt);
        nothingRecognised(request, coordinator, out);
        co_return;
    }
    out.setLastTranscript(outputText);
    out.setLastProvider(smartEditLabel);

    // AI Mode always pastes, whatever the output mode.
    const double insertStamp = now();
    const Delivery delivery = co_await deliver(request, services, outputText, false, out);
    const std::exception_ptr pasteFailure = delivery.failure;
    const qint64 insertMs = since(insertStamp);
    const double historyStamp = now();
    services.history.addEntry(outputText, smartEditLabel, context.debugDescription, recording.duration);
    const qint64 historyMs = since(historyStamp);

    if (pasteFailure) {
        const QString description = describe(pasteFailure);
        out.hideOverlay();
        AppLogger::error(QStringLiteral("Smart Edit paste failed: ") + description);
        out.publishFailure(QStringLiteral("AI Mode succeeded, but paste failed: ") + description);
        out.setLastRecordingSummary(QStringLiteral("AI Mode result is available in the dashboard history."));
    } else if (delivery.onClipboard) {
        coordinator.submissionSettled(request);
        out.hideOverlay();
    } else {
        coordinator.submissionSettled(request);
        coordinator.playCompletionSound();
        out.hideOverlay();
        AppLogger::info(QStringLiteral("Smart Edit paste succeeded result_chars=") +
                        QString::number(Text::graphemeCount(outputText)));
        AppLogger::info(latencyLine(QStringLiteral("smart_edit_pipeline"),
                                    {{"release_to_paste_ms", since(request.releaseStart)},
                                     {"audio_load_ms", audioLoadMs},
                                     {"selected_text_ms", since(selectionStamp)},
                                     {"prompt_ms", 0},
                                     {"transcription_ms", transcriptionMs},
                                     {"formatter_ms", formatterMs},
                                     {"insert_ms", insertMs},
                                     {"history_ms", historyMs}}));
        out.setLastErrorMessage(std::nullopt);
        out.setStatusText(QStringLiteral("AI Mode applied and pasted into the active app."));
        out.setLastRecordingSummary(
            selection ? QStringLiteral("AI Mode completed using selected text.")
                      : QStringLiteral("AI Mode generated new content from your spoken prompt."));
    }
    coordinator.setSelectedTextForSmartEdit(std::nullopt);
    coordinator.setVoiceInstructionForSmartEdit(std::nullopt);
}

// ---- Voice notes ------------------------------------------------------------------------------------------

QCoro::Task<> DictationPipelines::transcribeAndSaveNote(PipelineRequest request,
                                                        DictationCoordinator& coordinator) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const DictationServices& services = coordinator.services();

    RunReport out = coordinator.report(request);
    const std::optional<QString> token = usableToken(coordinator);
    if (!token) {
        out.hideOverlay();
        AppLogger::error(QStringLiteral("Voice note skipped: no backend session token"));
        out.publishFailure(noSessionText);
        co_return;
    }
    const QString sessionToken = *token;

    const double audioStamp = now();
    const QByteArray audioData = readRecording(recording);
    const qint64 audioLoadMs = since(audioStamp);

    if (!coordinator.hasMeaningfulAudio(audioData, recording.duration)) {
        out.hideOverlay();
        out.publishFailure(QStringLiteral("No speech detected. Voice note was not saved."));
        out.setLastRecordingSummary(
            QStringLiteral("The recording was silent, so Quillvane did not create a note."));
        co_return;
    }
    out.setLastPromptDebug(promptResult.context.debugDescription);
    coordinator.keepForRetry(request, std::nullopt);

    TranscriptionSubmission submission(coordinator, m_backend, request.mode, request.sessionGeneration,
                                       request.runId);
    const double transcriptionStamp = now();
    const TranscriptionResponseDTO answer = co_await submission.submitTranscription(
        audioData, recording, promptResult, sessionToken, voiceNoteLabel);
    const qint64 transcriptionMs = since(transcriptionStamp);
    submission.applySessionSnapshot(answer.session);
    const QString text = Text::trimmed(answer.text);

    if (text.isEmpty()) {
        out.hideOverlay();
        out.publishFailure(QStringLiteral("Voice note recorded, but no text was returned."));
        out.setLastRecordingSummary(QStringLiteral("Audio was captured, but the transcription was empty."));
        coordinator.submissionSettled(request);
        co_return;
    }

    const NoteEntry note = services.notes.addVoiceNote(text, Clock::current().now());
    coordinator.submissionSettled(request);
    out.setLastTranscript(text);
    out.setLastProvider(voiceNoteLabel);
    services.history.addEntry(text, voiceNoteLabel, voiceNoteLabel, recording.duration);
    coordinator.playCompletionSound();
    out.hideOverlay();
    out.setLastErrorMessage(std::nullopt);
    out.setStatusText(QStringLiteral("Voice note saved."));
    out.setLastRecordingSummary(QStringLiteral("Saved voice note and generating title..."));
    AppLogger::info(QStringLiteral("Voice note transcription saved id=") +
                    note.id.toString(QUuid::WithoutBraces) + QStringLiteral(" chars=") +
                    QString::number(Text::graphemeCount(text)));
    AppLogger::info(latencyLine(QStringLiteral("voice_note_pipeline"),
                                {{"release_to_save_ms", since(request.releaseStart)},
                                 {"audio_load_ms", audioLoadMs},
                                 {"prompt_ms", 0},
                                 {"transcription_ms", transcriptionMs}}));
    co_await generateTitleIfPossible(coordinator, note.id, note.title, text, sessionToken, request.runId);
}

QCoro::Task<> DictationPipelines::generateTitleIfPossible(DictationCoordinator& coordinator, QUuid noteId,
                                                          QString createdTitle, QString text,
                                                          QString sessionToken, quint64 runId) {
    RunReport out(coordinator, runId);
    TitleRequestDTO body;
    body.session_token = sessionToken;
    body.text = text;
    std::optional<TitleResponseDTO> answer;
    std::exception_ptr failure;
    try {
        answer = co_await m_backend.generateTitle(body);
    } catch (...) {
        failure = std::current_exception();
    }
    // A failed title never signs the user out: the note is saved, and the next transcription tells.
    if (failure) {
        AppLogger::error(QStringLiteral("Voice note title generation failed: ") + describe(failure));
        out.setLastRecordingSummary(QStringLiteral("Voice note saved. Title generation failed."));
        co_return;
    }
    const QString title = Text::trimmed(answer->title);
    if (title.isEmpty()) {
        co_return;
    }
    // A title the user typed (or a note they deleted) while the request ran stays as they left it.
    const bool renamed = coordinator.services().notes.renameIfTitleIs(noteId, createdTitle, title);
    out.setLastRecordingSummary(QStringLiteral("Saved voice note and generated title."));
    AppLogger::info(QStringLiteral("Voice note title generated id=") + noteId.toString(QUuid::WithoutBraces) +
                    QStringLiteral(" title_chars=") + QString::number(Text::graphemeCount(title)));
    if (!renamed) {
        AppLogger::info(QStringLiteral("Voice note kept its title: renamed or deleted meanwhile id=") +
                        noteId.toString(QUuid::WithoutBraces));
    }
}
