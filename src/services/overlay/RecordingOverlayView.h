#pragma once

#include "RecordingOverlayController.h"

#include <QWidget>

// The recording overlay's window: a dark pill with eight level bars while recording, and the bars with a
// spinning ring while processing. Frameless, always on top, click-through, and never focused or
// activated. It only paints what the controller tells it.
class RecordingOverlayView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 92;
    static constexpr int kHeight = 30;

    RecordingOverlayView();

    void setState(RecordingOverlayController::OverlayState state);
    void setLevel(double normalizedLevel);
    void setPhase(double phase);
    void setPillOpacity(double opacity);
    double pillOpacity() const { return m_pillOpacity; }
    // Without a compositing manager, translucent pixels show black: cut the window to the pill's shape.
    void setShapedToPill(bool shaped);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF pillRect() const;
    void updateMask();
    void paintBars(class QPainter& painter, double left, double centreY) const;
    void paintRing(class QPainter& painter, const QPointF& centre) const;

    RecordingOverlayController::OverlayState m_state = RecordingOverlayController::OverlayState::Hidden;
    double m_level = 0.0;
    double m_phase = 0.0;
    double m_pillOpacity = 0.0;
    bool m_shapedToPill = false;
};
