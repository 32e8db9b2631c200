#pragma once

#include <QHash>
#include <QList>
#include <QUuid>
#include <QWidget>
#include <qcoro/qcorotask.h>

class DashboardState;
class NoteEditor;
class NotesStore;
class QBoxLayout;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class VoiceNoteControl;

// The notes page: the list card (title, the voice-note, "New Note" and "Delete" buttons, the last
// recording summary, the notes) beside or above the editor card, by width. Rows are kept per note id and
// only their texts change on an edit. The selection lives in the dashboard state and follows the rules
// of NotesRules. Object names: "voiceNoteButton", "newNoteButton", "deleteNoteButton", "recordingSummary",
// "noteRow" (property "noteId"), "noteRowTitle", "noteRowPreview", "noteRowTime", "notesEmpty",
// "notesListCard", "notesEditorCard".
class NotesPage : public QWidget {
    Q_OBJECT

public:
    // Rows are built for this many notes at first, and a batch more whenever the list is scrolled near
    // its end.
    static constexpr qsizetype kRowBatch = 60;

    NotesPage(NotesStore& store, VoiceNoteControl& voice, DashboardState& state, QWidget* parent = nullptr);

    // The widths at or above which the two cards stand side by side.
    static int sideBySideWidth();
    bool isSideBySide() const;

    void createNote();
    void deleteSelectedNote();
    // Starts the voice-note task; it decides between start and stop when it runs.
    void pressVoiceNote();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QCoro::Task<> runVoiceNote();
    void notesChanged();
    void syncRows();
    void growNearEnd();
    void syncVoice();
    void syncSelection();
    void applyLayout(int width);

    NotesStore& m_store;
    VoiceNoteControl& m_voice;
    DashboardState& m_state;
    QBoxLayout* m_arrangement = nullptr;
    QFrame* m_listCard = nullptr;
    NoteEditor* m_editor = nullptr;
    QPushButton* m_voiceButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_empty = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QHash<QUuid, QWidget*> m_rows;
    QList<QUuid> m_order;
    bool m_shownOnce = false;
    bool m_rowsStale = false; // the rows wait for the page to be shown
    qsizetype m_built = 0;    // rows exist for this many notes from the top
};
