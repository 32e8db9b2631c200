#include "ElidedLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

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
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    m_color = color;
    update();
}

QStringList ElidedLabel::displayedLines(int width) const {
    QStringList lines;
    if (m_text.isEmpty() || width <= 0) {
        return lines;
    }
    const QFontMetrics metrics(font());
    QString text = m_text;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            // The last allowed line takes the rest, cut to the width.
            const QString rest = text.mid(line.textStart()).replace(QChar::LineSeparator, QLatin1Char(' '));
            lines << metrics.elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

bool ElidedLabel::isElided(int width) const {
    const QStringList lines = displayedLines(width);
    return !lines.isEmpty() && lines.last().endsWith(QChar(0x2026));
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const int width = qMin(metrics.horizontalAdvance(m_text), 400);
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
