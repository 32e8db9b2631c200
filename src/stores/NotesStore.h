#pragma once

#include "JsonFileStore.h"
#include "NoteEntry.h"
#include "Scheduler.h"

#include <QList>
#include <QObject>

#include <optional>

// The user's notes, newest first: voice notes made from note-mode dictations and notes typed on the
// notes page. Kept in memory and rewritten whole to "notes.json". Creating and deleting a note write the
// file at once; edits (a keystroke in the editor, a generated title) are written together a moment after
// the last one (kSaveDelay, at the latest kLongestSaveDelay after the first), or at once by flush(), which
// the note editor calls when the selection changes and the application calls on its way out. Destroying
// the store flushes too. Main thread only.
class NotesStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<NoteEntry> notes READ notes NOTIFY notesChanged)

public:
    static constexpr const char* kFileName = "notes.json";
    static constexpr Scheduler::Duration kSaveDelay{500};
    static constexpr Scheduler::Duration kLongestSaveDelay{5000};

    // `folder` holds the file; empty means the app's data folder (AppPaths::dataFolder()). The delayed
    // saves run on `scheduler` (null: Scheduler::current()).
    explicit NotesStore(const QString& folder = {}, Scheduler* scheduler = nullptr,
                        QObject* parent = nullptr);
    ~NotesStore() override;

    const QList<NoteEntry>& notes() const { return m_notes; }
    QString filePath() const { return m_file.filePath(); }

    // Inserts a note with a fresh id at the top, the three values unchanged.
    NoteEntry createNote(const QString& title, const QString& body, const QDateTime& timestamp);
    // A note from a transcript: the body trimmed, the title its first line cut to 60 characters
    // ("Voice Note" when there is none).
    NoteEntry addVoiceNote(const QString& body, const QDateTime& timestamp);
    // Changes the title (a blank one becomes "Untitled") and/or the body of the first note with this id.
    // The file follows after kSaveDelay.
    void updateNote(const QUuid& id, const std::optional<QString>& title, const std::optional<QString>& body);
    // Gives the note `title` only while its title is still `expected` (a title made for a note must not
    // replace one the user typed in the meantime). Returns whether the note was renamed; false also when
    // no note has this id. Saved as updateNote is.
    bool renameIfTitleIs(const QUuid& id, const QString& expected, const QString& title);
    void deleteNote(const QUuid& id);
    std::optional<NoteEntry> note(const std::optional<QUuid>& id) const;

    // Writes edits still waiting for their delayed save now; nothing when none wait.
    void flush();
    bool hasUnsavedEdits() const { return m_unsavedEdits; }

signals:
    void notesChanged();

private:
    void load();
    void save();
    void saveLater();

    JsonFileStore m_file;
    Scheduler& m_scheduler;
    QList<NoteEntry> m_notes;
    bool m_unsavedEdits = false;
    TimerHandle m_quietSave;    // kSaveDelay after the last edit
    TimerHandle m_deadlineSave; // kLongestSaveDelay after the first unsaved edit
};
