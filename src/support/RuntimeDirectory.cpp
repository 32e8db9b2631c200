#include "RuntimeDirectory.h"

#include "TextUtilities.h"

#include <QByteArray>
#include <QDir>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace RuntimeDirectory {

bool ensurePrivateDirectory(const QString& directory, QString* errorMessage) {
    auto fail = [&](const QString& why) {
        if (errorMessage) {
            *errorMessage = directory + QStringLiteral(": ") + why;
        }
        return false;
    };
    const QByteArray native = QFile::encodeName(directory);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        return fail(Text::systemErrorText(errno));
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        return fail(Text::systemErrorText(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        return fail(QStringLiteral("not a folder"));
    }
    if (info.st_uid != ::getuid()) {
        return fail(QStringLiteral("belongs to another user"));
    }
    if ((info.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        return fail(Text::systemErrorText(errno));
    }
    return true;
}

QString path(QString* errorMessage) {
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) {
        candidates << QDir(runtime).filePath(QStringLiteral("quillvane"));
    }
    candidates << QStringLiteral("/tmp/quillvane-%1").arg(::getuid());
    QString reasons;
    for (const QString& candidate : candidates) {
        QString why;
        if (ensurePrivateDirectory(candidate, &why)) {
            return candidate;
        }
        reasons += (reasons.isEmpty() ? QString() : QStringLiteral("; ")) + why;
    }
    if (errorMessage) {
        *errorMessage = reasons;
    }
    return {};
}

} // namespace RuntimeDirectory
