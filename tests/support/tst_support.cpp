#include "Clock.h"
#include "IsoDate.h"
#include "ManualScheduler.h"
#include "RuntimeDirectory.h"
#include "StorageNotices.h"
#include "TextUtilities.h"
#include "UserDefaults.h"

#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <sys/stat.h>

#include <string_view>

using namespace std::chrono_literals;

namespace {
QCoro::Task<void> waitThenRecord(Scheduler& scheduler, std::chrono::milliseconds delay, QStringList& log,
                                 QString label) {
    co_await scheduler.delay(delay);
    log << label;
}
} // namespace

namespace {
// The permission bits of a file or folder (0600, 0700…); -1 when it is not there.
int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}
} // namespace

class TestSupport : public QObject {
    Q_OBJECT

private slots:
    void manualSchedulerRunsActionsInDueOrder() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        QStringList log;
        scheduler.singleShot(300ms, [&] { log << "c"; });
        scheduler.singleShot(100ms, [&] { log << "a"; });
        scheduler.singleShot(100ms, [&] { log << "b"; }); // same due time: scheduling order
        auto cancelled = scheduler.singleShot(200ms, [&] { log << "cancelled"; });
        cancelled.cancel();
        QVERIFY(!cancelled.isActive());

        scheduler.advance(99ms);
        QVERIFY(log.isEmpty());
        scheduler.advance(1ms);
        QCOMPARE(log, QStringList({"a", "b"}));
        scheduler.advance(1s);
        QCOMPARE(log, QStringList({"a", "b", "c"}));
        QCOMPARE(scheduler.pendingCount(), 0);
    }

    void manualSchedulerRepeatsAndSeesItsOwnTime() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        const auto start = clock.monotonic();
        QList<std::chrono::nanoseconds> firedAt;
        TimerHandle handle;
        handle = scheduler.repeating(100ms, [&] {
            firedAt << clock.monotonic() - start;
            if (firedAt.size() == 3) {
                handle.cancel(); // cancelling from inside the action stops it
            }
        });
        scheduler.advance(1s);
        QCOMPARE(firedAt, (QList<std::chrono::nanoseconds>{100ms, 200ms, 300ms}));
        QCOMPARE(clock.monotonic() - start, std::chrono::nanoseconds(1s));
    }

    void manualSchedulerActionMayScheduleAnother() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        QStringList log;
        scheduler.singleShot(50ms, [&] {
            log << "first";
            scheduler.singleShot(50ms, [&] { log << "second"; });
        });
        scheduler.advance(100ms);
        QCOMPARE(log, QStringList({"first", "second"}));
    }

    void delayResumesCoroutineAfterItsTime() {
        ManualClock clock;
        ManualScheduler scheduler(clock);
        QStringList log;
        auto slow = waitThenRecord(scheduler, 400ms, log, "slow");
        auto fast = waitThenRecord(scheduler, 40ms, log, "fast");
        scheduler.advance(39ms);
        QVERIFY(log.isEmpty());
        scheduler.advance(1ms);
        QCOMPARE(log, QStringList({"fast"}));
        scheduler.advance(400ms);
        QCOMPARE(log, QStringList({"fast", "slow"}));
    }

    void qtSchedulerFiresAndCancels() {
        QtScheduler scheduler;
        int fired = 0;
        bool cancelledFired = false;
        auto cancelled = scheduler.singleShot(10ms, [&] { cancelledFired = true; });
        scheduler.singleShot(20ms, [&] { ++fired; });
        cancelled.cancel();
        QTRY_COMPARE(fired, 1);
        QVERIFY(!cancelledFired);

        int ticks = 0;
        TimerHandle repeating = scheduler.repeating(5ms, [&] { ++ticks; });
        QTRY_VERIFY(ticks >= 3);
        repeating.cancel();
        const int afterCancel = ticks;
        QTest::qWait(30);
        QCOMPARE(ticks, afterCancel);

        QStringList log;
        QCoro::waitFor(waitThenRecord(scheduler, 5ms, log, "done"));
        QCOMPARE(log, QStringList({"done"}));
    }

    void manualClockMovesWallTimeWithMonotonicTime() {
        ManualClock clock(QDateTime(QDate(2026, 12, 9), QTime(9, 43, 6), Qt::UTC));
        clock.advance(1500ms);
        QCOMPARE(IsoDate::formatWithMilliseconds(clock.now()), QStringLiteral("2026-12-09T09:43:07.500Z"));
        Clock::setCurrent(&clock);
        QCOMPARE(Clock::current().now(), clock.now());
        Clock::setCurrent(nullptr);
        QVERIFY(&Clock::current() != &clock);
    }

    void graphemeCount_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("expected");
        QTest::newRow("empty") << QString() << qsizetype(0);
        QTest::newRow("ascii") << QStringLiteral("hello") << qsizetype(5);
        QTest::newRow("zwj family") << QString::fromUtf8(
                                           "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466")
                                    << qsizetype(1);
        QTest::newRow("flag") << QString::fromUtf8("\U0001F1E9\U0001F1EA") << qsizetype(1);
        QTest::newRow("combining accent") << QString::fromUtf8("e\u0301") << qsizetype(1);
        QTest::newRow("skin tone") << QString::fromUtf8("\U0001F44D\U0001F3FD!") << qsizetype(2);
        QTest::newRow("crlf is one") << QStringLiteral("a\r\nb") << qsizetype(3);
    }
    void graphemeCount() {
        QFETCH(QString, text);
        QFETCH(qsizetype, expected);
        QCOMPARE(Text::graphemeCount(text), expected);
    }

    void controlCharactersAreRemoved_data() {
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("kept");
        // Views keep embedded NULs.
        const auto u = [](std::u16string_view text) { return QString::fromUtf16(text.data(), text.size()); };
        QTest::newRow("plain text untouched") << u(u"Grüße, مرحبا \u200F👍🏽 done.")
                                              << u(u"Grüße, مرحبا \u200F👍🏽 done.");
        QTest::newRow("line feeds, tabs and separators stay")
            << u(u"a\tb\nc\u2028d\u2029") << u(u"a\tb\nc\u2028d\u2029");
        QTest::newRow("CR LF becomes a line feed, a bare CR goes")
            << u(u"one\r\ntwo\rthree\r") << u(u"one\ntwothree");
        QTest::newRow("escape sequences lose their ESC")
            << u(u"\u001b[2J\u001b]0;title\u0007red\u001b[0m") << u(u"[2J]0;titlered[0m");
        QTest::newRow("NUL, DEL, other C0")
            << u(std::u16string_view(u"a\0b\u007f\u0008c\u000b\u000c", 8)) << u(u"abc");
        QTest::newRow("C1 controls") << u(u"x\u009b31my\u0085z\u0080") << u(u"x31myz");
        QTest::newRow("bidirectional overrides and isolates")
            << u(u"\u202Etxt.exe\u202C \u202A\u202B\u202D\u2066\u2067\u2068\u2069ok") << u(u"txt.exe ok");
        QTest::newRow("only controls") << u(std::u16string_view(u"\u001b\r\0", 3)) << QString();
    }
    void controlCharactersAreRemoved() {
        QFETCH(QString, received);
        QFETCH(QString, kept);
        QCOMPARE(Text::withoutControlCharacters(received), kept);
        QCOMPARE(Text::withoutControlCharacters(kept), kept);
    }

    void trimmingAndUuidText() {
        QCOMPARE(Text::trimmed(QString::fromUtf8(" \t\n x y \u00A0\r\n")), QStringLiteral("x y"));
        const QString uuid = Text::newUuidText();
        QCOMPARE(uuid.size(), 36);
        QCOMPARE(uuid, uuid.toUpper());
        QVERIFY(!QUuid::fromString(uuid).isNull());
        QVERIFY(Text::newUuidText() != uuid);
    }

    void isoDates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc"); // empty: not a date
        QTest::newRow("whole seconds") << "2026-12-09T09:43:06Z"
                                       << "2026-12-09T09:43:06.000Z";
        QTest::newRow("milliseconds") << "2026-12-09T09:43:06.123Z"
                                      << "2026-12-09T09:43:06.123Z";
        QTest::newRow("microseconds truncated") << "2026-12-09T09:43:06.123456Z"
                                                << "2026-12-09T09:43:06.123Z";
        QTest::newRow("offset") << "2026-12-09T10:43:06+01:00"
                                << "2026-12-09T09:43:06.000Z";
        QTest::newRow("no zone") << "2026-12-09T09:43:06"
                                 << "";
        QTest::newRow("bad month") << "2026-13-09T09:43:06Z"
                                   << "";
        QTest::newRow("garbage") << "yesterday"
                                 << "";
    }
    void isoDates() {
        QFETCH(QString, text);
        QFETCH(QString, utc);
        const auto parsed = IsoDate::parse(text);
        if (utc.isEmpty()) {
            QVERIFY(!parsed);
            return;
        }
        QVERIFY(parsed);
        QCOMPARE(IsoDate::formatWithMilliseconds(*parsed), utc);
        QCOMPARE(IsoDate::format(*parsed), utc.left(19) + "Z");
    }

    void runtimeDirectoryIsPrivate() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", root.path().toUtf8());
        const QString path = RuntimeDirectory::path();
        qputenv("XDG_RUNTIME_DIR", saved);
        QCOMPARE(path, root.filePath("quillvane"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        // A folder left open to others is tightened; a file or a symbolic link in its place is refused.
        const QString loose = root.filePath("loose");
        QVERIFY(QDir().mkdir(loose));
        QVERIFY(QFile::setPermissions(loose, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                 QFile::ReadOther | QFile::ExeOther));
        QVERIFY(RuntimeDirectory::ensurePrivateDirectory(loose));
        QCOMPARE(::stat(QFile::encodeName(loose).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        QFile file(root.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QString why;
        QVERIFY(!RuntimeDirectory::ensurePrivateDirectory(file.fileName(), &why));
        QVERIFY(why.contains("not a folder"));
        QVERIFY(QFile::link(loose, root.filePath("link")));
        QVERIFY(!RuntimeDirectory::ensurePrivateDirectory(root.filePath("link")));
    }

    void userDefaultsKeepKindsAcrossReopening() {
        QTemporaryDir folder;
        const QString path = folder.filePath("settings.json");
        {
            UserDefaults defaults(path);
            defaults.setBool("quillvane.flag", false);
            defaults.setInteger("quillvane.count", 7);
            defaults.setDouble("quillvane.threshold", -45.5);
            defaults.setDouble("quillvane.whole", 3.0);
            defaults.setString("quillvane.name", "true");
            defaults.setData("quillvane.hotkey", R"({"id":1})");
            defaults.setDouble("quillvane.nan", std::nan(""));
            defaults.setString("quillvane.gone", "x");
            defaults.remove("quillvane.gone");
        }
        UserDefaults reopened(path);
        QCOMPARE(reopened.boolValue("quillvane.flag"), std::optional<bool>(false));
        QCOMPARE(reopened.integerValue("quillvane.count"), std::optional<qint64>(7));
        QCOMPARE(reopened.doubleValue("quillvane.threshold"), std::optional<double>(-45.5));
        QCOMPARE(reopened.doubleValue("quillvane.whole"), std::optional<double>(3.0));
        QCOMPARE(reopened.stringValue("quillvane.name"), std::optional<QString>("true"));
        QCOMPARE(reopened.dataValue("quillvane.hotkey"), std::optional<QByteArray>(R"({"id":1})"));
        // Another kind is not the asked kind.
        QCOMPARE(reopened.boolValue("quillvane.name"), std::nullopt);
        QCOMPARE(reopened.stringValue("quillvane.flag"), std::nullopt);
        QCOMPARE(reopened.doubleValue("quillvane.flag"), std::nullopt);
        QCOMPARE(reopened.integerValue("quillvane.threshold"), std::nullopt);
        QVERIFY(!reopened.contains("quillvane.nan"));
        QVERIFY(!reopened.contains("quillvane.gone"));
    }

    void unreadableUserDefaultsAreKeptAside() {
        QTemporaryDir folder;
        const QString path = folder.filePath("settings.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{ not json");
        file.close();
        UserDefaults defaults(path);
        QVERIFY(!defaults.contains("quillvane.flag"));
        defaults.setBool("quillvane.flag", true);
        const QStringList aside = QDir(folder.path()).entryList({"settings.json.corrupt-*"});
        QCOMPARE(aside.size(), 1);
        QFile kept(folder.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("{ not json"));
        // The user is told where the old file went.
        QVERIFY2(StorageNotices::instance().texts().join('\n').contains(kept.fileName()),
                 qPrintable(StorageNotices::instance().texts().join('\n')));
    }

    void settingsAreReadableByTheirOwnerOnly() {
        // A new folder and file are made owner-only; a file an earlier run left readable by others is
        // tightened; the mode survives the replacing writes.
        QTemporaryDir folder;
        const QString fresh = folder.filePath("new/quillvane/settings.json");
        UserDefaults(fresh).setBool("quillvane.flag", true);
        QCOMPARE(modeOf(QFileInfo(fresh).absolutePath()), 0700);
        QCOMPARE(modeOf(fresh), 0600);

        const QString old = folder.filePath("settings.json");
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"quillvane.flag":true})");
        file.close();
        QVERIFY(::chmod(QFile::encodeName(old).constData(), 0644) == 0);
        UserDefaults defaults(old);
        QCOMPARE(defaults.boolValue("quillvane.flag"), std::optional<bool>(true));
        QVERIFY(defaults.setBool("quillvane.flag", false));
        QCOMPARE(modeOf(old), 0600);
    }

    void writesWithNothingToChangeAreNotFailures() {
        // QSettings leaves the file alone when nothing changed: that is no failed save.
        QTemporaryDir folder;
        StorageNotices::instance().clear();
        UserDefaults defaults(folder.filePath("settings.json"));
        QVERIFY(defaults.remove("quillvane.absent"));
        QVERIFY(defaults.setBool("quillvane.flag", true));
        QVERIFY(defaults.remove("quillvane.absent"));
        QVERIFY2(StorageNotices::instance().texts().isEmpty(),
                 qPrintable(StorageNotices::instance().texts().join('\n')));
    }

    void storageNoticesKeepOnePerKeyInOrder() {
        StorageNotices& notices = StorageNotices::instance();
        notices.clear();
        QSignalSpy changed(&notices, &StorageNotices::changed);
        notices.report("a", "first");
        notices.report("b", "second");
        notices.report("a", "first again");
        notices.report("a", "first again"); // no change, no signal
        QCOMPARE(notices.texts(), QStringList({"first again", "second"}));
        notices.withdraw("a");
        notices.withdraw("unknown");
        QCOMPARE(notices.texts(), QStringList({"second"}));
        QCOMPARE(changed.count(), 4);
        notices.clear();
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
