#pragma once

#include <QLoggingCategory>
#include <QMutex>
#include <QStringList>

#include <utility>

// Collects the messages of the "runtime" logging category (AppLogger's lines, from any thread) while an
// instance is alive; other messages go on to the previous handler. One capture at a time: the captured
// lines are shared, so the accessors are static and may be called through an instance too.
class RuntimeLogCapture {
public:
    RuntimeLogCapture() {
        clear();
        m_previous = qInstallMessageHandler(&RuntimeLogCapture::handle);
        previous() = m_previous;
    }
    ~RuntimeLogCapture() { qInstallMessageHandler(m_previous); }
    RuntimeLogCapture(const RuntimeLogCapture&) = delete;
    RuntimeLogCapture& operator=(const RuntimeLogCapture&) = delete;

    // The messages as logged.
    static QStringList lines() {
        QMutexLocker lock(&mutex());
        QStringList result;
        for (const auto& [level, message] : store()) {
            result << message;
        }
        return result;
    }

    // The messages behind their level: "INFO <message>" or "ERROR <message>".
    static QStringList entries() {
        QMutexLocker lock(&mutex());
        QStringList result;
        for (const auto& [level, message] : store()) {
            result << level + message;
        }
        return result;
    }

    static QStringList entriesStartingWith(const QString& prefix) {
        QStringList result;
        for (const QString& entry : entries()) {
            if (entry.startsWith(prefix)) {
                result << entry;
            }
        }
        return result;
    }

    // The entries so far, then forgets them.
    static QStringList takeEntries() {
        QStringList result = entries();
        clear();
        return result;
    }

    static void clear() {
        QMutexLocker lock(&mutex());
        store().clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (context.category && qstrcmp(context.category, "runtime") == 0) {
            QMutexLocker lock(&mutex());
            store().append({type == QtInfoMsg ? QStringLiteral("INFO ") : QStringLiteral("ERROR "), message});
            return;
        }
        if (QtMessageHandler next = previous()) {
            next(type, context, message);
        }
    }
    static QList<std::pair<QString, QString>>& store() {
        static QList<std::pair<QString, QString>> lines;
        return lines;
    }
    static QMutex& mutex() {
        static QMutex instance;
        return instance;
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }

    QtMessageHandler m_previous = nullptr;
};
