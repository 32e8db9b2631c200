#include "HotkeyDefinition.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

Q_DECLARE_METATYPE(HotkeyKeyEvent::Kind)
Q_DECLARE_METATYPE(std::optional<HotkeyDefinition>)

namespace {
using Kind = HotkeyKeyEvent::Kind;
constexpr std::uint64_t Cmd = ModifierFlag::Command;
constexpr std::uint64_t Shift = ModifierFlag::Shift;
constexpr std::uint64_t Opt = ModifierFlag::Option;
constexpr std::uint64_t Ctrl = ModifierFlag::Control;
constexpr std::uint64_t Fn = ModifierFlag::Function;
constexpr std::uint64_t CapsLock = 0x10000; // outside the shortcut mask

HotkeyDefinition def(std::uint32_t keyCode, std::uint32_t modifiers, bool fn, bool modifierOnly) {
    return HotkeyDefinition{7, keyCode, modifiers, fn, modifierOnly};
}
} // namespace

class TestHotkeyDefinition : public QObject {
    Q_OBJECT

private slots:
    void keyTablesHoldEveryKeyOnce() {
        const auto& supported = HotkeyDefinition::supportedKeyNames();
        const auto& standalone = HotkeyDefinition::standaloneSafeKeyNames();
        QCOMPARE(supported.size(), 75);
        QCOMPARE(standalone.size(), 20);
        const QList<QString> names = supported.values();
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 75); // no name twice
        for (auto it = standalone.begin(); it != standalone.end(); ++it) {
            QCOMPARE(supported.value(it.key()), it.value());
        }
        // A sample of each group against the macOS virtual key codes.
        const QList<std::pair<std::uint16_t, QString>> samples{
            {0, "A"},      {11, "B"},         {6, "Z"},       {29, "0"},         {25, "9"},
            {49, "Space"}, {51, "Backspace"}, {53, "Escape"}, {126, "Up Arrow"}, {125, "Down Arrow"},
            {122, "F1"},   {111, "F12"},      {64, "F17"},    {90, "F20"},       {63, "Right Ctrl"},
            {39, "'"},     {30, "]"},         {24, "="},      {27, "-"},         {43, ","},
        };
        for (const auto& [code, name] : samples) {
            QCOMPARE(supported.value(code), name);
        }
        QVERIFY(!standalone.contains(63));
        QVERIFY(!standalone.contains(40));
    }

    void carbonModifiersFromEventFlags() {
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(0), 0u);
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(Cmd), 0x100u);
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(Shift), 0x200u);
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(Opt), 0x800u);
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(Ctrl), 0x1000u);
        QCOMPARE(HotkeyDefinition::carbonModifiersFrom(Cmd | Shift | Opt | Ctrl | Fn | CapsLock), 0x1B00u);
    }

    void captured_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<std::optional<HotkeyDefinition>>("expected");
        const std::optional<HotkeyDefinition> none;

        QTest::newRow("flags Control+Option: modifier-only")
            << Kind::FlagsChanged << 59 << quint64(Ctrl | Opt) << std::optional(def(0, 0x1800, false, true));
        QTest::newRow("flags Shift alone: nothing") << Kind::FlagsChanged << 56 << quint64(Shift) << none;
        QTest::newRow("flags none: nothing") << Kind::FlagsChanged << 56 << quint64(0) << none;
        QTest::newRow("flags Shift+Fn: modifier-only with Fn")
            << Kind::FlagsChanged << 63 << quint64(Shift | Fn) << std::optional(def(0, 0x200, true, true));
        QTest::newRow("flags outside the mask are ignored")
            << Kind::FlagsChanged << 57 << quint64(CapsLock) << none;
        QTest::newRow("Fn key down with Fn: Fn alone")
            << Kind::KeyDown << 63 << quint64(Fn) << std::optional(def(0, 0, true, true));
        QTest::newRow("Fn key down, no flags: nothing") << Kind::KeyDown << 63 << quint64(0) << none;
        QTest::newRow("Fn key down with Command (no Fn flag): modifier-only, no Fn")
            << Kind::KeyDown << 63 << quint64(Cmd) << std::optional(def(0, 0x100, false, true));
        QTest::newRow("Space with Fn: Fn combination")
            << Kind::KeyDown << 49 << quint64(Fn) << std::optional(def(49, 0, true, false));
        QTest::newRow("A with Fn+Control: modifier-only Control+Fn")
            << Kind::KeyDown << 0 << quint64(Fn | Ctrl) << std::optional(def(0, 0x1000, true, true));
        QTest::newRow("A with Command: combination with A")
            << Kind::KeyDown << 0 << quint64(Cmd) << std::optional(def(0, 0x100, false, false));
        QTest::newRow("F6 alone: standalone key")
            << Kind::KeyDown << 97 << quint64(0) << std::optional(def(97, 0, false, false));
        QTest::newRow("F6 with CapsLock only: standalone key")
            << Kind::KeyDown << 97 << quint64(CapsLock) << std::optional(def(97, 0, false, false));
        QTest::newRow("K alone: nothing") << Kind::KeyDown << 40 << quint64(0) << none;
        QTest::newRow("K with Shift alone: nothing") << Kind::KeyDown << 40 << quint64(Shift) << none;
        QTest::newRow("F6 with Shift alone: nothing") << Kind::KeyDown << 97 << quint64(Shift) << none;
        QTest::newRow("K with Shift+Command")
            << Kind::KeyDown << 40 << quint64(Shift | Cmd) << std::optional(def(40, 0x300, false, false));
        QTest::newRow("key outside the table with modifiers: nothing")
            << Kind::KeyDown << 117 << quint64(Cmd | Ctrl | Opt) << none;
        QTest::newRow("Return with all four modifiers")
            << Kind::KeyDown << 36 << quint64(Cmd | Shift | Opt | Ctrl)
            << std::optional(def(36, 0x1B00, false, false));
    }

    void captured() {
        QFETCH(Kind, kind);
        QFETCH(int, keyCode);
        QFETCH(quint64, flags);
        QFETCH(std::optional<HotkeyDefinition>, expected);
        const auto result =
            HotkeyDefinition::captured(7, HotkeyKeyEvent{kind, std::uint16_t(keyCode), flags});
        QCOMPARE(result.has_value(), expected.has_value());
        if (expected) {
            QCOMPARE(result->id, expected->id);
            QCOMPARE(result->keyCode, expected->keyCode);
            QCOMPARE(result->carbonModifiers, expected->carbonModifiers);
            QCOMPARE(result->includesFunctionKey, expected->includesFunctionKey);
            QCOMPARE(result->isModifierOnly, expected->isModifierOnly);
        }
    }

    void displayString_data() {
        QTest::addColumn<uint>("keyCode");
        QTest::addColumn<uint>("modifiers");
        QTest::addColumn<bool>("fn");
        QTest::addColumn<bool>("modifierOnly");
        QTest::addColumn<QString>("expected");
        // The keys as pressed on this desktop, always in the order Super, Shift, Alt, Ctrl, Right Ctrl (Fn).
        QTest::newRow("Control+Option+Space") << 49u << 0x1800u << false << false << "Alt + Ctrl + Space";
        QTest::newRow("default dictation: Fn") << 0u << 0u << true << true << "Right Ctrl";
        QTest::newRow("Command+A") << 0u << 0x100u << false << false << "Super + A";
        QTest::newRow("unknown key") << 117u << 0x100u << false << false << "Super + Key 117";
        QTest::newRow("modifier order is fixed")
            << 40u << 0x1B00u << false << false << "Super + Shift + Alt + Ctrl + K";
        QTest::newRow("modifier-only Control+Option") << 0u << 0x1800u << false << true << "Alt + Ctrl";
        QTest::newRow("Control+Fn modifier-only") << 0u << 0x1000u << true << true << "Ctrl + Right Ctrl";
        QTest::newRow("Fn combination") << 49u << 0u << true << false << "Right Ctrl + Space";
        QTest::newRow("Fn key code alone") << 63u << 0u << false << false << "Right Ctrl";
        QTest::newRow("standalone F6") << 97u << 0u << false << false << "F6";
        QTest::newRow("backspace") << 51u << 0x1000u << false << false << "Ctrl + Backspace";
        QTest::newRow("nothing at all") << 0u << 0u << false << true << "";
        QTest::newRow("code beyond 16 bits is not wrapped")
            << 65536u << 0x100u << false << false << "Super + Key 65536";
    }

    void displayString() {
        QFETCH(uint, keyCode);
        QFETCH(uint, modifiers);
        QFETCH(bool, fn);
        QFETCH(bool, modifierOnly);
        QFETCH(QString, expected);
        QCOMPARE(HotkeyDefinition::displayString(keyCode, modifiers, fn, modifierOnly), expected);
        QCOMPARE((HotkeyDefinition{1, keyCode, modifiers, fn, modifierOnly}.displayString()), expected);
    }

    void encodingWritesAllFiveKeys() {
        const HotkeyDefinition hotkey{3, 49, 6144, false, true};
        const QJsonObject json = QJsonDocument::fromJson(hotkey.toJsonText()).object();
        QCOMPARE(json.size(), 5);
        QCOMPARE(json.value("id"), QJsonValue(3));
        QCOMPARE(json.value("keyCode"), QJsonValue(49));
        QCOMPARE(json.value("carbonModifiers"), QJsonValue(6144));
        QCOMPARE(json.value("includesFunctionKey"), QJsonValue(false));
        QCOMPARE(json.value("isModifierOnly"), QJsonValue(true));
        QVERIFY(!hotkey.toJsonText().contains(' ')); // compact
        QCOMPARE(HotkeyDefinition::fromJsonText(hotkey.toJsonText()), std::optional(hotkey));
        const HotkeyDefinition largest{0xFFFFFFFFu, 0xFFFF, 0xFFFFFFFFu, true, false};
        QCOMPARE(HotkeyDefinition::fromJsonText(largest.toJsonText()), std::optional(largest));
    }

    void decoding_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<std::optional<HotkeyDefinition>>("expected");
        const std::optional<HotkeyDefinition> none;
        QTest::newRow("flags absent read as false")
            << QByteArray(R"({"id":1,"keyCode":0,"carbonModifiers":0})")
            << std::optional(HotkeyDefinition{1, 0, 0, false, false});
        QTest::newRow("flags null read as false")
            << QByteArray(
                   R"({"id":1,"keyCode":5,"carbonModifiers":256,"includesFunctionKey":null,"isModifierOnly":null})")
            << std::optional(HotkeyDefinition{1, 5, 256, false, false});
        QTest::newRow("unknown keys ignored")
            << QByteArray(R"({"id":2,"keyCode":49,"carbonModifiers":4096,"isModifierOnly":true,"extra":[1]})")
            << std::optional(HotkeyDefinition{2, 49, 4096, false, true});
        QTest::newRow("whole number written with a fraction")
            << QByteArray(R"({"id":2.0,"keyCode":49,"carbonModifiers":0})")
            << std::optional(HotkeyDefinition{2, 49, 0, false, false});
        QTest::newRow("missing carbonModifiers") << QByteArray(R"({"id":1,"keyCode":0})") << none;
        QTest::newRow("missing id") << QByteArray(R"({"keyCode":0,"carbonModifiers":0})") << none;
        QTest::newRow("id as string") << QByteArray(R"({"id":"1","keyCode":0,"carbonModifiers":0})") << none;
        QTest::newRow("keyCode null") << QByteArray(R"({"id":1,"keyCode":null,"carbonModifiers":0})") << none;
        QTest::newRow("negative") << QByteArray(R"({"id":1,"keyCode":0,"carbonModifiers":-1})") << none;
        QTest::newRow("fraction") << QByteArray(R"({"id":1,"keyCode":0.5,"carbonModifiers":0})") << none;
        QTest::newRow("beyond 32 bits")
            << QByteArray(R"({"id":4294967296,"keyCode":0,"carbonModifiers":0})") << none;
        QTest::newRow("key code beyond 16 bits")
            << QByteArray(R"({"id":1,"keyCode":65536,"carbonModifiers":0})") << none;
        QTest::newRow("flag as number")
            << QByteArray(R"({"id":1,"keyCode":0,"carbonModifiers":0,"includesFunctionKey":1})") << none;
        QTest::newRow("flag as string")
            << QByteArray(R"({"id":1,"keyCode":0,"carbonModifiers":0,"isModifierOnly":"true"})") << none;
        QTest::newRow("array") << QByteArray(R"([1,0,0])") << none;
        QTest::newRow("not JSON") << QByteArray("{id:1") << none;
        QTest::newRow("empty") << QByteArray() << none;
    }

    void decoding() {
        QFETCH(QByteArray, json);
        QFETCH(std::optional<HotkeyDefinition>, expected);
        QCOMPARE(HotkeyDefinition::fromJsonText(json), expected);
    }

    void equalityComparesEveryField() {
        const HotkeyDefinition base{1, 49, 0x100, false, false};
        QVERIFY(base == (HotkeyDefinition{1, 49, 0x100, false, false}));
        QVERIFY(base != (HotkeyDefinition{2, 49, 0x100, false, false}));
        QVERIFY(base != (HotkeyDefinition{1, 48, 0x100, false, false}));
        QVERIFY(base != (HotkeyDefinition{1, 49, 0x200, false, false}));
        QVERIFY(base != (HotkeyDefinition{1, 49, 0x100, true, false}));
        QVERIFY(base != (HotkeyDefinition{1, 49, 0x100, false, true}));
    }
};

QTEST_GUILESS_MAIN(TestHotkeyDefinition)
#include "tst_hotkeydefinition.moc"
