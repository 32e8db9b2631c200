#pragma once

#include <QObject>
#include <QThread>

class MediaControlWorker;

// Mutes the system's sound output (the PulseAudio default sink) while the user dictates and unmutes it
// afterwards, but only when it was this service that muted it. Both operations return at once and may be
// called from any thread; the PulseAudio requests and the mute bookkeeping run on one worker thread of
// their own, one at a time, in submission order. Outcomes are visible only in the log.
class MediaControlService : public QObject {
    Q_OBJECT

public:
    explicit MediaControlService(QObject* parent = nullptr);
    ~MediaControlService() override; // waits for the work already submitted, then ends the worker thread

    void muteIfNeeded();
    void restoreMuteStateIfNeeded();

    // Blocks the caller until every operation submitted so far has run (for shutdown and tests).
    // Never call it from the worker thread.
    void flush();

private:
    QThread m_thread;
    MediaControlWorker* m_worker;
};
