// Launch at login on a temporary XDG_CONFIG_HOME, the brand-asset lookup in a temporary working tree, the
// update feed parser, and the launch probe against a feed served on 127.0.0.1.

#include "AppUpdater.h"
#include "BrandAssets.h"
#include "LaunchAtLoginManager.h"
#include "ManualScheduler.h"
#include "RuntimeLogCapture.h"
#include "UserDefaults.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray pngOf(QColor color) {
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Serves one fixed HTTP answer to every request on 127.0.0.1 and counts the requests.
class FeedServer : public QObject {
public:
    explicit FeedServer(QByteArray body, QByteArray status = "200 OK") : m_body(body), m_status(status) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_pending += socket->readAll();
                    if (!m_pending.contains("\r\n\r\n")) {
                        return;
                    }
                    m_pending.clear();
                    ++requests;
                    socket->write(
                        "HTTP/1.1 " + m_status + "\r\nContent-Type: application/xml\r\nContent-Length: " +
                        QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url() const {
        return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort());
    }
    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_body;
    QByteArray m_status;
    QByteArray m_pending;
};

QByteArray feedWithBuild(const QByteArray& build) {
    return "<?xml version=\"1.0\"?><rss "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><item><title>New</title><sparkle:version>" +
           build +
           "</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>"
           "<link>https://example.invalid/releases/2.0</link></item></channel></rss>";
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, QString>> values) {
        for (const auto& [name, value] : values) {
            m_old.append({name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                                                : std::nullopt});
            qputenv(name, value.toLocal8Bit());
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_old) {
            if (value) {
                qputenv(name, *value);
            } else {
                qunsetenv(name);
            }
        }
    }

private:
    QList<std::pair<const char*, std::optional<QByteArray>>> m_old;
};

// An executable file at `path`.
void writeProgram(const QString& path) {
    writeFile(path, "#!/bin/sh\n");
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestShellServices : public QObject {
    Q_OBJECT

private slots:
    // ---- Launch at login -----------------------------------------------------------------------------

    void launchAtLogin_firstRun_data() {
        QTest::addColumn<QByteArray>("existing"); // the entry before the first run; "-" for none
        QTest::addColumn<bool>("expectWritten");
        QTest::addColumn<bool>("expectEnabled");
        QTest::addColumn<QString>("expectText");
        QTest::newRow("no entry: written once")
            << QByteArray("-") << true << true << LaunchAtLoginManager::kEnabledText;
        QTest::newRow("entry present: left alone")
            << QByteArray("[Desktop Entry]\nType=Application\nExec=/opt/other\n") << false << true
            << LaunchAtLoginManager::kEnabledText;
        QTest::newRow("switched off by the user: counts as not registered, written")
            << QByteArray("[Desktop Entry]\nExec=x\nHidden=true\n") << true << true
            << LaunchAtLoginManager::kEnabledText;
        QTest::newRow("Hidden in another group does not count")
            << QByteArray("[Desktop Entry]\nExec=/opt/other\n[Desktop Action x]\nHidden=true\n") << false
            << true << LaunchAtLoginManager::kEnabledText;
    }
    void launchAtLogin_firstRun() {
        QFETCH(QByteArray, existing);
        QFETCH(bool, expectWritten);
        QFETCH(bool, expectEnabled);
        QFETCH(QString, expectText);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("settings.json"));
        const QString config = dir.filePath("config");
        const QString program = QStringLiteral("/opt/Quill Vane/bin/quillvane");
        LaunchAtLoginManager manager(defaults, config, program);
        if (existing != "-") {
            writeFile(manager.entryPath(), existing);
        }
        RuntimeLogCapture log;
        manager.refresh();
        QCOMPARE(manager.isEnabled(), expectEnabled);
        QCOMPARE(manager.statusText(), expectText);
        QCOMPARE(defaults.boolValue(LaunchAtLoginManager::kDefaultConfiguredKey), std::optional<bool>(true));
        QFile file(manager.entryPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QCOMPARE(written.contains("Exec=\"/opt/Quill Vane/bin/quillvane\"\n"), expectWritten);
        QCOMPARE(log.lines().contains("Enabled launch at login by default on first run"), expectWritten);
    }

    void launchAtLogin_laterRunsNeverWrite() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("settings.json"));
        LaunchAtLoginManager manager(defaults, dir.filePath("config"), "/usr/bin/quillvane");
        manager.refresh();
        QVERIFY(manager.isEnabled());
        // The user removes the entry: the next start reports it and writes nothing.
        QVERIFY(QFile::remove(manager.entryPath()));
        LaunchAtLoginManager later(defaults, dir.filePath("config"), "/usr/bin/quillvane");
        later.refresh();
        QVERIFY(!later.isEnabled());
        QCOMPARE(later.statusText(), LaunchAtLoginManager::kNotRegisteredText);
        QVERIFY(!QFile::exists(later.entryPath()));
    }

    void launchAtLogin_failedWriteIsLoggedStoredAndNotRetried() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("settings.json"));
        const QString config = dir.filePath("config");
        writeFile(config + "/autostart", "a file where the folder should be");
        LaunchAtLoginManager manager(defaults, config, "/usr/bin/quillvane");
        RuntimeLogCapture log;
        manager.refresh();
        QVERIFY(!manager.isEnabled());
        QCOMPARE(manager.statusText(), LaunchAtLoginManager::kNotRegisteredText);
        QCOMPARE(log.entriesStartingWith("ERROR Failed to enable launch at login by default: ").size(), 1);
        QCOMPARE(defaults.boolValue(LaunchAtLoginManager::kDefaultConfiguredKey), std::optional<bool>(true));

        // The obstacle goes away; the first-run write is still not tried again.
        QVERIFY(QFile::remove(config + "/autostart"));
        log.clear();
        manager.refresh();
        QVERIFY(!QFile::exists(manager.entryPath()));
        QVERIFY(log.entries().isEmpty());
    }

    // The desktop's startup settings switch an entry off without removing it; either way reads as off.
    void launchAtLogin_entrySwitchedOffByTheDesktop_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Hidden=true") << QByteArray("[Desktop Entry]\nExec=/bin/sh\nHidden=true\n") << false;
        QTest::newRow("X-GNOME-Autostart-enabled=false")
            << QByteArray("[Desktop Entry]\nExec=/bin/sh\nX-GNOME-Autostart-enabled=false\n") << false;
        QTest::newRow("spaced and capitalised")
            << QByteArray("[Desktop Entry]\nExec=/bin/sh\nX-GNOME-Autostart-enabled = False\n") << false;
        QTest::newRow("both say on")
            << QByteArray("[Desktop Entry]\nExec=/bin/sh\nHidden=false\nX-GNOME-Autostart-enabled=true\n")
            << true;
        QTest::newRow("switched off in another group only")
            << QByteArray(
                   "[Desktop Entry]\nExec=/bin/sh\n[Desktop Action x]\nX-GNOME-Autostart-enabled=false\n")
            << true;
    }
    void launchAtLogin_entrySwitchedOffByTheDesktop() {
        QFETCH(QByteArray, entry);
        QFETCH(bool, enabled);
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("settings.json"));
        defaults.setBool(LaunchAtLoginManager::kDefaultConfiguredKey, true);
        LaunchAtLoginManager manager(defaults, dir.filePath("config"), "/bin/sh", "/bin/sh");
        writeFile(manager.entryPath(), entry);
        manager.refresh();
        QCOMPARE(manager.isEnabled(), enabled);
        QCOMPARE(manager.statusText(),
                 enabled ? LaunchAtLoginManager::kEnabledText : LaunchAtLoginManager::kNotRegisteredText);
        QCOMPARE(contentOf(manager.entryPath()), entry); // only read
    }

    // The installed program is the one the installed desktop entry starts.
    void launchAtLogin_findsTheInstalledProgram_data() {
        QTest::addColumn<QString>("exec"); // "-": no installed entry; {dir} stands for the temporary folder
        QTest::addColumn<QString>("expected"); // empty: none
        QTest::newRow("absolute, quoted, with arguments") << "\"{dir}/opt/Quill Vane/quillvane\" --hidden %U"
                                                          << "{dir}/opt/Quill Vane/quillvane";
        QTest::newRow("bare name through PATH") << "quillvane"
                                                << "{dir}/bin/quillvane";
        QTest::newRow("program gone") << "{dir}/opt/missing/quillvane"
                                      << "";
        QTest::newRow("no installed entry") << "-"
                                            << "";
    }
    void launchAtLogin_findsTheInstalledProgram() {
        QFETCH(QString, exec);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        exec.replace("{dir}", dir.path());
        expected.replace("{dir}", dir.path());
        writeProgram(dir.filePath("opt/Quill Vane/quillvane"));
        writeProgram(dir.filePath("bin/quillvane"));
        if (exec != "-") {
            writeFile(dir.filePath("share/applications/quillvane.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Quillvane\nExec=" + exec.toUtf8() + "\n");
        }
        ScopedEnvironment environment{{"XDG_DATA_HOME", dir.filePath("home-data")},
                                      {"XDG_DATA_DIRS", dir.filePath("share")},
                                      {"PATH", dir.filePath("bin")}};
        QCOMPARE(LaunchAtLoginManager::findInstalledProgram().value_or(QString()), expected);
    }

    // A program that is not installed (a build tree) does not register itself on its first run; the
    // installed program's first run still does. The user's switch registers the running program and
    // the row says where the entry points; switched off, the entry goes.
    void launchAtLogin_buildTreeRegistersOnlyWhenTheUserSaysSo() {
        QTemporaryDir dir;
        const QString build = dir.filePath("src/build/bin/quillvane");
        writeProgram(build);
        ScopedEnvironment environment{{"XDG_DATA_HOME", dir.filePath("home-data")},
                                      {"XDG_DATA_DIRS", dir.filePath("share")}};
        UserDefaults defaults(dir.filePath("settings.json"));
        LaunchAtLoginManager manager(defaults, dir.filePath("config"), {}, build);
        QCOMPARE(manager.installedProgram(), std::nullopt);
        RuntimeLogCapture log;
        manager.refresh();
        manager.refresh();
        QVERIFY(!QFile::exists(manager.entryPath()));
        QVERIFY(!manager.isEnabled());
        QCOMPARE(manager.targetText(), QString());
        QVERIFY(!defaults.contains(LaunchAtLoginManager::kDefaultConfiguredKey));
        QCOMPARE(log.entriesStartingWith("INFO Launch at login left off: Quillvane is not installed").size(),
                 1);

        QSignalSpy targetChanges(&manager, &LaunchAtLoginManager::targetTextChanged);
        manager.setEnabled(true);
        QVERIFY(manager.isEnabled());
        QCOMPARE(manager.entryProgram(), std::optional<QString>(build));
        QCOMPARE(manager.targetText(), LaunchAtLoginManager::kOtherTargetText.arg(build));
        QCOMPARE(targetChanges.size(), 1);
        QCOMPARE(defaults.boolValue(LaunchAtLoginManager::kDefaultConfiguredKey), std::optional<bool>(true));

        // The build tree goes away: the row says the entry starts nothing.
        QVERIFY(QFile::remove(build));
        manager.refresh();
        QCOMPARE(manager.targetText(), LaunchAtLoginManager::kMissingTargetText.arg(build));

        manager.setEnabled(false);
        QVERIFY(!QFile::exists(manager.entryPath()));
        QVERIFY(!manager.isEnabled());
        QCOMPARE(manager.targetText(), QString());

        // Installed later: its first run registers it (a fresh settings file, as on another computer).
        const QString installed = dir.filePath("prefix/bin/quillvane");
        writeProgram(installed);
        writeFile(dir.filePath("share/applications/quillvane.desktop"),
                  "[Desktop Entry]\nExec=" + installed.toUtf8() + "\n");
        UserDefaults fresh(dir.filePath("fresh.json"));
        LaunchAtLoginManager installedRun(fresh, dir.filePath("config"), {}, build);
        installedRun.refresh();
        QVERIFY(installedRun.isEnabled());
        QCOMPARE(installedRun.entryProgram(), std::optional<QString>(installed));
        QCOMPARE(installedRun.targetText(), QString());
        // A switch turned on from the build tree registers the installed program too.
        installedRun.setEnabled(false);
        installedRun.setEnabled(true);
        QCOMPARE(installedRun.entryProgram(), std::optional<QString>(installed));
    }

    void launchAtLogin_unreadableEntryIsUnavailable() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath("settings.json"));
        defaults.setBool(LaunchAtLoginManager::kDefaultConfiguredKey, true);
        LaunchAtLoginManager manager(defaults, dir.filePath("config"), "/usr/bin/quillvane");
        QVERIFY(QDir().mkpath(manager.entryPath())); // a folder in the entry's place
        manager.refresh();
        QVERIFY(!manager.isEnabled());
        QCOMPARE(manager.statusText(), LaunchAtLoginManager::kUnavailableText);
    }

    // ---- Brand assets ----------------------------------------------------------------------------------

    void brandAssets_lookupFromWorkingTree() {
        QTemporaryDir tree;
        const QString checkout = tree.filePath("checkout");
        // The first candidate exists but is empty, the second is not an image: both are passed over.
        writeFile(checkout + "/macos/Resources/AppIconRounded1024.png", "");
        writeFile(checkout + "/macos/Resources/quillvane_icon.png", "not an image");
        writeFile(checkout + "/Resources/AppIconRounded1024.png", pngOf(Qt::red));
        writeFile(tree.filePath("client/assets/quillvane_icon.png"), pngOf(Qt::blue));

        const QStringList paths = BrandAssets::appIconRelativePaths();
        auto found = BrandAssets::loadImage({}, paths, checkout);
        QVERIFY(found);
        QCOMPARE(found->pixelColor(0, 0), QColor(Qt::red));

        // One level below a checkout root finds "../client/assets/".
        QDir().mkpath(tree.filePath("sub"));
        found = BrandAssets::loadImage({}, paths, tree.filePath("sub"));
        QVERIFY(found);
        QCOMPARE(found->pixelColor(0, 0), QColor(Qt::blue));

        QVERIFY(!BrandAssets::loadImage({}, paths, tree.filePath("deep/below/nowhere")));
    }

    void brandAssets_compiledInImagesComeFirst() {
        QTemporaryDir tree;
        writeFile(tree.filePath("macos/Resources/AppIconRounded1024.png"), pngOf(Qt::red));
        const auto icon = BrandAssets::loadImage(BrandAssets::appIconResourceCandidates(),
                                                 BrandAssets::appIconRelativePaths(), tree.path());
        QVERIFY(icon);
        QVERIFY(icon->width() >= 64);                                   // the SVG, not the 4×4 file
        QVERIFY(BrandAssets::loadBundledImage("quillvane_nav@2x.png")); // found by its stem
        QVERIFY(!BrandAssets::loadBundledImage("high_icon.png"));
        QVERIFY(BrandAssets::appIcon());
        QVERIFY(BrandAssets::sidebarIcon());
    }

    // ---- Update feed -----------------------------------------------------------------------------------

    void appcast_parse_data() {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<bool>("parses");
        QTest::addColumn<QString>("version");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<QString>("page");
        QTest::newRow("prefixed build and version")
            << feedWithBuild("42") << true << "2.0" << qint64(42) << "https://example.invalid/releases/2.0";
        QTest::newRow("prefixed wins over plain wherever it stands")
            << QByteArray("<item><version>7</version><ns0:version>9</ns0:version></item>") << true << "9"
            << qint64(9) << "";
        QTest::newRow("no short version: the build stands in")
            << QByteArray("<item><sparkle:version>15</sparkle:version></item>") << true << "15" << qint64(15)
            << "";
        QTest::newRow("blanks around the digits")
            << QByteArray("<item><version>  +31\n</version></item>") << true << "31" << qint64(31) << "";
        QTest::newRow("dotted build is not a build")
            << feedWithBuild("1.2.3") << false << "" << qint64(0) << "";
        QTest::newRow("beyond the integer range")
            << feedWithBuild("99999999999999999999") << false << "" << qint64(0) << "";
        QTest::newRow("only the first item counts")
            << QByteArray("<item><version>3</version></item><item><version>99</version></item>") << true
            << "3" << qint64(3) << "";
        QTest::newRow("first item without a build")
            << QByteArray("<item><title/></item><item><version>5</version></item>") << false << ""
            << qint64(0) << "";
        QTest::newRow("unclosed item")
            << QByteArray("<item><version>5</version>") << false << "" << qint64(0) << "";
        QTest::newRow("HTML error page")
            << QByteArray("<html><body>502 Bad Gateway</body></html>") << false << "" << qint64(0) << "";
        QTest::newRow("not UTF-8") << QByteArray("<item><version>5</version>\xff\xfe</item>") << false << ""
                                   << qint64(0) << "";
        QTest::newRow("a non-web release page is not kept")
            << QByteArray("<item><version>5</version><link>file:///etc/passwd</link></item>") << true << "5"
            << qint64(5) << "";
    }
    void appcast_parse() {
        QFETCH(QByteArray, feed);
        QFETCH(bool, parses);
        QFETCH(QString, version);
        QFETCH(qint64, build);
        QFETCH(QString, page);
        const auto entry = AppUpdater::parseLatestAppcastEntry(feed);
        QCOMPARE(entry.has_value(), parses);
        if (entry) {
            QCOMPARE(entry->version, version);
            QCOMPARE(entry->build, build);
            QCOMPARE(entry->releasePage.toString(), page);
        }
    }

    void updater_notConfiguredMakesNoRequest_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("blank key") << "  \n";
        QTest::newRow("empty key") << "";
    }
    void updater_notConfiguredMakesNoRequest() {
        QFETCH(QString, key);
        FeedServer feed(feedWithBuild("50"));
        RuntimeLogCapture log;
        AppUpdater updater({feed.url(), key, 1});
        QVERIFY(!updater.isConfigured());
        QVERIFY(!updater.canCheckForUpdates());
        updater.checkForUpdates();
        QTest::qWait(200);
        QCOMPARE(feed.requests, 0);
        QVERIFY(log.lines().contains("Update checks disabled: no update feed URL or public key configured"));
    }

    void updater_launchProbe_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("installed");
        QTest::addColumn<QString>("expectLine");
        QTest::addColumn<bool>("offers");
        QTest::newRow("newer build")
            << feedWithBuild("50") << qint64(49)
            << "Presenting update offer from direct appcast probe version=2.0 build=50" << true;
        QTest::newRow("equal build") << feedWithBuild("50") << qint64(50)
                                     << "Launch update probe found no newer build" << false;
        QTest::newRow("unparseable build") << feedWithBuild("2.0.1") << qint64(1)
                                           << "Launch update probe found no parseable appcast entry" << false;
    }
    void updater_launchProbe() {
        QFETCH(QByteArray, body);
        QFETCH(qint64, installed);
        QFETCH(QString, expectLine);
        QFETCH(bool, offers);
        FeedServer feed(body);
        RuntimeLogCapture log;
        AppUpdater updater({feed.url(), "key", installed});
        int offered = 0;
        updater.setPresenter([&](const std::optional<AppcastEntry>& entry, const QString&,
                                 std::function<void()>) { offered += entry ? 1 : 100; });
        QTRY_VERIFY(log.lines().contains(expectLine));
        QCOMPARE(feed.requests, 1);
        QCOMPARE(offered, offers ? 1 : 0);
        if (offers) {
            QVERIFY(updater.sessionInProgress()); // the offer is open until dismissed
        }
    }

    void updater_busyRetriesNineTimesThenGivesUp() {
        FeedServer feed(feedWithBuild("50"));
        ManualClock clock;
        ManualScheduler scheduler(clock);
        Scheduler::setCurrent(&scheduler);
        RuntimeLogCapture log;
        {
            AppUpdater updater({feed.url(), "key", 1});
            updater.setSessionInProgress(true); // another update dialog stays open throughout
            QSignalSpy attempts(&updater, &AppUpdater::launchPresentationAttempted);
            int offered = 0;
            updater.setPresenter([&](auto&&...) { ++offered; });
            scheduler.runDue(); // the queued launch probe
            QTRY_COMPARE(attempts.size(), 1);
            for (int i = 0; i < 20; ++i) {
                scheduler.advance(std::chrono::milliseconds(500));
            }
            QCOMPARE(attempts.size(), 9);
            for (int i = 0; i < 9; ++i) {
                QCOMPARE(attempts.at(i).at(0).toInt(), i);
            }
            QCOMPARE(offered, 0);
            QVERIFY(log.lines().contains("Skipping launch update UI after retries version=2.0 build=50"));
            QCOMPARE(feed.requests, 1);
            updater.queueInitialBackgroundCheckIfNeeded(); // queued once per instance
            scheduler.runDue();
            QTest::qWait(100);
            QCOMPARE(feed.requests, 1);
        }
        Scheduler::setCurrent(nullptr);
    }

    void updater_offerShownOnceTheOtherDialogCloses() {
        FeedServer feed(feedWithBuild("50"));
        ManualClock clock;
        ManualScheduler scheduler(clock);
        Scheduler::setCurrent(&scheduler);
        {
            AppUpdater updater({feed.url(), "key", 1});
            updater.setSessionInProgress(true);
            QSignalSpy attempts(&updater, &AppUpdater::launchPresentationAttempted);
            std::optional<AppcastEntry> offered;
            updater.setPresenter(
                [&](const std::optional<AppcastEntry>& entry, auto&&...) { offered = entry; });
            scheduler.runDue();
            QTRY_COMPARE(attempts.size(), 1);
            scheduler.advance(std::chrono::milliseconds(500));
            updater.setSessionInProgress(false);
            scheduler.advance(std::chrono::milliseconds(500));
            QCOMPARE(attempts.size(), 3);
            QVERIFY(offered);
            QCOMPARE(offered->build, qint64(50));
            QCOMPARE(offered->releasePage, QUrl("https://example.invalid/releases/2.0"));
        }
        Scheduler::setCurrent(nullptr);
    }

    void updater_checkOnDemandSaysUpToDateOrFails() {
        FeedServer feed(feedWithBuild("50"));
        AppUpdater updater({feed.url(), "key", 50});
        QStringList messages;
        std::function<void()> dismiss;
        updater.setPresenter([&](const std::optional<AppcastEntry>& entry, const QString& message,
                                 std::function<void()> done) {
            QVERIFY(!entry);
            messages << message;
            dismiss = done;
        });
        QTRY_COMPARE(feed.requests, 1); // the launch probe
        updater.checkForUpdates();
        QVERIFY(!updater.canCheckForUpdates()); // a second press meanwhile does nothing
        QTRY_COMPARE(messages.size(), 1);
        QVERIFY(messages[0].startsWith("You're up to date"));
        QVERIFY(!updater.canCheckForUpdates());
        dismiss();
        QVERIFY(updater.canCheckForUpdates());

        AppUpdater unreachable({"http://127.0.0.1:1/appcast.xml", "key", 50});
        QStringList failures;
        unreachable.setPresenter([&](auto&&, const QString& message, auto&&) { failures << message; });
        QTest::qWait(50);
        unreachable.checkForUpdates();
        QTRY_COMPARE(failures.size(), 1);
        QVERIFY(failures[0].startsWith("Quillvane could not reach the update feed"));
    }
};

QTEST_MAIN(TestShellServices)
#include "tst_shell_services.moc"
