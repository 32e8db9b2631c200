#pragma once

#include "AppLogger.h"

#include <QMutex>
#include <QStringList>

// Collects the lines the program logs through AppLogger ("runtime" category) as "INFO <message>" or
// "ERROR <message>". Install once per test program; clear before each case.
class LogCapture {
public:
    static void install() { previous() = qInstallMessageHandler(&LogCapture::handle); }

    static void clear() {
        QMutexLocker lock(&mutex());
        store().clear();
    }

    static QStringList lines() {
        QMutexLocker lock(&mutex());
        return store();
    }

    // The captured lines that start with `prefix` ("INFO Stored", "ERROR Failed"...).
    static QStringList linesStartingWith(const QString& prefix) {
        QStringList result;
        for (const QString& line : lines()) {
            if (line.startsWith(prefix)) {
                result << line;
            }
        }
        return result;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (context.category && QByteArray(context.category) == "runtime") {
            QMutexLocker lock(&mutex());
            store() << (type == QtInfoMsg ? QStringLiteral("INFO ") : QStringLiteral("ERROR ")) + message;
        } else if (previous()) {
            previous()(type, context, message);
        }
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static QStringList& store() {
        static QStringList lines;
        return lines;
    }
    static QMutex& mutex() {
        static QMutex m;
        return m;
    }
};
