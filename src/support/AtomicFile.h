#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;
class QIODevice;
class QSaveFile;

// Replacing a file whole, so that a failed write never costs the old content.
//
// QSaveFile alone does not guarantee that: its write() only fills a buffer, and Qt 6.4's commit() does not
// check the flush of that buffer, so on a full disk (or over the file size limit) it renames a short or
// empty temporary file over the original and reports success. Everything written through here is flushed
// and checked before the commit; on any failure the temporary file is discarded and the old file stays.
namespace AtomicFile {

// Who may read the new file: as the old one was (or the umask's default for a new one), or its owner only.
// An owner-only file is made so before any byte is written into it.
enum Mode { KeepMode, OwnerOnly };

// Replaces the file at `path` with `bytes` (its folder must exist). On failure returns false with the
// reason in `error` (the system's words, "No space left on device"), and the file is as it was.
bool replace(const QString& path, const QByteArray& bytes, QString* error = nullptr, Mode mode = KeepMode);

// For code handed an open QSaveFile (or any file device) to fill, such as a QSettings format's writer:
// writes `bytes` to the system at once (past Qt's buffer), so that a failure shows here, before the owner
// commits. Returns false with `error` set when any byte did not reach the file.
bool writeThrough(QIODevice& device, const QByteArray& bytes, QString* error = nullptr);

// The error text of the last failed writeThrough on this thread (empty after a successful one), for an
// owner that sees only a false returned by a callback of its own.
QString lastWriteError();

} // namespace AtomicFile
