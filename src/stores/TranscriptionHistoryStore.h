#pragma once

#include "JsonFileStore.h"
#include "TranscriptionHistoryEntry.h"

#include <QList>
#include <QObject>

#include <optional>

// The most recent results of dictation (at most 100 after an addition), newest first, for the home page;
// persisted whole in "transcription-history.json" after every addition. Main thread only.
class TranscriptionHistoryStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<TranscriptionHistoryEntry> entries READ entries NOTIFY entriesChanged)

public:
    static constexpr const char* kFileName = "transcription-history.json";
    static constexpr qsizetype kMaximumEntries = 100;

    // `folder` holds the file; empty means the app's data folder (AppPaths::dataFolder()).
    explicit TranscriptionHistoryStore(const QString& folder = {}, QObject* parent = nullptr);

    const QList<TranscriptionHistoryEntry>& entries() const { return m_entries; }
    QString filePath() const { return m_file.filePath(); }

    // Adds an entry stamped with the current time at the top and drops the oldest beyond 100. A
    // duration that is not a finite number is stored as 0 (JSON cannot hold it).
    void addEntry(const QString& text, const std::optional<QString>& provider, const QString& appContext,
                  double durationSeconds);

signals:
    void entriesChanged();

private:
    void load();
    void save();

    JsonFileStore m_file;
    QList<TranscriptionHistoryEntry> m_entries;
};
