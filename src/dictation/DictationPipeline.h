#pragma once

#include "DictationModes.h"
#include "DictationServices.h"
#include "PromptCompositionResult.h"
#include "RecordedAudio.h"

#include <QString>
#include <QUuid>
#include <QtGlobal>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

// Texts the coordinator and the pipelines both show.
namespace DictationTexts {
inline const QString ready = QStringLiteral("Ready to record.");
inline const QString silent = QStringLiteral("No speech detected.");
inline const QString silentSummary =
    QStringLiteral("The recording was silent, so Quillvane did not insert any text.");
} // namespace DictationTexts

// One finished recording on its way to the backend, as the coordinator hands it over at a stop or a retry.
struct PipelineRequest {
    RecordedAudio recording; // the WAV and its duration; the coordinator deletes a temporary file afterwards
    PromptCompositionResult promptResult; // the prepared prompt (possibly empty) and frontmost context
    RecordingMode mode = RecordingMode::Transcription;
    OutputMode outputMode = OutputMode::Paste;
    double releaseStart = 0;       // Clock monotonic seconds at the release (or the start of the retry)
    quint64 sessionGeneration = 0; // SessionAccess::sessionGeneration() at the release (or the retry)
    bool isRetry = false;
    // The run's place among the coordinator's recordings and retries: only the newest publishes.
    quint64 runId = 0;
    // The recording itself, the same for its retries: names it in the retry slot.
    QUuid submissionId;
    // AI Mode, on a retry: the selection captured when the recording was made (none: there was none).
    std::optional<QString> savedSelection;
};

// The services a pipeline calls itself.
struct PipelineServices {
    SessionAccess& session;
    DictationSettings& settings;
    KnowledgeBaseSource& knowledgeBase;
    SelectionSource& selection;
    TextInserter& inserter;
    HistoryRecorder& history;
    NoteRecorder& notes;
    CueSounds& sounds;
};

// The coordinator as one pipeline run sees it: the services, this run's texts and overlay, and the
// recording's place in the retry slot. The texts and the overlay are this run's only while it is the
// coordinator's newest run: once a newer recording or retry has begun, an earlier recording's outcome never
// replaces what the user sees of the later one (its failure is still remembered, to be shown as that
// earlier dictation's once its run has ended).
class PipelineRun {
public:
    virtual ~PipelineRun() = default;

    virtual const PipelineServices& services() const = 0;

    virtual void setStatusText(const QString& text) = 0;
    virtual void setLastRecordingSummary(const std::optional<QString>& summary) = 0;
    virtual void setLastTranscript(const std::optional<QString>& transcript) = 0;
    virtual void setLastProvider(const std::optional<QString>& provider) = 0;
    virtual void setLastPromptDebug(const std::optional<QString>& debug) = 0;
    virtual void setLastErrorMessage(const std::optional<QString>& message) = 0;
    // `message` as the error, then as the status.
    virtual void publishFailure(const QString& message) = 0;
    // Hides the overlay unless a later recording or retry has it.
    virtual void hideOverlay() = 0;

    // The recording passed the speech check and is about to be uploaded: a copy of its file is kept with
    // its prompt and, for AI Mode, `selection`, and becomes the retry slot's if the run ends undelivered. A
    // retry's recording is the slot's already.
    virtual void keepForRetry(const std::optional<QString>& selection) = 0;
    // The recording's text reached the user (or there was none to deliver): its copy goes, and so does the
    // retry slot if it holds this recording.
    virtual void settled() = 0;

    // Overlay hidden, "No speech detected." published with its summary.
    void handleSilentTranscription() {
        hideOverlay();
        publishFailure(DictationTexts::silent);
        setLastRecordingSummary(DictationTexts::silentSummary);
    }
};

// How a pipeline run ended.
class PipelineResult {
public:
    enum class Kind {
        Succeeded,    // the text reached the user (or the note was saved), and the run said so
        FailureShown, // the run told the user what went wrong; the coordinator puts the overlay away if the
                      // run has not
        FailureToShow // the coordinator tells the user `error()`
    };

    static PipelineResult succeeded() { return PipelineResult(Kind::Succeeded, nullptr); }
    static PipelineResult failureShown() { return PipelineResult(Kind::FailureShown, nullptr); }
    static PipelineResult failureToShow(std::exception_ptr error) {
        return PipelineResult(Kind::FailureToShow, std::move(error));
    }

    Kind kind() const { return m_kind; }
    const std::exception_ptr& error() const { return m_error; }

private:
    PipelineResult(Kind kind, std::exception_ptr error) : m_kind(kind), m_error(std::move(error)) {}

    Kind m_kind;
    std::exception_ptr m_error;
};

// Turns a finished recording into text in the frontmost application (on a retry: in the window it was
// recorded for), a note, or an AI Mode edit, by `request.mode`. It publishes through `run`, hands the
// recording to the retry slot once it passed the speech check and before it is uploaded (`keepForRetry`),
// and says when the text has reached the user (`settled`). It never throws and never deletes the
// recording. Runs on the main thread; `run` outlives the task.
class DictationPipeline {
public:
    virtual ~DictationPipeline() = default;
    virtual QCoro::Task<PipelineResult> run(PipelineRequest request, PipelineRun& run) = 0;
};
