#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

class OutputMuteControl;

class MediaControlWorker;

// Mutes the system's sound output (the PulseAudio default sink) while the user dictates and unmutes it
// afterwards, but only when it was this service that muted it. Both operations return at once and may be
// called from any thread; the PulseAudio requests and the mute bookkeeping run on one worker thread of
// their own, one at a time, in submission order. Outcomes are visible only in the log.
//
// While the output is muted by this service, it holds the desktop state guard's "output mute" (an undo
// that needs no X), so that any way out of the process unmutes it (see OrderlyExit).
class MediaControlService : public QObject {
    Q_OBJECT

public:
    // Opens the mute control, on the worker thread at its first use.
    using OutputFactory = std::function<std::unique_ptr<OutputMuteControl>()>;

    explicit MediaControlService(QObject* parent = nullptr);
    // `openOutput` replaces the desktop's mute control (OutputMuteControl::open) when set.
    explicit MediaControlService(OutputFactory openOutput, QObject* parent = nullptr);
    // Waits for the work already submitted, ends the worker thread and unmutes the output if this
    // service still has it muted.
    ~MediaControlService() override;

    void muteIfNeeded();
    void restoreMuteStateIfNeeded();

    // Blocks the caller until every operation submitted so far has run (for shutdown and tests).
    // Never call it from the worker thread.
    void flush();

    // For the exit path: unmutes the output now, on the calling thread (after the operation under way on
    // the worker, if any), when this service muted it; every mute from then on does nothing.
    void restoreForExit();

private:
    QThread m_thread;
    MediaControlWorker* m_worker;
};
