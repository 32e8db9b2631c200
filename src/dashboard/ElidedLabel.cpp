#include "ElidedLabel.h"

#include "DisplayText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

ElidedLabel::ElidedLabel(int maxLines, QWidget* parent) : QWidget(parent), m_maxLines(qMax(1, maxLines)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ElidedLabel::setText(const QString& text) {
    if (m_text == text) {
        return;
    }
    m_text = text;
    m_linesWidth = -1;
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    m_color = color;
    update();
}

QStringList ElidedLabel::displayedLines(int width) const {
    if (width != m_linesWidth) {
        m_lines = DisplayText::fitLines(m_text, font(), width, m_maxLines);
        m_linesWidth = width;
    }
    return m_lines;
}

bool ElidedLabel::isElided(int width) const {
    const QStringList lines = displayedLines(width);
    return !lines.isEmpty() && lines.last().endsWith(QChar(0x2026));
}

QSize ElidedLabel::sizeHint() const {
    constexpr int kIdealWidth = 400;
    const QFontMetrics metrics(font());
    const QString start = DisplayText::clip(m_text, DisplayText::lineBudget(metrics, kIdealWidth));
    const int width = qMin(metrics.horizontalAdvance(start), kIdealWidth);
    return {width, heightForWidth(width)};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.averageCharWidth() * 4, metrics.height()};
}

int ElidedLabel::heightForWidth(int width) const {
    const QFontMetrics metrics(font());
    return int(qMax<qsizetype>(1, displayedLines(width).size())) * metrics.lineSpacing();
}

void ElidedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_linesWidth = -1;
    }
    QWidget::changeEvent(event);
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    int y = metrics.ascent();
    for (const QString& line : displayedLines(width())) {
        painter.drawText(0, y, line);
        y += metrics.lineSpacing();
    }
}
