#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

class OutputMuteControl;

class MediaControlWorker;

// Silences the other applications while the user dictates: mutes their playback streams (the sound
// server's sink inputs whose owning process is not this one) and afterwards unmutes exactly the streams it
// muted. Our own cues keep playing, and a stream the user had muted already is left alone. Every
// operation returns at once and may be called from any thread; the PulseAudio requests and the
// bookkeeping run on one worker thread of their own, one at a time, in submission order. Outcomes are
// visible only in the log, which names counts and application names only.
//
// While streams are muted by this service, it holds the desktop state guard's "output mute" (an undo that
// needs no X), so that any way out of the process unmutes them (see OrderlyExit), and keeps a record of
// them in the private runtime folder (MutedStreamsRecord), so that when the process dies without
// unmuting them, the next start does (restoreLeftoverMutes).
class MediaControlService : public QObject {
    Q_OBJECT

public:
    // Opens the mute control, on the worker thread at its first use.
    using OutputFactory = std::function<std::unique_ptr<OutputMuteControl>()>;

    explicit MediaControlService(OutputFactory openOutput, QObject* parent = nullptr);
    // Waits for the work already submitted, ends the worker thread and unmutes the streams this service
    // still has muted.
    ~MediaControlService() override;

    // Mutes the other applications' playing streams not muted yet. Streams this service has muted
    // already stay as they are (muted once, unmuted once).
    void muteIfNeeded();
    // Unmutes the streams this service muted that still play; nothing when it muted none.
    void restoreMuteStateIfNeeded();
    // For the start of the application: unmutes the streams a process of ours that ended without
    // restoring them (a crash) recorded, where they still play and are still muted, and deletes the
    // record. A record of a process still running is left alone; an unreadable one is logged and deleted.
    void restoreLeftoverMutes();

    // Blocks the caller until every operation submitted so far has run (for shutdown and tests).
    // Never call it from the worker thread.
    void flush();

    // For the exit path: unmutes the streams this service muted now, on the calling thread (after the
    // operation under way on the worker, if any); every mute from then on does nothing.
    void restoreForExit();

private:
    QThread m_thread;
    MediaControlWorker* m_worker;
};
