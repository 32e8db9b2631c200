// The dashboard window on the offscreen platform, built on a container with fakes for the desktop: it shows
// the dashboard, the settings request (Ctrl+, or the app-wide signal) selects the settings section, the
// sidebar's sign-in buttons start the container's attempts, signing out puts the sync status back to idle,
// and closing without a tray quits.
#include "../stores/session/FakeSecretBackend.h"
#include "AppNavigation.h"
#include "AppleSignInButton.h"
#include "AuthStore.h"
#include "ConfigSyncCoordinator.h"
#include "ContainerFakes.h"
#include "DashboardSidebar.h"
#include "DashboardView.h"
#include "DashboardWindow.h"
#include "DependencyContainer.h"
#include "RunTask.h"
#include "TrayPanel.h"
#include "UserDefaults.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestDashboardWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<DependencyContainer> m_container;
    QStringList m_providersCalled;
    int m_launchAtLoginRefreshes = 0;
    PendingValue<AppleAuthResult> m_apple;
    PendingValue<GoogleAuthResult> m_google;
    PendingValue<MicrosoftAuthResult> m_microsoft;

    DependencyContainer& container() { return *m_container; }

private slots:
    void initTestCase() {
        // Nothing listens there: no request of this test leaves the machine.
        qputenv("QUILLVANE_BACKEND_URL", "http://127.0.0.1:9");
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_defaults = std::make_unique<UserDefaults>(m_dir->filePath(QStringLiteral("settings.json")));
        m_providersCalled.clear();
        m_launchAtLoginRefreshes = 0;
        m_apple = {};
        m_google = {};
        m_microsoft = {};
        ContainerPlatform platform;
        platform.userDefaults = m_defaults.get();
        platform.dataFolder = m_dir->path();
        platform.secretBackend = std::make_shared<FakeSecretBackend>();
        platform.urlOpener = [](const QUrl&) {};
        platform.audioInputs = std::make_shared<NoAudioInputs>();
        platform.mouseMonitors = [](std::function<void(int, bool)>) { return std::make_unique<QObject>(); };
        PermissionsCoordinator::Platform permissions;
        permissions.microphoneState = [] { return PermissionsCoordinator::PermissionState::Granted; };
        permissions.accessibilityTrusted = [] { return true; };
        permissions.findProgram = [](const QString&) { return QString(); };
        permissions.launch = [](const QString&, const QStringList&) { return false; };
        platform.permissions = permissions;
        platform.appleSignIn = [this](SignInCancelToken) {
            m_providersCalled << QStringLiteral("apple");
            return answerOf(m_apple);
        };
        platform.googleSignIn = [this](SignInCancelToken) {
            m_providersCalled << QStringLiteral("google");
            return answerOf(m_google);
        };
        platform.microsoftSignIn = [this](SignInCancelToken) {
            m_providersCalled << QStringLiteral("microsoft");
            return answerOf(m_microsoft);
        };
        m_container = std::make_unique<DependencyContainer>(std::move(platform));
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
        QVERIFY(!container().hasActiveAuthAttempt());

        QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(container().hasActiveAuthAttempt());
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
        QVERIFY(!container().hasActiveAuthAttempt());
    }

    void signOutPutsTheSyncStatusBackToIdle() {
        ConfigSyncCoordinator& sync = container().configSyncCoordinator();
        runTask(sync.pullAndMerge()); // no session: says so
        QCOMPARE(sync.statusText(), ConfigSyncCoordinator::kNeedsSessionText);
        DashboardWindow window(container());
        window.view()->sidebar()->signOut();
        QCOMPARE(sync.statusText(), ConfigSyncCoordinator::kIdleText);
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

QTEST_MAIN(TestDashboardWindow)
#include "tst_dashboard_window.moc"
