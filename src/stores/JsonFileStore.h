#pragma once

#include "JsonDecoding.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>

// The file behind one of the JSON-file stores (knowledge base, notes, transcription history): where it
// lives, reading it once at start-up, and replacing it whole and atomically on every save.
//
// A file that cannot be read or decoded is never overwritten: it is renamed aside as
// "<file name>.corrupt-<UTC time>" (kept byte for byte) and the store starts empty. When even that rename
// fails, saves are refused for the rest of the run rather than replacing the user's data. A list read with
// decodeEntries() keeps its good entries: only the ones it cannot decode are left out, the file as it was
// is set aside all the same, and the store writes the good entries back (entriesLeftOut()).
//
// Each of these events, a failed save and a folder that cannot be written to are also told to the user
// through StorageNotices, with the path of the file concerned.
class JsonFileStore {
public:
    // `fileName` ("notes.json") lives in `folder`; an empty `folder` means the app's data folder
    // (AppPaths::dataFolder()). `subject` names the store in log lines: "Failed to load " +
    // subject + ": …", "Failed to save " + subject + ": …".
    JsonFileStore(const QString& fileName, QString subject, const QString& folder = {});

    // The file's full path, fixed at construction. Empty when no folder could be had at all.
    const QString& filePath() const { return m_filePath; }

    // Every later save writes the file readable and writable by its owner only (mode 0600), before
    // any of its content is written, and a folder it creates for it is its owner's only (0700). A file
    // found readable by others at load is made its owner's only.
    void restrictToOwner() { m_ownerOnly = true; }

    // What the user's notices call the store's content ("notes"); the log's subject by default.
    void setNoticeName(const QString& name) { m_noticeName = name; }

    // Reads the file and hands its JSON to `decode`, which throws (DecodingError or another
    // std::exception) for content it rejects. A missing file returns false without a word. A file that
    // cannot be read, parsed or decoded is logged at error level, set aside, and returns false. When
    // `decode` left entries out (decodeEntries), each is logged, the file is set aside, and load returns
    // true with entriesLeftOut() set: the caller saves what it kept.
    bool load(const std::function<void(const QJsonValue&)>& decode);

    // For `decode`: the elements of the array `value` (at `path`) that `decodeElement` accepts, in their
    // order; an element it rejects (by throwing) is left out and noted for load(). A value that is not an
    // array throws DecodingError (type mismatch).
    template <class T, class Decode>
    QList<T> decodeEntries(const QJsonValue& value, const QString& path, Decode decodeElement);

    // How many entries the last load left out (0 when it kept everything).
    int entriesLeftOut() const { return m_leftOut.size(); }

    // Creates the folder, encodes with `encode` (which may throw JsonEncodingError or another
    // std::exception) and replaces the file atomically with the compact JSON text. Failures are logged
    // at error level; returns whether the file was written.
    bool save(const std::function<QJsonValue()>& encode);

    // Readers of the stored forms shared by the stores; each throws DecodingError (data corrupted) at
    // `path`. Ids: the 36-character canonical UUID text, either case. Dates: ISO 8601 internet
    // date-time with whole seconds and a zone designator (fractional seconds are refused).
    static QUuid parseId(const QString& text, const QString& path);
    static QDateTime parseDate(const QString& text, const QString& path);

private:
    const QString& noticeName() const { return m_noticeName.isEmpty() ? m_subject : m_noticeName; }
    bool setAside();
    void noteLeftOut(const QString& description) { m_leftOut.append(description); }
    void noticeSaveFailure(const QString& why);

    QString m_subject;
    QString m_noticeName;  // empty: m_subject
    QStringList m_leftOut; // descriptions of the entries the last load could not decode
    QString m_filePath;
    QString m_setAsidePath; // where the last unreadable file went
    bool m_savesRefused = false;
    bool m_ownerOnly = false;
};

template <class T, class Decode>
QList<T> JsonFileStore::decodeEntries(const QJsonValue& value, const QString& path, Decode decodeElement) {
    if (!value.isArray()) {
        throw DecodingError(DecodingError::Kind::TypeMismatch, path, QStringLiteral("Expected an array"));
    }
    const QJsonArray array = value.toArray();
    QList<T> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        try {
            result.append(decodeElement(array.at(i), JsonDecode::indexPath(path, i)));
        } catch (const DecodingError& error) {
            noteLeftOut(error.description());
        } catch (const std::exception& error) {
            noteLeftOut(JsonDecode::indexPath(path, i) + QStringLiteral(": ") +
                        QString::fromUtf8(error.what()));
        }
    }
    return result;
}
