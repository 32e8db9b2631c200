#pragma once

#include "JsonFileStore.h"
#include "NoteEntry.h"

#include <QList>
#include <QObject>

#include <optional>

// The user's notes, newest first: voice notes made from note-mode dictations and notes typed on the
// notes page. Kept in memory and rewritten whole to "notes.json" after every change. Main thread only.
class NotesStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<NoteEntry> notes READ notes NOTIFY notesChanged)

public:
    static constexpr const char* kFileName = "notes.json";

    // `folder` holds the file; empty means the app's data folder (AppPaths::dataFolder()).
    explicit NotesStore(const QString& folder = {}, QObject* parent = nullptr);

    const QList<NoteEntry>& notes() const { return m_notes; }
    QString filePath() const { return m_file.filePath(); }

    // Inserts a note with a fresh id at the top, the three values unchanged.
    NoteEntry createNote(const QString& title, const QString& body, const QDateTime& timestamp);
    // A note from a transcript: the body trimmed, the title its first line cut to 60 characters
    // ("Voice Note" when there is none).
    NoteEntry addVoiceNote(const QString& body, const QDateTime& timestamp);
    // Changes the title (a blank one becomes "Untitled") and/or the body of the first note with this id.
    void updateNote(const QUuid& id, const std::optional<QString>& title, const std::optional<QString>& body);
    void deleteNote(const QUuid& id);
    std::optional<NoteEntry> note(const std::optional<QUuid>& id) const;

signals:
    void notesChanged();

private:
    void load();
    void save();

    JsonFileStore m_file;
    QList<NoteEntry> m_notes;
};
