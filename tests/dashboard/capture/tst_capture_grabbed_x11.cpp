// Capturing the shortcut that is grabbed right now, on the session's X server: while the dashboard's
// capture sheet shows, the global shortcuts let go, so the sheet receives the chord pressed through XTest;
// once the sheet closes, the chord is grabbed again and fires the shortcut.

#include "AppSettings.h"
#include "DashboardRig.h"
#include "DashboardView.h"
#include "GlobalHotkeyService.h"
#include "HotkeyIntent.h"
#include "PresentationHost.h"
#include "TestDesktop.h"

#include <QTest>

// Xlib after Qt.
#include "XTestInjector.h"

class CaptureGrabbedTest : public QObject {
    Q_OBJECT

private slots:
    void grabbedShortcutIsCapturedThenGrabbedAgain() {
        XTestInjector keys;
        QVERIFY(keys.isOpen());
        const HotkeyDefinition chord{1, 40, CarbonModifier::Control | CarbonModifier::Option, false, false}; // K
        const QList<HotkeyBinding> bindings{{HotkeyIntent::Dictation, chord}};

        QStringList edges;
        GlobalHotkeyService shortcuts(testDesktop().openKeyGrabber, testDesktop().openInputMonitor);
        shortcuts.eventHandler = [&edges](HotkeyIntent intent, HotkeyEvent event) {
            edges << hotkeyIntentName(intent) + (event == HotkeyEvent::Pressed ? " pressed" : " released");
        };
        shortcuts.setHotkeys(bindings);
        shortcuts.installHandlerIfNeeded();
        shortcuts.registerHotkey();
        const auto pressChord = [&keys] {
            keys.press(XK_Control_L);
            keys.press(XK_Alt_L);
            keys.tap(XK_k);
            keys.release(XK_Alt_L);
            keys.release(XK_Control_L);
        };

        // The grab works before the sheet opens.
        pressChord();
        QTRY_COMPARE(edges, (QStringList{"dictation pressed", "dictation released"}));
        edges.clear();

        DashboardRig rig;
        rig.appSettings.setHotkey(chord);
        rig.services.suspendGlobalShortcuts = [&](bool suspended) {
            shortcuts.setHotkeys(suspended ? QList<HotkeyBinding>{} : bindings);
            shortcuts.registerHotkey();
        };
        DashboardView& view = rig.makeView();
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.state().setCaptureIntent(DashboardHotkeyCaptureIntent::Dictation);
        QCOMPARE(view.presentations().currentKey(), DashboardView::kCapturePresentation);
        QTest::qWait(50);

        pressChord();
        QTRY_COMPARE(view.state().hotkeyStatusText(),
                     QStringLiteral("Updated Dictation shortcut to Alt + Ctrl + K."));
        QVERIFY(!view.state().captureIntent());
        QCOMPARE(rig.appSettings.hotkey(), chord);
        QCOMPARE(edges, QStringList{});

        // The sheet is gone: the chord is the global shortcut's again.
        QTRY_VERIFY(view.presentations().currentKey().isEmpty());
        pressChord();
        QTRY_COMPARE(edges, (QStringList{"dictation pressed", "dictation released"}));
    }
};

QTEST_MAIN(CaptureGrabbedTest)
#include "tst_capture_grabbed_x11.moc"
