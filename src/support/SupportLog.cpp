#include "SupportLog.h"

#include <QtGlobal>

#include <atomic>

namespace {
std::atomic<SupportLog::Sink>& sink() {
    static std::atomic<SupportLog::Sink> current{nullptr};
    return current;
}
} // namespace

namespace SupportLog {

void setErrorSink(Sink newSink) {
    sink().store(newSink);
}

void error(const QString& message) {
    if (const Sink current = sink().load()) {
        current(message);
    } else {
        qWarning("%s", qUtf8Printable(message));
    }
}

} // namespace SupportLog
