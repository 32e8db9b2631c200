#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

// One application's playback stream on the sound server (a PulseAudio sink input).
struct PlaybackStream {
    quint32 index = 0;   // the server's id of the stream; not given to another stream while the server runs
    qint64 ownerPid = 0; // the process that plays it; 0 when the server names none (its own loopbacks)
    QString appName;     // the application's name as it told the server; may be empty
    bool muted = false;
    // It plays on the default output (the speakers), not into another sink (a virtual device that feeds a
    // microphone, a recorder, a loopback).
    bool toDefaultOutput = true;

    bool operator==(const PlaybackStream&) const = default;
};

// The sound server's side of the applications' mute switches: the playback streams, and muting one of
// them. One instance belongs to one thread; each call waits, for a bounded time, for the server's answer
// on that thread.
class OutputMuteControl {
public:
    enum class Result {
        Done,
        NoSuchStream, // the stream has ended
        Failed,       // see lastErrorText()
    };

    virtual ~OutputMuteControl() = default;

    // Every playback stream of every output; none when the sound server does not answer.
    virtual std::optional<QList<PlaybackStream>> playbackStreams() = 0;
    // Mutes or unmutes the stream `index`.
    virtual Result setStreamMuted(quint32 index, bool muted) = 0;
    // The server's text for the last failure.
    virtual QString lastErrorText() const = 0;
};
