#include "DashboardRig.h"
#include "DashboardState.h"
#include "SettingsRow.h"
#include "ShortcutSettingsCard.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QSlider>
#include <QTest>

#include <limits>

using Intent = DashboardHotkeyCaptureIntent;

namespace {

struct CardRig : DashboardRig {
    DashboardState state;
    std::unique_ptr<ShortcutSettingsCard> card;
    // What the settings announced, in order: their signals and the composition root's callbacks.
    QStringList events;

    CardRig() {
        appSettings.onChange = [this] { events << QStringLiteral("onChange"); };
        appSettings.onHotkeysChanged = [this] { events << QStringLiteral("onHotkeysChanged"); };
        appSettings.onMouseShortcutModeChanged = [this](const QString& mode) {
            events << QStringLiteral("onMouseShortcutModeChanged ") + mode;
        };
    }

    ShortcutSettingsCard& makeCard(int width = 900) {
        QObject::connect(&appSettings, &AppSettings::smartEditHotkeyEnabledChanged, &state,
                         [this](bool value) { events << QStringLiteral("smartEditHotkeyEnabled %1").arg(value); });
        QObject::connect(&appSettings, &AppSettings::vdiHotkeyEnabledChanged, &state,
                         [this](bool value) { events << QStringLiteral("vdiHotkeyEnabled %1").arg(value); });
        QObject::connect(&appSettings, &AppSettings::vdiTypingDelayChanged, &state,
                         [this](double value) { events << QStringLiteral("vdiTypingDelay %1").arg(value); });
        QObject::connect(&appSettings, &AppSettings::silenceThresholdChanged, &state,
                         [this](int value) { events << QStringLiteral("silenceThreshold %1").arg(value); });
        QObject::connect(&appSettings, &AppSettings::toggleHotkeyModeChanged, &state,
                         [this](bool value) { events << QStringLiteral("toggleHotkeyMode %1").arg(value); });
        QObject::connect(&appSettings, &AppSettings::mouseShortcutModeChanged, &state,
                         [this](const QString& value) { events << QStringLiteral("mouseShortcutMode ") + value; });
        QObject::connect(&state, &DashboardState::hotkeyStatusTextChanged, &state,
                         [this] { events << QStringLiteral("status ") + state.hotkeyStatusText(); });
        QObject::connect(&state, &DashboardState::captureIntentChanged, &state,
                         [this] { events << QStringLiteral("captureIntent"); });
        card = std::make_unique<ShortcutSettingsCard>(state, services);
        card->resize(width, card->sizeHint().height());
        card->show();
        QCoreApplication::processEvents();
        return *card;
    }

    template <class T> T* child(const QString& name) const {
        T* found = card->findChild<T*>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    SettingsRow* row(const QString& title) const { return child<SettingsRow>(title); }
    QString subtitle(const QString& title) const {
        // The row's second label is its subtitle.
        return row(title)->findChildren<QLabel*>().at(1)->text();
    }
    QString takeEvents() { return std::exchange(events, {}).join(QStringLiteral(" | ")); }

    void savePicture(const QString& name) {
        QCoreApplication::processEvents();
        card->resize(card->width(), card->layout()->totalHeightForWidth(card->width()));
        QCoreApplication::processEvents();
        const QImage image = card->grab().toImage();
        QDir().mkpath(SHORTCUTS_GALLERY_DIR);
        QVERIFY(image.save(QStringLiteral(SHORTCUTS_GALLERY_DIR "/%1.png").arg(name)));
    }
};

} // namespace

class ShortcutSettingsCardTest : public QObject {
    Q_OBJECT

private slots:
    // The subtitles show the stored shortcuts, and follow every change of a shortcut or of a switch.
    void subtitlesFollowTheStore() {
        CardRig rig;
        rig.appSettings.setVdiHotkeyEnabled(true);
        rig.makeCard();
        QCOMPARE(rig.subtitle("Dictation Shortcut"), AppSettings::defaultHotkey().displayString());
        QCOMPARE(rig.subtitle("AI Mode Shortcut"), QStringLiteral("Ctrl + Right Ctrl"));
        QCOMPARE(rig.subtitle("Typing Mode Shortcut"), QStringLiteral("Alt + Ctrl + Space"));

        rig.appSettings.setVdiHotkey({3, 122, CarbonModifier::Shift, false, false});
        QCOMPARE(rig.subtitle("Typing Mode Shortcut"), QStringLiteral("Shift + F1"));
        rig.appSettings.setSmartEditHotkeyEnabled(false);
        QCOMPARE(rig.subtitle("AI Mode Shortcut"), QStringLiteral("Disabled"));
        QCOMPARE(rig.child<QAbstractButton>("aiModeSwitchButton")->text(), QStringLiteral("Enable"));
        QVERIFY(rig.row("Dictation Shortcut")->findChildren<QAbstractButton*>().size() == 1);
    }

    // "Enable"/"Disable" writes the flag once (stored, then onChange, then onHotkeysChanged) and then says
    // what the flag is now; the stored shortcut of a disabled mode comes back unchanged.
    void switchingAModeWritesOnceAndSaysSo_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("mode");
        QTest::newRow("AI Mode") << "AI Mode Shortcut" << "aiModeSwitchButton" << "smartEditHotkeyEnabled"
                                 << "AI Mode";
        QTest::newRow("Typing Mode") << "Typing Mode Shortcut" << "typingModeSwitchButton" << "vdiHotkeyEnabled"
                                     << "Typing Mode";
    }
    void switchingAModeWritesOnceAndSaysSo() {
        QFETCH(QString, row);
        QFETCH(QString, button);
        QFETCH(QString, flag);
        QFETCH(QString, mode);
        CardRig rig;
        rig.appSettings.setSmartEditHotkeyEnabled(false);
        rig.appSettings.setVdiHotkeyEnabled(false);
        const HotkeyDefinition custom{9, 0, CarbonModifier::Control, true, true};
        rig.appSettings.setSmartEditHotkey(custom);
        rig.appSettings.setVdiHotkey(custom);
        rig.makeCard();
        rig.takeEvents();
        auto* toggle = rig.child<QAbstractButton>(button);
        QCOMPARE(rig.subtitle(row), QStringLiteral("Disabled"));
        QCOMPARE(toggle->text(), QStringLiteral("Enable"));

        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(rig.takeEvents(), QStringLiteral("%1 1 | onChange | onHotkeysChanged | status %2 shortcut enabled.")
                                       .arg(flag, mode));
        QCOMPARE(rig.subtitle(row), QStringLiteral("Ctrl + Right Ctrl"));
        QCOMPARE(toggle->text(), QStringLiteral("Disable"));
        QCOMPARE(rig.defaults.boolValue("quillvane." + QString(flag == "vdiHotkeyEnabled" ? "vdi" : "smart_edit") +
                                        "_hotkey_enabled"),
                 std::optional(true));

        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(rig.takeEvents(), QStringLiteral("%1 0 | onChange | onHotkeysChanged | status %2 shortcut disabled.")
                                       .arg(flag, mode));
        QCOMPARE(rig.subtitle(row), QStringLiteral("Disabled"));
        QCOMPARE(rig.appSettings.smartEditHotkey(), custom);
        QCOMPARE(rig.appSettings.vdiHotkey(), custom);
    }

    // "Change" first says which shortcut to press, then asks for the capture; it works for a disabled mode
    // too and stores nothing itself.
    void changeAsksForACapture_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("dictation") << "dictationChangeButton" << Intent::Dictation
                                   << "Press the new shortcut for Dictation.";
        QTest::newRow("AI Mode") << "aiModeChangeButton" << Intent::SmartEdit << "Press the new shortcut for AI Mode.";
        QTest::newRow("Typing Mode (disabled)") << "typingModeChangeButton" << Intent::Vdi
                                                << "Press the new shortcut for Typing Mode.";
    }
    void changeAsksForACapture() {
        QFETCH(QString, button);
        QFETCH(Intent, intent);
        QFETCH(QString, sentence);
        CardRig rig;
        QVERIFY(!rig.appSettings.vdiHotkeyEnabled());
        rig.makeCard();
        QCOMPARE(rig.child<QLabel>("hotkeyStatus")->text(),
                 QStringLiteral("Click Change, then press a new global shortcut."));
        QTest::mouseClick(rig.child<QAbstractButton>(button), Qt::LeftButton);
        QCOMPARE(rig.takeEvents(), QStringLiteral("status ") + sentence + QStringLiteral(" | captureIntent"));
        QCOMPARE(rig.state.captureIntent(), std::optional(intent));
        QCOMPARE(rig.child<QLabel>("hotkeyStatus")->text(), sentence);
    }

    // The status line stays in the card even while it says nothing, and shows whatever the state says.
    void statusLineIsAlwaysThere() {
        CardRig rig;
        rig.makeCard();
        auto* status = rig.child<QLabel>("hotkeyStatus");
        rig.state.setHotkeyStatusText(QString());
        QVERIFY(status->isVisible());
        QVERIFY(status->height() > 0);
        rig.state.setHotkeyStatusText(QStringLiteral("<b>Settings</b> reset to defaults."));
        QCOMPARE(status->text(), QStringLiteral("<b>Settings</b> reset to defaults."));
        QCOMPARE(status->textFormat(), Qt::PlainText);
    }

    // A delay that is no preset shows as a custom item without being rewritten; picking a preset stores
    // exactly it and the custom item goes; a preset stored elsewhere is shown without a write.
    void typingDelayShowsTheRealDelay() {
        CardRig rig;
        rig.appSettings.setVdiTypingDelay(0.04);
        rig.makeCard();
        rig.takeEvents();
        auto* picker = rig.child<QComboBox>("typingDelayPicker");
        QCOMPARE(picker->count(), 6);
        QCOMPARE(picker->currentText(), QStringLiteral("Custom (0.040s)"));
        // The custom item is readable whole; the presets keep the menu at 110.
        QVERIFY(picker->width() > picker->fontMetrics().horizontalAdvance(picker->currentText()) + 20);

        QTest::keyClick(picker, Qt::Key_Up);
        QCOMPARE(rig.takeEvents(), QStringLiteral("vdiTypingDelay 0.05 | onChange"));
        QCOMPARE(rig.appSettings.vdiTypingDelay(), 0.05);
        QCOMPARE(picker->count(), 5);
        QCOMPARE(picker->currentText(), QStringLiteral("0.050s"));
        QCOMPARE(picker->width(), 110);

        QTest::keyClick(picker, Qt::Key_Home);
        QCOMPARE(rig.appSettings.vdiTypingDelay(), 0.005);
        rig.takeEvents();

        rig.appSettings.setVdiTypingDelay(0.02);
        QCOMPARE(rig.takeEvents(), QStringLiteral("vdiTypingDelay 0.02 | onChange"));
        QCOMPARE(picker->currentText(), QStringLiteral("0.020s"));
        rig.appSettings.setVdiTypingDelay(0.0125);
        rig.takeEvents();
        QCOMPARE(picker->currentText(), QStringLiteral("Custom (0.0125s)"));
        QCOMPARE(picker->itemText(2), QStringLiteral("0.020s"));
    }

    // Thresholds beyond the track put the knob at its nearer end and the label on the stored number,
    // without a write.
    void silenceOutsideTheTrackIsShownNotRewritten_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("knob");
        QTest::newRow("the default") << 180 << 180;
        QTest::newRow("below") << 100 << 150;
        QTest::newRow("above") << 800 << 450;
    }
    void silenceOutsideTheTrackIsShownNotRewritten() {
        QFETCH(int, stored);
        QFETCH(int, knob);
        CardRig rig;
        rig.appSettings.setSilenceThreshold(stored);
        rig.events.clear();
        rig.makeCard();
        QCOMPARE(rig.child<QSlider>("silenceSlider")->value(), knob);
        QCOMPARE(rig.child<QLabel>("silenceValue")->text(), QString::number(stored));
        QCOMPARE(rig.takeEvents(), QString());
        QCOMPARE(rig.appSettings.silenceThreshold(), stored);
    }

    // Dragging stores the nearest step each time the knob reaches a new one; the keys move a step.
    void silenceSliderWritesSteps() {
        CardRig rig;
        rig.appSettings.setSilenceThreshold(800);
        rig.makeCard();
        rig.takeEvents();
        auto* slider = rig.child<QSlider>("silenceSlider");
        slider->setSliderDown(true);
        for (int position : {447, 233, 236, 238, 151})
            slider->setSliderPosition(position);
        slider->setSliderDown(false);
        QCOMPARE(rig.takeEvents(), QStringLiteral("silenceThreshold 450 | onChange | silenceThreshold 230 | onChange"
                                                  " | silenceThreshold 240 | onChange | silenceThreshold 150 | "
                                                  "onChange"));
        QCOMPARE(slider->value(), 150);
        QCOMPARE(rig.child<QLabel>("silenceValue")->text(), QStringLiteral("150"));

        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(rig.appSettings.silenceThreshold(), 160);
        QCOMPARE(rig.child<QLabel>("silenceValue")->text(), QStringLiteral("160"));
        QTest::keyClick(slider, Qt::Key_Home);
        QCOMPARE(rig.appSettings.silenceThreshold(), 150);
    }

    // A mode nobody offers shows no choice and stays stored until the user picks; "Disabled" stores "off".
    void middleMouse() {
        CardRig rig;
        rig.appSettings.setMouseShortcutMode(QStringLiteral("button_paste"));
        rig.events.clear();
        rig.makeCard();
        auto* picker = rig.child<QComboBox>("middleMousePicker");
        QCOMPARE(picker->currentIndex(), -1);
        QCOMPARE(rig.takeEvents(), QString());
        QCOMPARE(rig.appSettings.mouseShortcutMode(), QStringLiteral("button_paste"));
        QCOMPARE(picker->width(), 160);

        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(rig.takeEvents(),
                 QStringLiteral("mouseShortcutMode off | onChange | onMouseShortcutModeChanged off"));
        QCOMPARE(picker->currentText(), QStringLiteral("Disabled"));

        rig.appSettings.setMouseShortcutMode(QStringLiteral("ai_refinement"));
        QCOMPARE(picker->currentText(), QStringLiteral("AI Mode"));
    }

    // The toggle shows the stored mode and writes only when the user flips it; the status line stays.
    void toggleMode() {
        CardRig rig;
        rig.makeCard();
        auto* toggle = rig.child<QCheckBox>("toggleModeSwitch");
        QVERIFY(!toggle->isChecked());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(rig.takeEvents(), QStringLiteral("toggleHotkeyMode 1 | onChange"));
        QVERIFY(rig.appSettings.toggleHotkeyMode());
        rig.appSettings.setToggleHotkeyMode(false);
        rig.takeEvents();
        QVERIFY(!toggle->isChecked());
        QCOMPARE(rig.takeEvents(), QString());
    }

    // The controls sit beside the text in a wide card and below it in a narrow one; PNGs for people,
    // among them a disabled mode with a custom delay and an unknown mouse mode.
    void arrangementAndPictures() {
        for (const auto& [width, arrangement, name] :
             {std::tuple{860, SettingsRules::RowArrangement::Horizontal, "shortcuts-wide"},
              std::tuple{340, SettingsRules::RowArrangement::Stacked, "shortcuts-narrow"}}) {
            CardRig rig;
            rig.makeCard(width);
            // The card narrows as far as asked (no control holds it wide), and the rows with the widest
            // controls stack (a short row may still fit side by side).
            QCOMPARE(rig.card->width(), width);
            for (const char* title : {"Typing Mode Shortcut", "Silence Sensitivity", "Middle Mouse"})
                QCOMPARE(rig.row(QString::fromLatin1(title))->arrangement(), arrangement);
            rig.savePicture(QString::fromLatin1(name));
        }
        CardRig rig;
        rig.appSettings.setSmartEditHotkeyEnabled(false);
        rig.appSettings.setVdiTypingDelay(0.0125);
        rig.appSettings.setSilenceThreshold(800);
        rig.appSettings.setMouseShortcutMode(QStringLiteral("button_paste"));
        rig.makeCard(860);
        rig.savePicture(QStringLiteral("shortcuts-disabled-custom"));
    }
};

QTEST_MAIN(ShortcutSettingsCardTest)
#include "tst_shortcut_settings_card.moc"
