#include "DisplayText.h"

#include <QFontMetrics>
#include <QTextLayout>

namespace DisplayText {

qsizetype lineBudget(const QFontMetrics& metrics, int width) {
    // The narrowest printable glyphs ("i", "l", ".") are well above a quarter of the average width.
    const double narrowest = qMax(1.0, metrics.averageCharWidth() / 4.0);
    return qsizetype(qMax(0, width) / narrowest) + 16;
}

QString clip(const QString& text, qsizetype budget) {
    if (text.size() <= budget) {
        return text;
    }
    qsizetype end = qMax<qsizetype>(0, budget);
    if (end > 0 && text.at(end - 1).isHighSurrogate()) {
        --end;
    }
    return text.left(end) + kEllipsis;
}

QStringList fitLines(const QString& text, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (text.isEmpty() || width <= 0 || maxLines <= 0) {
        return lines;
    }
    const QFontMetrics metrics(font);
    const qsizetype perLine = lineBudget(metrics, width);
    const qsizetype budget = perLine * maxLines;
    const bool cut = text.size() > budget;
    QString shown = cut ? clip(text, budget).chopped(1) : text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);

    QTextLayout layout(shown, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    while (lines.size() < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        const qsizetype start = line.textStart();
        if (lines.size() < maxLines - 1) {
            lines << shown.mid(start, line.textLength()).trimmed();
            continue;
        }
        // The last allowed line takes the rest, cut to the width. Only a line's budget of it can show.
        const bool more = cut || shown.size() - start > perLine;
        QString rest = shown.mid(start, perLine);
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        QString last = metrics.elidedText(rest, Qt::ElideRight, width);
        if (more && !last.endsWith(kEllipsis)) {
            last = metrics.elidedText(rest + kEllipsis, Qt::ElideRight, width);
        }
        lines << last;
    }
    layout.endLayout();
    return lines;
}

} // namespace DisplayText
