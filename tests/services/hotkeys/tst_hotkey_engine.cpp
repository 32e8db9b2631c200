// The shortcut state machines, driven by tables of event sequences: modifier-only combinations with the
// 120 ms debounce, standalone keys, Fn combinations, grabbed chords, and the releases that must never be
// lost. Time is a ManualScheduler; no X server.

#include "HotkeyEngine.h"
#include "ManualScheduler.h"
#include "RuntimeLogCapture.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<HotkeyBinding>)

namespace {

constexpr std::uint16_t kSpace = 49, kF5 = 96, kK = 40, kA = 0;

HotkeyBinding modifierOnly(HotkeyIntent intent, std::uint32_t id, std::uint32_t carbon, bool fn,
                           std::uint32_t keyCode = 0) {
    return {intent, HotkeyDefinition{id, keyCode, carbon, fn, true}};
}
HotkeyBinding keyShortcut(HotkeyIntent intent, std::uint32_t id, std::uint32_t keyCode, std::uint32_t carbon,
                          bool fn = false) {
    return {intent, HotkeyDefinition{id, keyCode, carbon, fn, false}};
}

const HotkeyBinding fnAlone = modifierOnly(HotkeyIntent::Dictation, 1, 0, true);
const HotkeyBinding controlFn = modifierOnly(HotkeyIntent::SmartEdit, 2, CarbonModifier::Control, true);

std::uint64_t parseFlags(const QString& text) {
    std::uint64_t flags = 0;
    if (text == "none") {
        return 0;
    }
    for (const QString& name : text.split('+')) {
        if (name == "fn") {
            flags |= ModifierFlag::Function;
        } else if (name == "ctrl") {
            flags |= ModifierFlag::Control;
        } else if (name == "opt") {
            flags |= ModifierFlag::Option;
        } else if (name == "shift") {
            flags |= ModifierFlag::Shift;
        } else if (name == "cmd") {
            flags |= ModifierFlag::Command;
        } else if (name == "caps") {
            flags |= 0x10000; // caps lock: never part of a shortcut
        } else {
            qFatal("unknown flag %s", qPrintable(name));
        }
    }
    return flags;
}

QString edgeText(HotkeyIntent intent, HotkeyEvent event) {
    return hotkeyIntentName(intent) + (event == HotkeyEvent::Pressed ? " pressed" : " released");
}

// Runs one sequence: steps separated by ";", each one of
//   flags <f>            a flags change to <f> ("none", or names joined by "+": fn ctrl opt shift cmd caps)
//   down|repeat|up <key> <f>   a key-down (repeat: an auto-repeat), key-up of a stored key code
//   grab <id> down|up    an edge of a grabbed chord
//   wait <ms>            time passes
//   reset                the monitors are installed anew
//   regrab               the grabs are replaced
class Driver {
public:
    explicit Driver(const QList<HotkeyBinding>& hotkeys) : m_scheduler(m_clock) {
        Scheduler::setCurrent(&m_scheduler);
        m_engine.setHotkeys(hotkeys);
        m_engine.deliver = [this](HotkeyIntent intent, HotkeyEvent event) {
            edges << edgeText(intent, event);
        };
    }
    ~Driver() { Scheduler::setCurrent(nullptr); }

    void run(const QString& sequence) {
        for (const QString& rawStep : sequence.split(';', Qt::SkipEmptyParts)) {
            const QStringList step = rawStep.trimmed().split(' ', Qt::SkipEmptyParts);
            const QString& verb = step.at(0);
            if (verb == "flags") {
                m_engine.handleKeyEvent(
                    {GlobalKeyEvent::Kind::FlagsChanged, 0, parseFlags(step.at(1)), false});
            } else if (verb == "down" || verb == "repeat" || verb == "up") {
                const auto kind = verb == "up" ? GlobalKeyEvent::Kind::KeyUp : GlobalKeyEvent::Kind::KeyDown;
                m_engine.handleKeyEvent({kind, static_cast<std::uint16_t>(step.at(1).toUInt()),
                                         parseFlags(step.at(2)), verb == "repeat"});
            } else if (verb == "grab") {
                m_engine.handleGrabbedHotKey(
                    step.at(1).toUInt(), step.at(2) == "down" ? HotkeyEvent::Pressed : HotkeyEvent::Released);
            } else if (verb == "wait") {
                m_scheduler.advance(std::chrono::milliseconds(step.at(1).toInt()));
            } else if (verb == "reset") {
                m_engine.resetMonitorState();
            } else if (verb == "regrab") {
                m_engine.releaseGrabbedHotkeys();
            } else {
                qFatal("unknown step %s", qPrintable(rawStep));
            }
        }
    }

    HotkeyEngine& engine() { return m_engine; }
    QStringList edges;

private:
    ManualClock m_clock;
    ManualScheduler m_scheduler;
    HotkeyEngine m_engine;
};

} // namespace

class TestHotkeyEngine : public QObject {
    Q_OBJECT

private slots:
    void sequences_data() {
        QTest::addColumn<QList<HotkeyBinding>>("hotkeys");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<QStringList>("expected");

        const QList<HotkeyBinding> defaults{fnAlone, controlFn};
        const HotkeyBinding controlShift =
            modifierOnly(HotkeyIntent::Dictation, 1, CarbonModifier::Control | CarbonModifier::Shift, false);
        const HotkeyBinding controlOption =
            modifierOnly(HotkeyIntent::SmartEdit, 2, CarbonModifier::Control | CarbonModifier::Option, false);
        const HotkeyBinding f5 = keyShortcut(HotkeyIntent::Dictation, 1, kF5, 0);
        const HotkeyBinding fnSpace = keyShortcut(HotkeyIntent::Vdi, 3, kSpace, 0, true);
        const HotkeyBinding controlOptionK =
            keyShortcut(HotkeyIntent::SmartEdit, 2, kK, CarbonModifier::Control | CarbonModifier::Option);

        // Modifier-only shortcuts.
        QTest::newRow("Fn then Control within 120 ms presses only the longer combination")
            << defaults << "flags fn; wait 50; flags fn+ctrl; flags fn; flags none"
            << QStringList{"smartEdit pressed", "smartEdit released"};
        QTest::newRow("nothing is pressed before the 120 ms are over")
            << defaults << "flags fn; wait 119" << QStringList{};
        QTest::newRow("Fn held past 120 ms, then Control")
            << defaults << "flags fn; wait 120; flags fn+ctrl; flags fn; flags none"
            << QStringList{"dictation pressed", "dictation released", "smartEdit pressed",
                           "smartEdit released"};
        QTest::newRow("Fn alone without a longer combination presses at once")
            << QList<HotkeyBinding>{fnAlone} << "flags fn; flags none"
            << QStringList{"dictation pressed", "dictation released"};
        QTest::newRow("swapping one modifier for another is no release transition")
            << QList<HotkeyBinding>{controlShift, controlOption}
            << "flags ctrl; flags ctrl+shift; flags ctrl+opt; flags opt; flags none"
            << QStringList{"dictation pressed", "dictation released", "smartEdit pressed",
                           "smartEdit released"};
        QTest::newRow("letting go of a modifier never presses")
            << QList<HotkeyBinding>{modifierOnly(HotkeyIntent::Dictation, 1, CarbonModifier::Control, false)}
            << "flags ctrl+shift; flags ctrl; flags none" << QStringList{};
        QTest::newRow("caps lock toggle presses an idle combination that is held")
            << defaults << "flags ctrl+fn; flags fn; flags fn+caps; wait 120; flags none"
            << QStringList{"smartEdit pressed", "smartEdit released", "dictation pressed",
                           "dictation released"};
        QTest::newRow("Fn reported both as flags and as key 63 gives one edge each way")
            << QList<HotkeyBinding>{fnAlone} << "flags fn; down 63 fn; up 63 none; flags none"
            << QStringList{"dictation pressed", "dictation released"};
        QTest::newRow("Fn key events alone") << QList<HotkeyBinding>{fnAlone} << "down 63 fn; up 63 none"
                                             << QStringList{"dictation pressed", "dictation released"};

        // Standalone keys.
        QTest::newRow("F5: one press however long it repeats, one release")
            << QList<HotkeyBinding>{f5} << "down 96 none; repeat 96 none; repeat 96 none; up 96 none"
            << QStringList{"dictation pressed", "dictation released"};
        QTest::newRow("F5 with a modifier is not the standalone key")
            << QList<HotkeyBinding>{f5} << "down 96 shift; up 96 shift; down 96 fn; up 96 fn"
            << QStringList{};
        QTest::newRow("F5 released while a modifier is held is released")
            << QList<HotkeyBinding>{f5} << "down 96 none; flags shift; up 96 shift; flags none; down 96 none"
            << QStringList{"dictation pressed", "dictation released", "dictation pressed"};
        QTest::newRow("two entries on the same key are both delivered in list order")
            << QList<HotkeyBinding>{f5, keyShortcut(HotkeyIntent::SmartEdit, 2, kF5, 0)}
            << "down 96 none; up 96 none"
            << QStringList{"dictation pressed", "smartEdit pressed", "dictation released",
                           "smartEdit released"};

        // Fn combinations.
        QTest::newRow("Fn + Space: one press per hold, auto-repeats included")
            << QList<HotkeyBinding>{fnSpace}
            << "flags fn; down 49 fn; repeat 49 fn; repeat 49 fn; up 49 fn; flags none; flags fn; down 49 fn"
            << QStringList{"vdi pressed", "vdi released", "vdi pressed"};
        QTest::newRow("Fn let go before Space still releases")
            << QList<HotkeyBinding>{fnSpace} << "flags fn; down 49 fn; flags none; repeat 49 none; up 49 none"
            << QStringList{"vdi pressed", "vdi released"};
        QTest::newRow("Fn combinations need exactly their flags")
            << QList<HotkeyBinding>{fnSpace} << "down 49 none; up 49 none; down 49 fn+ctrl; up 49 fn+ctrl"
            << QStringList{};

        // Grabbed chords.
        QTest::newRow("a grabbed chord repeating gives one press and one release")
            << QList<HotkeyBinding>{controlOptionK}
            << "grab 2 down; grab 2 down; grab 2 down; grab 2 up; grab 2 up"
            << QStringList{"smartEdit pressed", "smartEdit released"};
        QTest::newRow("a grabbed id no shortcut has is not delivered")
            << QList<HotkeyBinding>{controlOptionK} << "grab 9 down; grab 9 up" << QStringList{};

        // Re-activation releases what is held.
        QTest::newRow("replacing the grabs releases a held chord once")
            << QList<HotkeyBinding>{controlOptionK} << "grab 2 down; regrab; grab 2 up"
            << QStringList{"smartEdit pressed", "smartEdit released"};
        QTest::newRow("new monitors release a held modifier-only shortcut once")
            << QList<HotkeyBinding>{fnAlone} << "flags fn; reset; flags none; flags fn"
            << QStringList{"dictation pressed", "dictation released", "dictation pressed"};
        QTest::newRow("new monitors release held keys in press order")
            << QList<HotkeyBinding>{f5, fnSpace}
            << "down 96 none; flags fn; down 49 fn; reset; up 49 fn; up 96 fn"
            << QStringList{"dictation pressed", "vdi pressed", "dictation released", "vdi released"};
        QTest::newRow("new monitors drop a pending press without an edge")
            << defaults << "flags fn; reset; wait 500" << QStringList{};
    }

    void sequences() {
        QFETCH(QList<HotkeyBinding>, hotkeys);
        QFETCH(QString, sequence);
        QFETCH(QStringList, expected);
        Driver driver(hotkeys);
        driver.run(sequence);
        QCOMPARE(driver.edges, expected);
    }

    void releaseCarriesTheIntentThatWasPressed() {
        // The composition root replaces the list, then re-activates: the release goes to what was started.
        Driver driver({fnAlone});
        driver.run("flags fn");
        driver.engine().setHotkeys({modifierOnly(HotkeyIntent::Vdi, 1, 0, true)});
        driver.run("reset");
        QCOMPARE(driver.edges, (QStringList{"dictation pressed", "dictation released"}));
    }

    void grabRegistrationTable_data() {
        QTest::addColumn<HotkeyDefinition>("definition");
        QTest::addColumn<bool>("grabbed");
        QTest::newRow("Control + Option + K") << HotkeyDefinition{1, kK, 0x1800, false, false} << true;
        QTest::newRow("bare K (not standalone-safe)") << HotkeyDefinition{1, kK, 0, false, false} << true;
        QTest::newRow("bare F5 (standalone path)") << HotkeyDefinition{1, kF5, 0, false, false} << false;
        QTest::newRow("Shift + F5") << HotkeyDefinition{1, kF5, CarbonModifier::Shift, false, false} << true;
        QTest::newRow("Fn + Space") << HotkeyDefinition{1, kSpace, 0, true, false} << false;
        QTest::newRow("Fn alone") << HotkeyDefinition{1, 0, 0, true, true} << false;
        // Grabbing Control + Option + A for a modifier-only Control + Option would take that chord from
        // every application and fire the shortcut twice.
        QTest::newRow("modifier-only Control + Option")
            << HotkeyDefinition{1, kA, 0x1800, false, true} << false;
    }

    void grabRegistrationTable() {
        QFETCH(HotkeyDefinition, definition);
        QFETCH(bool, grabbed);
        QCOMPARE(HotkeyEngine::registersGrab(definition), grabbed);
    }

    void logsNameMatchedEdges() {
        RuntimeLogCapture log;
        {
            Driver driver({fnAlone, controlFn});
            driver.run("flags fn; wait 50; flags fn+ctrl; flags fn; wait 120; flags none");
        }
        QCOMPARE(log.lines(),
                 (QStringList{
                     "Debouncing modifier-only press id=1 intent=dictation waiting 120ms for longer combo",
                     "Cancelled pending debounce id=1 flags changed away",
                     "Modifier-only hotkey pressed id=2 intent=smartEdit display=Ctrl + Right Ctrl",
                     "Modifier-only hotkey released id=2 intent=smartEdit display=Ctrl + Right Ctrl",
                 }));
        log.clear();
        {
            Driver driver({modifierOnly(HotkeyIntent::Dictation, 1, 0, true, 63), controlFn});
            driver.run("flags fn; wait 120; flags none");
        }
        QCOMPARE(log.lines(),
                 (QStringList{
                     "Debouncing modifier-only press id=1 intent=dictation waiting 120ms for longer combo",
                     "Debounced modifier-only pressed id=1 intent=dictation",
                     "Function-only hotkey released id=1 intent=dictation",
                 }));
        log.clear();
        {
            Driver driver({keyShortcut(HotkeyIntent::SmartEdit, 2, kK, 0x1800),
                           keyShortcut(HotkeyIntent::Dictation, 1, kF5, 0)});
            driver.run("grab 2 down; grab 2 up; grab 7 down; down 96 none; up 96 none");
        }
        QCOMPARE(log.lines(), (QStringList{
                                  "Global hotkey pressed id=2 intent=smartEdit",
                                  "Global hotkey released id=2 intent=smartEdit",
                                  "Global hotkey pressed id=7 intent=none",
                                  "Standalone hotkey pressed id=1 intent=dictation display=F5",
                                  "Standalone hotkey released id=1 intent=dictation display=F5",
                              }));
    }

    void unmatchedKeysAreNeverLogged() {
        // Typing in any application (letters, shifted letters, modifiers, keys of no shortcut) leaves no
        // trace in the log: it would be a keylogger writing passwords to a file.
        RuntimeLogCapture log;
        Driver driver({fnAlone, controlFn, keyShortcut(HotkeyIntent::Vdi, 3, kSpace, 0x1800)});
        driver.run("down 35 none; up 35 none; flags shift; down 0 shift; up 0 shift; flags none; "
                   "down 1 none; repeat 1 none; up 1 none; flags cmd; down 9 cmd; up 9 cmd; flags none; "
                   "down 49 none; up 49 none; down 36 none; up 36 none");
        QCOMPARE(driver.edges, QStringList{});
        QCOMPARE(log.lines(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestHotkeyEngine)
#include "tst_hotkey_engine.moc"
