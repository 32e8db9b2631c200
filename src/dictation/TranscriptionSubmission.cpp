#include "TranscriptionSubmission.h"

#include "AppLogger.h"
#include "BackendClient.h"
#include "DictationPipeline.h"
#include "FailureWording.h"
#include "JsonDecoding.h"
#include "ModelRouting.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"

#include <QFileInfo>

namespace {

template <class Record> std::optional<QString> encodeRecords(const QList<Record>& records) {
    try {
        return QString::fromUtf8(JsonEncode::compactText(JsonEncode::encode(records)));
    } catch (const std::exception& error) {
        AppLogger::error(QStringLiteral("Failed to encode knowledge base payload: ") +
                         QString::fromUtf8(error.what()));
        return std::nullopt;
    }
}

const BackendClientError* asBackendError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BackendClientError& e) {
        return &e; // the exception object lives as long as `error` holds it
    } catch (...) {
        return nullptr;
    }
}

} // namespace

TranscriptionSubmission::TranscriptionSubmission(PipelineRun& run, BackendClient& backend, RecordingMode mode,
                                                 quint64 sessionGeneration)
    : m_run(run), m_backend(backend), m_mode(mode), m_sessionGeneration(sessionGeneration) {}

std::optional<QString>
TranscriptionSubmission::encodeKnowledgeBase(const QList<DictionaryEntryDTO>& entries) {
    return encodeRecords(entries);
}

std::optional<QString> TranscriptionSubmission::encodeKnowledgeBase(const QList<SnippetDTO>& snippets) {
    return encodeRecords(snippets);
}

QString TranscriptionSubmission::routedModel(double duration) const {
    const DictationSettings& settings = m_run.services().settings;
    const PromptSettings prompts = settings.promptSettings();
    const ModelRouting::RoutingInput input{prompts.transcriptionModel, prompts.workDomainSelection,
                                           settings.verbatimModeStyle(), m_mode};
    return ModelRouting::effectiveTranscriptionModel(input, duration);
}

bool TranscriptionSubmission::sendsPrompt(const QString& model, const QString& prompt) const {
    return ModelRouting::needsFullPrompt(m_mode, model) && !Text::trimmed(prompt).isEmpty();
}

QMap<QString, QString>
TranscriptionSubmission::makeTranscriptionFields(const QString& sessionToken, double durationSeconds,
                                                 const QString& prompt,
                                                 const std::optional<QString>& modelOverride) const {
    const DictationSettings& settings = m_run.services().settings;
    const QString model = ModelRouting::normalizedTranscriptionModel(
        modelOverride ? *modelOverride : routedModel(durationSeconds));
    QMap<QString, QString> fields;
    fields.insert(QStringLiteral("session_token"), sessionToken);
    fields.insert(QStringLiteral("model"), model);
    fields.insert(QStringLiteral("language_mode"), settings.promptSettings().transcriptionLanguageMode);
    const QString verbatim = settings.verbatimModeStyle();
    if (verbatim != QLatin1String("off") && m_mode != RecordingMode::SmartEdit) {
        fields.insert(QStringLiteral("verbatim"), QStringLiteral("true"));
        fields.insert(QStringLiteral("verbatim_mode"), verbatim);
    }
    if (sendsPrompt(model, prompt)) {
        fields.insert(QStringLiteral("prompt"), prompt);
    }
    if (durationSeconds > 0) {
        fields.insert(QStringLiteral("duration_seconds"), QString::asprintf("%.4f", durationSeconds));
    }
    const KnowledgeBaseSource& knowledgeBase = m_run.services().knowledgeBase;
    if (const auto dictionary = encodeKnowledgeBase(knowledgeBase.dictionaryDTOs());
        dictionary && !dictionary->isEmpty()) {
        fields.insert(QStringLiteral("dictionary_json"), *dictionary);
    }
    if (const auto snippets = encodeKnowledgeBase(knowledgeBase.snippetDTOs());
        snippets && !snippets->isEmpty()) {
        fields.insert(QStringLiteral("snippets_json"), *snippets);
    }
    return fields;
}

bool TranscriptionSubmission::isAuthenticationError(const BackendClientError& error) {
    if (error.kind() != BackendClientError::Kind::HttpError) {
        return false;
    }
    const qint64 status = error.statusCode();
    if (status == 401 || status == 403) {
        return true;
    }
    // A server error may mention authentication in passing (an upstream provider's failure): only a
    // refusal of the request itself says anything about our session.
    if (status < 400 || status > 499) {
        return false;
    }
    const QString message = error.body().toLower();
    static const QStringList phrases{"invalid session", "session expired", "not authenticated",
                                     "authentication", "id token"};
    for (const QString& phrase : phrases) {
        if (message.contains(phrase)) {
            return true;
        }
    }
    return false;
}

bool TranscriptionSubmission::shouldFallbackFromTranscriptionError(const BackendClientError& error) {
    if (error.kind() != BackendClientError::Kind::HttpError) {
        return false;
    }
    const QString message = error.body().toLower();
    return message.contains(QLatin1String("openai transcription failed")) &&
           message.contains(QLatin1String("/v1/audio/transcriptions"));
}

void TranscriptionSubmission::applySessionSnapshot(const SessionResponseDTO& snapshot) {
    m_run.services().session.applySessionSnapshot(snapshot, m_sessionGeneration);
}

void TranscriptionSubmission::handleAuthenticationFailure(const QString& sessionToken) {
    SessionAccess& session = m_run.services().session;
    // A rejection of a token the user has since replaced (signed out and in again) says nothing about
    // the session in use now: the user is not told that it expired.
    if (session.activeSessionToken() != sessionToken) {
        AppLogger::info(QStringLiteral("Authentication failure for a replaced session token; the current "
                                       "session is kept"));
        m_run.setLastErrorMessage(std::nullopt);
        m_run.setStatusText(DictationTexts::ready);
        return;
    }
    session.invalidateSessionDueToAuthenticationFailure(sessionInvalidText);
    m_run.publishFailure(sessionInvalidText);
    m_run.setLastRecordingSummary(sessionInvalidSummary);
}

bool TranscriptionSubmission::handleIfAuthenticationFailure(std::exception_ptr error,
                                                            const QString& sessionToken) {
    const BackendClientError* backendError = asBackendError(error);
    if (!backendError || !isAuthenticationError(*backendError)) {
        return false;
    }
    handleAuthenticationFailure(sessionToken);
    return true;
}

void TranscriptionSubmission::publishRequestFailure(const QString& modeLabel, std::exception_ptr error) {
    AppLogger::error(modeLabel + QStringLiteral(" request failed: ") + SessionCoordinator::describe(error));
    m_run.publishFailure(FailureWording::describe(error));
    m_run.setLastRecordingSummary(requestFailedSummary);
}

void TranscriptionSubmission::logSubmission(const QString& lead, const QString& modeLabel,
                                            const QByteArray& audioData, const RecordedAudio& recording,
                                            const PromptCompositionResult& promptResult, const QString& model,
                                            const QString& tail) const {
    AppLogger::info(lead + modeLabel.toLower() + QStringLiteral(" duration=") +
                    QString::asprintf("%.2f", recording.duration) + QStringLiteral(" bytes=") +
                    QString::number(audioData.size()) + QStringLiteral(" context=") +
                    promptResult.context.logDescription() + QStringLiteral(" model=") + model + tail);
    // The prompt carries the user's vocabulary and snippets: only its length is logged.
    if (ModelRouting::needsFullPrompt(m_mode, model) && !promptResult.prompt.isEmpty()) {
        AppLogger::info(modeLabel + QStringLiteral(" prompt attached chars=") +
                        QString::number(Text::graphemeCount(promptResult.prompt)));
    } else {
        AppLogger::info(modeLabel + QStringLiteral(" prompt skipped for fast path model=") + model);
    }
}

QCoro::Task<std::optional<TranscriptionResponseDTO>>
TranscriptionSubmission::submitTranscription(QByteArray audioData, RecordedAudio recording,
                                             PromptCompositionResult promptResult, QString sessionToken,
                                             QString modeLabel) {
    const QString model = routedModel(recording.duration);
    logSubmission(QStringLiteral("Submitting "), modeLabel, audioData, recording, promptResult, model, {});
    const QString fileName = QFileInfo(recording.url.toLocalFile()).fileName();

    std::exception_ptr failure;
    try {
        co_return co_await m_backend.transcribeAudio(
            audioData, fileName, audioMimeType,
            makeTranscriptionFields(sessionToken, recording.duration, promptResult.prompt, model));
    } catch (...) {
        failure = std::current_exception();
    }

    const BackendClientError* backendError = asBackendError(failure);
    if (handleIfAuthenticationFailure(failure, sessionToken)) {
        co_return std::nullopt;
    }
    if (!backendError || !shouldFallbackFromTranscriptionError(*backendError)) {
        publishRequestFailure(modeLabel, failure);
        co_return std::nullopt;
    }

    AppLogger::error(QStringLiteral("Primary transcription model failed, retrying with fallback model=") +
                     fallbackModel);
    m_run.setStatusText(QStringLiteral("Primary model failed. Retrying with nova-3..."));
    // Exactly one retry; its own failure is classified like the first one's, without a further retry.
    std::exception_ptr retryFailure;
    try {
        co_return co_await m_backend.transcribeAudio(
            audioData, fileName, audioMimeType,
            makeTranscriptionFields(sessionToken, recording.duration, promptResult.prompt, fallbackModel));
    } catch (...) {
        retryFailure = std::current_exception();
    }
    if (!handleIfAuthenticationFailure(retryFailure, sessionToken)) {
        publishRequestFailure(modeLabel, retryFailure);
    }
    co_return std::nullopt;
}

QCoro::Task<TranscriptionSubmission::RefinedAnswer> TranscriptionSubmission::submitRefinedTranscription(
    QByteArray audioData, RecordedAudio recording, PromptCompositionResult promptResult, QString sessionToken,
    QString modeLabel, QString refinementMode, std::optional<QString> customInstructions,
    std::optional<QString> selectedText) {
    const QString model = routedModel(recording.duration);
    logSubmission(QStringLiteral("Submitting combined "), modeLabel, audioData, recording, promptResult,
                  model, QStringLiteral(" refinement=") + refinementMode);

    QMap<QString, QString> fields =
        makeTranscriptionFields(sessionToken, recording.duration, promptResult.prompt, model);
    fields.insert(QStringLiteral("refinement_mode"), refinementMode);
    fields.insert(QStringLiteral("app_name"), promptResult.context.appName);
    fields.insert(QStringLiteral("window_title"), promptResult.context.windowTitle);
    if (customInstructions && !Text::trimmed(*customInstructions).isEmpty()) {
        fields.insert(QStringLiteral("custom_instructions"), *customInstructions);
    }
    if (selectedText && !selectedText->isEmpty()) {
        fields.insert(QStringLiteral("selected_text"), *selectedText);
    }

    RefinedAnswer result;
    std::exception_ptr failure;
    try {
        result.answer = co_await m_backend.transcribeAndRefineAudio(
            audioData, QFileInfo(recording.url.toLocalFile()).fileName(), audioMimeType, fields);
        co_return result;
    } catch (...) {
        failure = std::current_exception();
    }
    if (handleIfAuthenticationFailure(failure, sessionToken)) {
        co_return result;
    }
    // A missing endpoint is the pipeline's to handle (it falls back to separate calls), untold.
    if (const BackendClientError* backendError = asBackendError(failure);
        backendError && backendError->kind() == BackendClientError::Kind::HttpError &&
        (backendError->statusCode() == 404 || backendError->statusCode() == 405)) {
        result.endpointMissing = true;
        co_return result;
    }
    publishRequestFailure(modeLabel, failure);
    co_return result;
}
