#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

Q_DECLARE_LOGGING_CATEGORY(lcRuntime)

// The process-wide logger. Each message goes to the "runtime" logging category (stderr, the journal)
// and, as one line "[<ISO 8601 UTC with ms>] [INFO|ERROR] <message>\n", to the runtime log file
// "quillvane-runtime.log" in the private runtime folder. The file is written on one worker thread,
// in submission order; callers never wait for it and logging never fails its caller. The folder lives in
// memory on most desktops, so the file is bounded: a line that would take it past kMaxFileBytes first
// turns it into "quillvane-runtime.log.1" (replacing the previous one) and starts a new file.
class AppLogger {
public:
    AppLogger() = delete;

    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    static void info(const QString& message);
    static void error(const QString& message);

    // Blocks until every line submitted so far has been written (or dropped). For tests and shutdown.
    static void flush();

    // The file the lines go to, fixed on first use. Empty when no private runtime folder could be had.
    static QString logFilePath();
    // The previous file, kept by the last rotation: logFilePath() + ".1". Empty like logFilePath().
    static QString previousLogFilePath();

    // Builds the file line for a level word ("INFO"/"ERROR"), a message and a moment.
    static QString formatLine(const QString& level, const QString& message, const QDateTime& moment);
};
