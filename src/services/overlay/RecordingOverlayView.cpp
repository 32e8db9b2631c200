#include "RecordingOverlayView.h"

#include "RecordingOverlayMath.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {
constexpr double kPaddingX = 12.0;
constexpr double kBarWidth = 3.0;
constexpr double kBarSpacing = 3.0;
constexpr double kBarsWidth =
    RecordingOverlayMath::kBarCount * kBarWidth + (RecordingOverlayMath::kBarCount - 1) * kBarSpacing;
constexpr double kRingSpacing = 8.0;
constexpr double kRingSize = 12.0;
constexpr double kRingLineWidth = 1.8;
constexpr double kCornerRadius = 15.0;

QColor white(double opacity) {
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, float(opacity));
}
} // namespace

// Not managed by the window manager (X11BypassWindowManagerHint): a manager would wrap the pill in a frame
// window of its own that takes the clicks meant for the window below, could give it the focus, and keeps
// it on one workspace. Unmanaged, it sits exactly where it is put, on every workspace, and the X server
// sends the clicks through its empty input shape (WindowTransparentForInput).
RecordingOverlayView::RecordingOverlayView()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                           Qt::X11BypassWindowManagerHint) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Quillvane recording overlay"));
    setFixedSize(kWidth, kHeight);
}

void RecordingOverlayView::setState(RecordingOverlayController::OverlayState state) {
    if (m_state != state) {
        m_state = state;
        updateMask();
        update();
    }
}

void RecordingOverlayView::setShapedToPill(bool shaped) {
    if (m_shapedToPill != shaped) {
        m_shapedToPill = shaped;
        updateMask();
    }
}

void RecordingOverlayView::updateMask() {
    if (!m_shapedToPill) {
        clearMask();
        return;
    }
    if (m_state == RecordingOverlayController::OverlayState::Hidden) {
        // Nothing of the window shows. (An empty region would clear the mask: use one outside it.)
        setMask(QRegion(width(), height(), 1, 1));
        return;
    }
    QPainterPath shape;
    shape.addRoundedRect(pillRect(), kCornerRadius, kCornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

QRectF RecordingOverlayView::pillRect() const {
    const bool processing = m_state == RecordingOverlayController::OverlayState::Processing;
    const double contentWidth = processing ? kBarsWidth + kRingSpacing + kRingSize : kBarsWidth;
    const double pillWidth = contentWidth + 2 * kPaddingX;
    return QRectF((width() - pillWidth) / 2.0, 0.0, pillWidth, height());
}

void RecordingOverlayView::setLevel(double normalizedLevel) {
    if (m_level != normalizedLevel) {
        m_level = normalizedLevel;
        update();
    }
}

void RecordingOverlayView::setPhase(double phase) {
    m_phase = phase;
    // Only moving parts need a repaint: rippling bars or the ring.
    if (m_level > RecordingOverlayMath::kQuietLevel ||
        m_state == RecordingOverlayController::OverlayState::Processing) {
        update();
    }
}

void RecordingOverlayView::setPillOpacity(double opacity) {
    if (m_pillOpacity != opacity) {
        m_pillOpacity = opacity;
        update();
    }
}

void RecordingOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (m_state == RecordingOverlayController::OverlayState::Hidden || m_pillOpacity <= 0.0) {
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_pillOpacity);

    const QRectF pill = pillRect();
    QPainterPath shape;
    shape.addRoundedRect(pill.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius - 0.5, kCornerRadius - 0.5);
    painter.fillPath(shape, QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.88f));
    painter.strokePath(shape, QPen(white(0.07), 1.0));

    const double centreY = pill.center().y();
    const double left = pill.left() + kPaddingX;
    paintBars(painter, left, centreY);
    if (m_state == RecordingOverlayController::OverlayState::Processing) {
        paintRing(painter, QPointF(left + kBarsWidth + kRingSpacing + kRingSize / 2.0, centreY));
    }
}

void RecordingOverlayView::paintBars(QPainter& painter, double left, double centreY) const {
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < RecordingOverlayMath::kBarCount; ++i) {
        const double barHeight = RecordingOverlayMath::barHeight(m_level, i, m_phase);
        const QRectF bar(left + i * (kBarWidth + kBarSpacing), centreY - barHeight / 2.0, kBarWidth,
                         barHeight);
        painter.setBrush(white(RecordingOverlayMath::barOpacity(m_level, i)));
        painter.drawRoundedRect(bar, kBarWidth / 2.0, kBarWidth / 2.0);
    }
}

void RecordingOverlayView::paintRing(QPainter& painter, const QPointF& centre) const {
    const double radius = (kRingSize - kRingLineWidth) / 2.0;
    const QRectF circle(-radius, -radius, 2 * radius, 2 * radius);
    painter.save();
    painter.translate(centre);
    painter.setBrush(Qt::NoBrush);

    QPen track(white(0.14), kRingLineWidth);
    track.setCapStyle(Qt::FlatCap);
    painter.setPen(track);
    painter.drawEllipse(circle);

    // The arc runs clockwise from 0.12 to 0.68 of the circle, brightening towards its head, and turns
    // with the phase. Qt's angles and conical gradients run counter-clockwise, hence the mirrored stops.
    painter.rotate(m_phase * 1.15 * 180.0 / M_PI);
    QConicalGradient gradient(QPointF(0, 0), 0.0);
    gradient.setColorAt(0.0, white(0.95));
    gradient.setColorAt(0.5, white(0.55));
    gradient.setColorAt(1.0, white(0.18));
    QPen arc(QBrush(gradient), kRingLineWidth);
    arc.setCapStyle(Qt::RoundCap);
    painter.setPen(arc);
    constexpr int kSixteenthsPerTurn = 360 * 16;
    painter.drawArc(circle, -int(0.12 * kSixteenthsPerTurn), -int((0.68 - 0.12) * kSixteenthsPerTurn));
    painter.restore();
}
