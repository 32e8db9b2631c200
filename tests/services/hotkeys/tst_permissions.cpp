// The permissions coordinator's states, button titles and actions, with the system's answers faked; and
// its default probe on a session without an X display.

#include "AudioTestMain.h"
#include "DesktopInputAccess.h"
#include "ManualScheduler.h"
#include "PermissionsCoordinator.h"
#include "RuntimeLogCapture.h"

#include <QSignalSpy>
#include <QTest>

using State = PermissionsCoordinator::PermissionState;
using Kind = PermissionsCoordinator::PermissionKind;

namespace {

struct FakeSystem {
    State microphone = State::Granted;
    bool trusted = true;
    QStringList programsOnPath;
    QList<QStringList> launched;
    int accessibilityProbes = 0;

    PermissionsCoordinator::Platform platform() {
        return {[this] { return microphone; },
                [this] {
                    ++accessibilityProbes;
                    return trusted;
                },
                [this](const QString& program) {
                    return programsOnPath.contains(program) ? "/usr/bin/" + program : QString();
                },
                [this](const QString& program, const QStringList& arguments) {
                    launched << (QStringList{program} + arguments);
                    return true;
                }};
    }
};

} // namespace

class TestPermissions : public QObject {
    Q_OBJECT

private slots:
    void init() { Scheduler::setCurrent(&m_scheduler); }
    void cleanup() { Scheduler::setCurrent(nullptr); }

    void startsNotGranted() {
        FakeSystem system;
        PermissionsCoordinator coordinator(system.platform());
        QCOMPARE(coordinator.microphone(), State::NotGranted);
        QCOMPARE(coordinator.accessibility(), State::NotGranted);
        QVERIFY(coordinator.hasMissingCriticalPermissions());
        QCOMPARE(coordinator.showOnboarding(), false);
    }

    void titlesAndOnboarding_data() {
        QTest::addColumn<State>("microphone");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("microphoneTitle");
        QTest::addColumn<QString>("accessibilityTitle");
        QTest::addColumn<bool>("onboardingAfterRefresh");
        QTest::newRow("both granted") << State::Granted << true << "Ready"
                                      << "Ready" << false;
        QTest::newRow("no input, display reachable") << State::ReviewInSettings << true << "Open Settings"
                                                     << "Ready" << true;
        QTest::newRow("microphone unavailable") << State::Unavailable << true << "Open Settings"
                                                << "Ready" << true;
        QTest::newRow("no X display") << State::Granted << false << "Ready"
                                      << "Grant Access" << true;
    }

    void titlesAndOnboarding() {
        QFETCH(State, microphone);
        QFETCH(bool, trusted);
        FakeSystem system{microphone, trusted};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.setShowOnboarding(true);
        coordinator.refresh();
        QTEST(coordinator.primaryActionTitle(Kind::Microphone), "microphoneTitle");
        QTEST(coordinator.primaryActionTitle(Kind::Accessibility), "accessibilityTitle");
        QTEST(coordinator.showOnboarding(), "onboardingAfterRefresh"); // lowered only when nothing is missing
        QCOMPARE(coordinator.hasMissingCriticalPermissions(), coordinator.showOnboarding());
    }

    void refreshNeverRaisesOnboarding() {
        FakeSystem system{State::ReviewInSettings, false};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.refresh();
        QCOMPARE(coordinator.showOnboarding(), false);
    }

    void publishesChanges() {
        FakeSystem system;
        PermissionsCoordinator coordinator(system.platform());
        QSignalSpy microphoneSpy(&coordinator, &PermissionsCoordinator::microphoneChanged);
        QSignalSpy accessibilitySpy(&coordinator, &PermissionsCoordinator::accessibilityChanged);
        coordinator.refresh();
        coordinator.refresh();
        QCOMPARE(microphoneSpy.count(), 1);
        QCOMPARE(accessibilitySpy.count(), 1);
    }

    void grantedButtonsDoNothing() {
        FakeSystem system{State::Granted, true, {"gnome-control-center"}};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.refresh();
        const int probes = system.accessibilityProbes;
        coordinator.performPrimaryAction(Kind::Microphone);
        coordinator.performPrimaryAction(Kind::Accessibility);
        m_scheduler.advance(std::chrono::seconds(5));
        QCOMPARE(system.launched, QList<QStringList>{});
        QCOMPARE(system.accessibilityProbes, probes);
    }

    void accessibilityChecksAgainAfter700ms() {
        FakeSystem system{State::Granted, false};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.refresh();
        QCOMPARE(coordinator.primaryActionTitle(Kind::Accessibility), QString("Grant Access"));
        const int probes = system.accessibilityProbes;
        system.trusted = true;
        coordinator.performPrimaryAction(Kind::Accessibility);
        m_scheduler.advance(std::chrono::milliseconds(699));
        QCOMPARE(system.accessibilityProbes, probes);
        m_scheduler.advance(std::chrono::milliseconds(1));
        QCOMPARE(system.accessibilityProbes, probes + 1);
        QCOMPARE(coordinator.accessibility(), State::Granted);
        m_scheduler.advance(std::chrono::seconds(5));
        QCOMPARE(system.accessibilityProbes, probes + 1); // once
    }

    void recheckDoesNothingOnceTheCoordinatorIsGone() {
        FakeSystem system{State::Granted, false};
        auto coordinator = std::make_unique<PermissionsCoordinator>(system.platform());
        coordinator->refreshAfterDelay();
        coordinator.reset();
        const int probes = system.accessibilityProbes;
        m_scheduler.advance(std::chrono::seconds(1));
        QCOMPARE(system.accessibilityProbes, probes);
    }

    void microphoneOpensTheDesktopSettings_data() {
        QTest::addColumn<State>("state");
        QTest::addColumn<QStringList>("programsOnPath");
        QTest::addColumn<QList<QStringList>>("launched");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("GNOME") << State::ReviewInSettings
                               << QStringList{"pavucontrol", "gnome-control-center"}
                               << QList<QStringList>{{"/usr/bin/gnome-control-center", "sound"}}
                               << "Opened system settings kind=microphone program=gnome-control-center";
        QTest::newRow("KDE, unavailable") << State::Unavailable << QStringList{"systemsettings"}
                                          << QList<QStringList>{{"/usr/bin/systemsettings", "kcm_pulseaudio"}}
                                          << "Opened system settings kind=microphone program=systemsettings";
        QTest::newRow("no settings application")
            << State::ReviewInSettings << QStringList{} << QList<QStringList>{}
            << "Cannot open system settings kind=microphone: no settings application found";
    }

    void microphoneOpensTheDesktopSettings() {
        QFETCH(State, state);
        QFETCH(QStringList, programsOnPath);
        FakeSystem system{state, true, programsOnPath};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.refresh();
        QCOMPARE(coordinator.primaryActionTitle(Kind::Microphone), QString("Open Settings"));
        RuntimeLogCapture log;
        coordinator.performPrimaryAction(Kind::Microphone);
        QTEST(system.launched, "launched");
        QCOMPARE(log.lines().size(), 1);
        QTEST(log.lines().constFirst(), "logLine");
    }

    void grantAccessForTheMicrophoneLooksAgainThenOpensSettings() {
        // Before the first refresh the microphone is "not granted": the button looks again, and sends the
        // user to the settings only when there is still no input.
        FakeSystem system{State::ReviewInSettings, true, {"gnome-control-center"}};
        PermissionsCoordinator coordinator(system.platform());
        coordinator.performPrimaryAction(Kind::Microphone);
        QCOMPARE(coordinator.microphone(), State::ReviewInSettings);
        QCOMPARE(system.launched, (QList<QStringList>{{"/usr/bin/gnome-control-center", "sound"}}));

        FakeSystem ready{State::Granted, true, {"gnome-control-center"}};
        PermissionsCoordinator second(ready.platform());
        second.performPrimaryAction(Kind::Microphone);
        QCOMPARE(second.microphone(), State::Granted);
        QCOMPARE(ready.launched, QList<QStringList>{});
    }

    void noXDisplayMeansNoAccessibility() {
        // A pure Wayland session: the desktop's probe finds no X display.
        const bool hadDisplay = qEnvironmentVariableIsSet("DISPLAY");
        const QByteArray saved = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":4242");
        PermissionsCoordinator::Platform platform;
        platform.microphoneState = [] { return State::Granted; };
        platform.accessibilityTrusted = &desktopInputAccessGranted;
        PermissionsCoordinator coordinator(platform);
        coordinator.refresh();
        if (hadDisplay) {
            qputenv("DISPLAY", saved);
        } else {
            qunsetenv("DISPLAY");
        }
        QCOMPARE(coordinator.accessibility(), State::NotGranted);
    }

private:
    ManualClock m_clock;
    ManualScheduler m_scheduler{m_clock};
};

QUILLVANE_AUDIO_TEST_MAIN(TestPermissions, QCoreApplication)
#include "tst_permissions.moc"
