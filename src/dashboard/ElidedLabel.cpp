#include "ElidedLabel.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

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
    updateGeometry();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    m_color = color;
    update();
}

namespace {
// `text` wrapped to `width` at word boundaries (anywhere inside a word wider than the line), at most
// `maxLines` lines (0: all), the last kept line cut with "…" when text remains.
QStringList wrappedLines(const QString& source, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (source.isEmpty() || width <= 0) {
        return lines;
    }
    const QFontMetrics metrics(font);
    QString text = source;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font);
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
        if (maxLines > 0 && lines.size() == maxLines - 1) {
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
} // namespace

QStringList ElidedLabel::displayedLines(int width) const {
    return wrappedLines(m_text, font(), width, m_maxLines);
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

ElidingLabel::ElidingLabel(int maxLines, QWidget* parent) : QLabel(parent), m_maxLines(qMax(0, maxLines)) {
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, m_maxLines == 1 ? QSizePolicy::Fixed : QSizePolicy::Preferred);
    policy.setHeightForWidth(m_maxLines != 1);
    setSizePolicy(policy);
}

QStringList ElidingLabel::linesFor(int width) const {
    const QMargins margins = contentsMargins();
    return wrappedLines(text(), font(), width - margins.left() - margins.right(), m_maxLines);
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
