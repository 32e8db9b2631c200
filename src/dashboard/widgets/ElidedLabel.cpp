#include "ElidedLabel.h"

#include "DisplayText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

#include <cmath>

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

ElidingLabel::ElidingLabel(int maxLines, QWidget* parent) : QLabel(parent), m_maxLines(qMax(0, maxLines)) {
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, m_maxLines == 1 ? QSizePolicy::Fixed : QSizePolicy::Preferred);
    policy.setHeightForWidth(m_maxLines != 1);
    setSizePolicy(policy);
}

QStringList ElidingLabel::linesFor(int width) const {
    const QMargins margins = contentsMargins();
    // No limit still means a bounded text: a label never lays out more than a page of lines.
    constexpr int kMostLines = 200;
    return DisplayText::fitLines(text(), font(), width - margins.left() - margins.right(),
                                 m_maxLines > 0 ? m_maxLines : kMostLines);
}

QStringList ElidingLabel::displayedLines() const {
    return linesFor(width());
}

bool ElidingLabel::isElided() const {
    const QStringList lines = displayedLines();
    return !lines.isEmpty() && lines.last().endsWith(QChar(0x2026)) && !text().endsWith(QChar(0x2026));
}

QSize ElidingLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    // Rounded up, so the text laid out at that width keeps to one line.
    int width = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(
                    QString(text()).replace(QLatin1Char('\n'), QLatin1Char(' '))))) +
                1;
    width += margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize ElidingLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(QStringLiteral("Wi\u2026")) + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

int ElidingLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int lines = m_maxLines == 1 ? 1 : int(qMax<qsizetype>(1, linesFor(width).size()));
    return (lines - 1) * fontMetrics().lineSpacing() + fontMetrics().height() + margins.top() +
           margins.bottom();
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QStringList lines = displayedLines();
    const QRect room = contentsRect();
    const int lineSpacing = fontMetrics().lineSpacing();
    const int height = lines.isEmpty() ? 0 : (int(lines.size()) - 1) * lineSpacing + fontMetrics().height();
    // One line follows the label's vertical alignment; wrapped lines start at the top.
    int top = room.top();
    if (m_maxLines == 1 && (alignment() & Qt::AlignVCenter)) {
        top += (room.height() - height) / 2;
    } else if (m_maxLines == 1 && (alignment() & Qt::AlignBottom)) {
        top += room.height() - height;
    }
    const int horizontal = int(alignment() & Qt::AlignHorizontal_Mask);
    for (const QString& line : lines) {
        const QRect band(room.left(), top, room.width(), fontMetrics().height());
        style()->drawItemText(&painter, band, horizontal | Qt::AlignVCenter, palette(), isEnabled(), line,
                              foregroundRole());
        top += lineSpacing;
    }
}
