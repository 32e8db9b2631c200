// The capture rules, event by event: which sequences of key presses and modifier changes save a shortcut,
// which cancel, and which only change the guidance sentence.

#include "HotkeyCaptureMachine.h"

#include <QTest>

#include <optional>

using Kind = HotkeyCaptureMachine::Outcome::Kind;

namespace {

constexpr std::uint64_t Cmd = ModifierFlag::Command;
constexpr std::uint64_t Opt = ModifierFlag::Option;
constexpr std::uint64_t Ctl = ModifierFlag::Control;
constexpr std::uint64_t Sft = ModifierFlag::Shift;
constexpr std::uint64_t Fn = ModifierFlag::Function;
constexpr std::uint64_t CapsLock = 0x10000;
constexpr std::uint64_t NumericPad = 0x200000;

constexpr std::uint16_t keyA = 0;
constexpr std::uint16_t keyS = 1;
constexpr std::uint16_t keyF1 = 122;
constexpr std::uint16_t keyEscape = 53;
constexpr std::uint16_t keyForwardDelete = 117; // not a shortcut key
constexpr std::uint16_t keyFn = HotkeyDefinition::functionKeyCode;

constexpr std::uint32_t id = 2;

HotkeyKeyEvent flags(std::uint64_t modifierFlags) {
    return {HotkeyKeyEvent::Kind::FlagsChanged, 0, modifierFlags};
}
HotkeyKeyEvent down(std::uint16_t keyCode, std::uint64_t modifierFlags = 0) {
    return {HotkeyKeyEvent::Kind::KeyDown, keyCode, modifierFlags};
}
HotkeyDefinition chord(std::uint32_t carbon, bool fn = false) {
    return {id, 0, carbon, fn, true};
}
HotkeyDefinition key(std::uint32_t keyCode, std::uint32_t carbon, bool fn = false) {
    return {id, keyCode, carbon, fn, false};
}

using Events = QList<HotkeyKeyEvent>;
using Definition = std::optional<HotkeyDefinition>;
const QString pleaseRelease = QStringLiteral("Release the keys to save %1.");

} // namespace

Q_DECLARE_METATYPE(Definition)
Q_DECLARE_METATYPE(Events)
Q_DECLARE_METATYPE(Kind)

// Failure messages show the definitions.
char* toString(const Definition& definition) {
    if (!definition) {
        return qstrdup("none");
    }
    return qstrdup(QStringLiteral("{id %1, key %2, modifiers 0x%3, fn %4, modifier-only %5}")
                       .arg(definition->id)
                       .arg(definition->keyCode)
                       .arg(definition->carbonModifiers, 0, 16)
                       .arg(definition->includesFunctionKey)
                       .arg(definition->isModifierOnly)
                       .toUtf8()
                       .constData());
}

class TestHotkeyCaptureMachine : public QObject {
    Q_OBJECT

private slots:
    // Feeds the events in order. The sequence ends at the first capture or cancel, which must be its
    // last event; otherwise the sheet is still open with the given sentence and pending chord.
    void sequences_data() {
        QTest::addColumn<Events>("events");
        QTest::addColumn<Kind>("end");
        QTest::addColumn<Definition>("saved");
        QTest::addColumn<QString>("status");
        QTest::addColumn<Definition>("pending");
        const QString initial = HotkeyCaptureMachine::initialStatusText;
        const QString unsupported = HotkeyCaptureMachine::unsupportedKeyText;
        const auto none = Definition();
        constexpr std::uint32_t C = CarbonModifier::Command;

        QTest::newRow("chord grows, release one by one saves it on the last release")
            << Events{flags(Cmd), flags(Cmd | Opt), flags(Cmd), flags(0)} << Kind::Captured
            << Definition(chord(CarbonModifier::Command | CarbonModifier::Option)) << QString() << none;
        QTest::newRow("pressing a modifier after a partial release replaces the chord")
            << Events{flags(Cmd), flags(Cmd | Opt), flags(Cmd), flags(Cmd | Sft), flags(Sft), flags(0)}
            << Kind::Captured << Definition(chord(CarbonModifier::Command | CarbonModifier::Shift))
            << QString() << none;
        QTest::newRow("a held chord is announced and pending")
            << Events{flags(Cmd), flags(Cmd | Opt)} << Kind::None << none << pleaseRelease.arg("Super + Alt")
            << Definition(chord(CarbonModifier::Command | CarbonModifier::Option));
        QTest::newRow("a single modifier is a shortcut")
            << Events{flags(Ctl), flags(0)} << Kind::Captured << Definition(chord(CarbonModifier::Control))
            << QString() << none;
        QTest::newRow("shift alone saves nothing")
            << Events{flags(Sft), flags(0)} << Kind::None << none << initial << none;
        QTest::newRow("shift then command: the chord includes shift")
            << Events{flags(Sft), flags(Sft | Cmd), flags(Sft), flags(0)} << Kind::Captured
            << Definition(chord(CarbonModifier::Command | CarbonModifier::Shift)) << QString() << none;
        QTest::newRow("escape cancels")
            << Events{down(keyEscape)} << Kind::Cancelled << none << QString() << none;
        QTest::newRow("escape with modifiers held cancels")
            << Events{flags(Cmd), flags(Cmd | Opt), down(keyEscape, Cmd | Opt)} << Kind::Cancelled << none
            << QString() << none;
        QTest::newRow("caps lock and the numeric pad flag are no modifiers")
            << Events{flags(CapsLock), flags(CapsLock | Cmd | NumericPad), flags(CapsLock)} << Kind::Captured
            << Definition(chord(C)) << QString() << none;
        QTest::newRow("caps lock alone saves nothing")
            << Events{flags(CapsLock), flags(0)} << Kind::None << none << initial << none;
        QTest::newRow("a key with command is saved on its press, not the pending chord")
            << Events{flags(Cmd), down(keyS, Cmd | CapsLock)} << Kind::Captured << Definition(key(keyS, C))
            << QString() << none;
        QTest::newRow("a standalone F-key")
            << Events{down(keyF1)} << Kind::Captured << Definition(key(keyF1, 0)) << QString() << none;
        QTest::newRow("a letter without modifiers is refused")
            << Events{down(keyA)} << Kind::None << none << unsupported << none;
        QTest::newRow("a letter with shift only is refused")
            << Events{flags(Sft), down(keyA, Sft)} << Kind::None << none << unsupported << none;
        QTest::newRow("right ctrl key with a key")
            << Events{flags(Fn), down(keyFn, Fn), down(keyS, Fn)} << Kind::Captured
            << Definition(key(keyS, 0, true)) << QString() << none;
        QTest::newRow("right ctrl alone, as flags and as its own key press")
            << Events{flags(Fn), down(keyFn, Fn), flags(0)} << Kind::Captured << Definition(chord(0, true))
            << QString() << none;
        QTest::newRow("ctrl and right ctrl")
            << Events{flags(Ctl), flags(Ctl | Fn), down(keyFn, Ctl | Fn), flags(Ctl), flags(0)}
            << Kind::Captured << Definition(chord(CarbonModifier::Control, true)) << QString() << none;
        QTest::newRow("right ctrl key press without any modifier flag is ignored")
            << Events{down(keyFn)} << Kind::None << none << initial << none;
        QTest::newRow("right ctrl key press with shift only is ignored")
            << Events{down(keyFn, Sft)} << Kind::None << none << initial << none;
        QTest::newRow("right ctrl key press with fewer modifiers than held before is ignored")
            << Events{flags(Cmd), flags(Cmd | Opt), down(keyFn, Fn)} << Kind::None << none
            << pleaseRelease.arg("Super + Alt") << Definition(chord(C | CarbonModifier::Option));
        QTest::newRow("right ctrl key press starts a chord")
            << Events{down(keyFn, Cmd | Fn)} << Kind::None << none << pleaseRelease.arg("Super + Right Ctrl")
            << Definition(chord(C, true));

        // An unsupported key drops the chord held so far: releasing it afterwards saves nothing.
        QTest::newRow("unsupported key, then release")
            << Events{flags(Cmd), down(keyForwardDelete, Cmd), flags(0)} << Kind::None << none << unsupported
            << none;
        QTest::newRow("unsupported key under two modifiers, then release one by one")
            << Events{flags(Cmd), flags(Cmd | Opt), down(keyForwardDelete, Cmd | Opt), flags(Cmd), flags(0)}
            << Kind::None << none << unsupported << none;
        QTest::newRow("unsupported key, then a modifier added starts a new chord")
            << Events{flags(Cmd), down(keyForwardDelete, Cmd), flags(Cmd | Opt), flags(Opt), flags(0)}
            << Kind::Captured << Definition(chord(C | CarbonModifier::Option)) << QString() << none;
        QTest::newRow("unsupported key, everything released, then a single modifier")
            << Events{flags(Cmd), flags(Cmd | Opt), down(keyForwardDelete, Cmd | Opt), flags(Opt), flags(0),
                      flags(Ctl), flags(0)}
            << Kind::Captured << Definition(chord(CarbonModifier::Control)) << QString() << none;
    }
    void sequences() {
        QFETCH(Events, events);
        QFETCH(Kind, end);
        QFETCH(Definition, saved);
        QFETCH(QString, status);
        QFETCH(Definition, pending);

        // The current shortcut's id is given to every captured definition.
        HotkeyCaptureMachine machine(HotkeyDefinition{id, 49, CarbonModifier::Control, false, false});
        HotkeyCaptureMachine::Outcome last;
        for (qsizetype i = 0; i < events.size(); ++i) {
            last = machine.handle(events[i]);
            const bool closes = last.kind == Kind::Captured || last.kind == Kind::Cancelled;
            QCOMPARE(closes, i == events.size() - 1 && (end == Kind::Captured || end == Kind::Cancelled));
        }
        if (end == Kind::Captured || end == Kind::Cancelled) {
            QCOMPARE(last.kind, end);
            QCOMPARE(last.definition, saved);
            QCOMPARE(machine.lastCaptureModifierCount(), 0);
        } else {
            QCOMPARE(machine.statusText(), status);
        }
        QCOMPARE(machine.pendingModifierCapture(), pending);
    }

    void outcomeKinds() {
        HotkeyCaptureMachine machine(HotkeyDefinition{id, 0, 0, true, true});
        QCOMPARE(machine.statusText(), HotkeyCaptureMachine::initialStatusText);
        QCOMPARE(machine.handle(flags(Sft)).kind, Kind::None);
        QCOMPARE(machine.handle(flags(Sft | Cmd)).kind, Kind::StatusChanged);
        QCOMPARE(machine.lastCaptureModifierCount(), 2);
        // A release lowers the count and keeps the chord.
        QCOMPARE(machine.handle(flags(Cmd)).kind, Kind::None);
        QCOMPARE(machine.lastCaptureModifierCount(), 1);
        QCOMPARE(machine.pendingModifierCapture(),
                 Definition(chord(CarbonModifier::Command | CarbonModifier::Shift)));
        QCOMPARE(machine.handle(down(keyForwardDelete, Cmd)).kind, Kind::StatusChanged);
        machine.handle(flags(Cmd | Opt));
        machine.reset();
        QCOMPARE(machine.pendingModifierCapture(), Definition());
        QCOMPARE(machine.lastCaptureModifierCount(), 0);
    }

    void modifierCount_data() {
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<int>("count");
        QTest::newRow("none") << quint64(0) << 0;
        QTest::newRow("all five") << quint64(ModifierFlag::ShortcutMask) << 5;
        QTest::newRow("caps lock, numeric pad, help") << quint64(CapsLock | NumericPad | 0x400000) << 0;
        QTest::newRow("command and caps lock") << quint64(Cmd | CapsLock) << 1;
        QTest::newRow("control and fn") << quint64(Ctl | Fn) << 2;
    }
    void modifierCount() {
        QFETCH(quint64, flags);
        QFETCH(int, count);
        QCOMPARE(HotkeyCaptureMachine::modifierCount(flags), count);
    }
};

QTEST_GUILESS_MAIN(TestHotkeyCaptureMachine)
#include "tst_hotkey_capture_machine.moc"
