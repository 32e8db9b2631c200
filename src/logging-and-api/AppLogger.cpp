#include "AppLogger.h"

#include "Clock.h"
#include "IsoDate.h"
#include "RuntimeDirectory.h"
#include "SupportLog.h"
#include "TextUtilities.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcRuntime, "runtime")

namespace {

constexpr auto kLogFileName = "quillvane-runtime.log";

// Where the file lives, resolved once. When no private folder can be had, `path` stays empty and
// `failure` says why; every line then reports that reason.
struct LogLocation {
    QString folder;
    QString path;
    QString previousPath;
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
            resolved.previousPath = resolved.path + QStringLiteral(".1");
        }
        return resolved;
    }());
    return *location;
}

void reportFailure(const QString& reason) {
    qCCritical(lcRuntime, "Failed to append log file: %s", qUtf8Printable(reason));
}

// The file sink, used only on the writer thread. The file stays open between lines. Before each line it
// checks that the path still names the open file (someone may have deleted or replaced it; a new file
// is then started), and when the line would take the file past AppLogger::kMaxFileBytes the file
// becomes "<name>.1" (replacing the one before) and a new file is started. Any failure drops the line
// and is reported once; the next line starts afresh.
class LogFile {
public:
    void append(const QByteArray& line) {
        const LogLocation& location = logLocation();
        if (location.path.isEmpty()) {
            reportFailure(location.failure);
            return;
        }
        if (m_fd >= 0 && !stillAtPath(location)) {
            close();
        }
        if (m_fd < 0 && !open(location)) {
            return;
        }
        if (m_size > 0 && m_size + line.size() > AppLogger::kMaxFileBytes) {
            close();
            if (::rename(native(location.path).constData(), native(location.previousPath).constData()) != 0) {
                // Keep the folder bounded all the same: the lines so far are given up.
                const int error = errno;
                reportFailure(location.previousPath + QStringLiteral(": ") + Text::systemErrorText(error));
                ::unlink(native(location.path).constData());
            }
            if (!open(location)) {
                return;
            }
        }
        const char* data = line.constData();
        qsizetype remaining = line.size();
        while (remaining > 0) {
            const ssize_t written = ::write(m_fd, data, static_cast<size_t>(remaining));
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                const int error = errno;
                close();
                reportFailure(location.path + QStringLiteral(": ") + Text::systemErrorText(error));
                return;
            }
            data += written;
            remaining -= written;
            m_size += written;
        }
    }

private:
    static QByteArray native(const QString& path) { return QFile::encodeName(path); }

    bool open(const LogLocation& location) {
        QString why;
        if (!RuntimeDirectory::ensurePrivateDirectory(location.folder, &why)) {
            reportFailure(why);
            return false;
        }
        const int fd = ::open(native(location.path).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            const int error = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            reportFailure(location.path + QStringLiteral(": ") + Text::systemErrorText(error));
            return false;
        }
        m_fd = fd;
        m_device = info.st_dev;
        m_inode = info.st_ino;
        m_size = info.st_size;
        return true;
    }

    bool stillAtPath(const LogLocation& location) const {
        struct stat info {};
        return ::lstat(native(location.path).constData(), &info) == 0 && info.st_dev == m_device &&
               info.st_ino == m_inode;
    }

    void close() {
        if (m_fd >= 0) {
            ::close(m_fd); // a failure to close is ignored
        }
        m_fd = -1;
    }

    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    qint64 m_size = 0;
};

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
            m_file.append(line);
            lock.lock();
            ++m_written;
            m_done.notify_all();
        }
    }

    LogFile m_file; // used by the writer thread only
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

// The layers below the logger (support/ and the platform layer) log here once the logger is linked in.
[[maybe_unused]] const bool g_supportLogInstalled = [] {
    SupportLog::setSinks({[](const QString& message) { AppLogger::info(message); },
                          [](const QString& message) { AppLogger::error(message); }, &AppLogger::flush});
    return true;
}();

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

QString AppLogger::previousLogFilePath() {
    return logLocation().previousPath;
}

QString AppLogger::formatLine(const QString& level, const QString& message, const QDateTime& moment) {
    return QLatin1Char('[') + IsoDate::formatWithMilliseconds(moment) + QStringLiteral("] [") + level +
           QStringLiteral("] ") + message + QLatin1Char('\n');
}
