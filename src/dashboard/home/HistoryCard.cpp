#include "HistoryCard.h"

#include "Clock.h"
#include "DashboardClipboard.h"
#include "DashboardState.h"
#include "DisplayText.h"
#include "FitToWidth.h"
#include "HomeRules.h"
#include "Scheduler.h"
#include "SymbolIcons.h"
#include "TranscriptionHistoryStore.h"
#include "WidgetLifetime.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
using namespace DashboardPalette;

// The 44 px copy button on its white tile.
class CopyButton : public QPushButton {
public:
    explicit CopyButton(QWidget* parent) : QPushButton(parent) {
        setObjectName(QStringLiteral("historyCopyButton"));
        setFixedSize(44, 44);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QStringLiteral("Copy Transcript"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 10, 10);
        painter.fillPath(path, white(isDown() ? 0.6 : 0.82));
        painter.drawPixmap(QPointF(13.5, 13.5),
                           SymbolIcons::pixmap(QStringLiteral("doc.on.doc"), QSize(17, 17), bodyColor(),
                                               devicePixelRatioF()));
    }
};

// The hover label above a copy button.
class HoverBubble : public QLabel {
public:
    explicit HoverBubble(QWidget* parent) : QLabel(parent) {
        setObjectName(QStringLiteral("copyBubble"));
        setTextFormat(Qt::PlainText);
        setText(QStringLiteral("Copy Transcript"));
        setFont(DashboardFonts::font(11, QFont::DemiBold));
        setContentsMargins(8, 5, 8, 5);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        adjustSize();
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
        painter.fillPath(path, black(0.72));
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

// The copy button's area: entering it names the row's entry as hovered, leaving clears the hover.
class CopyArea : public QWidget {
public:
    CopyArea(const QUuid& id, DashboardState& state, QWidget* parent)
        : QWidget(parent), m_id(id), m_state(state) {
        setObjectName(QStringLiteral("historyCopyArea"));
        button = new CopyButton(this);
        copied = makeLabel(QStringLiteral("Copied"), DashboardFonts::font(12, QFont::DemiBold), accentColor(),
                           this);
        copied->setObjectName(QStringLiteral("historyCopied"));
        copied->setAccessibleName(QStringLiteral("Copied"));
        copied->hide();
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        layout->addStretch(1);
        layout->addWidget(copied, 0, Qt::AlignVCenter);
        layout->addWidget(button, 0, Qt::AlignTop | Qt::AlignRight);
    }
    CopyButton* button;
    // "Copied", shown for a moment after each copy.
    QLabel* copied;

protected:
    void enterEvent(QEnterEvent*) override { m_state.setHoveredHistoryID(m_id); }
    void leaveEvent(QEvent*) override { m_state.setHoveredHistoryID(std::nullopt); }

private:
    QUuid m_id;
    DashboardState& m_state;
};

QLabel* timeLabel(const TranscriptionHistoryEntry& entry, QWidget* parent) {
    QLabel* label = makeLabel(HomeRules::historyTime(entry.timestamp),
                              DashboardFonts::font(12, QFont::Medium), mutedColor(), parent);
    label->setObjectName(QStringLiteral("historyTime"));
    return label;
}

QWidget* rowBody(const TranscriptionHistoryEntry& entry, QWidget* parent, QList<QLabel*>& metaLabels) {
    auto* body = new QWidget(parent);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    // The whole transcript is what a click copies; the card shows its start.
    QLabel* text = makeLabel(DisplayText::clip(entry.text, DisplayText::kParagraphBudget),
                             DashboardFonts::font(14), bodyColor(), body);
    text->setObjectName(QStringLiteral("historyText"));
    text->setWordWrap(true);
    column->addWidget(text);
    QLabel* meta = makeLabel(HomeRules::historyMeta(entry, Clock::current().now()),
                             DashboardFonts::font(11, QFont::Medium), mutedColor(), body);
    meta->setObjectName(QStringLiteral("historyMeta"));
    metaLabels << meta;
    meta->setWordWrap(true);
    column->addWidget(meta);
    return body;
}

// One transcript: wide (time column, body, button column) or narrow (time and button over the body),
// with the divider below it.
class HistoryRow : public QWidget {
public:
    // How long "Copied" shows after a copy.
    static constexpr std::chrono::milliseconds kCopiedFor{1500};

    HistoryRow(const TranscriptionHistoryEntry& entry, DashboardState& state, QWidget* parent)
        : QWidget(parent), m_entry(entry), m_text(entry.text) {
        setObjectName(QStringLiteral("historyRow"));
        setProperty("entryId", entry.id);
        setCursor(Qt::PointingHandCursor);
        auto* fit = new FitToWidth(this);
        fit->setObjectName(QStringLiteral("historyRowLayouts"));

        auto* wide = new QWidget();
        auto* wideRow = new QHBoxLayout(wide);
        wideRow->setContentsMargins(0, 0, 0, 0);
        wideRow->setSpacing(0);
        QLabel* wideTime = timeLabel(entry, wide);
        wideTime->setFixedWidth(84 + 28);
        wideTime->setContentsMargins(14, 12, 14, 12);
        wideTime->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        wideRow->addWidget(wideTime, 0, Qt::AlignTop);
        QWidget* wideBody = rowBody(entry, wide, m_metaLabels);
        wideBody->setContentsMargins(14, 12, 14, 12);
        wideRow->addWidget(wideBody, 1);
        auto* wideCopy = new CopyArea(entry.id, state, wide);
        wideCopy->setFixedWidth(128);
        wideCopy->setContentsMargins(0, 10, 12, 0);
        wideRow->addWidget(wideCopy, 0, Qt::AlignTop);
        fit->addAlternative(wide, 112 + 128 + 260);

        auto* narrow = new QWidget();
        auto* narrowColumn = new QVBoxLayout(narrow);
        narrowColumn->setContentsMargins(14, 12, 14, 12);
        narrowColumn->setSpacing(10);
        auto* top = new QHBoxLayout();
        top->setSpacing(10);
        top->addWidget(timeLabel(entry, narrow));
        top->addStretch(1);
        top->addSpacing(8);
        auto* narrowCopy = new CopyArea(entry.id, state, narrow);
        top->addWidget(narrowCopy);
        narrowColumn->addLayout(top);
        narrowColumn->addWidget(rowBody(entry, narrow, m_metaLabels));
        fit->addAlternative(narrow, 0);

        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(fit);
        m_divider = makeDivider(black(0.08), this);
        m_divider->setObjectName(QStringLiteral("historyDivider"));
        layout->addWidget(m_divider);
        for (CopyArea* area : {wideCopy, narrowCopy}) {
            copyButtons << area->button;
            m_copiedLabels << area->copied;
            QObject::connect(area->button, &QPushButton::clicked, this, [this] { copy(); });
        }
    }
    ~HistoryRow() override { m_copiedTimer.cancel(); }

    QList<QPushButton*> copyButtons;

    const QUuid& id() const { return m_entry.id; }
    void setDividerVisible(bool visible) { m_divider->setVisible(visible); }
    // The relative time moves on: a kept row re-reads it.
    void refreshMeta(const QDateTime& now) {
        const QString meta = HomeRules::historyMeta(m_entry, now);
        for (QLabel* label : m_metaLabels) {
            if (label->text() != meta) {
                label->setText(meta);
            }
        }
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            copy();
        }
    }

private:
    // Copies the transcript and says so beside the copy button for a moment; another copy restarts it.
    void copy() {
        copyToClipboard(m_text);
        m_copiedTimer.cancel();
        for (QLabel* label : m_copiedLabels) {
            label->show();
        }
        m_copiedTimer = Scheduler::current().singleShot(kCopiedFor, [this] {
            for (QLabel* label : m_copiedLabels) {
                label->hide();
            }
        });
    }

    TranscriptionHistoryEntry m_entry;
    QString m_text;
    QList<QLabel*> m_metaLabels;
    QList<QLabel*> m_copiedLabels;
    QFrame* m_divider;
    TimerHandle m_copiedTimer;
};

QLabel* dayHeading(QWidget* parent) {
    QLabel* heading = makeLabel(QString(), DashboardFonts::font(12, QFont::DemiBold), mutedColor(), parent);
    heading->setObjectName(QStringLiteral("historyHeading"));
    return heading;
}

} // namespace

HistoryCard::HistoryCard(TranscriptionHistoryStore& store, DashboardState& state, QWidget* parent)
    : SurfaceCard(parent), m_store(store), m_state(state) {
    setObjectName(QStringLiteral("historyCard"));
    contentLayout()->setSpacing(14);
    m_emptyHeading = dayHeading(this);
    m_emptyHeading->setText(QStringLiteral("Today").toUpper());
    contentLayout()->addWidget(m_emptyHeading);
    m_empty =
        makeLabel(QStringLiteral("No saved transcripts yet."), DashboardFonts::font(13), mutedColor(), this);
    m_empty->setObjectName(QStringLiteral("historyEmpty"));
    contentLayout()->addWidget(m_empty);
    m_days = new QWidget(this);
    m_days->setObjectName(QStringLiteral("historyDays"));
    auto* days = new QVBoxLayout(m_days);
    days->setContentsMargins(0, 0, 0, 0);
    days->setSpacing(14);
    contentLayout()->addWidget(m_days);

    m_bubble = new HoverBubble(this);
    connect(&m_state, &DashboardState::hoveredHistoryIDChanged, this, &HistoryCard::syncBubble);
    connect(&m_store, &TranscriptionHistoryStore::entriesChanged, this, &HistoryCard::rebuild);
    rebuild();
}

HistoryCard::~HistoryCard() {
    m_ticks.cancel();
}

void HistoryCard::showEvent(QShowEvent* event) {
    SurfaceCard::showEvent(event);
    // The relative times and the day headings move on while the card is shown, once a minute; while it
    // is hidden nothing wakes up, and showing it again brings them up to date at once.
    rebuild();
    m_ticks.cancel();
    m_ticks = Scheduler::current().repeating(kRefreshInterval, [this] { rebuild(); });
}

void HistoryCard::hideEvent(QHideEvent* event) {
    SurfaceCard::hideEvent(event);
    m_ticks.cancel();
}

void HistoryCard::syncBubble() {
    const auto hovered = m_state.hoveredHistoryID();
    m_bubble->hide();
    if (!hovered) {
        return;
    }
    auto* row = static_cast<HistoryRow*>(m_rows.value(*hovered));
    if (!row) {
        return;
    }
    for (QPushButton* button : row->copyButtons) {
        if (button->isVisibleTo(this)) {
            const QPoint topRight = button->mapTo(this, QPoint(button->width(), 0));
            m_bubble->move(topRight.x() - m_bubble->width() - 4 + 4, topRight.y() - 28);
            m_bubble->show();
            m_bubble->raise();
        }
    }
}

void HistoryCard::rebuild() {
    // One heading and list per day, newest day first. Rows of entries still shown are kept (a new entry
    // costs one new row, not twelve), and so are the lists of days still shown; what is no longer shown
    // goes after the current event.
    const QDateTime now = Clock::current().now();
    const QList<TranscriptionHistoryEntry>& entries = m_store.entries();
    const qsizetype shown = qMin<qsizetype>(entries.size(), kShownEntries);

    auto* daysLayout = static_cast<QVBoxLayout*>(m_days->layout());
    while (QLayoutItem* item = daysLayout->takeAt(0)) {
        delete item;
    }
    QHash<QDate, Day> previousDays;
    std::swap(previousDays, m_dayGroups);
    for (const Day& day : std::as_const(previousDays)) {
        while (QLayoutItem* item = day.list->layout()->takeAt(0)) {
            delete item;
        }
    }
    QHash<QUuid, QWidget*> previousRows;
    std::swap(previousRows, m_rows);

    QHash<QDate, HistoryRow*> lastOfDay;
    for (qsizetype i = 0; i < shown; ++i) {
        const TranscriptionHistoryEntry& entry = entries[i];
        const QDate date = HomeRules::historyDay(entry.timestamp);
        if (!m_dayGroups.contains(date)) {
            Day day = previousDays.take(date);
            if (!day.group) {
                day = makeDay();
            }
            const QString heading = HomeRules::historyDayHeading(entry.timestamp, now).toUpper();
            if (day.heading->text() != heading) {
                day.heading->setText(heading);
            }
            m_dayGroups.insert(date, day);
            daysLayout->addWidget(day.group);
            day.group->show();
        }
        const Day& day = m_dayGroups[date];
        auto* row = static_cast<HistoryRow*>(previousRows.take(entry.id));
        if (row) {
            row->refreshMeta(now);
        } else {
            row = new HistoryRow(entry, m_state, day.list);
        }
        day.list->layout()->addWidget(row);
        row->setDividerVisible(true);
        row->show();
        lastOfDay.insert(date, row);
        m_rows.insert(entry.id, row);
    }
    for (HistoryRow* last : std::as_const(lastOfDay)) {
        last->setDividerVisible(false);
    }
    for (QWidget* row : std::as_const(previousRows)) {
        discardLater(row);
    }
    for (const Day& day : std::as_const(previousDays)) {
        discardLater(day.group);
    }
    m_emptyHeading->setVisible(shown == 0);
    m_empty->setVisible(shown == 0);
    m_days->setVisible(shown > 0);
    if (const auto hovered = m_state.hoveredHistoryID(); hovered && !m_rows.contains(*hovered)) {
        m_bubble->hide();
    }
}

HistoryCard::Day HistoryCard::makeDay() {
    Day day;
    day.group = new QWidget(m_days);
    day.group->setObjectName(QStringLiteral("historyDay"));
    auto* column = new QVBoxLayout(day.group);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    day.heading = dayHeading(day.group);
    column->addWidget(day.heading);
    day.list = new RoundedBackground(16, white(0.55), black(0.04), day.group);
    day.list->setObjectName(QStringLiteral("historyList"));
    auto* rows = new QVBoxLayout(day.list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    column->addWidget(day.list);
    return day;
}
