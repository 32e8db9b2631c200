#pragma once

#include "JsonDecoding.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>

// The file behind one of the JSON-file stores (knowledge base, notes, transcription history): where it
// lives, reading it once at start-up, and replacing it whole and atomically on every save.
//
// A file that cannot be read or decoded is never overwritten: it is renamed aside as
// "<file name>.corrupt-<UTC time>" (kept byte for byte) and the store starts empty. When even that rename
// fails, saves are refused for the rest of the run rather than replacing the user's data.
class JsonFileStore {
public:
    // `fileName` ("notes.json") lives in `folder`; an empty `folder` means the app's data folder
    // (AppPaths::dataFolder()). `subject` names the store in log lines: "Failed to load " +
    // subject + ": …", "Failed to save " + subject + ": …".
    JsonFileStore(const QString& fileName, QString subject, const QString& folder = {});

    // The file's full path, fixed at construction. Empty when no folder could be had at all.
    const QString& filePath() const { return m_filePath; }

    // Every later save writes the file readable and writable by its owner only (mode 0600), before
    // any of its content is written.
    void restrictToOwner() { m_ownerOnly = true; }

    // Reads the file and hands its JSON to `decode`, which throws (DecodingError or another
    // std::exception) for content it rejects. A missing file returns false without a word. A file that
    // cannot be read, parsed or decoded is logged at error level, set aside, and returns false.
    bool load(const std::function<void(const QJsonValue&)>& decode);

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
    void setAside();

    QString m_subject;
    QString m_filePath;
    bool m_savesRefused = false;
    bool m_ownerOnly = false;
};
