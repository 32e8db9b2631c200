// Global shortcuts and the middle-mouse trigger on the session's real X server, driven by XTest key and
// button presses: grabbed chords held with auto-repeat, a chord another client holds, Right Ctrl as Fn,
// the middle button reaching the window under it, and a log free of typed characters.

#include "AppLogger.h"
#include "AppSettings.h"
#include "GlobalHotkeyService.h"
#include "MouseTriggerService.h"
#include "PermissionsCoordinator.h"
#include "RuntimeLogCapture.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QWidget>
#include <QTest>

// Xlib after Qt.
#include "TestDesktop.h"
#include "X11Display.h"
#include "X11KeyGrabber.h"
#include "X11RawInputMonitor.h"
#include "XTestInjector.h"

namespace {

// Keys pressed (true) and released (false), in order.
using KeySteps = QList<std::pair<KeySym, bool>>;

constexpr std::uint16_t kJ = 38, kK = 40, kF5 = 96;
constexpr std::uint32_t kControlOption = CarbonModifier::Control | CarbonModifier::Option;

QString flagsText(std::uint64_t flags) {
    QStringList names;
    const std::pair<std::uint64_t, const char*> table[] = {{ModifierFlag::Command, "cmd"},
                                                           {ModifierFlag::Shift, "shift"},
                                                           {ModifierFlag::Option, "opt"},
                                                           {ModifierFlag::Control, "ctrl"},
                                                           {ModifierFlag::Function, "fn"}};
    for (const auto& [flag, name] : table) {
        if (flags & flag) {
            names << name;
        }
    }
    return names.isEmpty() ? "none" : names.join('+');
}

QString keyEventText(const GlobalKeyEvent& event) {
    const char* kind = event.kind == GlobalKeyEvent::Kind::FlagsChanged ? "flags"
                       : event.kind == GlobalKeyEvent::Kind::KeyDown    ? (event.isRepeat ? "repeat" : "down")
                                                                        : "up";
    return QString("%1 %2 %3").arg(kind).arg(event.keyCode).arg(flagsText(event.modifierFlags));
}

QString edgeText(HotkeyIntent intent, HotkeyEvent event) {
    return hotkeyIntentName(intent) + (event == HotkeyEvent::Pressed ? " pressed" : " released");
}

// A shortcut service with the given list, activated as the composition root does it, recording edges.
struct ActiveService {
    explicit ActiveService(const QList<HotkeyBinding>& hotkeys) {
        service.eventHandler = [this](HotkeyIntent intent, HotkeyEvent event) {
            edges << edgeText(intent, event);
        };
        service.setHotkeys(hotkeys);
        service.installHandlerIfNeeded();
        service.registerHotkey();
        service.installFunctionKeyMonitors();
    }
    GlobalHotkeyService service{testDesktop().openKeyGrabber, testDesktop().openInputMonitor};
    QStringList edges;
};

QList<HotkeyBinding> defaultShortcuts() {
    return {{HotkeyIntent::Dictation, AppSettings::defaultHotkey()},
            {HotkeyIntent::SmartEdit, AppSettings::defaultSmartEditHotkey()}};
}

class MiddleButtonWindow : public QWidget {
public:
    MiddleButtonWindow() {
        setWindowTitle("quillvane-middle-button-target");
        setFixedSize(200, 150);
    }
    int presses = 0;
    int releases = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::MiddleButton) {
            ++presses;
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        mousePressEvent(event);
    } // a second quick press
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::MiddleButton) {
            ++releases;
        }
    }
};

// A focused window that records the Ctrl chords it receives.
class KeyWindow : public QWidget {
public:
    KeyWindow() {
        setWindowTitle("quillvane-key-target");
        setFixedSize(200, 150);
        setFocusPolicy(Qt::StrongFocus);
    }
    QStringList chords;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() & Qt::ControlModifier && event->key() != Qt::Key_Control) {
            chords << QKeySequence(event->keyCombination()).toString();
        }
    }
};

} // namespace

class TestHotkeysX11 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(m_injector.isOpen(), "no X display: run under scripts/test-session");
    }

    void rawMonitorTranslatesKeys_data() {
        QTest::addColumn<KeySteps>("keys");
        QTest::addColumn<QStringList>("expected");
        using Keys = KeySteps;
        QTest::newRow("Right Ctrl is Fn") << Keys{{XK_Control_R, true}, {XK_Control_R, false}}
                                          << QStringList{"flags 63 fn", "flags 63 none"};
        QTest::newRow("Left Ctrl is Control")
            << Keys{{XK_Control_L, true}, {XK_k, true}, {XK_k, false}, {XK_Control_L, false}}
            << QStringList{"flags 59 ctrl", "down 40 ctrl", "up 40 ctrl", "flags 59 none"};
        QTest::newRow("Super is Command, Alt is Option")
            << Keys{{XK_Super_L, true}, {XK_Alt_L, true},  {XK_space, true},
                    {XK_space, false},  {XK_Alt_L, false}, {XK_Super_L, false}}
            << QStringList{"flags 55 cmd",  "flags 58 cmd+opt", "down 49 cmd+opt",
                           "up 49 cmd+opt", "flags 58 cmd",     "flags 55 none"};
        QTest::newRow("Shift + F5")
            << Keys{{XK_Shift_L, true}, {XK_F5, true}, {XK_F5, false}, {XK_Shift_L, false}}
            << QStringList{"flags 56 shift", "down 96 shift", "up 96 shift", "flags 56 none"};
        QTest::newRow("keys no shortcut can use never come out")
            << Keys{{XK_Home, true},    {XK_Home, false}, {XK_KP_Add, true},
                    {XK_KP_Add, false}, {XK_F5, true},    {XK_F5, false}}
            << QStringList{"down 96 none", "up 96 none"};
    }

    void rawMonitorTranslatesKeys() {
        QFETCH(KeySteps, keys);
        auto monitor = X11RawInputMonitor::open(X11RawInputMonitor::Keys);
        QVERIFY(monitor);
        QStringList events;
        monitor->onKeyEvent = [&](const GlobalKeyEvent& event) { events << keyEventText(event); };
        for (const auto& [keysym, down] : keys) {
            down ? m_injector.press(keysym) : m_injector.release(keysym);
        }
        QFETCH(QStringList, expected);
        QTRY_COMPARE(events, expected);
    }

    void grabberSeesTheRepeatsOfAHeldChord() {
        // The repeats the service must fold into one press do arrive.
        auto grabber = X11KeyGrabber::open();
        QVERIFY(grabber);
        int presses = 0, releases = 0;
        grabber->onHotKey = [&](std::uint32_t id, bool pressed) {
            QCOMPARE(id, 7u);
            ++(pressed ? presses : releases);
        };
        QCOMPARE(grabber->grab(7, kK, kControlOption), 0);
        m_injector.setFastAutoRepeat();
        m_injector.press(XK_Control_L);
        m_injector.press(XK_Alt_L);
        m_injector.press(XK_k);
        QTRY_VERIFY(presses >= 4);
        m_injector.release(XK_Control_L); // modifiers first: the key's release still ends the chord
        m_injector.release(XK_Alt_L);
        m_injector.release(XK_k);
        QTRY_COMPARE(releases, 1);
    }

    void grabbedChordGivesOnePressAndOneRelease() {
        QList<HotkeyBinding> hotkeys = defaultShortcuts();
        hotkeys.append({HotkeyIntent::Vdi, HotkeyDefinition{3, kK, kControlOption, false, false}});
        ActiveService active(hotkeys);
        m_injector.setFastAutoRepeat();
        m_injector.press(XK_Control_L);
        m_injector.press(XK_Alt_L);
        m_injector.press(XK_k);
        QTRY_COMPARE(active.edges, QStringList{"vdi pressed"});
        QTest::qWait(500); // held: dozens of auto-repeats at this rate
        m_injector.release(XK_Alt_L);
        m_injector.release(XK_Control_L);
        m_injector.release(XK_k);
        QTRY_COMPARE(active.edges, (QStringList{"vdi pressed", "vdi released"}));

        // The modifiers were let go while the chord's grab was active: the key monitor saw it all the same,
        // so Right Ctrl now is Fn alone, not Control + Option + Fn.
        m_injector.press(XK_Control_R);
        QTRY_COMPARE(active.edges.size(), 3);
        m_injector.release(XK_Control_R);
        QTRY_COMPARE(active.edges,
                     (QStringList{"vdi pressed", "vdi released", "dictation pressed", "dictation released"}));
    }

    void chordHeldByAnotherClientFailsToRegister() {
        auto other = X11Display::open();
        QVERIFY(other);
        const KeyCode j = XKeysymToKeycode(other->display(), XK_j);
        XGrabKey(other->display(), j, ControlMask | Mod1Mask, other->root(), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(other->display(), False);

        GlobalHotkeyService service(testDesktop().openKeyGrabber, testDesktop().openInputMonitor);
        QStringList edges;
        service.eventHandler = [&](HotkeyIntent intent, HotkeyEvent event) {
            edges << edgeText(intent, event);
        };
        service.setHotkeys({{HotkeyIntent::SmartEdit, HotkeyDefinition{2, kK, kControlOption, false, false}},
                            {HotkeyIntent::Vdi, HotkeyDefinition{3, kJ, kControlOption, false, false}}});
        service.installHandlerIfNeeded();
        try {
            service.registerHotkey();
            QFAIL("registering a chord another client holds succeeded");
        } catch (const GlobalHotkeyError& error) {
            QCOMPARE(error.kind(), GlobalHotkeyError::Kind::FailedToRegister);
            QCOMPARE(error.status(), BadAccess);
            // The shortcut as the user knows it, and who holds it; no X error code.
            QCOMPARE(error.message(), QString("Alt + Ctrl + J is already used by another application. Choose "
                                              "another shortcut, or free it in that application."));
        }
        // The chord before the refused one stays registered.
        m_injector.press(XK_Control_L);
        m_injector.press(XK_Alt_L);
        m_injector.tap(XK_k);
        m_injector.release(XK_Alt_L);
        m_injector.release(XK_Control_L);
        QTRY_COMPARE(edges, (QStringList{"smartEdit pressed", "smartEdit released"}));
        XUngrabKey(other->display(), j, ControlMask | Mod1Mask, other->root());
        XSync(other->display(), False);
    }

    void modifierOnlyShortcutGrabsNothing() {
        // Control + Option held alone; Control + Option + A stays with the applications.
        ActiveService active(
            {{HotkeyIntent::Dictation, HotkeyDefinition{1, 0, kControlOption, false, true}}});
        auto other = X11Display::open();
        QVERIFY(other);
        const KeyCode a = XKeysymToKeycode(other->display(), XK_a);
        {
            X11Display::ErrorTrap trap(*other);
            XGrabKey(other->display(), a, ControlMask | Mod1Mask, other->root(), False, GrabModeAsync,
                     GrabModeAsync);
            QCOMPARE(trap.finish(), 0);
        }
        XUngrabKey(other->display(), a, ControlMask | Mod1Mask, other->root());
        XSync(other->display(), False);

        m_injector.press(XK_Control_L);
        m_injector.press(XK_Alt_L);
        m_injector.tap(XK_a);
        m_injector.release(XK_Alt_L);
        m_injector.release(XK_Control_L);
        QTRY_COMPARE(active.edges, (QStringList{"dictation pressed", "dictation released"}));
        QTest::qWait(100);
        QCOMPARE(active.edges, (QStringList{"dictation pressed", "dictation released"}));
    }

    void rightCtrlIsTheFnKey() {
        ActiveService active(defaultShortcuts());
        m_injector.press(XK_Control_R);
        QTRY_COMPARE(active.edges,
                     QStringList{"dictation pressed"}); // after the 120 ms wait for Control + Fn
        m_injector.release(XK_Control_R);
        QTRY_COMPARE(active.edges, (QStringList{"dictation pressed", "dictation released"}));

        m_injector.press(XK_Control_L);
        m_injector.press(XK_Control_R);
        QTRY_COMPARE(active.edges.size(), 3);
        m_injector.release(XK_Control_R);
        m_injector.release(XK_Control_L);
        QTRY_COMPARE(active.edges, (QStringList{"dictation pressed", "dictation released",
                                                "smartEdit pressed", "smartEdit released"}));
    }

    // X matches a grab on the modifier mask, where both Ctrl keys look the same. Right Ctrl is the Fn key
    // here: Right Ctrl + K is not the Ctrl + K shortcut, and the key goes on to the focused application.
    void rightCtrlDoesNotFireAControlChord() {
        KeyWindow window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QList<HotkeyBinding> hotkeys = defaultShortcuts();
        hotkeys.append({HotkeyIntent::Vdi, HotkeyDefinition{3, kK, CarbonModifier::Control, false, false}});
        ActiveService active(hotkeys);
        auto vdiEdges = [&] { return active.edges.filter("vdi"); };

        m_injector.press(XK_Control_R);
        m_injector.tap(XK_k);
        m_injector.release(XK_Control_R);
        QTRY_COMPARE(window.chords, QStringList{"Ctrl+K"}); // handed on, not swallowed
        QCOMPARE(vdiEdges(), QStringList());

        m_injector.press(XK_Control_L);
        m_injector.tap(XK_k);
        m_injector.release(XK_Control_L);
        QTRY_COMPARE(vdiEdges(), (QStringList{"vdi pressed", "vdi released"}));
        QCOMPARE(window.chords, QStringList{"Ctrl+K"}); // the shortcut keeps its key

        // Both Ctrl keys down: the left one makes it Ctrl + K.
        m_injector.press(XK_Control_R);
        m_injector.press(XK_Control_L);
        m_injector.tap(XK_k);
        m_injector.release(XK_Control_L);
        m_injector.release(XK_Control_R);
        QTRY_COMPARE(vdiEdges(), (QStringList{"vdi pressed", "vdi released", "vdi pressed", "vdi released"}));
        QCOMPARE(window.chords, QStringList{"Ctrl+K"});
    }

    void interceptorComesFirst() {
        GlobalHotkeyService service(testDesktop().openKeyGrabber, testDesktop().openInputMonitor);
        QStringList intercepted, handled;
        service.interceptor = [&](HotkeyIntent intent, HotkeyEvent event) {
            intercepted << edgeText(intent, event);
            return event == HotkeyEvent::Pressed; // consumes presses only
        };
        service.eventHandler = [&](HotkeyIntent intent, HotkeyEvent event) {
            handled << edgeText(intent, event);
        };
        service.installHandlerIfNeeded(); // the initial list: Fn (Right Ctrl) alone for dictation
        service.registerHotkey();
        service.installFunctionKeyMonitors();
        m_injector.tap(XK_Control_R);
        QTRY_COMPARE(intercepted, (QStringList{"dictation pressed", "dictation released"}));
        QCOMPARE(handled, QStringList{"dictation released"});
    }

    void withoutAnXDisplay() {
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":4242");
        RuntimeLogCapture log;
        GlobalHotkeyService service(testDesktop().openKeyGrabber, testDesktop().openInputMonitor);
        try {
            service.installHandlerIfNeeded();
            QFAIL("installed without an X display");
        } catch (const GlobalHotkeyError& error) {
            QCOMPARE(error.kind(), GlobalHotkeyError::Kind::FailedToInstallHandler);
            QCOMPARE(error.message(), QString("Global shortcuts need an X display. Start Quillvane in an X11 "
                                              "session (or a Wayland session with XWayland)."));
        }
        service.installFunctionKeyMonitors(); // never fails
        qputenv("DISPLAY", display);
        QCOMPARE(log.lines(), QStringList{"Shortcut key monitor unavailable: no X display with XInput 2"});
    }

    void middleButtonClickReachesTheWindow() {
        MiddleButtonWindow window;
        window.setWindowFlag(Qt::WindowStaysOnTopHint);
        window.move(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        MouseTriggerService service(MouseTriggerService::buttonMonitors(testDesktop().openInputMonitor));
        QStringList edges;
        service.eventHandler = [&](const MouseTriggerEvent& event) {
            edges << (event.kind == MouseTriggerEvent::Kind::Pressed ? "pressed " + toRaw(event.mode)
                                                                     : QString("released"));
        };
        service.setMode(MouseTriggerMode::Dictation);

        const QPoint centre = window.mapToGlobal(window.rect().center());
        m_injector.moveTo(centre.x(), centre.y());
        QTRY_VERIFY(window.underMouse());
        for (int click = 1; click <= 2; ++click) {
            m_injector.button(2, true);
            QTRY_COMPARE(window.presses, click);
            m_injector.button(2, false);
            QTRY_COMPARE(window.releases, click);
        }
        m_injector.button(3, true); // other buttons start nothing
        m_injector.button(3, false);
        QTRY_COMPARE(edges, (QStringList{"pressed dictation", "released", "pressed dictation", "released"}));
    }

    void typedCharactersNeverReachTheLog() {
        RuntimeLogCapture log;
        QList<HotkeyBinding> hotkeys = defaultShortcuts();
        hotkeys.append({HotkeyIntent::Vdi, HotkeyDefinition{3, kF5, 0, false, false}});
        ActiveService active(hotkeys);

        // A password typed into some application, then the F5 shortcut as a marker that all was seen.
        for (KeySym key : {XK_s, XK_w, XK_o, XK_r, XK_d, XK_f, XK_i, XK_s, XK_h}) {
            m_injector.tap(key);
        }
        m_injector.press(XK_Shift_L);
        for (KeySym key : {XK_q, XK_u, XK_i, XK_l, XK_l, XK_comma, XK_Home}) {
            m_injector.tap(key);
        }
        m_injector.release(XK_Shift_L);
        m_injector.press(XK_Super_L);
        m_injector.tap(XK_v);
        m_injector.release(XK_Super_L);
        m_injector.tap(XK_Return);
        m_injector.tap(XK_F5);
        QTRY_COMPARE(active.edges, (QStringList{"vdi pressed", "vdi released"}));

        static const QRegularExpression allowed(
            "^(Global hotkey registered: |Standalone hotkey (pressed|released) id=3 intent=vdi display=F5$)");
        for (const QString& line : log.lines()) {
            QVERIFY2(allowed.match(line).hasMatch(), qPrintable("unexpected log line: " + line));
        }
        AppLogger::flush();
        QFile file(AppLogger::logFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains("Standalone hotkey pressed id=3 intent=vdi display=F5"));
        static const QRegularExpression keyTrace("Raw key|Raw flagsChanged|keyCode=|chars=[^0-9]|swordfish");
        QVERIFY2(!keyTrace.match(text).hasMatch(), qPrintable(keyTrace.match(text).captured()));
    }

    void permissionsOnThisDesktop() {
        // An X display with XTest and XInput2, and an audio server with the virtual microphone.
        PermissionsCoordinator coordinator(PermissionsCoordinator::desktopChecks(
            testDesktop().audioInputs, testDesktop().inputAccessGranted));
        coordinator.setShowOnboarding(true);
        coordinator.refresh();
        QCOMPARE(coordinator.accessibility(), PermissionsCoordinator::PermissionState::Granted);
        QCOMPARE(coordinator.microphone(), PermissionsCoordinator::PermissionState::Granted);
        QCOMPARE(coordinator.showOnboarding(), false);
    }

private:
    XTestInjector m_injector;
};

QTEST_MAIN(TestHotkeysX11)
#include "tst_hotkeys_x11.moc"
