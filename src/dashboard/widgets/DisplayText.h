#pragma once

#include <QString>
#include <QStringList>

class QFont;
class QFontMetrics;

// Texts of any length (a transcript of megabytes, a backend's error page) shown in a bounded space. Every
// step here costs in proportion to what can be seen, never to the whole text: a text is first cut to a
// budget of characters that cannot all fit in the space, and only that part is laid out and measured.
namespace DisplayText {

// The ellipsis that ends a cut text.
inline constexpr QChar kEllipsis{0x2026};

// The most characters a word-wrapped label shows of a text without a line limit (a transcript, a status
// or error sentence): some 25 lines of a wide card, far more than a sentence needs.
inline constexpr qsizetype kParagraphBudget = 2000;

// More characters than fit on one line `width` pixels wide in the font of `metrics`, even of the
// narrowest glyphs.
qsizetype lineBudget(const QFontMetrics& metrics, int width);

// `text` cut to at most `budget` characters (never inside a surrogate pair), ending in "…" when cut.
QString clip(const QString& text, qsizetype budget);

// The lines of `text` wrapped at word boundaries (or anywhere, for a word wider than the line) at
// `width` in `font`, at most `maxLines` of them; when more text follows, the last line takes as much of
// the rest as fits and ends in "…". Line breaks in the text start new lines; on the last line they read
// as spaces. One text layout, of at most `maxLines` line budgets of the text.
QStringList fitLines(const QString& text, const QFont& font, int width, int maxLines);

} // namespace DisplayText
