#pragma once

#include "RuntimeLogCapture.h"

// Shared fixture pieces for the JSON-file store tests: a captured "runtime" log, a fixed clock and a
// private folder per test, plus small file helpers.

#include "AppLogger.h"
#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

namespace storetest {

// Every runtime line logged since the last call ("INFO " / "ERROR " + message).
inline QStringList takeLog() {
    return RuntimeLogCapture::takeEntries();
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

// The error lines of a load that set the file at `path` aside: "Failed to load <subject>: …" when nothing
// could be read, one "Failed to load an entry of the <subject>: …" per entry left out otherwise; then the
// set-aside line. Empty when they are as expected, else what was logged.
inline QString setAsideLogProblem(const QStringList& log, const QString& subject, const QString& path,
                                  int leftOut) {
    QStringList errors;
    for (const QString& line : log) {
        if (line.startsWith(QLatin1String("ERROR "))) {
            errors << line;
        }
    }
    const QString setAside =
        QStringLiteral("ERROR Set aside the unreadable %1 file path=%2").arg(subject, path);
    bool ok = !errors.isEmpty() && errors.constLast() == setAside;
    if (ok && leftOut == 0) {
        ok = errors.size() == 2 &&
             errors.at(0).startsWith(QStringLiteral("ERROR Failed to load %1: ").arg(subject));
    } else if (ok) {
        ok = errors.size() == leftOut + 2 &&
             errors.at(leftOut) ==
                 QStringLiteral("ERROR Left out %1 unreadable entries of the %2").arg(leftOut).arg(subject);
        for (int i = 0; ok && i < leftOut; ++i) {
            ok = errors.at(i).startsWith(
                QStringLiteral("ERROR Failed to load an entry of the %1: ").arg(subject));
        }
    }
    return ok ? QString() : log.join(QLatin1Char('\n'));
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
        m_log.emplace();
    }

    void stop() {
        AppLogger::flush();
        m_log.reset();
        Clock::setCurrent(nullptr);
        m_folder.reset();
    }

    QString folder() const { return m_folder->path() + QStringLiteral("/quillvane"); }
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
    std::optional<RuntimeLogCapture> m_log;
};

} // namespace storetest
