#pragma once

#include "AccountRules.h"
#include "TranscriptionHistoryEntry.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

// The home page's texts as pure rules: the greeting, the usage figures, the history labels and times.
// Numbers are formatted without a locale (the decimal separator is always a full stop).
namespace HomeRules {
inline constexpr double baselineTypingWordsPerMinute = 35.0;

// The first word of a name (split at any Unicode white space), or nothing for an absent or blank name.
std::optional<QString> firstName(const std::optional<QString>& name);
// "Welcome back, <first name>", "Welcome back" or the product name.
QString homeTitle(const AccountIdentity& identity);

// "999", "1.0K", "1000.0K", "1.3M".
QString abbreviatedWordCount(qint64 words);
// "50 WPM"; "0 WPM" up to 0.05 minutes.
QString averageWordsPerMinute(qint64 words, double minutes);
// "59m", "1.0h".
QString shortMinutesSummary(double minutes);
// "10 min saved", "1.3 hr saved" against typing at 35 words per minute.
QString timeSavedSummary(qint64 words, double minutes);
// "0.0 min".
QString minutesChipText(double minutes);

// The public name of a provider, model or mode id ("Tidewell", "AI Mode", "Voice Note", "Quillvane", ...).
QString publicModelLabel(const std::optional<QString>& id);
// How long ago `moment` was, seen from `now`, in short units: "5 sec. ago", "3 min. ago", "in 2 hr.".
QString relativeTime(const QDateTime& moment, const QDateTime& now);
// "<label> • <application> • <relative time>".
QString historyMeta(const TranscriptionHistoryEntry& entry, const QDateTime& now);
// The clock time of an entry in local time, "hh:mm AM".
QString historyTime(const QDateTime& timestamp);
// The calendar day a moment falls on in `zone` (the history groups its entries by it).
QDate historyDay(const QDateTime& moment, const QTimeZone& zone = QTimeZone::systemTimeZone());
// The heading of the entries of `timestamp`'s day, seen from `now`, both in `zone`: "Today", "Yesterday",
// else the weekday and date in the default locale's names ("Monday, 7 December"), with the year when it is
// not now's year ("Wednesday, 31 December 2025").
QString historyDayHeading(const QDateTime& timestamp, const QDateTime& now,
                          const QTimeZone& zone = QTimeZone::systemTimeZone());
} // namespace HomeRules
