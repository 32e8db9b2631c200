// The one table between stored key codes and X keysyms: every key a shortcut may use has a keysym that
// maps back to it, and the modifier keys carry the agreed meanings (Right Ctrl is Fn).

#include "HotkeyDefinition.h"

#include <QTest>

// Xlib after Qt.
#include "X11KeyMapping.h"

#include <X11/keysym.h>

class TestX11KeyMapping : public QObject {
    Q_OBJECT

private slots:
    void everySupportedKeyRoundTrips() {
        const auto& names = HotkeyDefinition::supportedKeyNames();
        for (auto it = names.begin(); it != names.end(); ++it) {
            if (it.key() == X11KeyMapping::ModifierKeyCode::Function) {
                continue; // Fn is a modifier key here (Right Ctrl)
            }
            const KeySym keysym = X11KeyMapping::keysymForKeyCode(it.key());
            QVERIFY2(keysym != NoSymbol, qPrintable(it.value()));
            QCOMPARE(X11KeyMapping::keyCodeForKeysym(keysym), std::optional<std::uint16_t>(it.key()));
        }
        QCOMPARE(X11KeyMapping::keyCodeForKeysym(XK_K), std::optional<std::uint16_t>(40)); // either case
        QCOMPARE(X11KeyMapping::keyCodeForKeysym(XK_Home), std::nullopt);
        QCOMPARE(X11KeyMapping::keyCodeForKeysym(NoSymbol), std::nullopt);
    }

    // The shared table's keysyms are the X keysyms of the keys it names.
    void tableKeysymsAreTheNamedKeys_data() {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<qulonglong>("keysym");
        const std::pair<int, KeySym> keys[] = {
            {0, XK_a},
            {6, XK_z},
            {29, XK_0},
            {25, XK_9},
            {49, XK_space},
            {36, XK_Return},
            {48, XK_Tab},
            {51, XK_BackSpace},
            {53, XK_Escape},
            {123, XK_Left},
            {124, XK_Right},
            {126, XK_Up},
            {125, XK_Down},
            {122, XK_F1},
            {120, XK_F2},
            {111, XK_F12},
            {105, XK_F13},
            {64, XK_F17},
            {90, XK_F20},
            {43, XK_comma},
            {47, XK_period},
            {44, XK_slash},
            {41, XK_semicolon},
            {39, XK_apostrophe},
            {33, XK_bracketleft},
            {30, XK_bracketright},
            {27, XK_minus},
            {24, XK_equal},
        };
        for (const auto& [code, keysym] : keys) {
            QTest::newRow(XKeysymToString(keysym)) << code << qulonglong(keysym);
        }
    }

    void tableKeysymsAreTheNamedKeys() {
        QFETCH(int, keyCode);
        QFETCH(qulonglong, keysym);
        QCOMPARE(qulonglong(X11KeyMapping::keysymForKeyCode(std::uint16_t(keyCode))), keysym);
    }

    void fnRoleIsRightCtrlInTheSharedTable() {
        // One row gives the Fn role its name and its key.
        const auto& keys = HotkeyDefinition::shortcutKeys();
        const auto fn = std::find_if(keys.begin(), keys.end(), [](const ShortcutKey& key) {
            return key.keyCode == HotkeyDefinition::functionKeyCode;
        });
        QVERIFY(fn != keys.end());
        QCOMPARE(QString(fn->name), QString("Right Ctrl"));
        QCOMPARE(X11KeyMapping::modifierKeyForKeysym(fn->keysym)->flag, ModifierFlag::Function);
        QCOMPARE(X11KeyMapping::keysymForKeyCode(HotkeyDefinition::functionKeyCode), KeySym(NoSymbol));
    }

    void modifierKeys_data() {
        QTest::addColumn<qulonglong>("keysym");
        QTest::addColumn<qulonglong>("flag");
        QTest::addColumn<int>("keyCode");
        QTest::newRow("Super_L") << qulonglong(XK_Super_L) << qulonglong(ModifierFlag::Command) << 55;
        QTest::newRow("Shift_R") << qulonglong(XK_Shift_R) << qulonglong(ModifierFlag::Shift) << 60;
        QTest::newRow("Alt_L") << qulonglong(XK_Alt_L) << qulonglong(ModifierFlag::Option) << 58;
        QTest::newRow("Control_L") << qulonglong(XK_Control_L) << qulonglong(ModifierFlag::Control) << 59;
        QTest::newRow("Control_R is Fn")
            << qulonglong(XK_Control_R) << qulonglong(ModifierFlag::Function) << 63;
    }

    void modifierKeys() {
        QFETCH(qulonglong, keysym);
        const auto key = X11KeyMapping::modifierKeyForKeysym(keysym);
        QVERIFY(key);
        QTEST(qulonglong(key->flag), "flag");
        QTEST(int(key->keyCode), "keyCode");
    }

    void carbonBitsToCoreMasks() {
        const X11KeyMapping::ModifierMasks masks; // the usual map: Alt = Mod1, Super = Mod4
        QCOMPARE(masks.fromCarbon(CarbonModifier::Control | CarbonModifier::Option),
                 unsigned(ControlMask | Mod1Mask));
        QCOMPARE(masks.fromCarbon(CarbonModifier::Command | CarbonModifier::Shift),
                 unsigned(Mod4Mask | ShiftMask));
        QCOMPARE(masks.fromCarbon(0), 0u);
    }
};

QTEST_GUILESS_MAIN(TestX11KeyMapping)
#include "tst_x11_key_mapping.moc"
