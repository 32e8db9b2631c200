#pragma once

// Shared fixture pieces for the JSON-file store tests: a captured "runtime" log, a fixed clock and a
// private folder per test, plus small file helpers.

#include "AppLogger.h"
#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <mutex>

namespace storetest {

struct LogLine {
    QtMsgType type;
    QString text;
};

inline std::mutex& logMutex() {
    static std::mutex mutex;
    return mutex;
}
inline QList<LogLine>& capturedLines() {
    static QList<LogLine> lines;
    return lines;
}

inline void captureRuntime(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (qstrcmp(context.category, "runtime") != 0) {
        return;
    }
    std::lock_guard lock(logMutex());
    capturedLines().append({type, text});
}

// Every runtime line logged since the last call ("INFO " / "ERROR " + message).
inline QStringList takeLog() {
    std::lock_guard lock(logMutex());
    QStringList lines;
    for (const LogLine& line : std::exchange(capturedLines(), {})) {
        lines << (line.type == QtInfoMsg ? QStringLiteral("INFO ") : QStringLiteral("ERROR ")) + line.text;
    }
    return lines;
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file.errorString()));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QJsonDocument readJson(const QString& path) {
    return QJsonDocument::fromJson(readFile(path));
}

// The moment every test starts at, and the name a file set aside at that moment gets.
inline const QDateTime kStart(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);
inline const QString kCorruptSuffix = QStringLiteral(".corrupt-20260314T150926Z");

// Per test: a fresh folder for the store file, the fixed clock, the log captured.
class Fixture {
public:
    // Once per test executable: keep the runtime log file and the user's data folder out of the way.
    static void setUpProcess(const QString& runtimeFolder) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder));
        QStandardPaths::setTestModeEnabled(true);
    }

    void start() {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_clock.setNow(kStart);
        Clock::setCurrent(&m_clock);
        takeLog();
        m_previous = qInstallMessageHandler(captureRuntime);
    }

    void stop() {
        AppLogger::flush();
        qInstallMessageHandler(m_previous);
        Clock::setCurrent(nullptr);
        m_folder.reset();
    }

    QString folder() const { return m_folder->path() + QStringLiteral("/QuillvaneMac"); }
    QString path(const QString& fileName) const { return QDir(folder()).filePath(fileName); }
    ManualClock& clock() { return m_clock; }

    // Names of the files in the store folder, sorted.
    QStringList folderEntries() const {
        return QDir(folder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                        QDir::Name);
    }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    ManualClock m_clock;
    QtMessageHandler m_previous = nullptr;
};

} // namespace storetest
