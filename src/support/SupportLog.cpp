#include "SupportLog.h"

#include <QtGlobal>

#include <atomic>

namespace {
std::atomic<SupportLog::Sink> g_info{nullptr};
std::atomic<SupportLog::Sink> g_error{nullptr};
std::atomic<SupportLog::FlushSink> g_flush{nullptr};
} // namespace

namespace SupportLog {

void setSinks(const Sinks& sinks) {
    g_info.store(sinks.info);
    g_error.store(sinks.error);
    g_flush.store(sinks.flush);
}

void info(const QString& message) {
    if (const Sink sink = g_info.load()) {
        sink(message);
    } else {
        qInfo("%s", qUtf8Printable(message));
    }
}

void error(const QString& message) {
    if (const Sink sink = g_error.load()) {
        sink(message);
    } else {
        qWarning("%s", qUtf8Printable(message));
    }
}

void flush() {
    if (const FlushSink sink = g_flush.load()) {
        sink();
    }
}

} // namespace SupportLog
