#pragma once

#include "OutputMuteControl.h"

#include <QList>
#include <QString>

#include <optional>

// The record of the other applications' playback streams that MediaControlService has muted, kept while
// they are muted in "muted-streams.json" in the private runtime folder (mode 0600), so that the next start
// of the application can unmute them when this process ended without doing it (a crash, SIGKILL).
//
// It names each stream by its server index, its owning process and its application name (a stream is
// unmuted later only when all three still match), and the process that wrote it (its pid and start
// time), so that a record of a process still running is told from one left behind.
class MutedStreamsRecord {
public:
    struct Contents {
        qint64 writerPid = 0;
        quint64 writerStart = 0; // the writer's start time (clock ticks since boot); 0 when unknown
        QList<PlaybackStream> streams;
    };

    // `path` empty: "muted-streams.json" in the private runtime folder.
    explicit MutedStreamsRecord(QString path = {});

    // The file's path; empty when there is no private runtime folder.
    QString path() const { return m_path; }

    // Writes `streams` (their index, owner and name) as this process's record, replacing any earlier one.
    // False with the reason in `error` when it cannot be written.
    bool write(const QList<PlaybackStream>& streams, QString* error);

    // The record; none when there is none (`error` left empty) or when it cannot be read or makes no
    // sense (the reason in `error`).
    std::optional<Contents> read(QString* error) const;

    // Deletes the file; true when it is gone (or was never there).
    bool remove();

    // Whether the process that wrote `contents` still runs (this process included).
    static bool writerIsRunning(const Contents& contents);

private:
    QString m_path;
};
