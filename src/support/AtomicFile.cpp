#include "AtomicFile.h"

#include "TextUtilities.h"

#include <QFileDevice>
#include <QSaveFile>

#include <cerrno>

#include <unistd.h>

namespace {
thread_local QString t_lastWriteError;

bool failWith(const QString& why, QString* error) {
    t_lastWriteError = why;
    if (error) {
        *error = why;
    }
    return false;
}
} // namespace

namespace AtomicFile {

bool writeThrough(QIODevice& device, const QByteArray& bytes, QString* error) {
    t_lastWriteError.clear();
    auto* file = qobject_cast<QFileDevice*>(&device);
    const int fd = file ? file->handle() : -1;
    if (fd < 0) {
        if (device.write(bytes) != bytes.size()) {
            return failWith(device.errorString(), error);
        }
        return true;
    }
    // Straight to the descriptor: Qt's buffered write reports success before the system refused anything,
    // and its flush loses the system's reason (errno) for a short write.
    if (!file->flush()) {
        return failWith(file->errorString(), error);
    }
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failWith(Text::systemErrorText(errno), error);
        }
        data += written;
        left -= written;
    }
    return true;
}

QString lastWriteError() {
    return t_lastWriteError;
}

bool replace(const QString& path, const QByteArray& bytes, QString* error, Mode mode) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return failWith(file.errorString(), error);
    }
    if (mode == OwnerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failWith(why, error);
    }
    if (!writeThrough(file, bytes, error)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        return failWith(file.errorString(), error);
    }
    return true;
}

} // namespace AtomicFile
