#include "MouseTriggerMode.h"
#include "ShortcutSettingsRules.h"

#include <QTest>

#include <limits>

using namespace ShortcutSettingsRules;
using Intent = DashboardHotkeyCaptureIntent;

class ShortcutSettingsRulesTest : public QObject {
    Q_OBJECT

private slots:
    void presetLabelIsTheNearestPreset_data() {
        QTest::addColumn<double>("delay");
        QTest::addColumn<QString>("tag");
        QTest::newRow("a preset") << 0.01 << "0.010";
        QTest::newRow("just below the middle") << 0.0149 << "0.010";
        QTest::newRow("just above the middle") << 0.0151 << "0.020";
        QTest::newRow("a tie keeps the smaller") << 0.04 << "0.030";
        QTest::newRow("the load floor") << 0.001 << "0.005";
        QTest::newRow("far above the largest") << 1.0 << "0.050";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0.005";
    }
    void presetLabelIsTheNearestPreset() {
        QFETCH(double, delay);
        QFETCH(QString, tag);
        QCOMPARE(typingDelayPresetLabel(delay), tag);
    }

    // A stored delay that is no preset gets an item of its own, selected, that tells the delay Typing Mode
    // really uses; a preset is simply selected.
    void delayMenuShowsTheStoredDelay_data() {
        QTest::addColumn<double>("delay");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("selectedLabel");
        QTest::newRow("the default") << 0.01 << 1 << "0.010s";
        QTest::newRow("the largest preset") << 0.05 << 4 << "0.050s";
        QTest::newRow("between presets") << 0.04 << 5 << "Custom (0.040s)";
        QTest::newRow("the load floor") << 0.001 << 5 << "Custom (0.001s)";
        QTest::newRow("a full second") << 1.0 << 5 << "Custom (1.000s)";
        QTest::newRow("finer than milliseconds") << 0.0125 << 5 << "Custom (0.0125s)";
        QTest::newRow("close to a preset, not on it") << 0.0101 << 5 << "Custom (0.0101s)";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 5 << "Custom";
    }
    void delayMenuShowsTheStoredDelay() {
        QFETCH(double, delay);
        QFETCH(int, selected);
        QFETCH(QString, selectedLabel);
        const TypingDelayMenu menu = typingDelayMenu(delay);
        QCOMPARE(menu.options.mid(0, 5), typingDelayPresets());
        QCOMPARE(menu.options.size(), selected == 5 ? 6 : 5);
        QCOMPARE(menu.selected, selected);
        QCOMPARE(menu.options.at(selected).label, selectedLabel);
    }

    // Each preset's tag stores exactly that preset, which the menu then shows as itself; a tag that is no
    // number stores the default.
    void pickedTagsStoreTheirPreset() {
        const QList<double> delays{0.005, 0.01, 0.02, 0.03, 0.05};
        QCOMPARE(typingDelayPresets().size(), delays.size());
        for (qsizetype i = 0; i < delays.size(); ++i) {
            const Option& preset = typingDelayPresets().at(i);
            QCOMPARE(preset.label, preset.value + QLatin1Char('s'));
            QCOMPARE(typingDelayForTag(preset.value), delays.at(i));
            QCOMPARE(typingDelayMenu(typingDelayForTag(preset.value)).selected, int(i));
        }
        QCOMPARE(typingDelayForTag(QStringLiteral("fast")), 0.01);
        QCOMPARE(typingDelayForTag(QString()), 0.01);
    }

    void silenceSliderMapping_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("knobForStored");
        QTest::addColumn<int>("storedForKnob");
        QTest::newRow("the default") << 180 << 180 << 180;
        QTest::newRow("off the steps") << 185 << 185 << 190;
        QTest::newRow("just below half a step") << 154 << 154 << 150;
        QTest::newRow("half a step rounds up") << 155 << 155 << 160;
        QTest::newRow("below the track") << 100 << 150 << 150;
        QTest::newRow("above the track") << 800 << 450 << 450;
        QTest::newRow("the top") << 450 << 450 << 450;
    }
    void silenceSliderMapping() {
        QFETCH(int, value);
        QFETCH(int, knobForStored);
        QFETCH(int, storedForKnob);
        QCOMPARE(silenceSliderPosition(value), knobForStored);
        QCOMPARE(silenceThresholdForPosition(value), storedForKnob);
        QCOMPARE(silenceThresholdLabel(value), QString::number(value));
    }

    void rowTextsAndSentences_data() {
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("enabled");
        QTest::addColumn<QString>("disabled");
        QTest::newRow("dictation") << Intent::Dictation << "Press the new shortcut for Dictation."
                                   << "Dictation shortcut enabled." << "Dictation shortcut disabled.";
        QTest::newRow("AI Mode") << Intent::SmartEdit << "Press the new shortcut for AI Mode."
                                 << "AI Mode shortcut enabled." << "AI Mode shortcut disabled.";
        QTest::newRow("Typing Mode") << Intent::Vdi << "Press the new shortcut for Typing Mode."
                                     << "Typing Mode shortcut enabled." << "Typing Mode shortcut disabled.";
    }
    void rowTextsAndSentences() {
        QFETCH(Intent, intent);
        QFETCH(QString, capture);
        QFETCH(QString, enabled);
        QFETCH(QString, disabled);
        QCOMPARE(captureSentence(intent), capture);
        QCOMPARE(switchedSentence(intent, true), enabled);
        QCOMPARE(switchedSentence(intent, false), disabled);
    }

    // An enabled shortcut shows its keys; a disabled one hides them.
    void shortcutSubtitles() {
        const HotkeyDefinition typing{3, 49, CarbonModifier::Control | CarbonModifier::Option, false, false};
        QCOMPARE(shortcutSubtitle(typing, true), QStringLiteral("Alt + Ctrl + Space"));
        QCOMPARE(shortcutSubtitle(typing, false), QStringLiteral("Disabled"));
        QCOMPARE(enableButtonLabel(true), QStringLiteral("Disable"));
        QCOMPARE(enableButtonLabel(false), QStringLiteral("Enable"));
    }

    // The middle mouse options store exactly the raw values the mouse trigger understands.
    void middleMouseOptionsAreTriggerModes() {
        const QList<std::pair<QString, MouseTriggerMode>> expected{
            {QStringLiteral("Disabled"), MouseTriggerMode::Off},
            {QStringLiteral("Dictation"), MouseTriggerMode::Dictation},
            {QStringLiteral("Typing Mode"), MouseTriggerMode::Vdi},
            {QStringLiteral("AI Mode"), MouseTriggerMode::AiRefinement},
        };
        QCOMPARE(middleMouseOptions().size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(middleMouseOptions().at(i).label, expected.at(i).first);
            QCOMPARE(fromRaw<MouseTriggerMode>(middleMouseOptions().at(i).value),
                     std::optional(expected.at(i).second));
        }
    }
};

QTEST_APPLESS_MAIN(ShortcutSettingsRulesTest)
#include "tst_shortcut_settings_rules.moc"
