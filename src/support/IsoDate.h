#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace IsoDate {

// "2026-12-09T09:43:06Z": UTC, whole seconds.
QString format(const QDateTime& moment);
// "2026-12-09T09:43:06.123Z": UTC, three digits of milliseconds.
QString formatWithMilliseconds(const QDateTime& moment);
// Reads an ISO 8601 internet date-time with or without fractional seconds and with "Z" or a
// numeric offset; the result is in UTC. Anything else gives nothing.
std::optional<QDateTime> parse(const QString& text);

} // namespace IsoDate
