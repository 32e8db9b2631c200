#pragma once

#include <QString>

// The program's private folder for temporary files (recordings, the runtime log):
// $XDG_RUNTIME_DIR/quillvane, else /tmp/quillvane-<uid>. It is created with mode 0700 and must belong
// to the current user and not be a symbolic link; a folder that fails these checks is not used.
namespace RuntimeDirectory {

// The folder's path, created if needed, or an empty string when no safe folder can be had
// (the reason is in `errorMessage` when given).
QString path(QString* errorMessage = nullptr);

// Applies the same rules to one candidate folder; exposed for tests.
bool ensurePrivateDirectory(const QString& directory, QString* errorMessage = nullptr);

} // namespace RuntimeDirectory
