#pragma once

#include <QString>

// Log lines from the layers below the logger (support/ and the platform layer cannot use AppLogger, which
// builds on them). They go to the sinks the logger installs for itself when it is linked in, else to
// qInfo/qWarning.
namespace SupportLog {

using Sink = void (*)(const QString& message);
using FlushSink = void (*)();

struct Sinks {
    Sink info = nullptr;
    Sink error = nullptr;
    FlushSink flush = nullptr;
};

// Replaces the sinks (a null member: back to qInfo/qWarning, or nothing for flush). Any thread; the sinks
// must be callable from any thread.
void setSinks(const Sinks& sinks);

void info(const QString& message);
void error(const QString& message);
// Waits until the lines given so far are written (before the process ends at once).
void flush();

} // namespace SupportLog
