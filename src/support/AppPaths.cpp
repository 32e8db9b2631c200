#include "AppPaths.h"

#include "RuntimeDirectory.h"

#include <QDir>
#include <QStandardPaths>

namespace AppPaths {

QString dataFolder() {
    QString parent = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (parent.isEmpty()) {
        // The private runtime folder is "quillvane" already: the data lives in a folder below it.
        parent = RuntimeDirectory::path();
    }
    return parent.isEmpty() ? QString() : QDir(parent).filePath(QStringLiteral("quillvane"));
}

QString retryFolder() {
    const QString data = dataFolder();
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("Retry"));
}

} // namespace AppPaths
