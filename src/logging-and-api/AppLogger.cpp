#include "AppLogger.h"

#include "Clock.h"
#include "IsoDate.h"
#include "RuntimeDirectory.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRuntime, "runtime")

namespace {

constexpr auto kLogFileName = "quillvane-mac-runtime.log";

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Where the file lives, resolved once. When no private folder can be had, `path` stays empty and
// `failure` says why; every line then reports that reason.
struct LogLocation {
    QString folder;
    QString path;
    QString failure;
};

// Kept on the heap and never destroyed: the writer thread may still use it while static objects are
// torn down at exit.
const LogLocation& logLocation() {
    static const LogLocation* location = new LogLocation([] {
        LogLocation resolved;
        QString why;
        resolved.folder = RuntimeDirectory::path(&why);
        if (resolved.folder.isEmpty()) {
            resolved.failure = why.isEmpty() ? QStringLiteral("no private runtime folder") : why;
        } else {
            resolved.path = QDir(resolved.folder).filePath(QLatin1String(kLogFileName));
        }
        return resolved;
    }());
    return *location;
}

void reportFailure(const QString& reason) {
    qCCritical(lcRuntime, "Failed to append log file: %s", qUtf8Printable(reason));
}

// Appends one line to the file: the folder is (re)created first, the file is created with mode 0600
// when missing and otherwise appended to. Any failure drops the line and is reported once.
void appendToFile(const QByteArray& line) {
    const LogLocation& location = logLocation();
    if (location.path.isEmpty()) {
        reportFailure(location.failure);
        return;
    }
    QString why;
    if (!RuntimeDirectory::ensurePrivateDirectory(location.folder, &why)) {
        reportFailure(why);
        return;
    }
    const QByteArray nativePath = QFile::encodeName(location.path);
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        reportFailure(location.path + QStringLiteral(": ") + errnoText(errno));
        return;
    }
    const char* data = line.constData();
    qsizetype remaining = line.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(remaining));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            ::close(fd);
            reportFailure(location.path + QStringLiteral(": ") + errnoText(error));
            return;
        }
        data += written;
        remaining -= written;
    }
    ::close(fd); // a failure to close is ignored
}

// The serial queue for file writes: one thread, lines written in the order they were submitted.
// It is created on first use and never torn down (callers may log until the process ends).
class FileWriter {
public:
    static FileWriter& instance() {
        static FileWriter* writer = new FileWriter;
        return *writer;
    }

    void submit(QByteArray line) {
        {
            std::lock_guard lock(m_mutex);
            m_pending.push_back(std::move(line));
            ++m_submitted;
        }
        m_wake.notify_all();
    }

    void waitUntilWritten() {
        std::unique_lock lock(m_mutex);
        const std::uint64_t target = m_submitted;
        m_done.wait(lock, [&] { return m_written >= target; });
    }

private:
    FileWriter() {
        std::thread(&FileWriter::run, this).detach();
        // Lines submitted before a normal exit still reach the file.
        std::atexit([] { instance().waitUntilWritten(); });
    }

    [[noreturn]] void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return !m_pending.empty(); });
            QByteArray line = std::move(m_pending.front());
            m_pending.pop_front();
            lock.unlock();
            appendToFile(line);
            lock.lock();
            ++m_written;
            m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<QByteArray> m_pending;
    std::uint64_t m_submitted = 0;
    std::uint64_t m_written = 0;
};

void append(const QString& level, const QString& message) {
    const QString line = AppLogger::formatLine(level, message, Clock::current().now());
    FileWriter::instance().submit(line.toUtf8());
}

} // namespace

void AppLogger::info(const QString& message) {
    qCInfo(lcRuntime).noquote() << message;
    append(QStringLiteral("INFO"), message);
}

void AppLogger::error(const QString& message) {
    qCCritical(lcRuntime).noquote() << message;
    append(QStringLiteral("ERROR"), message);
}

void AppLogger::flush() {
    FileWriter::instance().waitUntilWritten();
}

QString AppLogger::logFilePath() {
    return logLocation().path;
}

QString AppLogger::formatLine(const QString& level, const QString& message, const QDateTime& moment) {
    return QLatin1Char('[') + IsoDate::formatWithMilliseconds(moment) + QStringLiteral("] [") + level +
           QStringLiteral("] ") + message + QLatin1Char('\n');
}
