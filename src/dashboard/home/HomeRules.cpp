#include "HomeRules.h"

#include "ModelRouting.h"
#include "TextUtilities.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

namespace {
// Halves away from zero.
qint64 roundedAway(double value) {
    return qint64(std::round(value));
}
} // namespace

namespace HomeRules {

std::optional<QString> firstName(const std::optional<QString>& name) {
    if (!name) {
        return std::nullopt;
    }
    const QString trimmed = Text::trimmed(*name);
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    QString word;
    for (const QChar character : trimmed) {
        if (character.isSpace()) {
            break;
        }
        word += character;
    }
    return word;
}

QString homeTitle(const AccountIdentity& identity) {
    static const QString welcome = QStringLiteral("Welcome back");
    if (const auto first = firstName(identity.profile ? identity.profile->name : std::nullopt)) {
        return welcome + QStringLiteral(", ") + *first;
    }
    if (identity.displayName && !identity.displayName->isEmpty()) {
        return welcome + QStringLiteral(", ") +
               firstName(identity.displayName).value_or(*identity.displayName);
    }
    if (identity.email || identity.provider) {
        return welcome;
    }
    return identity.sessionToken ? welcome : QStringLiteral("Quillvane");
}

QString abbreviatedWordCount(qint64 words) {
    if (words < 1000) {
        return QString::number(words);
    }
    if (words < 1000000) {
        return QString::asprintf("%.1fK", double(words) / 1000.0);
    }
    return QString::asprintf("%.1fM", double(words) / 1000000.0);
}

QString averageWordsPerMinute(qint64 words, double minutes) {
    if (!(minutes > 0.05)) {
        return QStringLiteral("0 WPM");
    }
    return QString::number(roundedAway(double(words) / minutes)) + QStringLiteral(" WPM");
}

QString shortMinutesSummary(double minutes) {
    if (minutes >= 60) {
        return QString::asprintf("%.1fh", minutes / 60.0);
    }
    return QString::asprintf("%.0fm", minutes);
}

QString timeSavedSummary(qint64 words, double minutes) {
    if (words < 1 || !(minutes > 0)) {
        return QStringLiteral("0 min saved");
    }
    const double saved = qMax(0.0, double(words) / baselineTypingWordsPerMinute - minutes);
    if (saved >= 60) {
        return QString::asprintf("%.1f hr saved", saved / 60.0);
    }
    return QString::number(roundedAway(saved)) + QStringLiteral(" min saved");
}

QString minutesChipText(double minutes) {
    return QString::asprintf("%.1f min", minutes);
}

QString publicModelLabel(const std::optional<QString>& id) {
    if (id) {
        const QString key = Text::trimmed(*id).toLower();
        // The pipelines record AI Mode and voice-note entries by their display names.
        if (key == QLatin1String("smart-edit") || key == QLatin1String("ai mode")) {
            return QStringLiteral("AI Mode");
        }
        if (key == QLatin1String("note") || key == QLatin1String("voice-note") ||
            key == QLatin1String("voice note")) {
            return QStringLiteral("Voice Note");
        }
    }
    return ModelRouting::publicModelLabel(id);
}

QString relativeTime(const QDateTime& moment, const QDateTime& now) {
    const qint64 seconds = moment.secsTo(now);
    const qint64 span = seconds < 0 ? -seconds : seconds;
    struct Unit {
        qint64 seconds;
        const char* one;
        const char* many;
    };
    static const Unit units[] = {
        {365 * 86400, "yr.", "yr."}, {30 * 86400, "mo.", "mo."}, {7 * 86400, "wk.", "wk."},
        {86400, "day", "days"},      {3600, "hr.", "hr."},       {60, "min.", "min."},
        {1, "sec.", "sec."},
    };
    qint64 count = 0;
    const char* name = "sec.";
    for (const Unit& unit : units) {
        if (span >= unit.seconds) {
            count = span / unit.seconds;
            name = count == 1 ? unit.one : unit.many;
            break;
        }
    }
    const QString amount = QString::number(count) + QLatin1Char(' ') + QLatin1String(name);
    return seconds < 0 ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

QString historyMeta(const TranscriptionHistoryEntry& entry, const QDateTime& now) {
    static const QString separator = QStringLiteral(" \u2022 ");
    return publicModelLabel(entry.provider) + separator + entry.appContext + separator +
           relativeTime(entry.timestamp, now);
}

QString historyTime(const QDateTime& timestamp) {
    return QLocale().toString(timestamp.toLocalTime(), QStringLiteral("hh:mm AP"));
}

QDate historyDay(const QDateTime& moment, const QTimeZone& zone) {
    return (zone.isValid() ? moment.toTimeZone(zone) : moment.toLocalTime()).date();
}

QString historyDayHeading(const QDateTime& timestamp, const QDateTime& now, const QTimeZone& zone) {
    const QDate day = historyDay(timestamp, zone);
    const QDate today = historyDay(now, zone);
    if (day == today) {
        return QStringLiteral("Today");
    }
    if (day == today.addDays(-1)) {
        return QStringLiteral("Yesterday");
    }
    return QLocale().toString(day, day.year() == today.year() ? QStringLiteral("dddd, d MMMM")
                                                              : QStringLiteral("dddd, d MMMM yyyy"));
}

} // namespace HomeRules
