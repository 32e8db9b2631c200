// Storing a captured shortcut over real settings in a temporary folder: the clash check and its order,
// what is stored and switched on, and the status sentence.

#include "AppSettings.h"
#include "DashboardState.h"
#include "HotkeyCaptureApply.h"
#include "UserDefaults.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Intent = DashboardHotkeyCaptureIntent;

namespace {

constexpr std::uint32_t Cmd = CarbonModifier::Command;
constexpr std::uint32_t Opt = CarbonModifier::Option;
constexpr std::uint32_t Ctl = CarbonModifier::Control;

// The stored shortcuts of the three modes and the two enable flags.
struct Stored {
    HotkeyDefinition dictation{1, 0, 0, true, true};      // Right Ctrl
    HotkeyDefinition smartEdit{2, 0, Ctl, true, true};    // Ctrl + Right Ctrl
    HotkeyDefinition vdi{3, 49, Ctl | Opt, false, false}; // Alt + Ctrl + Space
    bool smartEditEnabled = true;
    bool vdiEnabled = false;
};

const HotkeyDefinition superS{0, 1, Cmd, false, false};
const HotkeyDefinition superAlt{0, 0, Cmd | Opt, false, true};

QString clash(const QString& keys, const QString& mode) {
    return QStringLiteral("%1 is already assigned to %2. Choose a different shortcut.").arg(keys, mode);
}

} // namespace

Q_DECLARE_METATYPE(Stored)
Q_DECLARE_METATYPE(Intent)

class TestHotkeyCaptureApply : public QObject {
    Q_OBJECT

private slots:
    void apply_data() {
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<Stored>("before");
        QTest::addColumn<HotkeyDefinition>("captured");
        QTest::addColumn<bool>("stores");
        QTest::addColumn<QString>("status");

        const Stored defaults;
        Stored bothOthersSuperAlt;
        bothOthersSuperAlt.dictation = {1, 0, Cmd | Opt, false, true};
        bothOthersSuperAlt.smartEdit = {2, 0, Cmd | Opt, false, true};
        bothOthersSuperAlt.vdi = {3, 0, Cmd | Opt, false, true};
        Stored aiModeOff;
        aiModeOff.smartEditEnabled = false;
        Stored typingModeOff = defaults;

        QTest::newRow("dictation takes AI Mode's shortcut: refused (id not compared)")
            << Intent::Dictation << defaults << HotkeyDefinition{1, 0, Ctl, true, true} << false
            << clash("Ctrl + Right Ctrl", "AI Mode");
        QTest::newRow("dictation takes Typing Mode's shortcut while Typing Mode is off: refused")
            << Intent::Dictation << typingModeOff << HotkeyDefinition{1, 49, Ctl | Opt, false, false} << false
            << clash("Alt + Ctrl + Space", "Typing Mode");
        QTest::newRow("Typing Mode takes AI Mode's shortcut while AI Mode is off: refused")
            << Intent::Vdi << aiModeOff << HotkeyDefinition{3, 0, Ctl, true, true} << false
            << clash("Ctrl + Right Ctrl", "AI Mode");
        QTest::newRow("AI Mode takes dictation's shortcut: refused")
            << Intent::SmartEdit << defaults << HotkeyDefinition{2, 0, 0, true, true} << false
            << clash("Right Ctrl", "Dictation");
        QTest::newRow("dictation: AI Mode is checked before Typing Mode")
            << Intent::Dictation << bothOthersSuperAlt << superAlt << false
            << clash("Super + Alt", "AI Mode");
        QTest::newRow("AI Mode: dictation is checked before Typing Mode")
            << Intent::SmartEdit << bothOthersSuperAlt << superAlt << false
            << clash("Super + Alt", "Dictation");
        QTest::newRow("Typing Mode: dictation is checked before AI Mode")
            << Intent::Vdi << bothOthersSuperAlt << superAlt << false << clash("Super + Alt", "Dictation");

        QTest::newRow("dictation gets a new shortcut")
            << Intent::Dictation << defaults << superS << true
            << QStringLiteral("Updated Dictation shortcut to Super + S.");
        QTest::newRow("AI Mode keeps its own shortcut")
            << Intent::SmartEdit << defaults << HotkeyDefinition{2, 0, Ctl, true, true} << true
            << QStringLiteral("Updated AI Mode shortcut to Ctrl + Right Ctrl.");
        QTest::newRow("a switched-off Typing Mode is switched on by its capture")
            << Intent::Vdi << typingModeOff << superS << true
            << QStringLiteral("Updated Typing Mode shortcut to Super + S.");
        QTest::newRow("a switched-off AI Mode is switched on by its capture")
            << Intent::SmartEdit << aiModeOff << superAlt << true
            << QStringLiteral("Updated AI Mode shortcut to Super + Alt.");
    }
    void apply() {
        QFETCH(Intent, intent);
        QFETCH(Stored, before);
        QFETCH(HotkeyDefinition, captured);
        QFETCH(bool, stores);
        QFETCH(QString, status);

        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.json")));
        AppSettings settings(defaults);
        settings.setHotkey(before.dictation);
        settings.setSmartEditHotkey(before.smartEdit);
        settings.setVdiHotkey(before.vdi);
        settings.setSmartEditHotkeyEnabled(before.smartEditEnabled);
        settings.setVdiHotkeyEnabled(before.vdiEnabled);
        int hotkeyCallbacks = 0;
        settings.onHotkeysChanged = [&] { ++hotkeyCallbacks; };
        QSignalSpy smartEditSwitched(&settings, &AppSettings::smartEditHotkeyEnabledChanged);
        QSignalSpy vdiSwitched(&settings, &AppSettings::vdiHotkeyEnabledChanged);

        DashboardState state;
        state.setHotkeyStatusText(QStringLiteral("Press the new shortcut."));
        state.setCaptureIntent(intent);

        applyCapturedHotkey(captured, intent, settings, state);

        QCOMPARE(state.hotkeyStatusText(), status);
        QCOMPARE(state.captureIntent(), std::nullopt);

        Stored after = before;
        if (stores) {
            (intent == Intent::Dictation   ? after.dictation
             : intent == Intent::SmartEdit ? after.smartEdit
                                           : after.vdi) = captured;
            after.smartEditEnabled |= intent == Intent::SmartEdit;
            after.vdiEnabled |= intent == Intent::Vdi;
        }
        QCOMPARE(settings.hotkey(), after.dictation);
        QCOMPARE(settings.smartEditHotkey(), after.smartEdit);
        QCOMPARE(settings.vdiHotkey(), after.vdi);
        QCOMPARE(settings.smartEditHotkeyEnabled(), after.smartEditEnabled);
        QCOMPARE(settings.vdiHotkeyEnabled(), after.vdiEnabled);

        // A stored shortcut is written to the settings file and announced to the hot-key registration;
        // the mode's switch is written even when it was already on.
        const QStringList keys{QStringLiteral("quillvane.hotkey"),
                               QStringLiteral("quillvane.smart_edit_hotkey"),
                               QStringLiteral("quillvane.vdi_hotkey")};
        if (stores) {
            QCOMPARE(HotkeyDefinition::fromJsonText(defaults.dataValue(keys[int(intent)]).value_or("")),
                     std::optional(captured));
            QCOMPARE(hotkeyCallbacks, intent == Intent::Dictation ? 1 : 2);
        } else {
            QCOMPARE(hotkeyCallbacks, 0);
        }
        QCOMPARE(smartEditSwitched.count(), stores && intent == Intent::SmartEdit ? 1 : 0);
        QCOMPARE(vdiSwitched.count(), stores && intent == Intent::Vdi ? 1 : 0);
    }

    void currentHotkeyOfEachIntent() {
        QTemporaryDir dir;
        UserDefaults defaults(dir.filePath(QStringLiteral("settings.json")));
        AppSettings settings(defaults);
        const HotkeyDefinition dictation{1, 2, Cmd, false, false};
        const HotkeyDefinition smartEdit{2, 3, Cmd, false, false};
        const HotkeyDefinition vdi{3, 4, Cmd, false, false};
        settings.setHotkey(dictation);
        settings.setSmartEditHotkey(smartEdit);
        settings.setVdiHotkey(vdi);
        QCOMPARE(currentHotkey(Intent::Dictation, settings), dictation);
        QCOMPARE(currentHotkey(Intent::SmartEdit, settings), smartEdit);
        QCOMPARE(currentHotkey(Intent::Vdi, settings), vdi);
    }

    void intentNames_data() {
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("title");
        QTest::newRow("dictation") << Intent::Dictation << "dictation"
                                   << "Capture Dictation Shortcut";
        QTest::newRow("AI Mode") << Intent::SmartEdit << "smartEdit"
                                 << "Capture AI Mode Shortcut";
        QTest::newRow("Typing Mode") << Intent::Vdi << "vdi"
                                     << "Capture Typing Mode Shortcut";
    }
    void intentNames() {
        QFETCH(Intent, intent);
        QFETCH(QString, raw);
        QFETCH(QString, title);
        QCOMPARE(DashboardHotkeyCaptureIntents::rawValue(intent), raw);
        QCOMPARE(DashboardHotkeyCaptureIntents::fromRawValue(raw), std::optional(intent));
        QCOMPARE(DashboardHotkeyCaptureIntents::sheetTitle(intent), title);
    }

    void otherTextsAreNoIntent() {
        for (const char* text : {"", "Dictation", "smartedit", "smart_edit", "vdi ", "ai_refinement"}) {
            QCOMPARE(DashboardHotkeyCaptureIntents::fromRawValue(QString::fromLatin1(text)), std::nullopt);
        }
    }
};

QTEST_GUILESS_MAIN(TestHotkeyCaptureApply)
#include "tst_hotkey_capture_apply.moc"
