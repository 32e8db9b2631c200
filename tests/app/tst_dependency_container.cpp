// The composition root built with fakes for the desktop and the in-process stand-in backend: the wiring of
// the settings callbacks, the start-up bootstrap (once), the foreground refresh's 45 s rule on a manual
// clock, and sign-in through a provider flow the test answers.
#include "../signin/FakeSignInProvider.h"
#include "../stores/session/FakeSecretBackend.h"
#include "AppSettings.h"
#include "AuthStore.h"
#include "BackendClient.h"
#include "ConfigSyncCoordinator.h"
#include "ContainerFakes.h"
#include "DependencyContainer.h"
#include "DictationCoordinator.h"
#include "GlobalHotkeyService.h"
#include "KnowledgeBaseStore.h"
#include "ManualScheduler.h"
#include "PromptSettingsStore.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "SignInAttempts.h"
#include "StandinBackend.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

QList<HotkeyIntent> intentsOf(const QList<HotkeyBinding>& hotkeys) {
    QList<HotkeyIntent> intents;
    for (const HotkeyBinding& binding : hotkeys) {
        intents << binding.intent;
    }
    return intents;
}

} // namespace

class TestDependencyContainer : public QObject {
    Q_OBJECT

    standin::StandinBackend m_backend;
    QString m_base;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<UserDefaults> m_defaults;
    std::shared_ptr<FakeSecretBackend> m_secrets;
    ManualClock m_clock;
    std::unique_ptr<ManualScheduler> m_scheduler;

    PermissionsCoordinator::PermissionState m_microphone = PermissionsCoordinator::PermissionState::Granted;
    bool m_accessibility = true;
    int m_permissionReads = 0;
    int m_monitorsCreated = 0;
    int m_monitorsAlive = 0;
    int m_launchAtLoginRefreshes = 0;
    std::function<void(int, bool)> m_buttonCallback;

    PendingValue<SignInIdentity> m_google;
    std::unique_ptr<DependencyContainer> m_container;

    DependencyContainer& container() { return *m_container; }

    void build() {
        ContainerPlatform platform;
        platform.userDefaults = m_defaults.get();
        platform.dataFolder = m_dir->path();
        platform.urlOpener = [](const QUrl&) {};
        platform.scheduler = m_scheduler.get();
        PermissionsCoordinator::Platform permissions;
        permissions.microphoneState = [this] {
            ++m_permissionReads;
            return m_microphone;
        };
        permissions.accessibilityTrusted = [this] { return m_accessibility; };
        permissions.findProgram = [](const QString&) { return QString(); };
        permissions.launch = [](const QString&, const QStringList&) { return false; };
        platform.permissions = permissions;
        platform.refreshLaunchAtLogin = [this] { ++m_launchAtLoginRefreshes; };
        platform.signInProviders[SignInProviderId::Google] =
            std::make_shared<FakeSignInProvider>([this](SignInCancelToken) { return answerOf(m_google); });
        PlatformServices desktop = fakeDesktop(m_secrets, [this]() -> std::unique_ptr<RawInputMonitor> {
            ++m_monitorsCreated;
            ++m_monitorsAlive;
            auto monitor = std::make_unique<DrivenButtons>();
            connect(monitor.get(), &QObject::destroyed, this, [this] { --m_monitorsAlive; });
            m_buttonCallback = [monitor = QPointer<RawInputMonitor>(monitor.get())](int button, bool down) {
                if (monitor && monitor->onButtonEvent) {
                    monitor->onButtonEvent(button, down);
                }
            };
            return monitor;
        });
        m_container = std::make_unique<DependencyContainer>(std::move(desktop), std::move(platform));
    }

    void storeToken(const QString& token) {
        m_secrets->items[{SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount}] =
            token.toUtf8();
    }

private slots:
    void initTestCase() {
        m_backend.start();
        m_base = QString::fromStdString(m_backend.baseUrl());
        qputenv("QUILLVANE_BACKEND_URL", m_base.toUtf8());
        Clock::setCurrent(&m_clock);
    }

    void cleanupTestCase() { Clock::setCurrent(nullptr); }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_defaults = std::make_unique<UserDefaults>(m_dir->filePath(QStringLiteral("settings.json")));
        m_secrets = std::make_shared<FakeSecretBackend>();
        m_scheduler = std::make_unique<ManualScheduler>(m_clock);
        m_microphone = PermissionsCoordinator::PermissionState::Granted;
        m_accessibility = true;
        m_permissionReads = m_monitorsCreated = m_monitorsAlive = m_launchAtLoginRefreshes = 0;
        m_buttonCallback = nullptr;
        m_google = {};
        m_backend.reset();
        build();
    }

    void cleanup() {
        m_container.reset();
        m_backend.reset();
    }

    // ---- Wiring --------------------------------------------------------------------------------------

    void shortcutListFollowsTheSettings_data() {
        QTest::addColumn<bool>("smartEdit");
        QTest::addColumn<bool>("vdi");
        QTest::addColumn<QList<HotkeyIntent>>("expected");
        QTest::newRow("both extras off") << false << false << QList<HotkeyIntent>{HotkeyIntent::Dictation};
        QTest::newRow("both on") << true << true
                                 << QList<HotkeyIntent>{HotkeyIntent::Dictation, HotkeyIntent::SmartEdit,
                                                        HotkeyIntent::Vdi};
        QTest::newRow("typing only") << false << true
                                     << QList<HotkeyIntent>{HotkeyIntent::Dictation, HotkeyIntent::Vdi};
    }

    void shortcutListFollowsTheSettings() {
        QFETCH(bool, smartEdit);
        QFETCH(bool, vdi);
        QFETCH(QList<HotkeyIntent>, expected);
        RuntimeLogCapture log;
        container().appSettings().setSmartEditHotkeyEnabled(!smartEdit);
        container().appSettings().setSmartEditHotkeyEnabled(smartEdit);
        container().appSettings().setVdiHotkeyEnabled(vdi);

        const QList<HotkeyBinding> hotkeys = container().globalHotkeyService().hotkeys();
        QCOMPARE(intentsOf(hotkeys), expected);
        QCOMPARE(hotkeys.first().definition, container().appSettings().hotkey());
        if (vdi) {
            QCOMPARE(hotkeys.last().definition, container().appSettings().vdiHotkey());
        }
        // This test has no X display: the registration fails, is logged, and the list stays assigned.
        QVERIFY(!log.entriesStartingWith(QStringLiteral("ERROR Failed to re-register global hotkeys: "))
                     .isEmpty());
    }

    void backendURLChangeReachesTheNextRequest() {
        container().appSettings().setBackendBaseURL(QUrl(QStringLiteral("http://127.0.0.1:1")));
        QVERIFY_THROWS_EXCEPTION(BackendTransportError, runTask(container().backendClient().getTutorials()));
        container().appSettings().setBackendBaseURL(QUrl(m_base));
        runTask(container().backendClient().getTutorials());
        QCOMPARE(m_backend.receivedCount("GET", "/api/tutorials"), 1);
    }

    void mouseModeSettingRestartsTheTrigger_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<MouseTriggerMode>("mode");
        QTest::newRow("empty") << QString() << MouseTriggerMode::Off;
        QTest::newRow("unknown") << "middle" << MouseTriggerMode::Off;
        QTest::newRow("ai_refinement") << "ai_refinement" << MouseTriggerMode::AiRefinement;
        QTest::newRow("unchanged dictation") << "dictation" << MouseTriggerMode::Dictation;
    }

    void mouseModeSettingRestartsTheTrigger() {
        QFETCH(QString, raw);
        QFETCH(MouseTriggerMode, mode);
        // The trigger deletes a replaced monitor on the next turn of the event loop.
        const auto settle = [] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); };
        container().appSettings().setMouseShortcutMode(QStringLiteral("dictation"));
        settle();
        QCOMPARE(m_monitorsAlive, 1);
        const int created = m_monitorsCreated;

        container().appSettings().setMouseShortcutMode(raw);
        settle();
        QCOMPARE(container().mouseTriggerService().mode(), mode);
        // Restarted either way: the old monitor is gone, a new one exists unless the trigger is off.
        QCOMPARE(m_monitorsAlive, mode == MouseTriggerMode::Off ? 0 : 1);
        QCOMPARE(m_monitorsCreated, created + (mode == MouseTriggerMode::Off ? 0 : 1));
    }

    void everyEditSchedulesOneCloudPush() {
        const QString token = QString::fromStdString(m_backend.openSession());
        storeToken(token);
        runTask(container().bootstrap());
        m_backend.reset();

        container().appSettings().setAutoSpaceEnabled(!container().appSettings().autoSpaceEnabled());
        PromptSettings prompt = container().promptSettingsStore().settings();
        prompt.customPrompt = QStringLiteral("Keep my words.");
        container().promptSettingsStore().setSettings(prompt);
        container().knowledgeBaseStore().createDictionaryTerm(QStringLiteral("Quillvane"), QString());
        m_scheduler->advance(1s);
        QTRY_COMPARE(container().configSyncCoordinator().statusText(), ConfigSyncCoordinator::kSavedText);
        QCOMPARE(m_backend.receivedCount("POST", "/api/user/config"), 1);
    }

    void microsoftSignInNeedsAClientID_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("available");
        QTest::newRow("unset") << QByteArray() << false;
        QTest::newRow("blank") << QByteArray(" \t\n") << false;
        QTest::newRow("set") << QByteArray(" 1234-abcd ") << true;
    }

    void microsoftSignInNeedsAClientID() {
        QFETCH(QByteArray, value);
        QFETCH(bool, available);
        if (value.isNull()) {
            qunsetenv("MICROSOFT_CLIENT_ID");
        } else {
            qputenv("MICROSOFT_CLIENT_ID", value);
        }
        QCOMPARE(DependencyContainer::microsoftSignInAvailable(), available);
        qunsetenv("MICROSOFT_CLIENT_ID");
    }

    // ---- Bootstrap and foreground --------------------------------------------------------------------

    void bootstrapRaisesOnboardingForAMissingPermission_data() {
        QTest::addColumn<PermissionsCoordinator::PermissionState>("microphone");
        QTest::addColumn<bool>("accessibility");
        QTest::addColumn<bool>("onboarding");
        using S = PermissionsCoordinator::PermissionState;
        QTest::newRow("both granted") << S::Granted << true << false;
        QTest::newRow("no microphone") << S::ReviewInSettings << true << true;
        QTest::newRow("no X display") << S::Granted << false << true;
    }

    void bootstrapRaisesOnboardingForAMissingPermission() {
        QFETCH(PermissionsCoordinator::PermissionState, microphone);
        QFETCH(bool, accessibility);
        QFETCH(bool, onboarding);
        m_microphone = microphone;
        m_accessibility = accessibility;
        runTask(container().bootstrap());
        QCOMPARE(container().permissionsCoordinator().showOnboarding(), onboarding);
        QCOMPARE(m_launchAtLoginRefreshes, 1);

        // Granting what was missing and coming back to the app hides the sheet again.
        m_microphone = PermissionsCoordinator::PermissionState::Granted;
        m_accessibility = true;
        runTask(container().handleAppDidBecomeActive());
        QVERIFY(!container().permissionsCoordinator().showOnboarding());
    }

    void bootstrapPullsOnlyWithAStoredToken_data() {
        QTest::addColumn<bool>("stored");
        QTest::newRow("no stored token") << false;
        QTest::newRow("stored token") << true;
    }

    void bootstrapPullsOnlyWithAStoredToken() {
        QFETCH(bool, stored);
        const QString token = QString::fromStdString(m_backend.openSession());
        if (stored) {
            storeToken(token);
        }
        m_defaults->setString(QStringLiteral("quillvane.mouse_shortcut_mode"), QStringLiteral("vdi"));
        m_container.reset();
        build();
        m_microphone = PermissionsCoordinator::PermissionState::NotGranted;
        RuntimeLogCapture log;

        runTask(container().bootstrap());
        QCOMPARE(m_backend.receivedCount("GET", "/api/user/config"), stored ? 1 : 0);
        QCOMPARE(container().sessionCoordinator().activeSessionToken().has_value(), stored);
        QCOMPARE(container().mouseTriggerService().mode(), MouseTriggerMode::Vdi);
        QCOMPARE(container().globalHotkeyService().hotkeys(), container().configuredHotkeys());
        QVERIFY(container().permissionsCoordinator().showOnboarding());
        for (const QString& line : log.entries()) {
            QVERIFY2(!line.contains(token), qPrintable(line));
        }

        // The second call changes nothing: no pull, no session request, no onboarding raised again.
        container().permissionsCoordinator().setShowOnboarding(false);
        const std::size_t before = m_backend.received().size();
        runTask(container().bootstrap());
        QCOMPARE(m_backend.received().size(), before);
        QVERIFY(!container().permissionsCoordinator().showOnboarding());
        QCOMPARE(m_launchAtLoginRefreshes, 1);
        QCOMPARE(log.entriesStartingWith(QStringLiteral("INFO Bootstrapping app container")).size(), 1);
    }

    void activationRefreshesAtMostOncePer45Seconds() {
        storeToken(QString::fromStdString(m_backend.openSession()));
        runTask(container().bootstrap()); // refreshes the session now
        m_backend.reset();

        const auto activateAfter = [this](std::chrono::milliseconds wait) {
            m_clock.advance(wait);
            runTask(container().handleAppDidBecomeActive());
            return m_backend.receivedCount("POST", "/api/session");
        };
        QCOMPARE(activateAfter(44999ms), 0);
        QCOMPARE(activateAfter(1ms), 1); // exactly 45 s after the refresh
        QCOMPARE(activateAfter(1s), 1);  // the refresh just happened
        QCOMPARE(activateAfter(44s), 2);
    }

    void middleButtonReachesTheCoordinator() {
        container().appSettings().setMouseShortcutMode(QStringLiteral("dictation"));
        runTask(container().bootstrap());
        QVERIFY(m_buttonCallback);
        // Signed out: the press reaches the coordinator, which asks the user to sign in.
        m_buttonCallback(2, true);
        QTRY_VERIFY(container().dictationCoordinator().upgradePrompt().has_value());
        m_buttonCallback(2, false);
    }

    // The backend refuses the saved session, at start-up or on a later refresh: it ends as a sign-out
    // does (saved token, identity, sync status) and the identity store says why.
    void refusedSessionEndsLikeASignOut_data() {
        QTest::addColumn<bool>("atStartUp");
        QTest::newRow("start-up refresh") << true;
        QTest::newRow("foreground refresh") << false;
    }
    void refusedSessionEndsLikeASignOut() {
        QFETCH(bool, atStartUp);
        storeToken(atStartUp ? QStringLiteral("unknown-token")
                             : QString::fromStdString(m_backend.openSession()));
        m_defaults->setString(AuthStore::kProviderKey, QStringLiteral("apple"));
        m_defaults->setString(AuthStore::kDisplayNameKey, QStringLiteral("Ada"));
        m_container.reset();
        build();
        RuntimeLogCapture log;
        runTask(container().bootstrap());
        if (!atStartUp) {
            QVERIFY(container().sessionCoordinator().activeSessionToken());
            m_backend.scriptNext("/api/session", {401, R"({"error":"invalid session"})"});
            m_clock.advance(45s);
            runTask(container().handleAppDidBecomeActive());
        }
        QVERIFY(!container().sessionCoordinator().activeSessionToken());
        QVERIFY(m_secrets->items.empty());
        QVERIFY(!container().authStore().provider() && !container().authStore().displayName());
        QVERIFY(!m_defaults->contains(AuthStore::kProviderKey));
        QCOMPARE(container().authStore().signInNotice(), AuthStore::kSessionEndedNotice);
        QCOMPARE(container().configSyncCoordinator().statusText(), ConfigSyncCoordinator::kIdleText);
        QCOMPARE(m_backend.receivedCount("GET", "/api/user/config"), atStartUp ? 0 : 1);
        QCOMPARE(log.entriesStartingWith(QStringLiteral("INFO Signed out after the backend refused")).size(),
                 1);

        // A failure that is not a refusal keeps the session.
        storeToken(QString::fromStdString(m_backend.openSession()));
        runTask(container().sessionCoordinator().bootstrapFromSecureStore());
        m_backend.scriptNext("/api/session", {503, R"({"error":"down"})"});
        runTask(container().sessionCoordinator().refreshSession(true));
        QVERIFY(container().sessionCoordinator().activeSessionToken());
        QVERIFY(!m_secrets->items.empty());
    }

    void activationWithoutSessionOnlyRereadsPermissions() {
        runTask(container().bootstrap());
        const int reads = m_permissionReads;
        runTask(container().handleAppDidBecomeActive());
        QCOMPARE(m_permissionReads, reads + 1);
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
    }

    void activationRetriesAFailedStartUpPull() {
        storeToken(QString::fromStdString(m_backend.openSession()));
        m_backend.setMissing("/api/user/config", 404); // started at login before the network was up
        runTask(container().bootstrap());
        ConfigSyncCoordinator& sync = container().configSyncCoordinator();
        QVERIFY2(sync.statusText().startsWith(ConfigSyncCoordinator::kSyncFailedPrefix),
                 qPrintable(sync.statusText()));
        m_backend.reset();

        runTask(container().handleAppDidBecomeActive()); // within 45 s: no session refresh
        QTRY_COMPARE(sync.statusText(), ConfigSyncCoordinator::kUploadedText);
        QCOMPARE(m_backend.receivedCount("GET", "/api/user/config"), 1);
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
        runTask(container().handleAppDidBecomeActive()); // nothing failed: nothing to retry
        QCOMPARE(m_backend.receivedCount("GET", "/api/user/config"), 1);
    }

    // ---- Sign-in ----------------------------------------------------------------------------------------

    // The attempts run the flows the platform put in the provider table, and a success pulls the cloud
    // configuration.
    void signInRunsTheProviderFlowOfThePlatform() {
        container().signInAttempts().start(SignInProviderId::Google);
        QCOMPARE(container().authStore().statusText(), QStringLiteral("Opening Google sign-in..."));
        m_google.resolve(SignInIdentity{QStringLiteral("google-id-token"), QStringLiteral("g@example.com"),
                                        std::nullopt, std::nullopt});
        QTRY_COMPARE(container().authStore().provider(), std::optional<QString>(QStringLiteral("google")));
        QTRY_COMPARE(m_backend.receivedCount("GET", "/api/user/config"), 1);
        QTRY_VERIFY(!container().signInAttempts().hasActiveAttempt());
    }
};

// The desktop is all fakes, so the session's display, sound server and keyring are never touched.
QTEST_MAIN(TestDependencyContainer)

#include "tst_dependency_container.moc"
