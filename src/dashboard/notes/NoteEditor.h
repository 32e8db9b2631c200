#pragma once

#include "DashboardLook.h"

#include <QFrame>
#include <QUuid>

#include <optional>

class DashboardState;
class NotesStore;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QStackedLayout;

// The editor card of the notes page: the selected note's title and body, written to the store on every
// keystroke, with the creation time between them; an empty state when no note is selected. The store puts
// keystrokes on disk a moment later; the editor has it write them at once when another note is selected
// and when the editor is hidden (another page, the window closed). The store's
// value is never written back into a field while the user is typing in it: a cleared title stays empty
// under the cursor (the store keeps "Untitled") and shows "Untitled" once the field is left.
// Object names: "noteTitleField", "noteTime", "noteBodyField", "noteEmptyState".
class NoteEditor : public SurfaceCard {
    Q_OBJECT

public:
    NoteEditor(NotesStore& store, DashboardState& state, QWidget* parent = nullptr);

    // Re-reads the selected note into the fields.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    NotesStore& m_store;
    DashboardState& m_state;
    std::optional<QUuid> m_shownId;
    QStackedLayout* m_stack = nullptr;
    QWidget* m_editorBox = nullptr;
    QWidget* m_emptyState = nullptr;
    QLineEdit* m_titleField = nullptr;
    QLabel* m_time = nullptr;
    QPlainTextEdit* m_bodyField = nullptr;
};
