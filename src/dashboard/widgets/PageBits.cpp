#include "PageBits.h"

#include "DashboardLook.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace PageBits {

QFont font(int pixelSize, QFont::Weight weight, const QString& family) {
    // The dashboard's text face; a serif family asks for its serif design.
    const bool serif = family.contains(QLatin1String("Serif"), Qt::CaseInsensitive);
    return DashboardFonts::font(pixelSize, weight,
                                serif ? DashboardFonts::Design::Serif : DashboardFonts::Design::Default);
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font);
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, color);
    result->setPalette(palette);
    return result;
}

QFrame* card(const QString& objectName, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(objectName);
    // The surface card's fill and outline.
    frame->setStyleSheet(QStringLiteral("QFrame#%1 { background: #F7FAFE; border: 1px solid "
                                        "rgba(0,0,0,0.045); border-radius: 18px; }")
                             .arg(objectName));
    return frame;
}

QIcon icon(const QString& symbol, const QColor& color) {
    constexpr int size = 32;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    if (symbol == QLatin1String("plus")) {
        painter.drawLine(QPointF(16, 6), QPointF(16, 26));
        painter.drawLine(QPointF(6, 16), QPointF(26, 16));
    } else if (symbol == QLatin1String("xmark")) {
        painter.drawLine(QPointF(8, 8), QPointF(24, 24));
        painter.drawLine(QPointF(24, 8), QPointF(8, 24));
    } else if (symbol == QLatin1String("pencil")) {
        QPainterPath path;
        path.moveTo(7, 25);
        path.lineTo(9, 19);
        path.lineTo(21, 7);
        path.lineTo(25, 11);
        path.lineTo(13, 23);
        path.closeSubpath();
        painter.drawPath(path);
        painter.drawLine(QPointF(18, 10), QPointF(22, 14));
    } else if (symbol == QLatin1String("trash")) {
        painter.drawLine(QPointF(6, 9), QPointF(26, 9));
        painter.drawLine(QPointF(13, 9), QPointF(13, 6));
        painter.drawLine(QPointF(13, 6), QPointF(19, 6));
        painter.drawLine(QPointF(19, 6), QPointF(19, 9));
        painter.drawRoundedRect(QRectF(9, 9, 14, 17), 2, 2);
        painter.drawLine(QPointF(14, 13), QPointF(14, 22));
        painter.drawLine(QPointF(18, 13), QPointF(18, 22));
    } else if (symbol == QLatin1String("mic")) {
        painter.drawRoundedRect(QRectF(12, 5, 8, 14), 4, 4);
        painter.drawArc(QRectF(8, 10, 16, 14), 180 * 16, 180 * 16);
        painter.drawLine(QPointF(16, 24), QPointF(16, 28));
    }
    painter.end();
    return QIcon(pixmap);
}

// Kept for buttons that cannot be a DashboardPrimaryButton; the same colours and corners.
QString primaryButtonStyle(const QColor& tint) {
    return QStringLiteral("QPushButton { color: white; background: %1; border: none; border-radius: 10px; "
                          "padding: 6px 10px; font-weight: 600; }"
                          "QPushButton:pressed { background: %2; }"
                          "QPushButton:disabled { background: rgba(46,99,219,0.35); }")
        .arg(tint.name(), tint.darker(115).name());
}

QString secondaryButtonStyle() {
    return QStringLiteral("QPushButton { color: #2E63DB; background: white; border: 1px solid "
                          "rgba(46,99,219,0.22); border-radius: 10px; padding: 6px 10px; font-weight: 600; }"
                          "QPushButton:pressed { background: rgba(255,255,255,0.92); }"
                          "QPushButton:disabled { color: rgba(46,99,219,0.4); }");
}

} // namespace PageBits
