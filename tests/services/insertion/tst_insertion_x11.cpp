// The frontmost application's context, paste and typing, on a private X server with openbox, against the
// insertion target window in a child process.

#include "ActiveAppContextService.h"
#include "ClipboardRestorer.h"
#include "InsertionTestSupport.h"
#include "RunTask.h"
#include "TestDesktop.h"
#include "TextInsertionService.h"
#include "X11TypingLayout.h"

#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

#include "X11Display.h"
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {
const QString kTyped = QString::fromUtf8("héllo wörld – ✓ Ünïcödé ß € 日本 🎉");

bool capsLockOn(X11Display& display) {
    XkbStateRec state{};
    XkbGetState(display.display(), XkbUseCoreKbd, &state);
    return (state.locked_mods & LockMask) != 0;
}

void setCapsLock(X11Display& display, bool on) {
    XkbLockModifiers(display.display(), XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display.display(), False);
}

// Loads a keyboard layout on the private server, as a user's layout switch does.
bool setLayout(const QString& layout) {
    return QProcess::execute("setxkbmap", {"-display", qEnvironmentVariable("DISPLAY"), layout}) == 0;
}

bool keyDown(X11Display& display, KeySym keysym) {
    char keys[32] = {};
    XQueryKeymap(display.display(), keys);
    const KeyCode keycode = XKeysymToKeycode(display.display(), keysym);
    return keys[keycode / 8] & (1 << (keycode % 8));
}

void fakeKey(X11Display& display, KeySym keysym, bool down) {
    XTestFakeKeyEvent(display.display(), XKeysymToKeycode(display.display(), keysym), down, CurrentTime);
    XSync(display.display(), False);
}
} // namespace

class TestInsertionX11 : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11Display> m_display;
    std::shared_ptr<X11WindowInspector> m_windows;
    QList<unsigned int> m_spareKeycodes; // before any typing

    // Starts the target, makes it frontmost and gives it the user's clipboard (text and image).
    bool startWithUserClipboard(TargetProcess& target, const QStringList& arguments) {
        if (!target.start(arguments) || !waitUntilFrontmost(*m_windows, target)) {
            return false;
        }
        if (target.setClipboard(kUserText, true) != "done") {
            return false;
        }
        // Our process sees the target's clipboard before anything starts.
        return QTest::qWaitFor([] {
            const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
            return mime && mime->text() == kUserText && mime->hasImage();
        });
    }

private slots:
    void initTestCase() {
        m_display = X11Display::open();
        QVERIFY2(m_display, "no X display");
        QVERIFY(m_display->hasXTest());
        m_windows = std::make_shared<X11WindowInspector>(m_display.get());
        m_spareKeycodes = X11TypingLayout::read(m_display->display()).spareKeycodes();
        QVERIFY(!m_spareKeycodes.isEmpty());
    }

    void cleanup() {
        QTRY_VERIFY(!ClipboardRestorer::instance().hasPendingRestore());
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows->frontmostWindow(), 10000); // every target has gone
    }

    void contextOfTheTarget() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start(
            {"--title", QString::fromUtf8("  Daily journal – draft \n"), "--class", "obsidian,Obsidian"}));
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        QCOMPARE(m_windows->frontmostWindow()->processId, std::optional<qint64>(target.pid()));

        ActiveAppContextService service(testDesktop().windows);
        const ActiveAppContext context = service.currentContext();
        QCOMPARE(context.appName, QString("Obsidian"));
        QCOMPARE(context.bundleIdentifier, std::optional<QString>("Obsidian"));
        QCOMPARE(context.windowTitle, QString::fromUtf8("Daily journal – draft"));
        QCOMPARE(context.category, std::optional<QString>("notes"));
        QCOMPARE(context.debugDescription, QString::fromUtf8("Obsidian (NOTES) - Daily journal – draft"));
        QCOMPARE(context.windowId, std::optional<quint64>(m_windows->frontmostWindow()->windowId));
        QCOMPARE(context.processId, std::optional<qint64>(target.pid()));
    }

    // A retry brings the window the recording was made for back in front of another program's window and
    // pastes there; a closed window, a window id now naming another program's window, and our own window
    // are never targets.
    void bringsTheRecordedWindowBack() {
        TargetProcess letter(INSERTION_TARGET_PATH);
        QVERIFY(letter.start({"--title", "Letter"}));
        QVERIFY(waitUntilFrontmost(*m_windows, letter));
        const quint64 letterWindow = m_windows->frontmostWindow()->windowId;
        TargetProcess other(INSERTION_TARGET_PATH);
        QVERIFY(other.start({"--title", "Other"}));
        QVERIFY(waitUntilFrontmost(*m_windows, other));

        TextInsertionService service(testDesktop().keys, m_windows);
        QCOMPARE(runTask(service.bringToFront(letterWindow, letter.pid())), WindowRaise::Raised);
        QCOMPARE(m_windows->frontmostWindow()->windowId, letterWindow);
        runTask(service.pasteText(QStringLiteral("into the letter")));
        QTRY_COMPARE_WITH_TIMEOUT(letter.text(), QStringLiteral("into the letter"), 20000);
        QCOMPARE(other.text(), QString());

        QCOMPARE(runTask(service.bringToFront(letterWindow, other.pid())), WindowRaise::Closed);
        letter.stop();
        QCOMPARE(runTask(service.bringToFront(letterWindow, letter.pid())), WindowRaise::Closed);

        QWidget ours;
        ours.setWindowTitle(QStringLiteral("Quillvane"));
        ours.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ours));
        QCOMPARE(runTask(service.bringToFront(quint64(ours.winId()), std::nullopt)), WindowRaise::Ours);
        ours.close();
        other.stop();
        QTRY_VERIFY(!ClipboardRestorer::instance().hasPendingRestore());
    }

    void noActiveWindowGivesUnknowns() {
        const ActiveAppContext expected{"Unknown Application", std::nullopt, "Unknown Window", std::nullopt,
                                        "Unknown Application (GENERAL) - Unknown Window"};
        QCOMPARE(ActiveAppContextService(testDesktop().windows).currentContext(), expected);

        // Without a window manager: the input focus, walked up to the window with a class hint.
        PrivateXServer bare;
        QString error;
        QVERIFY2(bare.start(false, &error), qPrintable(error));
        auto bareDisplay = X11Display::open(bare.displayName());
        QVERIFY(bareDisplay);
        auto bareWindows = std::make_shared<X11WindowInspector>(bareDisplay.get());
        ActiveAppContextService bareService(bareWindows);
        QCOMPARE(bareService.currentContext(), expected);

        TargetProcess target(INSERTION_TARGET_PATH);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", QString::fromLatin1(bare.displayName()));
        target.setEnvironment(environment);
        QVERIFY(target.start({"--title", "Bare", "--class", "barewin,Barewin"}));
        QVERIFY(waitUntilFrontmost(*bareWindows, target));
        const ActiveAppContext context = bareService.currentContext();
        QCOMPARE(context.appName, QString("Barewin"));
        QCOMPARE(context.windowTitle, QString("Bare"));
    }

    // The target gets our text; afterwards the clipboard holds the user's text and image again.
    void pasteRestoresUserClipboard_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("chord");
        QTest::newRow("editor") << QStringList{} << QByteArray("ctrl+v");
        QTest::newRow("terminal") << QStringList{"--terminal", "--class", "xterm,XTerm"}
                                  << QByteArray("ctrl+shift+v");
    }
    void pasteRestoresUserClipboard() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, chord);
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startWithUserClipboard(target, arguments));
        QSignalSpy restores(&ClipboardRestorer::instance(), &ClipboardRestorer::pendingRestoreFinished);

        const QString pasted = QString::fromUtf8("Pasted ✓ text – ünïcode 日本");
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.pasteText(pasted));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), pasted, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(restores.size(), 1, 20000);
        QCOMPARE(restores.first().first().toBool(), true);
        QCOMPARE(target.keys(), QList<QByteArray>{chord});
        verifyUserClipboard(target);
        QCOMPARE(target.text(), pasted); // nothing pasted twice, no old text
    }

    // A paste while the previous paste's restore still waits: both arrive, the user's clipboard comes back.
    void pasteTwiceInARow() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startWithUserClipboard(target, {}));
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.pasteText("first "));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QString("first "), 20000);
        QVERIFY(ClipboardRestorer::instance().hasPendingRestore());
        runTask(service.pasteText("second"));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QString("first second"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!ClipboardRestorer::instance().hasPendingRestore(), 20000);
        verifyUserClipboard(target);
    }

    // A paste that fails leaves the user's clipboard as it was; without permission or event source the
    // clipboard is not even touched.
    void failedPasteKeepsUserClipboard_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("touched");
        QTest::newRow("no permission")
            << "permission" << int(TextInsertionError::Kind::AccessibilityPermissionRequired) << false;
        QTest::newRow("no event source")
            << "source" << int(TextInsertionError::Kind::EventCreationFailed) << false;
        QTest::newRow("chord not sent")
            << "chord" << int(TextInsertionError::Kind::EventCreationFailed) << true;
    }
    void failedPasteKeepsUserClipboard() {
        QFETCH(QString, failure);
        QFETCH(int, kind);
        QFETCH(bool, touched);
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startWithUserClipboard(target, {}));

        auto keys = std::make_shared<ScriptedKeys>(testDesktop().keys);
        keys->available = failure != "source";
        keys->chordWorks = failure != "chord";
        TextInsertionService service(keys, m_windows);
        if (failure == "permission") {
            service.isAccessibilityTrusted = [] { return false; };
        }
        const auto error = expectFailure<TextInsertionError>(service.pasteText("never pasted"));
        QCOMPARE(int(error.kind()), kind);
        QCOMPARE(QGuiApplication::clipboard()->ownsClipboard(), touched); // put back by us, or never taken
        QVERIFY(!ClipboardRestorer::instance().hasPendingRestore());
        verifyUserClipboard(target);
        QCOMPARE(target.text(), QString());
    }

    // Every character arrives exactly, whatever the layout lacks, also on a busy machine, with Caps Lock
    // on, and while the user still holds the shortcut's Ctrl key for a moment; the keyboard is as it was
    // afterwards.
    void typingArrivesExactly_data() {
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("capsLock");
        QTest::addColumn<bool>("ctrlHeld");
        QTest::newRow("idle") << false << false << false;
        QTest::newRow("machine loaded") << true << false << false;
        QTest::newRow("caps lock on") << false << true << false;
        QTest::newRow("ctrl still held") << false << false << true;
    }
    void typingArrivesExactly() {
        QFETCH(bool, loaded);
        QFETCH(bool, capsLock);
        QFETCH(bool, ctrlHeld);
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start());
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        setCapsLock(*m_display, capsLock);
        auto capsOff = qScopeGuard([this] { setCapsLock(*m_display, false); });

        std::unique_ptr<MachineLoad> load;
        if (loaded) {
            load = std::make_unique<MachineLoad>();
        }
        if (ctrlHeld) {
            // The user lets go of Ctrl 300 ms after the typing was asked for.
            const KeyCode control = XKeysymToKeycode(m_display->display(), XK_Control_L);
            XTestFakeKeyEvent(m_display->display(), control, True, CurrentTime);
            XSync(m_display->display(), False);
            QTimer::singleShot(300, [this, control] {
                XTestFakeKeyEvent(m_display->display(), control, False, CurrentTime);
                XSync(m_display->display(), False);
            });
        }
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.typeText(kTyped, 0.0));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), kTyped, 30000);
        load.reset();

        QCOMPARE(capsLockOn(*m_display), capsLock);
        // The spare keys lose their symbols again a moment later.
        QTRY_COMPARE_WITH_TIMEOUT(X11TypingLayout::read(m_display->display()).spareKeycodes(),
                                  m_spareKeycodes, 10000);
        QCOMPARE(target.text(), kTyped);
    }

    // The layout changes between two typings and in the middle of one (setxkbmap loads a new map: the
    // spare keys lose the symbols we gave them, and letters move, y and z on a German layout, a and q on a
    // French one). Every character still arrives as itself, and the spares are emptied afterwards.
    void typingAcrossLayoutSwitches() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start());
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        auto usLayout = qScopeGuard([] { setLayout("us"); });
        QVERIFY(setLayout("us"));

        // Characters US lacks go on spare keys; the second typing reuses those still mapped.
        const QString first = QString::fromUtf8("zebra ✓ € 日本 ");
        const QString second = QString::fromUtf8("yzma ✓€日本 ");
        const QString third = QString::fromUtf8("quartz amazing ✓ € 日本 wombat yes");
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.typeText(first, 0.0));
        QVERIFY(setLayout("de"));
        runTask(service.typeText(second, 0.0));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), first + second, 30000);

        // The switch to French comes while the third text is being typed (between two key presses).
        QList<unsigned int> frenchSpares;
        target.onTextChanged = [&](const QString& text) {
            if (frenchSpares.isEmpty() && text.size() >= (first + second).size() + 8) {
                QVERIFY(setLayout("fr"));
                frenchSpares = X11TypingLayout::read(m_display->display()).spareKeycodes();
            }
        };
        runTask(service.typeText(third, 0.02));
        target.onTextChanged = nullptr;
        QVERIFY(!frenchSpares.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), first + second + third, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(X11TypingLayout::read(m_display->display()).spareKeycodes(), frenchSpares,
                                  10000);
    }

    // Another program gives one of our spare keys a symbol of its own while ours are still mapped: the
    // restore (here the synchronous one of the exit paths) leaves that key to it and empties the rest.
    void restoreLeavesKeysOthersRemapped() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start());
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        const QString text = QString::fromUtf8("✓ € 日本");
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.typeText(text, 0.0));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), text, 30000);
        const QList<unsigned int> spareNow = X11TypingLayout::read(m_display->display()).spareKeycodes();
        unsigned int taken = 0;
        for (unsigned int keycode : m_spareKeycodes) {
            if (!spareNow.contains(keycode)) {
                taken = keycode; // carries one of our symbols
                break;
            }
        }
        QVERIFY(taken != 0);
        KeySym theirs[2] = {0x1002603, 0x1002603}; // ☃ on both levels
        XChangeKeyboardMapping(m_display->display(), int(taken), 2, theirs, 1);
        XSync(m_display->display(), False);
        auto emptyAgain = qScopeGuard([&] {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(m_display->display(), int(taken), 2, none, 1);
            XSync(m_display->display(), False);
        });

        testDesktop().keys->restoreKeyboardNow();
        QList<unsigned int> expected = m_spareKeycodes;
        expected.removeOne(taken);
        QCOMPARE(X11TypingLayout::read(m_display->display()).spareKeycodes(), expected);
        int perKey = 0;
        KeySym* syms = XGetKeyboardMapping(m_display->display(), KeyCode(taken), 1, &perKey);
        QVERIFY(syms && perKey >= 1);
        const KeySym first = syms[0];
        XFree(syms);
        QCOMPARE(qulonglong(first), qulonglong(0x1002603));
    }

    // Shift still held by the user after the wait for modifiers: it is let go for the synthesized keys
    // (the target gets Ctrl+V, not Ctrl+Shift+V, and lower-case letters) and held again afterwards.
    void heldShiftLeaksIntoNothing_data() {
        QTest::addColumn<bool>("paste");
        QTest::newRow("paste") << true;
        QTest::newRow("type") << false;
    }
    void heldShiftLeaksIntoNothing() {
        QFETCH(bool, paste);
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start());
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        fakeKey(*m_display, XK_Shift_L, true);
        auto shiftUp = qScopeGuard([this] { fakeKey(*m_display, XK_Shift_L, false); });

        const QString text = QString::fromUtf8("Mixed case, ünïcode ✓ and digits 123");
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(paste ? service.pasteText(text) : service.typeText(text, 0.0));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), text, 30000);
        if (paste) {
            QCOMPARE(target.keys(), QList<QByteArray>{"ctrl+v"});
        }
        QVERIFY(keyDown(*m_display, XK_Shift_L)); // the user's Shift is down again
        shiftUp.dismiss();
        fakeKey(*m_display, XK_Shift_L, false);
        QVERIFY(!keyDown(*m_display, XK_Shift_L));
    }

    // More characters the layout lacks than there are spare keys, typed right after another typing whose
    // keys are still mapped: keys are reassigned (after a pause), and everything arrives in order.
    void typingMoreCharactersThanSpareKeys() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start());
        QVERIFY(waitUntilFrontmost(*m_windows, target));
        QString many;
        for (char32_t c = U'α'; many.size() < 3 * m_spareKeycodes.size(); ++c) {
            many += QString::fromUcs4(&c, 1) + QLatin1Char(c % 3 ? ' ' : '.');
        }
        TextInsertionService service(testDesktop().keys, testDesktop().windows);
        runTask(service.typeText(kTyped, 0.0));
        runTask(service.typeText(many, 0.0));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), kTyped + many, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(X11TypingLayout::read(m_display->display()).spareKeycodes(),
                                  m_spareKeycodes, 10000);
    }
};

INSERTION_X11_TEST_MAIN(TestInsertionX11)
#include "tst_insertion_x11.moc"
