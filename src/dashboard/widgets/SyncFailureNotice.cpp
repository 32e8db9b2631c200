#include "SyncFailureNotice.h"

#include "DashboardLook.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QColor kTint{0xC2, 0x41, 0x0C};
const QColor kFill{0xFF, 0xF4, 0xEC};
const QColor kOutline{0xF3, 0xC6, 0xA8};

// The warning mark drawn before the texts: a triangle with an exclamation mark.
class WarningMark : public QWidget {
public:
    explicit WarningMark(QWidget* parent) : QWidget(parent) { setFixedSize(22, 22); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath triangle;
        triangle.moveTo(11, 2);
        triangle.lineTo(21, 20);
        triangle.lineTo(1, 20);
        triangle.closeSubpath();
        painter.setPen(QPen(kTint, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(triangle);
        painter.drawLine(QPointF(11, 8), QPointF(11, 13.5));
        painter.drawPoint(QPointF(11, 16.8));
    }
};

} // namespace

SyncFailureNotice::SyncFailureNotice(CloudSyncFailures* source, QWidget* parent)
    : QWidget(parent), m_source(source) {
    setObjectName(QStringLiteral("syncFailureNotice"));
    setAttribute(Qt::WA_StyledBackground, false);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 14, 12);
    row->setSpacing(12);
    row->addWidget(new WarningMark(this), 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    m_text = makeLabel(QString(), DashboardFonts::font(13, QFont::DemiBold), kTint, this);
    m_text->setObjectName(QStringLiteral("syncFailureText"));
    m_text->setWordWrap(true);
    m_advice = makeLabel(QString(), DashboardFonts::font(12), DashboardPalette::bodyColor(), this);
    m_advice->setObjectName(QStringLiteral("syncFailureAdvice"));
    m_advice->setWordWrap(true);
    texts->addWidget(m_text);
    texts->addWidget(m_advice);
    row->addLayout(texts, 1);

    m_retry = new DashboardSecondaryButton(QStringLiteral("Try Again"), kTint, this);
    m_retry->setObjectName(QStringLiteral("syncRetryButton"));
    row->addWidget(m_retry, 0, Qt::AlignVCenter);
    connect(m_retry, &QPushButton::clicked, this, [this] {
        if (m_source) {
            m_source->retryNow();
        }
    });

    if (m_source) {
        connect(m_source, &CloudSyncFailures::failureChanged, this, &SyncFailureNotice::sync);
    }
    sync();
}

QString SyncFailureNotice::text() const {
    return m_text->text();
}

QString SyncFailureNotice::advice() const {
    return m_advice->text();
}

void SyncFailureNotice::sync() {
    const QString failure = m_source ? m_source->failureText() : QString();
    const QString advice = m_source ? m_source->failureAdvice() : QString();
    m_text->setText(failure);
    m_advice->setText(advice);
    m_advice->setVisible(!advice.isEmpty());
    m_retry->setVisible(m_source && m_source->canRetry());
    setAccessibleName(failure);
    setAccessibleDescription(advice);
    if (failure.isEmpty()) {
        hide();
    } else if (parentWidget()) {
        show();
    } // else: not hidden, so it shows with the page it is placed on
}

void SyncFailureNotice::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(shape, kFill);
    painter.setPen(QPen(kOutline, 1));
    painter.drawPath(shape);
}
