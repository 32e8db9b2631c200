#pragma once

#include <QString>
#include <QUuid>

namespace Text {

// Number of user-perceived characters (extended grapheme clusters).
qsizetype graphemeCount(const QString& text);

// The first `count` user-perceived characters of `text` (all of it when it is shorter): a cut never splits a
// surrogate pair, a combining sequence, a flag or an emoji sequence.
QString leadingGraphemes(const QString& text, qsizetype count);

// White space and line breaks removed at both ends (Unicode-aware).
QString trimmed(const QString& text);

// Text received from elsewhere made safe to insert into another program or to show: C0 and C1 control
// characters (ESC sequences, NUL, a bare carriage return, DEL) and the bidirectional embedding, override
// and isolate characters are removed. Line feeds and tabs stay; a CR LF pair becomes a line feed.
QString withoutControlCharacters(const QString& text);

// Canonical upper-case UUID text: 36 characters, no braces.
QString uuidText(const QUuid& uuid);
QString newUuidText();

// The system's text for an errno value. Safe on any thread (unlike strerror).
QString systemErrorText(int errorNumber);

} // namespace Text
