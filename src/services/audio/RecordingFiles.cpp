#include "RecordingFiles.h"

#include "AppLogger.h"
#include "OrderlyExit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <mutex>

namespace {

std::mutex g_mutex;
QSet<QString>& noted() {
    // Never destroyed: an exit() runs the exit path while static destructors may already have run.
    static auto* files = new QSet<QString>;
    return *files;
}

bool present(const QFileInfo& info) {
    return info.exists() || info.isSymLink();
}

} // namespace

namespace RecordingFiles {

void adopt(const QString& path) {
    static const bool wired = [] {
        OrderlyExit::addFlush([] { removeAll(); });
        return true;
    }();
    Q_UNUSED(wired);
    std::lock_guard lock(g_mutex);
    noted().insert(path);
}

bool remove(const QString& path, QString* error) {
    {
        std::lock_guard lock(g_mutex);
        noted().remove(path);
    }
    if (path.isEmpty() || !present(QFileInfo(path))) {
        return true;
    }
    QFile file(path);
    if (file.remove()) {
        return true;
    }
    if (error) {
        *error = file.errorString();
    }
    return false;
}

int removeAll() {
    QSet<QString> files;
    {
        std::lock_guard lock(g_mutex);
        files.swap(noted());
    }
    int removed = 0;
    for (const QString& path : std::as_const(files)) {
        if (present(QFileInfo(path)) && QFile::remove(path)) {
            ++removed;
        }
    }
    if (removed > 0) {
        AppLogger::info(QStringLiteral("Deleted recordings on the way out count=") +
                        QString::number(removed));
    }
    return removed;
}

int sweepLeftovers(const QString& folder, const QDateTime& startedAt) {
    if (folder.isEmpty()) {
        return 0;
    }
    int removed = 0;
    const QFileInfoList leftovers = QDir(folder).entryInfoList(
        {QLatin1String(kNamePattern)}, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : leftovers) {
        if (info.lastModified() >= startedAt) {
            continue; // written since this run began
        }
        if (QFile::remove(info.absoluteFilePath())) {
            ++removed;
        } else {
            AppLogger::error(QStringLiteral("Failed to delete a recording left by an earlier run: ") +
                             info.fileName());
        }
    }
    if (removed > 0) {
        AppLogger::info(QStringLiteral("Deleted recordings left by an earlier run count=") +
                        QString::number(removed));
    }
    return removed;
}

} // namespace RecordingFiles
