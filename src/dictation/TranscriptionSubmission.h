#pragma once

#include "APIModels.h"
#include "DictationModes.h"
#include "PromptCompositionResult.h"
#include "RecordedAudio.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <qcoro/qcorotask.h>

#include <optional>

class BackendClient;
class BackendClientError;
class PipelineRun;

// Uploads one recording that passed the speech check: the WAV plus the text fields that choose the model,
// the language, verbatim transcription, the prompt and the user's knowledge base. Plain transcription
// retries once with the balanced model when the primary model's provider failed in the known way; the
// combined transcribe-and-refine call never does. A rejected session is invalidated (when it is still the
// one the request carried) and the failure is published through the run.
//
// A failed upload has been told to the user when the call returns (the failure worded by what happened, or
// the session that was rejected), except that the combined call hands a 404 or 405 back untold, for the
// pipeline to fall back to separate calls. One object serves one pipeline run (its mode, and the session
// generation taken at the stop); it publishes through that run. Main thread.
class TranscriptionSubmission {
public:
    static inline const QString fallbackModel = QStringLiteral("nova-3");
    static inline const QString sessionInvalidText =
        QStringLiteral("Your Quillvane session expired or became invalid. Sign in again, then retry.");
    static inline const QString sessionInvalidSummary =
        QStringLiteral("Audio was captured locally. Use Retry Last Submission after signing in again.");
    static inline const QString requestFailedSummary = QStringLiteral(
        "Audio was captured locally but the backend request failed. Retry is available from Home.");
    static inline const QString audioMimeType = QStringLiteral("audio/wav");

    // What became of the combined call: the answer, or none when its failure was told (or, with
    // `endpointMissing`, left untold for the fall-back).
    struct RefinedAnswer {
        std::optional<CombinedTranscriptionResponseDTO> answer;
        bool endpointMissing = false;
    };

    // `run` and `backend` must outlive the submission.
    TranscriptionSubmission(PipelineRun& run, BackendClient& backend, RecordingMode mode,
                            quint64 sessionGeneration);

    // The text fields of every transcription request. `modelOverride` (a model or a tier id) replaces the
    // routed model.
    QMap<QString, QString> makeTranscriptionFields(const QString& sessionToken, double durationSeconds,
                                                   const QString& prompt,
                                                   const std::optional<QString>& modelOverride) const;

    // The knowledge-base records as compact JSON; nothing (and an error line) when encoding fails.
    static std::optional<QString> encodeKnowledgeBase(const QList<DictionaryEntryDTO>& entries);
    static std::optional<QString> encodeKnowledgeBase(const QList<SnippetDTO>& snippets);

    // The answer, or none once the failure has been told.
    QCoro::Task<std::optional<TranscriptionResponseDTO>>
    submitTranscription(QByteArray audioData, RecordedAudio recording, PromptCompositionResult promptResult,
                        QString sessionToken, QString modeLabel);
    QCoro::Task<RefinedAnswer> submitRefinedTranscription(QByteArray audioData, RecordedAudio recording,
                                                          PromptCompositionResult promptResult,
                                                          QString sessionToken, QString modeLabel,
                                                          QString refinementMode,
                                                          std::optional<QString> customInstructions,
                                                          std::optional<QString> selectedText);

    // The backend rejected the session: 401 or 403, or another 4xx whose text names a session problem.
    static bool isAuthenticationError(const BackendClientError& error);
    // The primary model's provider failed in the way a retry with the balanced model cures.
    static bool shouldFallbackFromTranscriptionError(const BackendClientError& error);

    // Adopts the session snapshot of an answer, unless the session ended after the recording stopped.
    void applySessionSnapshot(const SessionResponseDTO& snapshot);

    // Publishes an authentication failure: the session (when it is still the one `sessionToken` names) is
    // invalidated and the sign-in texts are shown. A rejection of a token the user has since replaced says
    // nothing about the session in use and is not shown.
    void handleAuthenticationFailure(const QString& sessionToken);
    // Whether `error` is an authentication failure (which it then handles as above).
    bool handleIfAuthenticationFailure(std::exception_ptr error, const QString& sessionToken);

private:
    QString routedModel(double duration) const;
    bool sendsPrompt(const QString& model, const QString& prompt) const;
    void logSubmission(const QString& lead, const QString& modeLabel, const QByteArray& audioData,
                       const RecordedAudio& recording, const PromptCompositionResult& promptResult,
                       const QString& model, const QString& tail) const;
    // Logs and publishes a failed request.
    void publishRequestFailure(const QString& modeLabel, std::exception_ptr error);

    PipelineRun& m_run;
    BackendClient& m_backend;
    RecordingMode m_mode;
    quint64 m_sessionGeneration;
};
