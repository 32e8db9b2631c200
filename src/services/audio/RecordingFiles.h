#pragma once

#include <QDateTime>
#include <QString>

// The files of this process that hold the user's voice (recordings in the private runtime folder, the copy
// kept for a retry): each is deleted once used, and whatever is still there goes on every orderly way out
// of the process (the exit path's flushes: a quit, a termination signal, the loss of the X server), so
// that a request still pending or a recording still running leaves nothing behind. What a killed process
// left is swept at the next start. Any thread.
namespace RecordingFiles {

// The prefix and suffix of a recording's file name in the runtime folder: "quillvane-<uuid>.wav".
inline constexpr const char* kNamePattern = "quillvane-*.wav";

// Notes a file just created; the first one wires the deletion into the exit path.
void adopt(const QString& path);

// Deletes a noted (or any) file and forgets it. True when it is gone (or was never there); otherwise
// false with the reason in `error`.
bool remove(const QString& path, QString* error = nullptr);

// Deletes every noted file that is still there and returns how many went. The exit path calls it.
int removeAll();

// Deletes the recordings (kNamePattern) in `folder` last written before `startedAt`: what an earlier run
// that did not end through the exit path left. Returns how many went.
int sweepLeftovers(const QString& folder, const QDateTime& startedAt);

} // namespace RecordingFiles
