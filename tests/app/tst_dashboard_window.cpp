// The dashboard window on the offscreen platform, built on a container with fakes for the desktop and the
// in-process stand-in backend: it shows the dashboard, the settings request (Ctrl+, or the app-wide signal)
// selects the settings section, the sidebar's sign-in buttons start the container's attempts and say how
// they went, a saved session the backend refuses leaves the sign-in buttons offered again, a recording
// refused for want of a session brings the hidden dashboard up with the sign-in prompt, signing out puts
// the sync status back to idle, and closing without a tray quits.
#include "../signin/FakeBrowser.h"
#include "../signin/FakeSignInProvider.h"
#include "../stores/session/FakeSecretBackend.h"
#include "AppNavigation.h"
#include "AppSettings.h"
#include "AppShell.h"
#include "AppUpdater.h"
#include "AppleSignInButton.h"
#include "AuthStore.h"
#include "ConfigSyncCoordinator.h"
#include "ContainerFakes.h"
#include "DashboardSidebar.h"
#include "DashboardView.h"
#include "DashboardWindow.h"
#include "DependencyContainer.h"
#include "DictationCoordinator.h"
#include "ElidedLabel.h"
#include "LaunchAtLoginManager.h"
#include "PermissionsOnboardingDialog.h"
#include "RunTask.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "SignInAttempts.h"
#include "StandinBackend.h"
#include "TrayPanel.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

// Where the pictures of the sidebar go: QUILLVANE_GALLERY_DIR when set, else beside the test.
QString pictureFolder() {
    const QString folder = qEnvironmentVariableIsSet("QUILLVANE_GALLERY_DIR")
                               ? qEnvironmentVariable("QUILLVANE_GALLERY_DIR")
                               : QCoreApplication::applicationDirPath() + QStringLiteral("/pictures");
    QDir().mkpath(folder);
    return folder;
}

bool shownIn(QWidget* root, const QString& name) {
    QWidget* widget = root->findChild<QWidget*>(name);
    return widget && widget->isVisibleTo(root);
}

QString noticeOf(QWidget* root) {
    auto* notice = root->findChild<ElidedLabel*>(QStringLiteral("signInNotice"));
    return notice && notice->isVisibleTo(root) ? notice->text() : QString();
}

// The dashboard windows that exist, shown or not.
qsizetype dashboards() {
    qsizetype count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<DashboardWindow*>(widget) ? 1 : 0;
    }
    return count;
}

} // namespace

class TestDashboardWindow : public QObject {
    Q_OBJECT

    standin::StandinBackend m_backend;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::shared_ptr<FakeSecretBackend> m_secrets;
    std::unique_ptr<DependencyContainer> m_container;
    std::function<void(int, bool)> m_mouseButton;
    QStringList m_providersCalled;
    int m_launchAtLoginRefreshes = 0;
    PendingValue<SignInIdentity> m_apple;
    PendingValue<SignInIdentity> m_google;
    PendingValue<SignInIdentity> m_microsoft;

    DependencyContainer& container() { return *m_container; }

    std::optional<QByteArray> savedToken() const {
        return m_secrets->item(SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount);
    }

    // The window at its minimum and default sizes, as PNGs of the whole window and of the sidebar; the
    // sign-in notice must lie inside the sidebar, below the last sign-in button, at both.
    void writeSidebarPictures(DashboardWindow& window, const QString& name) {
        const QList<std::pair<QString, QSize>> sizes{
            {QStringLiteral("minimum"), window.minimumSizeHint()},
            {QStringLiteral("default"), DashboardWindow::kDefaultSize}};
        for (const auto& [label, size] : sizes) {
            window.resize(size);
            QApplication::processEvents();
            auto* sidebar = window.findChild<QWidget*>(QStringLiteral("sidebar"));
            auto* notice = window.findChild<ElidedLabel*>(QStringLiteral("signInNotice"));
            auto* microsoft = window.findChild<QWidget*>(QStringLiteral("microsoftSignInButton"));
            // The layout settles over a few passes of the event loop (heights follow the new width).
            QTRY_VERIFY2_WITH_TIMEOUT(
                notice->height() >= notice->heightForWidth(notice->width()),
                qPrintable(QStringLiteral("%1: notice %2 high, needs %3, sidebar %4 high")
                               .arg(label)
                               .arg(notice->height())
                               .arg(notice->heightForWidth(notice->width()))
                               .arg(sidebar->height())),
                5000);
            const QString stem = QDir(pictureFolder()).filePath(name + QLatin1Char('-') + label);
            QVERIFY(window.grab().save(stem + QStringLiteral(".png")));
            QVERIFY(sidebar->grab().save(stem + QStringLiteral("-sidebar.png")));
            const QRect noticeArea(notice->mapTo(sidebar, QPoint(0, 0)), notice->size());
            const QRect microsoftArea(microsoft->mapTo(sidebar, QPoint(0, 0)), microsoft->size());
            QVERIFY2(sidebar->rect().contains(noticeArea),
                     qPrintable(label + QStringLiteral(": notice outside the sidebar")));
            QVERIFY2(noticeArea.top() >= microsoftArea.bottom(),
                     qPrintable(label + QStringLiteral(": notice over the buttons")));
            qInfo("wrote %s.png (window %dx%d)", qPrintable(stem), window.width(), window.height());
        }
        window.resize(DashboardWindow::kDefaultSize);
    }

    // The container over the fakes; with `browser`, Apple's sign-in is the real flow against the stand-in,
    // with that browser playing the user.
    void build(FakeBrowser* browser = nullptr) {
        m_container.reset();
        ContainerPlatform platform;
        platform.userDefaults = m_defaults.get();
        platform.dataFolder = m_dir->path();
        platform.urlOpener = browser ? browser->opener() : [](const QUrl&) {};
        PermissionsCoordinator::Platform permissions;
        permissions.microphoneState = [] { return PermissionsCoordinator::PermissionState::Granted; };
        permissions.accessibilityTrusted = [] { return true; };
        permissions.findProgram = [](const QString&) { return QString(); };
        permissions.launch = [](const QString&, const QStringList&) { return false; };
        platform.permissions = permissions;
        if (!browser) {
            platform.signInProviders[SignInProviderId::Apple] =
                std::make_shared<FakeSignInProvider>([this](SignInCancelToken) {
                    m_providersCalled << QStringLiteral("apple");
                    return answerOf(m_apple);
                });
        }
        platform.signInProviders[SignInProviderId::Google] =
            std::make_shared<FakeSignInProvider>([this](SignInCancelToken) {
                m_providersCalled << QStringLiteral("google");
                return answerOf(m_google);
            });
        platform.signInProviders[SignInProviderId::Microsoft] =
            std::make_shared<FakeSignInProvider>([this](SignInCancelToken) {
                m_providersCalled << QStringLiteral("microsoft");
                return answerOf(m_microsoft);
            });
        PlatformServices desktop = fakeDesktop(m_secrets, [this]() -> std::unique_ptr<RawInputMonitor> {
            auto monitor = std::make_unique<DrivenButtons>();
            m_mouseButton = [monitor = QPointer<RawInputMonitor>(monitor.get())](int button, bool down) {
                if (monitor && monitor->onButtonEvent) {
                    monitor->onButtonEvent(button, down);
                }
            };
            return monitor;
        });
        m_container = std::make_unique<DependencyContainer>(std::move(desktop), std::move(platform));
    }

private slots:
    void initTestCase() {
        m_backend.start();
        qputenv("QUILLVANE_BACKEND_URL", QByteArray::fromStdString(m_backend.baseUrl()));
    }

    void init() {
        m_backend.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_defaults = std::make_unique<UserDefaults>(m_dir->filePath(QStringLiteral("settings.json")));
        m_secrets = std::make_shared<FakeSecretBackend>();
        m_mouseButton = nullptr;
        m_providersCalled.clear();
        m_launchAtLoginRefreshes = 0;
        m_apple = {};
        m_google = {};
        m_microsoft = {};
        build();
    }

    void cleanup() {
        AppNavigation::instance().setDashboardProvider({});
        m_container.reset();
        qunsetenv("MICROSOFT_CLIENT_ID");
    }

    void showsTheDashboardInTheFrame() {
        DashboardWindow window(container(), [this] { ++m_launchAtLoginRefreshes; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), DashboardWindow::kDefaultSize);
        QCOMPARE(window.centralWidget(), window.view());
        auto* sidebar = window.findChild<DashboardSidebar*>(QStringLiteral("sidebar"));
        QVERIFY(sidebar && sidebar->isVisible());
        QCOMPARE(window.selectedSection(), "home");
        // The launch-at-login state is read again on every show.
        QCOMPARE(m_launchAtLoginRefreshes, 1);
        window.hide();
        window.show();
        QCOMPARE(m_launchAtLoginRefreshes, 2);
        // One Apple button, the shared one, on the sidebar.
        const auto apples = window.findChildren<QPushButton*>(QStringLiteral("appleSignInButton"));
        QCOMPARE(apples.size(), 1);
        QVERIFY(qobject_cast<AppleSignInButton*>(apples.first()));
    }

    void settingsRequestSelectsTheSettingsSection() {
        DashboardWindow window(container());
        AppNavigation::instance().setDashboardProvider([&]() -> QWidget* { return &window; });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
        QCOMPARE(window.selectedSection(), "settings");

        window.selectSection(QStringLiteral("home"));
        QSignalSpy changed(&window, &DashboardWindow::selectedSectionChanged);
        emit AppNavigation::instance().settingsRequested();
        QCOMPARE(window.selectedSection(), "settings");
        QCOMPARE(changed.size(), 1);

        // From a hidden window (closed while the tray keeps the app): shown again on settings.
        window.selectSection(QStringLiteral("home"));
        window.close();
        QVERIFY(!window.isVisible());
        AppNavigation::showSettings();
        QVERIFY(window.isVisible());
        QCOMPARE(window.selectedSection(), "settings");
    }

    void signInButtonsStartTheContainersAttempt_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("provider");
        QTest::newRow("apple") << "appleSignInButton"
                               << "apple";
        QTest::newRow("google") << "googleSignInButton"
                                << "google";
        QTest::newRow("microsoft") << "microsoftSignInButton"
                                   << "microsoft";
    }

    void signInButtonsStartTheContainersAttempt() {
        QFETCH(QString, button);
        QFETCH(QString, provider);
        qputenv("MICROSOFT_CLIENT_ID", "client-id");
        DashboardWindow window(container());
        window.show();
        auto* target = window.findChild<QPushButton*>(button);
        QVERIFY(target && target->isVisible() && target->isEnabled());
        QVERIFY(!container().signInAttempts().hasActiveAttempt());

        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(container().signInAttempts().hasActiveAttempt());
        QVERIFY(container().authStore().isAuthenticating());
        QTRY_COMPARE(m_providersCalled, QStringList{provider});
        // The shared Apple button follows the running attempt whichever provider started it.
        QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("appleSignInButton"))->text(),
                 AppleSignInButton::kRetryText);
    }

    void microsoftButtonFollowsItsConfiguration() {
        DashboardWindow window(container());
        window.show();
        auto* microsoft = window.findChild<QPushButton*>(QStringLiteral("microsoftSignInButton"));
        QVERIFY(microsoft);
        QVERIFY(!microsoft->isEnabled());
        QTest::mouseClick(microsoft, Qt::LeftButton);
        QVERIFY(!container().signInAttempts().hasActiveAttempt());
    }

    void signOutPutsTheSyncStatusBackToIdle() {
        ConfigSyncCoordinator& sync = container().configSyncCoordinator();
        runTask(sync.pullAndMerge()); // no session: says so
        QCOMPARE(sync.statusText(), ConfigSyncCoordinator::kNeedsSessionText);
        DashboardWindow window(container());
        window.view()->sidebar()->signOut();
        QCOMPARE(sync.statusText(), ConfigSyncCoordinator::kIdleText);
    }

    // A failed sync shows at the top of the dictionary, snippets and settings pages with what to do;
    // "Try Again" runs the sync, and its success takes the notice away.
    void failedSyncShowsOnThePagesUntilASyncSucceeds() {
        m_secrets->items[{SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount}] =
            QByteArray::fromStdString(m_backend.openSession());
        runTask(container().sessionCoordinator().bootstrapFromSecureStore());
        m_backend.scriptNext("/api/user/config", {503, R"({"detail":"maintenance"})"});
        ConfigSyncCoordinator& sync = container().configSyncCoordinator();
        runTask(sync.pullAndMerge());
        QVERIFY(sync.statusText().startsWith(ConfigSyncCoordinator::kSyncFailedPrefix));

        DashboardWindow window(container());
        window.show();
        QList<QWidget*> notices;
        for (const QString section : {"dictionary", "snippets", "settings"}) {
            window.selectSection(section);
            QWidget* page = window.view()->currentPage();
            auto* notice = page->findChild<QWidget*>(QStringLiteral("syncFailureNotice"));
            QVERIFY2(notice && notice->isVisible(), qPrintable(section));
            QCOMPARE(notice->findChild<QLabel*>(QStringLiteral("syncFailureText"))->text(),
                     sync.statusText());
            QCOMPARE(notice->findChild<QLabel*>(QStringLiteral("syncFailureAdvice"))->text(),
                     ConfigSyncCoordinator::kServiceAdvice);
            notices << notice;
        }
        auto* retry = notices.last()->findChild<QPushButton*>(QStringLiteral("syncRetryButton"));
        QVERIFY(retry && retry->isVisible());
        QTest::mouseClick(retry, Qt::LeftButton);
        QTRY_COMPARE(sync.statusText(), ConfigSyncCoordinator::kUploadedText);
        for (QWidget* notice : notices) {
            QVERIFY(!notice->isVisibleTo(window.view()));
        }
    }

    // The settings page offers the launch-at-login switch and, for a build that checks for updates,
    // "Check for Updates…"; without them neither is there.
    void settingsOfferLaunchAtLoginAndUpdateChecks() {
        QTemporaryDir config;
        LaunchAtLoginManager launch(*m_defaults, config.path(), QStringLiteral("/bin/sh"),
                                    QStringLiteral("/bin/sh"));
        AppUpdater updater(AppUpdater::Configuration{QStringLiteral("http://127.0.0.1:9/appcast.xml"),
                                                     QStringLiteral("key"), 1});
        DashboardWindow window(container(), DashboardWindow::Hooks{{}, &launch, &updater});
        window.selectSection(QStringLiteral("settings"));
        window.show();
        auto* toggle = window.findChild<QCheckBox*>(QStringLiteral("launchAtLoginSwitch"));
        QVERIFY(toggle && toggle->isVisible() && !toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(launch.isEnabled());
        QVERIFY(toggle->isChecked());
        QVERIFY(QFile::exists(launch.entryPath()));
        QVERIFY(window.findChild<QPushButton*>(QStringLiteral("checkForUpdatesButton")));

        DashboardWindow plain(container());
        QVERIFY(!plain.findChild<QCheckBox*>(QStringLiteral("launchAtLoginSwitch")));
        QVERIFY(!plain.findChild<QPushButton*>(QStringLiteral("checkForUpdatesButton")));
    }

    // ---- Sign-in state ----

    // A saved session the backend no longer knows: after the start-up refresh the card offers the sign-in
    // buttons again and says why, until the user signs in.
    void sessionRefusedAtStartUpOffersSignInAgain() {
        m_secrets->items[{SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount}] =
            "a-token-the-backend-never-issued";
        m_defaults->setString(AuthStore::kProviderKey, QStringLiteral("google"));
        m_defaults->setString(AuthStore::kEmailKey, QStringLiteral("ada@example.test"));
        build(); // the identity is read when the container is made
        DashboardWindow window(container());
        window.show();
        QVERIFY(shownIn(&window, QStringLiteral("signOutButton")));

        runTask(container().bootstrap());
        QVERIFY(m_backend.lastRequest("/api/session"));
        QVERIFY(!savedToken());
        QVERIFY(!container().sessionCoordinator().activeSessionToken());
        QVERIFY(!container().authStore().provider() && !m_defaults->contains(AuthStore::kProviderKey));
        QVERIFY(!shownIn(&window, QStringLiteral("signOutButton")));
        QVERIFY(shownIn(&window, QStringLiteral("signInBlock")));
        QVERIFY(shownIn(&window, QStringLiteral("googleSignInButton")));
        QCOMPARE(window.findChild<QLabel*>(QStringLiteral("accountLabel"))->text(),
                 QStringLiteral("Not signed in"));
        QCOMPARE(noticeOf(&window), AuthStore::kSessionEndedNotice);
        QCOMPARE(container().configSyncCoordinator().statusText(), ConfigSyncCoordinator::kIdleText);
        writeSidebarPictures(window, QStringLiteral("sidebar-session-ended"));

        // Signing in again: the notice goes with the sign-in buttons.
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("googleSignInButton")),
                          Qt::LeftButton);
        QCOMPARE(noticeOf(&window), QStringLiteral("Opening Google sign-in..."));
        m_google.resolve(SignInIdentity{QStringLiteral("google-id-token"), QStringLiteral("ada@example.test"),
                                        QStringLiteral("Ada"), std::nullopt});
        QTRY_VERIFY(shownIn(&window, QStringLiteral("signOutButton")));
        QVERIFY(savedToken());
        QCOMPARE(container().authStore().signInNotice(), QString());
        QVERIFY(!shownIn(&window, QStringLiteral("signInBlock")));
    }

    // A sign-in refused on the way: the reason stays under the buttons until the next attempt.
    void refusedSignInShowsItsReasonUnderTheButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("notice");
        // The stand-in's Apple page plays the user's refusal; the real flow runs against it.
        QTest::newRow("identity provider denies")
            << "appleSignInButton"
            << "Apple sign-in failed: Apple refused the sign-in: The user cancelled the sign-in.";
        // The provider signs the user in, the backend refuses the session exchange.
        QTest::newRow("backend refuses the exchange")
            << "googleSignInButton"
            << "Google sign-in succeeded, but backend session failed: Backend error 403: ";
    }
    void refusedSignInShowsItsReasonUnderTheButtons() {
        QFETCH(QString, button);
        QFETCH(QString, notice);
        FakeBrowser browser;
        browser.choices = {{QStringLiteral("standin_action"), QStringLiteral("deny")}};
        build(&browser);
        m_backend.scriptNext("/api/session", {403, R"({"error":"this account may not sign in here"})"});
        DashboardWindow window(container());
        window.show();
        QCOMPARE(noticeOf(&window), QString()); // nothing tried yet

        QTest::mouseClick(window.findChild<QPushButton*>(button), Qt::LeftButton);
        QVERIFY(noticeOf(&window).startsWith(QStringLiteral("Opening ")));
        if (button == QLatin1String("googleSignInButton")) {
            m_google.resolve(
                SignInIdentity{QStringLiteral("google-id-token"), std::nullopt, std::nullopt, std::nullopt});
        }
        QTRY_VERIFY2(noticeOf(&window).startsWith(notice), qPrintable(noticeOf(&window)));
        QVERIFY(!container().authStore().isAuthenticating());
        QVERIFY(shownIn(&window, QStringLiteral("signInBlock")));
        if (button == QLatin1String("appleSignInButton")) {
            writeSidebarPictures(window, QStringLiteral("sidebar-sign-in-refused"));
        }
    }

    // A press of the mouse trigger while nobody is signed in, with the dashboard closed to the tray: the
    // app brings the dashboard up with the sign-in prompt over it, each time.
    void pressWhileSignedOutBringsUpTheDashboardWithThePrompt() {
        container().appSettings().setMouseShortcutMode(QStringLiteral("dictation"));
        AppUpdater updater(AppUpdater::Configuration{});
        AppShell shell(container(), updater, {false, {}, {}});
        bool started = false;
        shell.start([&started] { started = true; });
        QTRY_VERIFY(started && m_mouseButton);
        // A hidden start builds no window (most of the program's memory); the prompt builds it.
        QCOMPARE(dashboards(), 0);

        for (int press = 0; press < 2; ++press) {
            m_mouseButton(2, true);
            QTRY_VERIFY(container().dictationCoordinator().upgradePrompt());
            m_mouseButton(2, false);
            QCOMPARE(dashboards(), 1);
            DashboardWindow* window = shell.dashboard();
            QVERIFY(window->isVisible());
            QVERIFY(QTest::qWaitForWindowActive(window));
            auto* sheet = window->findChild<QWidget*>(QStringLiteral("signInPromptSheet"));
            QVERIFY(sheet && sheet->isVisible());
            QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("promptTitle"))->text(),
                     QStringLiteral("Sign in to use Quillvane"));
            // The buttons the prompt points to are there behind it.
            QVERIFY(shownIn(window, QStringLiteral("signInBlock")));

            QTest::mouseClick(sheet->findChild<QPushButton*>(QStringLiteral("promptGotItButton")),
                              Qt::LeftButton);
            QVERIFY(!container().dictationCoordinator().upgradePrompt());
            window->hide(); // closed again; the next press brings it back
        }
    }

    // The permissions onboarding raised after a hidden start brings the window up with it.
    void onboardingAfterAHiddenStartBringsUpTheDashboard() {
        AppUpdater updater(AppUpdater::Configuration{});
        AppShell shell(container(), updater, {false, {}, {}});
        bool started = false;
        shell.start([&started] { started = true; });
        QTRY_VERIFY(started);
        container().permissionsCoordinator().setShowOnboarding(false);
        QCOMPARE(dashboards(), 0);

        container().permissionsCoordinator().setShowOnboarding(true);
        QCOMPARE(dashboards(), 1);
        DashboardWindow* window = shell.dashboard();
        QVERIFY(window->isVisible());
        QTRY_VERIFY(window->view()->findChild<PermissionsOnboardingDialog*>());
        container().permissionsCoordinator().setShowOnboarding(false);
    }

    void closeWithoutTrayQuits() {
        DashboardWindow window(container());
        int quits = 0;
        window.setHideOnClose([] { return false; });
        window.setQuitAction([&] { ++quits; });
        window.show();
        window.close();
        QCOMPARE(quits, 1);
    }
};

// Offscreen, and no X display for the container's own connection: the bootstrap's shortcut registration
// fails instead of grabbing keys on the session's desktop. Audio was used, so the program ends with _Exit
// (see AudioTestMain.h).
int main(int argc, char* argv[]) {
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    int status = 0;
    {
        QApplication app(argc, argv);
        TestDashboardWindow test;
        QTEST_SET_MAIN_SOURCE_PATH
        status = QTest::qExec(&test, argc, argv);
    }
    std::fflush(nullptr);
    std::_Exit(status);
}

#include "tst_dashboard_window.moc"
