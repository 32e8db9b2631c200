#pragma once

#include <QString>

// Error lines from the helpers below the logger (support/ cannot use AppLogger, which builds on it).
// They go to the sink the logger installs for itself when it is linked in, else to qWarning.
namespace SupportLog {

using Sink = void (*)(const QString& message);

// Replaces the sink (nullptr: back to qWarning). Any thread; the sink must be callable from any thread.
void setErrorSink(Sink sink);

void error(const QString& message);

} // namespace SupportLog
