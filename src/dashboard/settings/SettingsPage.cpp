#include "SettingsPage.h"

#include "DashboardLook.h"
#include "DashboardState.h"
#include "InputSettingsCard.h"
#include "ModelSettingsCard.h"
#include "OutputSettingsCards.h"
#include "PageBits.h"
#include "SettingsRow.h"
#include "ShortcutSettingsCard.h"
#include "StartupSettingsCard.h"
#include "SyncFailureNotice.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

using namespace SettingsRules;

// The open row's help: white, outlined in the accent, with a soft shadow. The whole layer lets the mouse
// through, so it never blocks the controls it covers.
class SettingsHelpBubble final : public QWidget {
public:
    static constexpr int kShadow = 16;

    explicit SettingsHelpBubble(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("helpBubble"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(kShadow + 12, kShadow + 10, kShadow + 12, kShadow + 10);
        m_text = PageBits::label(QString(), PageBits::font(12, QFont::Medium), QColor(54, 71, 105));
        m_text->setObjectName(QStringLiteral("helpBubbleText"));
        m_text->setWordWrap(true);
        m_text->setFixedWidth(270);
        layout->addWidget(m_text);
        hide();
    }

    QString text() const { return m_text->text(); }
    void setText(const QString& text) {
        m_text->setText(text);
        adjustSize();
    }
    // The bubble's own rectangle, without the margin its shadow is drawn in.
    QRect bubbleRect() const { return rect().adjusted(kShadow, kShadow, -kShadow, -kShadow); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bubble = QRectF(bubbleRect()).adjusted(0.5, 0.5, -0.5, -0.5);
        // A soft shadow below: rings of falling opacity, offset downwards.
        for (int ring = kShadow; ring > 0; ring -= 2) {
            QPainterPath shade;
            shade.addRoundedRect(
                bubble.translated(0, 6).adjusted(-ring / 2.0, -ring / 2.0, ring / 2.0, ring / 2.0),
                12 + ring / 2.0, 12 + ring / 2.0);
            painter.fillPath(shade, QColor(0, 0, 0, 4));
        }
        QPainterPath path;
        path.addRoundedRect(bubble, 12, 12);
        painter.fillPath(path, Qt::white);
        painter.setPen(QPen(QColor(46, 99, 219, 61), 1));
        painter.drawPath(path);
    }

private:
    QLabel* m_text;
};

SettingsPage::SettingsPage(DashboardState& state, DashboardServices services, QWidget* parent)
    : QWidget(parent), m_state(state), m_services(services) {
    setObjectName(QStringLiteral("settingsPage"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(28, 42, 28, 28);
    stack->setSpacing(20);
    auto* header = new PageHeader(QStringLiteral("Settings"), nullptr);
    header->setObjectName(QStringLiteral("settingsHeader"));
    stack->addWidget(header);
    stack->addWidget(new SyncFailureNotice(m_services.syncFailures));
    stack->addWidget(
        new SectionIntro(QStringLiteral("Tune Quillvane to the way you work"),
                         QStringLiteral("Adjust microphone, language, models, shortcuts, and output "
                                        "behavior.")));
    stack->addWidget(new InputSettingsCard(m_state, m_services));
    stack->addWidget(new ModelSettingsCard(m_state, m_services));
    stack->addWidget(new ShortcutSettingsCard(m_state, m_services));
    stack->addWidget(new OutputSettingsCard(m_state, m_services));
    stack->addWidget(new StartupSettingsCard(m_state, m_services));
    stack->addWidget(new ResetSettingsCard(m_state, m_services));
    stack->addStretch(1);

    m_helpBubble = new SettingsHelpBubble(this);
    connect(&m_state, &DashboardState::activeSettingsHelpIDChanged, this, &SettingsPage::syncHelpBubble);
}

QWidget* SettingsPage::helpBubble() const {
    return m_helpBubble;
}

void SettingsPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The rows move when the page reflows; the bubble follows its row.
    if (m_helpBubble->isVisible())
        QMetaObject::invokeMethod(this, &SettingsPage::syncHelpBubble, Qt::QueuedConnection);
}

void SettingsPage::syncHelpBubble() {
    const std::optional<QString>& open = m_state.activeSettingsHelpID();
    SettingsRow* owner = nullptr;
    for (SettingsRow* row : findChildren<SettingsRow*>()) {
        if (bubbleVisible(open, row->rowID(), row->helpText().has_value())) {
            owner = row;
            break;
        }
    }
    if (!owner) {
        m_helpBubble->hide();
        return;
    }
    m_helpBubble->setText(*owner->helpText());
    // Below the row, indented from its text; above the row when the page ends too soon for it.
    const QRect bubble = m_helpBubble->bubbleRect();
    const QPoint text = owner->textBlock()->mapTo(this, QPoint(0, 0));
    const int rowTop = owner->mapTo(this, QPoint(0, 0)).y();
    const int rowBottom = rowTop + owner->height();
    int x = std::min(text.x() + 28, width() - bubble.right() - 8);
    int y = rowBottom + 6;
    if (y + bubble.height() > height() && rowTop - 6 - bubble.height() >= 0)
        y = rowTop - 6 - bubble.height();
    m_helpBubble->move(std::max(0, x) - bubble.left(), y - bubble.top());
    m_helpBubble->raise();
    m_helpBubble->show();
}
