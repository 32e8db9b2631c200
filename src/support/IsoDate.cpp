#include "IsoDate.h"

#include <QRegularExpression>

namespace IsoDate {

QString format(const QDateTime& moment) {
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

QString formatWithMilliseconds(const QDateTime& moment) {
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + QLatin1Char('Z');
}

std::optional<QDateTime> parse(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})[Tt](\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(?:([Zz])|([+-])(\d{2}):(\d{2}))$)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    int milliseconds = 0;
    if (const QString fraction = match.captured(7); !fraction.isEmpty()) {
        milliseconds = (fraction + QStringLiteral("00")).left(3).toInt();
    }
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(),
                     milliseconds);
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    if (match.captured(8).isEmpty()) {
        const int hours = match.captured(10).toInt();
        const int minutes = match.captured(11).toInt();
        if (hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        offsetSeconds = (hours * 60 + minutes) * 60 * (match.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds).toUTC();
}

} // namespace IsoDate
