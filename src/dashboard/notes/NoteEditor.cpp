#include "NoteEditor.h"

#include "DashboardState.h"
#include "NotesRules.h"
#include "NotesStore.h"
#include "PageBits.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QVBoxLayout>

NoteEditor::NoteEditor(NotesStore& store, DashboardState& state, QWidget* parent)
    : SurfaceCard(parent), m_store(store), m_state(state) {
    setObjectName(QStringLiteral("notesEditorCard"));
    QVBoxLayout* outer = contentLayout();
    m_stack = new QStackedLayout();
    outer->addLayout(m_stack);

    m_editorBox = new QWidget(this);
    auto* column = new QVBoxLayout(m_editorBox);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    m_titleField = new QLineEdit(m_editorBox);
    m_titleField->setObjectName(QStringLiteral("noteTitleField"));
    m_titleField->setPlaceholderText(NotesRules::untitled);
    m_titleField->setFont(DashboardFonts::rounded(22, QFont::Bold));
    m_titleField->installEventFilter(this);
    connect(m_titleField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_shownId) {
            m_store.updateNote(*m_shownId, text, std::nullopt);
        }
    });
    column->addWidget(m_titleField);
    m_time = PageBits::label(QString(), PageBits::font(11, QFont::Medium), PageBits::mutedColor, m_editorBox);
    m_time->setObjectName(QStringLiteral("noteTime"));
    column->addWidget(m_time);
    m_bodyField = new QPlainTextEdit(m_editorBox);
    m_bodyField->setObjectName(QStringLiteral("noteBodyField"));
    m_bodyField->setFont(PageBits::font(15));
    m_bodyField->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: rgba(255,255,255,0.72); border: 1px solid "
                       "rgba(0,0,0,0.04); border-radius: 18px; padding: 14px; }"));
    connect(m_bodyField, &QPlainTextEdit::textChanged, this, [this] {
        if (m_shownId) {
            m_store.updateNote(*m_shownId, std::nullopt, m_bodyField->toPlainText());
        }
    });
    column->addWidget(m_bodyField, 1);
    m_stack->addWidget(m_editorBox);

    m_emptyState = new QWidget(this);
    m_emptyState->setObjectName(QStringLiteral("noteEmptyState"));
    auto* empty = new QVBoxLayout(m_emptyState);
    empty->setContentsMargins(0, 0, 0, 0);
    empty->setSpacing(10);
    empty->addWidget(PageBits::label(QStringLiteral("Select or create a note"),
                                     DashboardFonts::rounded(22, QFont::DemiBold), PageBits::titleColor));
    auto* advice =
        PageBits::label(QStringLiteral("Record a voice note or create a blank note to start writing."),
                        PageBits::font(13), PageBits::mutedColor);
    advice->setWordWrap(true);
    empty->addWidget(advice);
    empty->addStretch(1);
    m_stack->addWidget(m_emptyState);

    connect(&m_store, &NotesStore::notesChanged, this, &NoteEditor::refresh);
    connect(&m_state, &DashboardState::selectedNoteIDChanged, this, [this] {
        m_store.flush(); // what was typed into the note left behind
        refresh();
    });
    refresh();
}

void NoteEditor::refresh() {
    const std::optional<NoteEntry> note = m_store.note(m_state.selectedNoteID());
    if (!note) {
        m_shownId.reset();
        m_stack->setCurrentWidget(m_emptyState);
        return;
    }
    const bool other = m_shownId != note->id;
    m_shownId = note->id;
    m_stack->setCurrentWidget(m_editorBox);
    // A field the user is typing in keeps its own text; another note always replaces it.
    if ((other || !m_titleField->hasFocus()) && m_titleField->text() != note->title) {
        const QSignalBlocker blocker(m_titleField);
        m_titleField->setText(note->title);
    }
    if ((other || !m_bodyField->hasFocus()) && m_bodyField->toPlainText() != note->body) {
        const QSignalBlocker blocker(m_bodyField);
        m_bodyField->setPlainText(note->body);
    }
    m_time->setText(NotesRules::timeText(note->timestamp.toLocalTime()));
}

void NoteEditor::hideEvent(QHideEvent* event) {
    m_store.flush();
    QFrame::hideEvent(event);
}

bool NoteEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_titleField && event->type() == QEvent::FocusOut) {
        // Left empty: the field now shows what the store keeps ("Untitled").
        QMetaObject::invokeMethod(this, &NoteEditor::refresh, Qt::QueuedConnection);
    }
    return QFrame::eventFilter(watched, event);
}
