// The dashboard's pure rules: sections, the account card's texts, the home title, the usage formatters,
// the history labels, the meta line and the clock time.

#include "AccountRules.h"
#include "AppSection.h"
#include "HomeRules.h"

#include <QTimeZone>
#include <QTest>

#include <optional>

using OptText = std::optional<QString>;
Q_DECLARE_METATYPE(OptText)
Q_DECLARE_METATYPE(AccountIdentity)

namespace {
const OptText none;
OptText text(const char* value) {
    return QString::fromUtf8(value);
}
const QString relay = QStringLiteral("x7q2@privaterelay.appleid.com");

AccountIdentity identity(OptText provider, OptText email, OptText displayName, OptText token,
                         std::optional<UserProfileDTO> profile = std::nullopt) {
    return {provider, email, displayName, token, profile};
}
UserProfileDTO profile(OptText name, OptText email) {
    return {email, name, std::nullopt};
}
} // namespace

class TestDashboardRules : public QObject {
    Q_OBJECT

private slots:
    void sectionFromRaw_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("section"); // -1: none
        QTest::newRow("settings") << "settings" << int(AppSection::Settings);
        QTest::newRow("home") << "home" << int(AppSection::Home);
        QTest::newRow("capitalised title") << "Home" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letter missing") << "tutorial" << -1;
        QTest::newRow("padded") << " notes" << -1;
    }
    void sectionFromRaw() {
        QFETCH(QString, raw);
        QFETCH(int, section);
        const auto parsed = AppSections::fromRaw(raw);
        QCOMPARE(parsed ? int(*parsed) : -1, section);
    }

    void sectionsRoundTripInSidebarOrder() {
        QStringList raws;
        for (const AppSection section : AppSections::all()) {
            raws << AppSections::toRaw(section);
            QCOMPARE(AppSections::fromRaw(AppSections::toRaw(section)), section);
        }
        QCOMPARE(raws,
                 QStringList({"home", "dictionary", "snippets", "notes", "guide", "tutorials", "settings"}));
    }

    void accountCard_data() {
        QTest::addColumn<AccountIdentity>("who");
        QTest::addColumn<QString>("label");
        QTest::addColumn<OptText>("emailLine");
        QTest::addColumn<bool>("signOutShown");

        QTest::newRow("signed out") << identity(none, none, none, none) << "Not signed in" << none << false;
        QTest::newRow("apple relay, no name")
            << identity(text("apple"), relay, none, text("t"), profile(none, relay)) << "Signed in with Apple"
            << none << true;
        QTest::newRow("apple relay with profile name")
            << identity(text("apple"), relay, none, text("t"), profile(text("  Ada Lovelace "), relay))
            << "Ada Lovelace" << none << true;
        QTest::newRow("apple relay beats a display name")
            << identity(text("apple"), relay.toUpper(), text("Ada"), none) << "Signed in with Apple" << none
            << true;
        QTest::newRow("relay under another provider is a plain address")
            << identity(text("google"), relay, none, none) << "Signed in with Google" << OptText(relay)
            << true;
        QTest::newRow("provider without token or e-mail")
            << identity(text("microsoft"), none, none, none) << "Signed in with Microsoft" << none << true;
        QTest::newRow("display name of blanks shown")
            << identity(text("google"), none, text("   "), text("t"), profile(text("   "), none)) << "   "
            << none << true;
        QTest::newRow("profile address, trimmed, on both lines")
            << identity(none, none, none, text("t"), profile(none, text(" ada@example.org ")))
            << "ada@example.org" << text("ada@example.org") << true;
        QTest::newRow("stored address as stored")
            << identity(text("google"), text("ada@example.org"), none, none) << "ada@example.org"
            << text("ada@example.org") << true;
        QTest::newRow("token only") << identity(none, none, none, text("t")) << "Signed in" << none << true;
        QTest::newRow("empty provider counts as signed in")
            << identity(text(""), none, none, none) << "Not signed in" << none << true;
    }
    void accountCard() {
        QFETCH(AccountIdentity, who);
        QFETCH(QString, label);
        QFETCH(OptText, emailLine);
        QFETCH(bool, signOutShown);
        QCOMPARE(AccountRules::accountLabel(who), label);
        QCOMPARE(AccountRules::sidebarEmailLine(who), emailLine);
        QCOMPARE(AccountRules::showsSignOut(who), signOutShown);
    }

    void homeTitle_data() {
        QTest::addColumn<AccountIdentity>("who");
        QTest::addColumn<QString>("title");
        QTest::newRow("nobody") << identity(none, none, none, none) << "Quillvane";
        QTest::newRow("profile name, first word")
            << identity(none, none, none, text("t"), profile(text("  Grace \u00a0 Hopper  "), none))
            << "Welcome back, Grace";
        QTest::newRow("display name's first word")
            << identity(text("google"), none, text("Ada Lovelace"), none) << "Welcome back, Ada";
        QTest::newRow("blank display name kept")
            << identity(text("google"), none, text("  "), none) << "Welcome back,   ";
        QTest::newRow("e-mail only") << identity(none, text("a@b.c"), none, none) << "Welcome back";
        QTest::newRow("empty e-mail") << identity(none, text(""), none, none) << "Welcome back";
        QTest::newRow("provider only") << identity(text("apple"), none, none, none) << "Welcome back";
        QTest::newRow("token only") << identity(none, none, none, text("t")) << "Welcome back";
    }
    void homeTitle() {
        QFETCH(AccountIdentity, who);
        QFETCH(QString, title);
        QCOMPARE(HomeRules::homeTitle(who), title);
    }

    void wordCounts_data() {
        QTest::addColumn<qint64>("words");
        QTest::addColumn<QString>("shown");
        QTest::newRow("negative") << qint64(-5) << "-5";
        QTest::newRow("999") << qint64(999) << "999";
        QTest::newRow("1000") << qint64(1000) << "1.0K";
        QTest::newRow("999999 stays in thousands") << qint64(999999) << "1000.0K";
        QTest::newRow("1260000") << qint64(1260000) << "1.3M";
    }
    void wordCounts() {
        QFETCH(qint64, words);
        QFETCH(QString, shown);
        QCOMPARE(HomeRules::abbreviatedWordCount(words), shown);
    }

    void figures_data() {
        QTest::addColumn<qint64>("words");
        QTest::addColumn<double>("minutes");
        QTest::addColumn<QString>("pace");
        QTest::addColumn<QString>("shortMinutes");
        QTest::addColumn<QString>("saved");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("nothing yet") << qint64(0) << 0.0 << "0 WPM"
                                     << "0m"
                                     << "0 min saved";
        QTest::newRow("0.05 min") << qint64(3) << 0.05 << "0 WPM"
                                  << "0m"
                                  << "0 min saved";
        QTest::newRow("0.06 min") << qint64(3) << 0.06 << "50 WPM"
                                  << "0m"
                                  << "0 min saved";
        QTest::newRow("not a number") << qint64(10) << nan << "0 WPM"
                                      << "nanm"
                                      << "0 min saved";
        QTest::newRow("59 min") << qint64(700) << 59.0 << "12 WPM"
                                << "59m"
                                << "0 min saved";
        QTest::newRow("700 in 10") << qint64(700) << 10.0 << "70 WPM"
                                   << "10m"
                                   << "10 min saved";
        QTest::newRow("3500 in 20") << qint64(3500) << 20.0 << "175 WPM"
                                    << "20m"
                                    << "1.3 hr saved";
        QTest::newRow("35 in 5") << qint64(35) << 5.0 << "7 WPM"
                                 << "5m"
                                 << "0 min saved";
        QTest::newRow("60 min") << qint64(6000) << 60.0 << "100 WPM"
                                << "1.0h"
                                << "1.9 hr saved";
        QTest::newRow("90 min, halves away from zero") << qint64(135) << 90.0 << "2 WPM"
                                                       << "1.5h"
                                                       << "0 min saved";
        QTest::newRow("saved rounds half up") << qint64(2765) << 78.5 << "35 WPM"
                                              << "1.3h"
                                              << "1 min saved";
    }
    void figures() {
        QFETCH(qint64, words);
        QFETCH(double, minutes);
        QFETCH(QString, pace);
        QFETCH(QString, shortMinutes);
        QFETCH(QString, saved);
        QCOMPARE(HomeRules::averageWordsPerMinute(words, minutes), pace);
        if (!std::isnan(minutes)) {
            QCOMPARE(HomeRules::shortMinutesSummary(minutes), shortMinutes);
        }
        QCOMPARE(HomeRules::timeSavedSummary(words, minutes), saved);
    }

    void minutesChipUsesFullStop() {
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(HomeRules::minutesChipText(12.34), QStringLiteral("12.3 min"));
        QCOMPARE(HomeRules::abbreviatedWordCount(1500), QStringLiteral("1.5K"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void publicLabels_data() {
        QTest::addColumn<OptText>("id");
        QTest::addColumn<QString>("label");
        QTest::newRow("absent") << none << "Quillvane";
        QTest::newRow("blank") << text("  ") << "Quillvane";
        QTest::newRow("deepgram in capitals") << text("  DEEPGRAM ") << "Tidewell";
        QTest::newRow("tier display name") << text("Tidewell") << "Tidewell";
        QTest::newRow("turbo") << text("whisper-large-v3-turbo") << "Zephyrix";
        QTest::newRow("deck") << text("Keystoner Deck") << "Keystoner Deck";
        QTest::newRow("smart-edit") << text("smart-edit") << "AI Mode";
        QTest::newRow("pipeline's AI Mode") << text("AI Mode") << "AI Mode";
        QTest::newRow("voice-note") << text("voice-note") << "Voice Note";
        QTest::newRow("note") << text("note") << "Voice Note";
        QTest::newRow("pipeline's Voice Note") << text("Voice Note") << "Voice Note";
        QTest::newRow("unknown") << text("whisper-2") << "Quillvane";
    }
    void publicLabels() {
        QFETCH(OptText, id);
        QFETCH(QString, label);
        QCOMPARE(HomeRules::publicModelLabel(id), label);
    }

    void metaLine_data() {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<OptText>("provider");
        QTest::addColumn<QString>("app");
        QTest::addColumn<QString>("meta");
        QTest::newRow("seconds") << qint64(42) << text("nova-3") << "Kate"
                                 << "Tidewell \u2022 Kate \u2022 42 sec. ago";
        QTest::newRow("empty app keeps both separators") << qint64(5 * 60) << none << ""
                                                         << "Quillvane \u2022  \u2022 5 min. ago";
        QTest::newRow("hours") << qint64(3 * 3600 + 59) << text("AI Mode") << "Mail"
                               << "AI Mode \u2022 Mail \u2022 3 hr. ago";
        QTest::newRow("one day") << qint64(86400) << none << "x"
                                 << "Quillvane \u2022 x \u2022 1 day ago";
        QTest::newRow("last week") << qint64(8 * 86400) << none << "x"
                                   << "Quillvane \u2022 x \u2022 1 wk. ago";
        QTest::newRow("future") << qint64(-120) << none << "x"
                                << "Quillvane \u2022 x \u2022 in 2 min.";
    }
    void metaLine() {
        QFETCH(qint64, secondsAgo);
        QFETCH(OptText, provider);
        QFETCH(QString, app);
        QFETCH(QString, meta);
        const QDateTime now(QDate(2026, 3, 4), QTime(15, 30), Qt::UTC);
        TranscriptionHistoryEntry entry{
            QUuid::createUuid(), now.addSecs(-secondsAgo), QStringLiteral("hi"), provider, app, 1.0};
        QCOMPARE(HomeRules::historyMeta(entry, now), meta);
    }

    // The day headings of the history, by the calendar day in the given zone.
    void dayHeadings_data() {
        QTest::addColumn<QDateTime>("timestamp");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("zoneOffsetHours");
        QTest::addColumn<QString>("heading");
        const auto utc = [](int y, int m, int d, int h, int min, int sec = 0) {
            return QDateTime(QDate(y, m, d), QTime(h, min, sec), Qt::UTC);
        };
        const QDateTime justAfterMidnight = utc(2026, 12, 7, 0, 0, 30);
        QTest::newRow("same moment") << justAfterMidnight << justAfterMidnight << 0 << "Today";
        QTest::newRow("midnight itself") << utc(2026, 12, 7, 0, 0) << justAfterMidnight << 0 << "Today";
        QTest::newRow("a second before midnight")
            << utc(2026, 12, 6, 23, 59, 59) << justAfterMidnight << 0 << "Yesterday";
        QTest::newRow("start of yesterday")
            << utc(2026, 12, 6, 0, 0) << utc(2026, 12, 7, 23, 59, 59) << 0 << "Yesterday";
        QTest::newRow("end of the day before")
            << utc(2026, 12, 5, 23, 59, 59) << utc(2026, 12, 7, 0, 0) << 0 << "Saturday, 5 December";
        QTest::newRow("last week") << utc(2026, 11, 30, 12, 0) << justAfterMidnight << 0
                                   << "Monday, 30 November";
        QTest::newRow("new year's eve, seen on new year's day")
            << utc(2025, 12, 31, 23, 0) << utc(2026, 1, 1, 8, 0) << 0 << "Yesterday";
        QTest::newRow("a different year")
            << utc(2025, 12, 30, 10, 0) << utc(2026, 1, 1, 8, 0) << 0 << "Tuesday, 30 December 2025";
        QTest::newRow("a later date (clock set back)")
            << utc(2026, 12, 9, 10, 0) << justAfterMidnight << 0 << "Wednesday, 9 December";
        // The day is the local one: 23:30 UTC is already the next morning five hours east, and the
        // previous evening five hours west.
        QTest::newRow("east of UTC") << utc(2026, 12, 6, 23, 30) << utc(2026, 12, 7, 9, 0) << 5 << "Today";
        QTest::newRow("west of UTC") << utc(2026, 12, 7, 3, 0) << utc(2026, 12, 7, 18, 0) << -5
                                     << "Yesterday";
    }
    void dayHeadings() {
        QFETCH(QDateTime, timestamp);
        QFETCH(QDateTime, now);
        QFETCH(int, zoneOffsetHours);
        QFETCH(QString, heading);
        const QTimeZone zone(zoneOffsetHours * 3600);
        QCOMPARE(HomeRules::historyDayHeading(timestamp, now, zone), heading);
        QCOMPARE(HomeRules::historyDay(timestamp, zone) == HomeRules::historyDay(now, zone),
                 heading == QLatin1String("Today"));
    }

    void clockTimeIsTwelveHourLocal() {
        // The test runs in UTC with en_US (see main).
        QCOMPARE(HomeRules::historyTime(QDateTime(QDate(2026, 3, 4), QTime(15, 7), Qt::UTC)),
                 QStringLiteral("03:07 PM"));
        QCOMPARE(HomeRules::historyTime(QDateTime(QDate(2025, 1, 1), QTime(0, 5), Qt::UTC)),
                 QStringLiteral("12:05 AM"));
    }
};

int main(int argc, char** argv) {
    qputenv("TZ", "UTC");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCoreApplication app(argc, argv);
    TestDashboardRules test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dashboard_rules.moc"
