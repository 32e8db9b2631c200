#include "NotesPage.h"

#include "Clock.h"
#include "DashboardLook.h"
#include "DashboardState.h"
#include "DisplayText.h"
#include "ElidedLabel.h"
#include "NoteEditor.h"
#include "NotesRules.h"
#include "NotesStore.h"
#include "PageBits.h"
#include "VoiceNoteControl.h"
#include "WidgetLifetime.h"

#include <QBoxLayout>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>

#include <algorithm>

namespace {

// Side by side from the width where the list shows its three buttons on one line and the editor is still
// comfortable; below it the list sits above the editor and the page scrolls.
constexpr int kListIdealWidth = 360;
constexpr int kEditorIdealWidth = 380;
// Stacked: the list shows about three notes (it scrolls inside), the editor gets room to write.
constexpr int kStackedListHeight = 320;
constexpr int kStackedEditorHeight = 420;
constexpr int kSpacing = 18;
constexpr int kSidePadding = 28;

ElidingLabel* rowLabel(int lines, const QFont& font, const QColor& color) {
    auto* label = new ElidingLabel(lines);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

// One note in the list; a click anywhere selects it.
class NoteRow : public QFrame {
public:
    std::function<void()> activated;

    explicit NoteRow(QWidget* parent) : QFrame(parent) {
        setObjectName(QStringLiteral("noteRow"));
        setCursor(Qt::PointingHandCursor);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(14, 12, 14, 12);
        column->setSpacing(6);
        // The title and time on one line each, the preview on up to two; each ends in "…" where it is cut.
        title = rowLabel(1, PageBits::font(14, QFont::DemiBold), PageBits::titleColor);
        title->setObjectName(QStringLiteral("noteRowTitle"));
        preview = rowLabel(2, PageBits::font(12), PageBits::mutedColor);
        preview->setObjectName(QStringLiteral("noteRowPreview"));
        time = rowLabel(1, PageBits::font(11, QFont::Medium), PageBits::mutedColor);
        time->setObjectName(QStringLiteral("noteRowTime"));
        for (QLabel* label : {title, preview, time}) {
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            column->addWidget(label);
        }
    }

    void show(const NoteEntry& note, bool selected) {
        // A keystroke changes one note: the other rows skip the formatting of their texts.
        if (m_shown == note && m_selected == selected) {
            return;
        }
        m_shown = note;
        setText(title, NotesRules::rowTitle(note.title));
        setText(preview, NotesRules::rowPreview(note.body));
        setText(time, NotesRules::timeText(note.timestamp.toLocalTime()));
        if (m_selected != selected) {
            m_selected = selected;
            setProperty("selected", selected);
            setStyleSheet(selected
                              ? QStringLiteral("QFrame#noteRow { background: rgba(255,255,255,0.92); border: "
                                               "1px solid rgba(0,0,0,0.06); border-radius: 14px; }")
                              : QStringLiteral("QFrame#noteRow { background: rgba(255,255,255,0.58); border: "
                                               "1px solid transparent; border-radius: 14px; }"));
        }
    }

    QLabel* title = nullptr;
    QLabel* preview = nullptr;
    QLabel* time = nullptr;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && activated) {
            activated();
        }
    }

private:
    std::optional<NoteEntry> m_shown;
    std::optional<bool> m_selected; // none until the first show sets the look

    static void setText(QLabel* label, const QString& text) {
        if (label->text() != text) {
            label->setText(text);
        }
    }
};

} // namespace

NotesPage::NotesPage(NotesStore& store, VoiceNoteControl& voice, DashboardState& state, QWidget* parent)
    : QWidget(parent), m_store(store), m_voice(voice), m_state(state) {
    setObjectName(QStringLiteral("notesPage"));
    m_arrangement = new QBoxLayout(QBoxLayout::LeftToRight, this);
    m_arrangement->setContentsMargins(kSidePadding, 42, kSidePadding, 28);
    m_arrangement->setSpacing(kSpacing);

    auto* listCard = new SurfaceCard(this);
    listCard->setObjectName(QStringLiteral("notesListCard"));
    m_listCard = listCard;
    QVBoxLayout* column = listCard->contentLayout();
    column->setSpacing(14);
    auto* header = new PageHeader(QStringLiteral("Notes"), nullptr, m_listCard);
    header->setObjectName(QStringLiteral("notesHeader"));
    column->addWidget(header);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    m_voiceButton = new DashboardPrimaryButton(QString(), m_listCard);
    m_voiceButton->setObjectName(QStringLiteral("voiceNoteButton"));
    connect(m_voiceButton, &QPushButton::clicked, this, &NotesPage::pressVoiceNote);
    buttons->addWidget(m_voiceButton);
    // Bordered buttons: the window's style sheet draws them, "Delete" in the destructive red.
    auto* create = new QPushButton(QStringLiteral("New Note"), m_listCard);
    create->setObjectName(QStringLiteral("newNoteButton"));
    connect(create, &QPushButton::clicked, this, &NotesPage::createNote);
    buttons->addWidget(create);
    m_deleteButton = new QPushButton(QStringLiteral("Delete"), m_listCard);
    m_deleteButton->setObjectName(QStringLiteral("deleteNoteButton"));
    m_deleteButton->setProperty("destructive", true);
    connect(m_deleteButton, &QPushButton::clicked, this, &NotesPage::deleteSelectedNote);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);
    column->addLayout(buttons);

    m_summary = PageBits::label(QString(), PageBits::font(11), PageBits::mutedColor, m_listCard);
    m_summary->setObjectName(QStringLiteral("recordingSummary"));
    m_summary->setWordWrap(true);
    column->addWidget(m_summary);

    m_empty = PageBits::label(QStringLiteral("No notes yet."), PageBits::font(13), PageBits::mutedColor,
                              m_listCard);
    m_empty->setObjectName(QStringLiteral("notesEmpty"));
    m_empty->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_empty->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(m_empty, 1);

    m_scroll = new QScrollArea(m_listCard);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setStyleSheet(
        QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
    auto* rowsBox = new QWidget();
    m_rowsLayout = new QVBoxLayout(rowsBox);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(8);
    m_rowsLayout->addStretch(1);
    m_scroll->setWidget(rowsBox);
    column->addWidget(m_scroll, 1);

    m_listCard->setMaximumWidth(std::max(kListIdealWidth, m_listCard->minimumSizeHint().width()));
    m_arrangement->addWidget(m_listCard);
    m_editor = new NoteEditor(store, state, this);
    m_arrangement->addWidget(m_editor, 1);

    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &NotesPage::growNearEnd);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, &NotesPage::growNearEnd);
    connect(&m_store, &NotesStore::notesChanged, this, &NotesPage::notesChanged);
    connect(&m_state, &DashboardState::selectedNoteIDChanged, this, &NotesPage::syncRows);
    connect(&m_state, &DashboardState::selectedNoteIDChanged, this, &NotesPage::syncSelection);
    connect(&m_voice, &VoiceNoteControl::changed, this, &NotesPage::syncVoice);
    syncVoice();
    syncRows();
    syncSelection();
}

int NotesPage::sideBySideWidth() {
    return kSidePadding * 2 + kListIdealWidth + kSpacing + kEditorIdealWidth;
}

bool NotesPage::isSideBySide() const {
    return m_arrangement->direction() == QBoxLayout::LeftToRight;
}

void NotesPage::applyLayout(int width) {
    const bool side = width >= sideBySideWidth();
    if (side == isSideBySide()) {
        return;
    }
    if (side) {
        m_arrangement->setDirection(QBoxLayout::LeftToRight);
        m_listCard->setMinimumHeight(0);
        // Never narrower than its buttons need.
        m_listCard->setMaximumSize(std::max(kListIdealWidth, m_listCard->minimumSizeHint().width()),
                                   QWIDGETSIZE_MAX);
        m_editor->setMinimumHeight(0);
    } else {
        m_arrangement->setDirection(QBoxLayout::TopToBottom);
        m_listCard->setMaximumWidth(QWIDGETSIZE_MAX);
        m_listCard->setFixedHeight(kStackedListHeight);
        m_editor->setMinimumHeight(kStackedEditorHeight);
    }
    m_arrangement->setStretch(0, 0);
    m_arrangement->setStretch(1, 1);
}

void NotesPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applyLayout(width());
}

void NotesPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_shownOnce = true;
    if (m_rowsStale) {
        syncRows();
    }
    m_state.setSelectedNoteID(NotesRules::selectionOnShow(m_state.selectedNoteID(), m_store.notes()));
}

void NotesPage::notesChanged() {
    syncRows();
    if (isVisible()) {
        m_state.setSelectedNoteID(
            NotesRules::selectionAfterChange(m_state.selectedNoteID(), m_store.notes()));
    }
}

void NotesPage::syncSelection() {
    m_deleteButton->setEnabled(m_state.selectedNoteID().has_value());
}

void NotesPage::syncRows() {
    // A thousand rows cost time to build: a hidden page catches up when it is shown.
    if (!isVisible()) {
        m_rowsStale = true;
        return;
    }
    m_rowsStale = false;
    const QList<NoteEntry>& notes = m_store.notes();
    const std::optional<QUuid> selected = m_state.selectedNoteID();
    // Rows exist for the first notes only, a batch more as the list is scrolled near its end.
    m_built = qMin(notes.size(), qMax(m_built, kRowBatch));
    QList<QUuid> order;
    order.reserve(m_built);
    QHash<QUuid, QWidget*> kept;
    QSet<QWidget*> made;
    for (qsizetype i = 0; i < m_built; ++i) {
        const NoteEntry& note = notes.at(i);
        auto* row = static_cast<NoteRow*>(m_rows.value(note.id));
        if (!row) {
            row = new NoteRow(m_scroll->widget());
            row->setProperty("noteId", note.id);
            const QUuid id = note.id;
            row->activated = [this, id] { m_state.setSelectedNoteID(id); };
            made.insert(row);
        }
        row->show(note, selected == note.id);
        kept.insert(note.id, row);
        order.append(note.id);
    }
    // A deleted note's row goes after the current event: it may be the row whose event led here.
    for (auto it = m_rows.begin(); it != m_rows.end(); ++it) {
        if (!kept.contains(it.key())) {
            m_rowsLayout->removeWidget(it.value());
            discardLater(it.value());
        }
    }
    if (order != m_order) {
        // Only rows out of place move (a new note on top is one insertion, not a thousand).
        for (int i = 0; i < order.size(); ++i) {
            QWidget* row = kept.value(order.at(i));
            const QLayoutItem* item = m_rowsLayout->itemAt(i);
            if (item && item->widget() == row) {
                continue;
            }
            if (!made.contains(row)) {
                m_rowsLayout->removeWidget(row);
            }
            m_rowsLayout->insertWidget(i, row);
        }
    }
    m_rows = kept;
    m_order = order;
    m_empty->setVisible(notes.isEmpty());
    m_scroll->setVisible(!notes.isEmpty());
}

void NotesPage::growNearEnd() {
    if (m_rowsStale || m_built >= m_store.notes().size()) {
        return;
    }
    const QScrollBar* bar = m_scroll->verticalScrollBar();
    if (bar->maximum() - bar->value() > 2 * m_scroll->viewport()->height()) {
        return;
    }
    m_built = qMin(m_store.notes().size(), m_built + kRowBatch);
    syncRows();
}

void NotesPage::syncVoice() {
    const bool recording =
        NotesRules::isRecordingVoiceNote(m_voice.recorderIsRecording(), m_voice.activeMode());
    m_voiceButton->setText(NotesRules::voiceNoteButtonLabel(recording));
    m_voiceButton->setProperty("recording", recording);
    static_cast<DashboardPrimaryButton*>(m_voiceButton)
        ->setTint(recording ? DashboardPalette::destructiveColor() : DashboardPalette::accentColor());
    const std::optional<QString> summary = m_voice.lastRecordingSummary();
    m_summary->setText(DisplayText::clip(summary.value_or(QString()), DisplayText::kParagraphBudget));
    m_summary->setVisible(summary.has_value());
}

void NotesPage::createNote() {
    // The store inserts it on top, logs "Note created id=… title=New Note" and saves.
    const NoteEntry note = m_store.createNote(NotesRules::newNoteTitle, QString(), Clock::current().now());
    m_state.setSelectedNoteID(note.id);
}

void NotesPage::deleteSelectedNote() {
    const std::optional<QUuid> selected = m_state.selectedNoteID();
    if (!selected) {
        return;
    }
    m_store.deleteNote(*selected);
    m_state.setSelectedNoteID(NotesRules::selectionAfterDelete(m_store.notes()));
}

void NotesPage::pressVoiceNote() {
    runVoiceNote();
}

QCoro::Task<> NotesPage::runVoiceNote() {
    QPointer<VoiceNoteControl> voice(&m_voice);
    if (NotesRules::isRecordingVoiceNote(voice->recorderIsRecording(), voice->activeMode())) {
        co_await voice->stopRecording();
    } else {
        co_await voice->startRecording(RecordingMode::Note, OutputMode::Paste);
    }
}
