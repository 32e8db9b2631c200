#include "SettingsRow.h"

#include "DashboardLook.h"
#include "DashboardState.h"
#include "PageBits.h"
#include "SymbolIcons.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

using namespace SettingsRules;

QWidget* settingsSectionHeader(const QString& title, const QString& body) {
    auto* header = new QWidget;
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(
        makeLabel(title, DashboardFonts::rounded(17, QFont::DemiBold), DashboardPalette::titleColor()));
    QLabel* text = makeLabel(body, DashboardFonts::font(13), DashboardPalette::mutedColor());
    text->setWordWrap(true);
    layout->addWidget(text);
    return header;
}

SettingsGroupCard::SettingsGroupCard(const QString& title, const QString& body, QWidget* parent)
    : SurfaceCard(parent) {
    contentLayout()->setSpacing(16);
    contentLayout()->addWidget(settingsSectionHeader(title, body));
}

QWidget* settingsAccessoryBox(QBoxLayout*& layout, int direction, int spacing) {
    auto* box = new QWidget;
    box->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    box->setMinimumWidth(1);
    layout = new QBoxLayout(QBoxLayout::Direction(direction), box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return box;
}

QWidget* settingsAccessory(QWidget* control) {
    QBoxLayout* layout = nullptr;
    QWidget* box = settingsAccessoryBox(layout, QBoxLayout::LeftToRight, 0);
    layout->addWidget(control);
    return box;
}

QWidget* settingsSegments(const QString& objectName, const QList<SettingsRules::Option>& options, int width,
                          QButtonGroup* group) {
    auto* segments = new QWidget;
    segments->setObjectName(objectName);
    segments->setFixedWidth(width);
    // One control: a light track with the chosen segment raised on it (drawn by the window's style sheet).
    segments->setProperty(DashboardLook::segmentsProperty, true);
    segments->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(segments);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    // Not exclusive: a stored value outside the options shows no segment.
    group->setExclusive(false);
    for (qsizetype i = 0; i < options.size(); ++i) {
        auto* button = new QPushButton(options.at(i).label);
        button->setCheckable(true);
        button->setObjectName(options.at(i).value);
        group->addButton(button, int(i));
        layout->addWidget(button);
    }
    return segments;
}

namespace {

// The info icon of a row with help: its whole 18 x 18 square is the hover area.
class HelpIcon final : public QWidget {
public:
    HelpIcon(DashboardState& state, QString rowID, QWidget* parent)
        : QWidget(parent), m_state(state), m_rowID(std::move(rowID)) {
        setObjectName(QStringLiteral("helpIcon"));
        setFixedSize(18, 18);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(new SymbolView(QStringLiteral("info.circle"), 13, QColor(46, 99, 219), this));
    }

protected:
    void enterEvent(QEnterEvent* event) override {
        m_state.setActiveSettingsHelpID(helpAfterEnter(m_state.activeSettingsHelpID(), m_rowID));
        QWidget::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        m_state.setActiveSettingsHelpID(helpAfterLeave(m_state.activeSettingsHelpID(), m_rowID));
        QWidget::leaveEvent(event);
    }

private:
    DashboardState& m_state;
    QString m_rowID;
};

} // namespace

SettingsRow::SettingsRow(DashboardState& state, const QString& title, const QString& subtitle,
                         const std::optional<QString>& helpText, QWidget* accessory, QWidget* parent)
    : QWidget(parent), m_rowID(title), m_helpText(helpText), m_accessory(accessory) {
    setObjectName(title);
    m_text = new QWidget(this);
    auto* text = new QVBoxLayout(m_text);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(3);
    m_title = PageBits::label(title, PageBits::font(14, QFont::DemiBold), QColor(36, 36, 41));
    m_subtitle = PageBits::label(subtitle, PageBits::font(12), QColor(115, 115, 125));
    m_subtitle->setWordWrap(true);
    auto* titleLine = new QHBoxLayout;
    titleLine->setContentsMargins(0, 0, 0, 0);
    titleLine->setSpacing(6);
    titleLine->addWidget(m_title);
    if (m_helpText) {
        m_helpIcon = new HelpIcon(state, m_rowID, m_text);
        titleLine->addWidget(m_helpIcon);
    }
    titleLine->addStretch(1);
    // The title and subtitle stay together, centred in a row made taller by its control.
    text->addStretch(1);
    text->addLayout(titleLine);
    text->addWidget(m_subtitle);
    text->addStretch(1);
    m_layout = new QBoxLayout(QBoxLayout::LeftToRight, this);
    m_layout->setContentsMargins(14, 12, 14, 12);
    m_layout->setSpacing(16);
    m_layout->addWidget(m_text, 1);
    m_layout->addWidget(accessory, 0);
}

QString SettingsRow::subtitle() const {
    return m_subtitle->text();
}

void SettingsRow::setSubtitle(const QString& subtitle) {
    if (m_subtitle->text() != subtitle)
        m_subtitle->setText(subtitle);
}

void SettingsRow::resizeEvent(QResizeEvent* event) {
    arrange(event->size().width());
    QWidget::resizeEvent(event);
}

void SettingsRow::arrange(int width) {
    // Side by side, the title must fit on its line next to the control and a spacer of 12, and the
    // subtitle must keep a readable measure (not a word or two a line).
    constexpr int kSubtitleMeasure = 240;
    const int icon = m_helpIcon ? 6 + m_helpIcon->width() : 0;
    const int subtitle =
        m_subtitle->text().isEmpty()
            ? 0
            : std::min(m_subtitle->fontMetrics().horizontalAdvance(m_subtitle->text()), kSubtitleMeasure);
    const int text = std::max(m_title->sizeHint().width() + icon + 12, subtitle);
    const int need = 28 + text + 16 + m_accessory->sizeHint().width();
    const RowArrangement next = rowArrangement(width, need, m_arrangement);
    if (next == m_arrangement)
        return;
    m_arrangement = next;
    m_layout->setDirection(next == RowArrangement::Horizontal ? QBoxLayout::LeftToRight
                                                              : QBoxLayout::TopToBottom);
    m_layout->setSpacing(next == RowArrangement::Horizontal ? 16 : 12);
}

void SettingsRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(path, QColor(255, 255, 255, 158));
    painter.setPen(QPen(QColor(0, 0, 0, 10), 1));
    painter.drawPath(path);
}
