#pragma once

#include "DictationModes.h"
#include "PromptCompositionResult.h"
#include "RecordedAudio.h"

#include <QUuid>
#include <QtGlobal>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

class DictationCoordinator;

// Thrown by a pipeline after it has published what went wrong: the coordinator then only hides the
// overlay and publishes nothing more.
class CoordinatorHandledError : public std::exception {
public:
    const char* what() const noexcept override { return "handled"; }
};

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

// Turns a finished recording into text in the frontmost application (on a retry: in the window it was
// recorded for), a note, or an AI Mode edit, by `request.mode`. It publishes its outcome through the
// coordinator's RunReport for `request.runId`, hands the recording to the retry slot once it passed the
// speech check and before it is uploaded (`keepForRetry`), and tells the coordinator when the text has
// reached the user (`submissionSettled`). It ends by returning, or by throwing CoordinatorHandledError once
// it has told the user, or any other error for the coordinator to report. It never deletes the recording.
// Runs on the main thread.
class DictationPipeline {
public:
    virtual ~DictationPipeline() = default;
    virtual QCoro::Task<> run(PipelineRequest request, DictationCoordinator& coordinator) = 0;
};
