#include "DictationPipelines.h"

#include "AppLogger.h"
#include "BackendClient.h"
#include "Clock.h"
#include "LatencyClock.h"
#include "ModelRouting.h"
#include "OutputPostProcessing.h"
#include "SessionCoordinator.h"
#include "SpeechDetection.h"
#include "TextUtilities.h"
#include "TranscriptionSubmission.h"
#include "UserFacingError.h"

#include <QFile>

#include <exception>
#include <optional>
#include <stdexcept>

namespace {

const QString transcriptionLabel = QStringLiteral("Transcription");
const QString smartEditLabel = QStringLiteral("AI Mode");
const QString voiceNoteLabel = QStringLiteral("Voice Note");

class RecordingReadError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;
};

// The recording's bytes, or the error that says why they could not be read.
std::optional<QByteArray> readRecording(const RecordedAudio& recording, std::exception_ptr& failure) {
    QFile file(recording.url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly)) {
        failure = std::make_exception_ptr(
            RecordingReadError(QStringLiteral("The recording could not be read: ") + file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}

// The session token to send, or nothing when the user is signed out.
std::optional<QString> usableToken(const PipelineServices& services) {
    std::optional<QString> token = services.session.activeSessionToken();
    if (!token || token->isEmpty()) {
        return std::nullopt;
    }
    return token;
}

// The user's output options applied to a text about to be inserted.
QString prepareOutputText(const PipelineServices& services, const QString& text) {
    return OutputPostProcessing::prepareOutputText(text, services.settings.forceLowercaseOutput(),
                                                   services.settings.autoSpaceEnabled());
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
    return LatencyClock::millisecondsSince(stamp);
}

double now() {
    return LatencyClock::now();
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
QCoro::Task<Delivery> deliver(const PipelineRequest& request, PipelineRun& out, QString text, bool typing) {
    const PipelineServices& services = out.services();
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
PipelineResult nothingRecognised(PipelineRun& out) {
    AppLogger::info(QStringLiteral("Transcription returned no text; nothing inserted"));
    out.hideOverlay();
    out.publishFailure(nothingRecognisedText);
    out.setLastRecordingSummary(nothingRecognisedSummary);
    out.settled();
    return PipelineResult::failureShown();
}

} // namespace

DictationPipelines::DictationPipelines(BackendClient& backend) : m_backend(backend) {}

QCoro::Task<PipelineResult> DictationPipelines::run(PipelineRequest request, PipelineRun& run) {
    // What no step expected (a store that throws, say) is for the coordinator to tell.
    try {
        switch (request.mode) {
        case RecordingMode::Transcription:
            co_return co_await transcribeAndInsert(request, run);
        case RecordingMode::SmartEdit:
            co_return co_await transcribeAndSmartEdit(request, run);
        case RecordingMode::Note:
            co_return co_await transcribeAndSaveNote(request, run);
        }
    } catch (...) {
        co_return PipelineResult::failureToShow(std::current_exception());
    }
    co_return PipelineResult::failureToShow(
        std::make_exception_ptr(std::invalid_argument("Unknown recording mode.")));
}

// ---- The opening --------------------------------------------------------------------------------------

QCoro::Task<DictationPipelines::Opening> DictationPipelines::open(PipelineRequest request, PipelineRun& run,
                                                                  OpeningTexts texts) {
    const PipelineServices& services = run.services();
    Opening opening;
    const std::optional<QString> token = usableToken(services);
    if (!token) {
        run.hideOverlay();
        AppLogger::error(texts.noSessionLog);
        run.publishFailure(texts.noSessionText);
        opening.ended = PipelineResult::failureShown();
        co_return opening;
    }
    opening.sessionToken = *token;

    const double audioStamp = now();
    std::exception_ptr readFailure;
    std::optional<QByteArray> audioData = readRecording(request.recording, readFailure);
    if (!audioData) {
        opening.ended = PipelineResult::failureToShow(readFailure);
        co_return opening;
    }
    opening.audioData = std::move(*audioData);
    opening.audioLoadMs = since(audioStamp);

    if (!SpeechDetection::hasMeaningfulAudio(opening.audioData, request.recording.duration,
                                             services.settings.silenceThreshold())) {
        run.hideOverlay();
        run.publishFailure(texts.silentText);
        run.setLastRecordingSummary(texts.silentSummary);
        if (!texts.silentLog.isEmpty()) {
            AppLogger::info(texts.silentLog);
        }
        opening.ended = PipelineResult::failureShown();
        co_return opening;
    }

    if (texts.capturesSelection) {
        // Any failure to read a selection (none, no access, the copy failed) means there is none; the
        // selection service leaves the user's clipboard as it was. A retry uses the selection of the
        // recording's own moment.
        opening.selectionStamp = now();
        if (request.isRetry) {
            opening.selection = request.savedSelection;
        } else {
            try {
                opening.selection = co_await services.selection.captureSelectedText();
            } catch (...) {
                opening.selection.reset();
            }
        }
    }
    run.setLastPromptDebug(request.promptResult.context.debugDescription);
    run.keepForRetry(opening.selection);
    co_return opening;
}

// ---- Dictation and Typing Mode ----------------------------------------------------------------------------

QCoro::Task<PipelineResult> DictationPipelines::transcribeAndInsert(PipelineRequest request,
                                                                    PipelineRun& out) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const ActiveAppContext context = promptResult.context;
    const PipelineServices& services = out.services();

    const OpeningTexts texts{QStringLiteral("Transcription skipped: no backend session token"),
                             noSessionTextDictation,
                             DictationTexts::silent,
                             DictationTexts::silentSummary,
                             QString(),
                             false};
    const Opening opening = co_await open(request, out, texts);
    if (opening.ended) {
        co_return *opening.ended;
    }
    const QString sessionToken = opening.sessionToken;
    const QByteArray& audioData = opening.audioData;

    TranscriptionSubmission submission(out, m_backend, request.mode, request.sessionGeneration);
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
        const TranscriptionSubmission::RefinedAnswer refined = co_await submission.submitRefinedTranscription(
            audioData, recording, promptResult, sessionToken, transcriptionLabel, QStringLiteral("email"),
            std::nullopt, std::nullopt);
        if (refined.answer) {
            const CombinedTranscriptionResponseDTO& answer = *refined.answer;
            backendMs = since(backendStamp);
            outputText = prepareOutputText(services, answer.text);
            AppLogger::info(
                QStringLiteral("Combined transcription/email refinement applied in single backend call"));
            session = answer.session;
            provider = answer.provider;
            words = answer.words;
            answered = true;
        } else if (!refined.endpointMissing) {
            co_return PipelineResult::failureShown();
        } else {
            AppLogger::info(
                QStringLiteral("Combined transcription/email endpoint unavailable. Falling back to "
                               "legacy two-call pipeline."));
            backendStamp = now();
        }
    }
    if (!answered) {
        const std::optional<TranscriptionResponseDTO> answer = co_await submission.submitTranscription(
            audioData, recording, promptResult, sessionToken, transcriptionLabel);
        if (!answer) {
            co_return PipelineResult::failureShown();
        }
        backendMs = since(backendStamp);
        const double postprocessStamp = now();
        BackendClient& backend = m_backend;
        const QString processed = co_await OutputPostProcessing::applyPostProcessing(
            answer->text, context, sessionToken, request.mode, services.settings,
            [&backend](FormatEmailRequestDTO body) { return backend.formatEmail(std::move(body)); });
        postprocessMs = since(postprocessStamp);
        outputText = prepareOutputText(services, processed);
        session = answer->session;
        provider = answer->provider;
        words = answer->words;
    }

    submission.applySessionSnapshot(session);
    if (Text::trimmed(outputText).isEmpty()) {
        co_return nothingRecognised(out);
    }
    const QString providerLabel = ModelRouting::publicModelLabel(provider);
    out.setLastTranscript(outputText);
    out.setLastProvider(providerLabel);
    AppLogger::info(QStringLiteral("Transcription succeeded provider=") +
                    provider.value_or(QStringLiteral("unknown")) + QStringLiteral(" words=") +
                    QString::number(words));

    const bool typing = request.outputMode == OutputMode::Type;
    const double insertStamp = now();
    const Delivery delivery = co_await deliver(request, out, outputText, typing);
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
        co_return PipelineResult::failureShown();
    }
    out.settled();
    if (delivery.onClipboard) {
        out.hideOverlay();
        co_return PipelineResult::succeeded();
    }

    services.sounds.playCompletionSound();
    out.hideOverlay();
    AppLogger::info(QStringLiteral("Transcript paste succeeded"));
    AppLogger::info(latencyLine(QStringLiteral("transcription_pipeline"),
                                {{"release_to_paste_ms", since(request.releaseStart)},
                                 {"audio_load_ms", opening.audioLoadMs},
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
    co_return PipelineResult::succeeded();
}

// ---- AI Mode ----------------------------------------------------------------------------------------------

QCoro::Task<PipelineResult> DictationPipelines::transcribeAndSmartEdit(PipelineRequest request,
                                                                       PipelineRun& out) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const ActiveAppContext context = promptResult.context;
    const PipelineServices& services = out.services();
    const auto customInstructions = [&services]() -> std::optional<QString> {
        const QString prompt = services.settings.promptSettings().customPrompt;
        return prompt.isEmpty() ? std::nullopt : std::optional<QString>(prompt);
    };

    const OpeningTexts texts{QStringLiteral("Smart Edit skipped: no backend session token"),
                             noSessionText,
                             QStringLiteral("No spoken AI Mode instruction detected."),
                             QStringLiteral("AI Mode skipped because the recording was silent."),
                             QStringLiteral("Smart Edit skipped due to insufficient speech content"),
                             true};
    const Opening opening = co_await open(request, out, texts);
    if (opening.ended) {
        co_return *opening.ended;
    }
    const QString sessionToken = opening.sessionToken;
    const QByteArray& audioData = opening.audioData;
    const std::optional<QString> selection = opening.selection;

    TranscriptionSubmission submission(out, m_backend, request.mode, request.sessionGeneration);
    double transcriptionStamp = now();
    qint64 transcriptionMs = 0;
    qint64 formatterMs = 0;
    QString outputText;
    bool answered = false;
    const TranscriptionSubmission::RefinedAnswer refined = co_await submission.submitRefinedTranscription(
        audioData, recording, promptResult, sessionToken, smartEditLabel, QStringLiteral("generic"),
        customInstructions(), selection);
    if (refined.answer) {
        transcriptionMs = since(transcriptionStamp);
        submission.applySessionSnapshot(refined.answer->session);
        outputText = prepareOutputText(services, refined.answer->text);
        answered = true;
    } else if (!refined.endpointMissing) {
        co_return PipelineResult::failureShown();
    } else {
        AppLogger::info(QStringLiteral(
            "Combined AI mode endpoint unavailable. Falling back to legacy two-call pipeline."));
        transcriptionStamp = now();
    }
    if (!answered) {
        const std::optional<TranscriptionResponseDTO> answer = co_await submission.submitTranscription(
            audioData, recording, promptResult, sessionToken, smartEditLabel);
        if (!answer) {
            co_return PipelineResult::failureShown();
        }
        transcriptionMs = since(transcriptionStamp);
        submission.applySessionSnapshot(answer->session);

        const double formatterStamp = now();
        FormatGenericRequestDTO body;
        body.session_token = sessionToken;
        body.text = answer->text;
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
                co_return PipelineResult::failureShown();
            }
            co_return PipelineResult::failureToShow(formatFailure);
        }
        formatterMs = since(formatterStamp);
        outputText = prepareOutputText(services, formatted->text);
    }

    if (Text::trimmed(outputText).isEmpty()) {
        co_return nothingRecognised(out);
    }
    out.setLastTranscript(outputText);
    out.setLastProvider(smartEditLabel);

    // AI Mode always pastes, whatever the output mode.
    const double insertStamp = now();
    const Delivery delivery = co_await deliver(request, out, outputText, false);
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
        co_return PipelineResult::failureShown();
    }
    out.settled();
    if (delivery.onClipboard) {
        out.hideOverlay();
        co_return PipelineResult::succeeded();
    }
    services.sounds.playCompletionSound();
    out.hideOverlay();
    AppLogger::info(QStringLiteral("Smart Edit paste succeeded result_chars=") +
                    QString::number(Text::graphemeCount(outputText)));
    AppLogger::info(latencyLine(QStringLiteral("smart_edit_pipeline"),
                                {{"release_to_paste_ms", since(request.releaseStart)},
                                 {"audio_load_ms", opening.audioLoadMs},
                                 {"selected_text_ms", since(opening.selectionStamp)},
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
    co_return PipelineResult::succeeded();
}

// ---- Voice notes ------------------------------------------------------------------------------------------

QCoro::Task<PipelineResult> DictationPipelines::transcribeAndSaveNote(PipelineRequest request,
                                                                      PipelineRun& out) {
    const RecordedAudio recording = request.recording;
    const PromptCompositionResult promptResult = request.promptResult;
    const PipelineServices& services = out.services();

    const OpeningTexts texts{QStringLiteral("Voice note skipped: no backend session token"),
                             noSessionText,
                             QStringLiteral("No speech detected. Voice note was not saved."),
                             QStringLiteral("The recording was silent, so Quillvane did not create a note."),
                             QString(),
                             false};
    const Opening opening = co_await open(request, out, texts);
    if (opening.ended) {
        co_return *opening.ended;
    }
    const QString sessionToken = opening.sessionToken;

    TranscriptionSubmission submission(out, m_backend, request.mode, request.sessionGeneration);
    const double transcriptionStamp = now();
    const std::optional<TranscriptionResponseDTO> answer = co_await submission.submitTranscription(
        opening.audioData, recording, promptResult, sessionToken, voiceNoteLabel);
    if (!answer) {
        co_return PipelineResult::failureShown();
    }
    const qint64 transcriptionMs = since(transcriptionStamp);
    submission.applySessionSnapshot(answer->session);
    const QString text = Text::trimmed(answer->text);

    if (text.isEmpty()) {
        out.hideOverlay();
        out.publishFailure(QStringLiteral("Voice note recorded, but no text was returned."));
        out.setLastRecordingSummary(QStringLiteral("Audio was captured, but the transcription was empty."));
        out.settled();
        co_return PipelineResult::failureShown();
    }

    const NoteEntry note = services.notes.addVoiceNote(text, Clock::current().now());
    out.settled();
    out.setLastTranscript(text);
    out.setLastProvider(voiceNoteLabel);
    services.history.addEntry(text, voiceNoteLabel, voiceNoteLabel, recording.duration);
    services.sounds.playCompletionSound();
    out.hideOverlay();
    out.setLastErrorMessage(std::nullopt);
    out.setStatusText(QStringLiteral("Voice note saved."));
    out.setLastRecordingSummary(QStringLiteral("Saved voice note and generating title..."));
    AppLogger::info(QStringLiteral("Voice note transcription saved id=") +
                    note.id.toString(QUuid::WithoutBraces) + QStringLiteral(" chars=") +
                    QString::number(Text::graphemeCount(text)));
    AppLogger::info(latencyLine(QStringLiteral("voice_note_pipeline"),
                                {{"release_to_save_ms", since(request.releaseStart)},
                                 {"audio_load_ms", opening.audioLoadMs},
                                 {"prompt_ms", 0},
                                 {"transcription_ms", transcriptionMs}}));
    co_await generateTitleIfPossible(out, note.id, note.title, text, sessionToken);
    co_return PipelineResult::succeeded();
}

QCoro::Task<> DictationPipelines::generateTitleIfPossible(PipelineRun& out, QUuid noteId,
                                                          QString createdTitle, QString text,
                                                          QString sessionToken) {
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
    const bool renamed = out.services().notes.renameIfTitleIs(noteId, createdTitle, title);
    out.setLastRecordingSummary(QStringLiteral("Saved voice note and generated title."));
    AppLogger::info(QStringLiteral("Voice note title generated id=") + noteId.toString(QUuid::WithoutBraces) +
                    QStringLiteral(" title_chars=") + QString::number(Text::graphemeCount(title)));
    if (!renamed) {
        AppLogger::info(QStringLiteral("Voice note kept its title: renamed or deleted meanwhile id=") +
                        noteId.toString(QUuid::WithoutBraces));
    }
}
