#pragma once

#include <QString>
#include <QStringList>

// The part of an error answer that may be written to the log or shown: a server that echoes the request
// in its error (a validation failure listing each field with its value) would otherwise put the session
// token, the selected text, the custom prompt or the transcript into the log and onto the screen.
//
// The excerpt is the answer's text with
// - every stretch that repeats a text the request carried (any run of `kMatchLength` characters of it, so
//   an echo cut short or quoted in part is caught; whole values when they are shorter), also where the
//   answer is JSON and spells it with escapes,
// - every long run of token characters (a credential the request did not carry, such as one the server
//   issued),
// replaced by "<redacted>", control characters removed, white space collapsed, and cut to `kMaxLength`
// characters (the cut marked with "…").
namespace BackendErrorExcerpt {

inline constexpr qsizetype kMaxLength = 160;
inline constexpr qsizetype kMatchLength = 12;
inline constexpr qsizetype kShortestValue = 4; // shorter values say too little to be worth hiding

// `sent`: every text value the request carried (JSON string values, form fields, query values).
QString of(const QString& answer, const QStringList& sent = {});

// Every string value of a JSON document's text, in document order; none when it is not JSON.
QStringList jsonStrings(const QByteArray& json);

} // namespace BackendErrorExcerpt
