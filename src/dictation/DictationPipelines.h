#pragma once

#include "DictationPipeline.h"

#include <QByteArray>
#include <QString>
#include <QUuid>
#include <qcoro/qcorotask.h>

#include <optional>

class BackendClient;

// The three pipelines behind the coordinator's recording modes:
// - dictation (and Typing Mode): transcribe, through the combined e-mail call in an e-mail composer (with a
//   fall-back to plain transcription and the e-mail formatter when that endpoint is missing), post-process,
//   paste or type, record the history entry;
// - AI Mode: capture the selection, transcribe the spoken instruction and rewrite the selection (or write
//   new text) in one combined call, falling back to transcription plus the generic formatter, and paste;
// - voice notes: transcribe, save the note and its history entry, then ask for a title.
// Each run opens the same way (see `open`), applies the answer's session snapshot with the generation taken
// at the stop, and ends with one latency line. An answer without words inserts and stores nothing. A retry
// delivers its text to the window the recording was made for, or to the clipboard when that window is
// gone. When the text cannot be inserted it is still written to the history, where the failure message
// sends the user. Main thread only.
class DictationPipelines final : public DictationPipeline {
public:
    // `backend` must outlive the pipelines.
    explicit DictationPipelines(BackendClient& backend);

    QCoro::Task<PipelineResult> run(PipelineRequest request, PipelineRun& run) override;

    static inline const QString noSessionTextDictation =
        QStringLiteral("No backend session token is available. Sign in again, then retry.");
    static inline const QString noSessionText =
        QStringLiteral("No backend session token is available. Sign in first.");

private:
    // What tells the modes' openings apart.
    struct OpeningTexts {
        QString noSessionLog;  // logged when there is no session token
        QString noSessionText; // shown then
        QString silentText;    // shown for a clip without speech, with its summary
        QString silentSummary;
        QString silentLog;        // logged then (nothing when empty)
        bool capturesSelection{}; // AI Mode: the selection is part of the context
    };

    // Where a run stands after the opening.
    struct Opening {
        std::optional<PipelineResult> ended; // the run ended here (told, or for the coordinator to tell)
        QString sessionToken;
        QByteArray audioData;
        qint64 audioLoadMs = 0;
        double selectionStamp = 0;        // when the selection was captured (AI Mode)
        std::optional<QString> selection; // AI Mode: the selected text the instruction is about
    };

    // The opening every mode shares: the session token (none: the user is told, the run ends), the
    // recording's bytes, the local speech check (a silent clip is told and ends the run), the context the
    // text is for (AI Mode: with the selection; a retry's is the one captured with the recording), and then
    // the recording is kept for a retry, before anything is uploaded.
    QCoro::Task<Opening> open(PipelineRequest request, PipelineRun& run, OpeningTexts texts);

    QCoro::Task<PipelineResult> transcribeAndInsert(PipelineRequest request, PipelineRun& out);
    QCoro::Task<PipelineResult> transcribeAndSmartEdit(PipelineRequest request, PipelineRun& out);
    QCoro::Task<PipelineResult> transcribeAndSaveNote(PipelineRequest request, PipelineRun& out);
    // Renames the note when the backend answers a title, unless the note no longer has `createdTitle`
    // (the user gave it a title of their own while the request ran); never throws.
    QCoro::Task<> generateTitleIfPossible(PipelineRun& out, QUuid noteId, QString createdTitle, QString text,
                                          QString sessionToken);

    BackendClient& m_backend;
};
