#pragma once

#include "DictationPipeline.h"

#include <QString>
#include <QUuid>
#include <qcoro/qcorotask.h>

class BackendClient;

// The three pipelines behind the coordinator's recording modes:
// - dictation (and Typing Mode): transcribe, through the combined e-mail call in an e-mail composer (with a
//   fall-back to plain transcription and the e-mail formatter when that endpoint is missing), post-process,
//   paste or type, record the history entry;
// - AI Mode: capture the selection, transcribe the spoken instruction and rewrite the selection (or write
//   new text) in one combined call, falling back to transcription plus the generic formatter, and paste;
// - voice notes: transcribe, save the note and its history entry, then ask for a title.
// Each run reads the recording once, drops a silent clip locally, keeps the recording for a retry before
// uploading it, applies the answer's session snapshot with the generation taken at the stop, and ends with
// one latency line. An answer without words inserts and stores nothing. A retry delivers its text to the
// window the recording was made for, or to the clipboard when that window is gone. When the text cannot be
// inserted it is still written to the history, where the failure message sends the user. Main thread only.
class DictationPipelines final : public DictationPipeline {
public:
    // `backend` must outlive the pipelines.
    explicit DictationPipelines(BackendClient& backend);

    QCoro::Task<> run(PipelineRequest request, DictationCoordinator& coordinator) override;

    QCoro::Task<> transcribeAndInsert(PipelineRequest request, DictationCoordinator& coordinator);
    QCoro::Task<> transcribeAndSmartEdit(PipelineRequest request, DictationCoordinator& coordinator);
    QCoro::Task<> transcribeAndSaveNote(PipelineRequest request, DictationCoordinator& coordinator);
    // Renames the note when the backend answers a title, unless the note no longer has `createdTitle`
    // (the user gave it a title of their own while the request ran); never throws.
    QCoro::Task<> generateTitleIfPossible(DictationCoordinator& coordinator, QUuid noteId,
                                          QString createdTitle, QString text, QString sessionToken,
                                          quint64 runId);

    static inline const QString noSessionTextDictation =
        QStringLiteral("No backend session token is available. Sign in again, then retry.");
    static inline const QString noSessionText =
        QStringLiteral("No backend session token is available. Sign in first.");

private:
    BackendClient& m_backend;
};
