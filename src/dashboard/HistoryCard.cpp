#include "HistoryCard.h"

#include "Clock.h"
#include "DashboardClipboard.h"
#include "DashboardState.h"
#include "FitToWidth.h"
#include "HomeRules.h"
#include "SymbolIcons.h"
#include "TranscriptionHistoryStore.h"

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
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(button, 0, Qt::AlignTop | Qt::AlignRight);
    }
    CopyButton* button;

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
    QLabel* text = makeLabel(entry.text, DashboardFonts::font(14), bodyColor(), body);
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

// One transcript: wide (time column, body, button column) or narrow (time and button over the body).
class HistoryRow : public QWidget {
public:
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
        layout->addWidget(fit);
        for (CopyArea* area : {wideCopy, narrowCopy}) {
            copyButtons << area->button;
            QObject::connect(area->button, &QPushButton::clicked, this, [this] { copyToClipboard(m_text); });
        }
    }
    QList<QPushButton*> copyButtons;

    const QUuid& id() const { return m_entry.id; }
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
            copyToClipboard(m_text);
        }
    }

private:
    TranscriptionHistoryEntry m_entry;
    QString m_text;
    QList<QLabel*> m_metaLabels;
};

} // namespace

HistoryCard::HistoryCard(TranscriptionHistoryStore& store, DashboardState& state, QWidget* parent)
    : SurfaceCard(parent), m_store(store), m_state(state) {
    setObjectName(QStringLiteral("historyCard"));
    contentLayout()->setSpacing(14);
    QLabel* heading = makeLabel(QStringLiteral("Today").toUpper(), DashboardFonts::font(12, QFont::DemiBold),
                                mutedColor(), this);
    heading->setObjectName(QStringLiteral("historyHeading"));
    contentLayout()->addWidget(heading);
    m_empty =
        makeLabel(QStringLiteral("No saved transcripts yet."), DashboardFonts::font(13), mutedColor(), this);
    m_empty->setObjectName(QStringLiteral("historyEmpty"));
    contentLayout()->addWidget(m_empty);
    m_list = new RoundedBackground(16, white(0.55), black(0.04), this);
    m_list->setObjectName(QStringLiteral("historyList"));
    auto* rows = new QVBoxLayout(m_list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    contentLayout()->addWidget(m_list);

    auto* bubble = new HoverBubble(m_list);
    connect(&m_state, &DashboardState::hoveredHistoryIDChanged, bubble, [this, bubble] {
        const auto hovered = m_state.hoveredHistoryID();
        bubble->hide();
        if (!hovered) {
            return;
        }
        for (auto* row : m_list->findChildren<HistoryRow*>(Qt::FindDirectChildrenOnly)) {
            if (row->property("entryId").toUuid() != *hovered) {
                continue;
            }
            for (QPushButton* button : row->copyButtons) {
                if (button->isVisibleTo(m_list)) {
                    const QPoint topRight = button->mapTo(m_list, QPoint(button->width(), 0));
                    bubble->move(topRight.x() - bubble->width() - 4 + 4, topRight.y() - 28);
                    bubble->show();
                    bubble->raise();
                }
            }
        }
    });
    connect(&m_store, &TranscriptionHistoryStore::entriesChanged, this, &HistoryCard::rebuild);
    rebuild();
}

void HistoryCard::rebuild() {
    // Rows of entries still shown are kept (a new entry costs one new row, not twelve).
    auto* rows = static_cast<QVBoxLayout*>(m_list->layout());
    QHash<QUuid, HistoryRow*> kept;
    auto discard = [](QWidget* widget) {
        widget->hide();
        widget->setParent(nullptr);
        widget->deleteLater();
    };
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (auto* row = dynamic_cast<HistoryRow*>(item->widget())) {
            kept.insert(row->id(), row);
        } else if (QWidget* widget = item->widget()) {
            discard(widget);
        }
        delete item;
    }
    const QDateTime now = Clock::current().now();
    const QList<TranscriptionHistoryEntry>& entries = m_store.entries();
    const qsizetype shown = qMin<qsizetype>(entries.size(), kShownEntries);
    for (qsizetype i = 0; i < shown; ++i) {
        HistoryRow* row = kept.take(entries[i].id);
        if (row) {
            row->refreshMeta(now);
        } else {
            row = new HistoryRow(entries[i], m_state, m_list);
        }
        rows->addWidget(row);
        if (i + 1 < shown) {
            QFrame* divider = makeDivider(black(0.08), m_list);
            divider->setObjectName(QStringLiteral("historyDivider"));
            rows->addWidget(divider);
            divider->show();
        }
    }
    for (HistoryRow* row : std::as_const(kept)) {
        discard(row);
    }
    m_empty->setVisible(shown == 0);
    m_list->setVisible(shown > 0);
}
