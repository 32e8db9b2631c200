// The capture sheet over key events as the X server delivers them (keycode and keysym): which keys make
// which shortcut, that the sheet takes every key of the application while it is shown and none after any
// way out, and the sheet inside the dashboard window over real settings.

#include "DashboardHotkeyCaptureSheet.h"
#include "DashboardRig.h"
#include "HotkeyCaptureApply.h"
#include "PresentationHost.h"

#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using Intent = DashboardHotkeyCaptureIntent;

namespace {

// A key as X11 reports it: Qt key, X keycode (the usual pc105 map) and keysym.
struct Key {
    int qt;
    quint32 keycode;
    quint32 keysym;
};
const Key superL{Qt::Key_Super_L, 133, 0xffeb};
const Key superR{Qt::Key_Super_R, 134, 0xffec};
const Key altL{Qt::Key_Alt, 64, 0xffe9};
const Key altAsMeta{Qt::Key_Meta, 64, 0xffe7}; // Alt_L pressed while Shift is held
const Key ctrlL{Qt::Key_Control, 37, 0xffe3};
const Key ctrlR{Qt::Key_Control, 105, 0xffe4};
const Key shiftL{Qt::Key_Shift, 50, 0xffe1};
const Key capsLock{Qt::Key_CapsLock, 66, 0xffe5};
const Key keyS{Qt::Key_S, 39, 0x73};
const Key keyShiftS{Qt::Key_S, 39, 0x53};
const Key keyF1{Qt::Key_F1, 67, 0xffbe};
const Key keyHome{Qt::Key_Home, 110, 0xff50};
const Key keyEscape{Qt::Key_Escape, 9, 0xff1b};

struct Step {
    bool press;
    Key key;
    bool autoRepeat = false;
};
Step P(Key key) {
    return {true, key};
}
Step R(Key key) {
    return {false, key};
}
Step Repeat(Key key) {
    return {true, key, true};
}
using Steps = QList<Step>;

void send(QWidget* receiver, const Step& step) {
    QKeyEvent event(step.press ? QEvent::KeyPress : QEvent::KeyRelease, step.key.qt, Qt::NoModifier,
                    step.key.keycode, step.key.keysym, 0, QString(), step.autoRepeat);
    QCoreApplication::sendEvent(receiver, &event);
}

constexpr std::uint32_t id = 3;
const HotkeyDefinition replaced{id, 49, CarbonModifier::Control | CarbonModifier::Option, false, false};

using Definition = std::optional<HotkeyDefinition>;

// The sheet shown in its own window, and a text field in another window that receives whatever keys the
// sheet lets through.
struct SheetRig {
    QList<HotkeyDefinition> captures;
    int cancels = 0;
    std::unique_ptr<DashboardHotkeyCaptureSheet> sheet;
    QLineEdit field;

    SheetRig() {
        sheet = std::make_unique<DashboardHotkeyCaptureSheet>(
            QStringLiteral("Capture Typing Mode Shortcut"), replaced, [this] { ++cancels; },
            [this](const HotkeyDefinition& captured) { captures << captured; });
        field.show();
        sheet->show();
    }
    // A letter typed into the field: it arrives only when nothing takes the application's keys.
    bool fieldReceivesKeys() {
        field.clear();
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, 24, 0x71, 0, QStringLiteral("q"));
        QCoreApplication::sendEvent(&field, &typed);
        return field.text() == QLatin1String("q");
    }
};

} // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Definition)

class TestHotkeyCaptureSheet : public QObject {
    Q_OBJECT

    // Pictures for people to look at.
    static void savePicture(QWidget* widget, const QString& name) {
        QCoreApplication::processEvents();
        QDir().mkpath(QStringLiteral(CAPTURE_GALLERY_DIR));
        QVERIFY(widget->grab().toImage().save(QStringLiteral(CAPTURE_GALLERY_DIR "/%1.png").arg(name)));
    }

private slots:
    // The keys are sent to another window: the sheet hears the whole application. `at` is the step whose
    // key saves the shortcut (-1: nothing saved, the sheet still capturing with `status`).
    void keys_data() {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<int>("at");
        QTest::addColumn<Definition>("saved");
        QTest::addColumn<QString>("status");
        constexpr std::uint32_t Cmd = CarbonModifier::Command, Opt = CarbonModifier::Option,
                                Ctl = CarbonModifier::Control, Sft = CarbonModifier::Shift;
        const QString initial = HotkeyCaptureMachine::initialStatusText;

        QTest::newRow("Super + Alt, saved when the last one is released")
            << Steps{P(superL), P(altL), R(altL), R(superL)} << 3
            << Definition({id, 0, Cmd | Opt, false, true}) << QString();
        QTest::newRow("Right Ctrl alone is the Fn shortcut")
            << Steps{P(ctrlR), R(ctrlR)} << 1 << Definition({id, 0, 0, true, true}) << QString();
        QTest::newRow("left Ctrl and Right Ctrl") << Steps{P(ctrlL), P(ctrlR), R(ctrlR), R(ctrlL)} << 3
                                                  << Definition({id, 0, Ctl, true, true}) << QString();
        QTest::newRow("left Ctrl is Control")
            << Steps{P(ctrlL), R(ctrlL)} << 1 << Definition({id, 0, Ctl, false, true}) << QString();
        QTest::newRow("both Super keys: saved when the second is released")
            << Steps{P(superL), P(superR), R(superL), R(superR)} << 3 << Definition({id, 0, Cmd, false, true})
            << QString();
        QTest::newRow("Alt pressed under Shift reads as Meta and is still Alt")
            << Steps{P(shiftL), P(altAsMeta), R(altAsMeta), R(shiftL)} << 3
            << Definition({id, 0, Sft | Opt, false, true}) << QString();
        QTest::newRow("Super + S is saved on the press of S")
            << Steps{P(superL), P(keyS), R(keyS), R(superL)} << 1 << Definition({id, 1, Cmd, false, false})
            << QString();
        QTest::newRow("an upper-case letter is the same key")
            << Steps{P(superL), P(shiftL), P(keyShiftS)} << 2 << Definition({id, 1, Cmd | Sft, false, false})
            << QString();
        QTest::newRow("a standalone F-key")
            << Steps{P(keyF1)} << 0 << Definition({id, 122, 0, false, false}) << QString();
        QTest::newRow("Caps Lock held is no modifier")
            << Steps{P(capsLock), P(superL), R(superL), R(capsLock)} << 2
            << Definition({id, 0, Cmd, false, true}) << QString();
        QTest::newRow("a release of a key held before the sheet opened is ignored")
            << Steps{R(altL), P(superL), R(superL)} << 2 << Definition({id, 0, Cmd, false, true})
            << QString();
        QTest::newRow("auto-repeated presses are ignored")
            << Steps{Repeat(keyF1), P(superL), Repeat(keyS)} << -1 << Definition()
            << QStringLiteral("Release the keys to save Super.");
        QTest::newRow("an unsupported key drops the chord")
            << Steps{P(superL), P(keyHome), R(keyHome), R(superL)} << -1 << Definition()
            << HotkeyCaptureMachine::unsupportedKeyText;
        QTest::newRow("Shift alone saves nothing")
            << Steps{P(shiftL), R(shiftL)} << -1 << Definition() << initial;
    }
    void keys() {
        QFETCH(Steps, steps);
        QFETCH(int, at);
        QFETCH(Definition, saved);
        QFETCH(QString, status);

        SheetRig rig;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            send(&rig.field, steps[i]);
            QCOMPARE(rig.captures.size(), i >= at && at >= 0 ? 1 : 0);
        }
        QCOMPARE(rig.cancels, 0);
        if (at >= 0) {
            QCOMPARE(rig.captures.first(), *saved);
            QVERIFY(!rig.sheet->isCapturing());
        } else {
            QVERIFY(rig.sheet->isCapturing());
            QCOMPARE(rig.sheet->statusText(), status);
        }
        QCOMPARE(rig.field.text(), QString()); // no key reached the other window
    }

    // Every way out removes the app-wide filter; keys reach the other window again.
    void everyWayOutReleasesTheKeys_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<int>("cancels");
        QTest::addColumn<int>("captures");
        QTest::newRow("capture") << "capture" << 0 << 1;
        QTest::newRow("escape with a modifier held") << "escape" << 1 << 0;
        QTest::newRow("escape without native data") << "synthesized escape" << 1 << 0;
        QTest::newRow("cancel button") << "cancel" << 1 << 0;
        QTest::newRow("hidden") << "hide" << 0 << 0;
        QTest::newRow("destroyed") << "destroy" << 0 << 0;
    }
    void everyWayOutReleasesTheKeys() {
        QFETCH(QString, way);
        QFETCH(int, cancels);
        QFETCH(int, captures);

        SheetRig rig;
        QVERIFY(rig.sheet->isCapturing());
        QVERIFY(!rig.fieldReceivesKeys());
        if (way == QLatin1String("capture")) {
            send(&rig.field, P(keyF1));
        } else if (way == QLatin1String("escape")) {
            send(&rig.field, P(superL));
            send(&rig.field, P(keyEscape));
        } else if (way == QLatin1String("synthesized escape")) {
            QTest::keyClick(&rig.field, Qt::Key_Escape);
        } else if (way == QLatin1String("cancel")) {
            QTest::mouseClick(rig.sheet->findChild<QPushButton*>(QStringLiteral("captureCancelButton")),
                              Qt::LeftButton);
        } else if (way == QLatin1String("hide")) {
            rig.sheet->hide();
        } else {
            rig.sheet.reset();
        }
        QCOMPARE(rig.cancels, cancels);
        QCOMPARE(rig.captures.size(), captures);
        QVERIFY(rig.fieldReceivesKeys());
        if (rig.sheet) {
            QVERIFY(!rig.sheet->isCapturing());
        }
    }

    // Shown again after hiding, the sheet starts over: the chord held before is gone.
    void showingAgainStartsOver() {
        SheetRig rig;
        send(&rig.field, P(superL));
        rig.sheet->hide();
        rig.sheet->show();
        QVERIFY(rig.sheet->isCapturing());
        send(&rig.field, R(superL));
        QCOMPARE(rig.captures.size(), 0);
        send(&rig.field, P(altL));
        send(&rig.field, R(altL));
        QCOMPARE(rig.captures,
                 QList<HotkeyDefinition>{HotkeyDefinition({id, 0, CarbonModifier::Option, false, true})});
    }

    // Keys held when the application loses the keyboard are forgotten: their releases go elsewhere.
    void leavingTheApplicationStartsOver() {
        SheetRig rig;
        send(&rig.field, P(superL));
        send(&rig.field, P(altL));
        QApplicationStateChangeEvent away(Qt::ApplicationInactive);
        QCoreApplication::sendEvent(qApp, &away);
        QCOMPARE(rig.sheet->statusText(), HotkeyCaptureMachine::initialStatusText);
        QVERIFY(rig.sheet->isCapturing());
        QApplicationStateChangeEvent back(Qt::ApplicationActive);
        QCoreApplication::sendEvent(qApp, &back);
        send(&rig.field, P(ctrlL));
        send(&rig.field, R(ctrlL));
        QCOMPARE(rig.captures,
                 QList<HotkeyDefinition>{HotkeyDefinition({id, 0, CarbonModifier::Control, false, true})});
    }

    void content() {
        SheetRig rig;
        QCOMPARE(rig.sheet->width(), 520);
        QVERIFY(rig.sheet->height() >= 220);
        QStringList texts;
        for (const QLabel* label : rig.sheet->findChildren<QLabel*>()) {
            texts << label->text();
        }
        QCOMPARE(texts,
                 (QStringList{QStringLiteral("Capture Typing Mode Shortcut"),
                              QStringLiteral("Current shortcut"), QStringLiteral("Alt + Ctrl + Space"),
                              QStringLiteral("How capture works"), HotkeyCaptureMachine::initialStatusText}));
        savePicture(rig.sheet.get(), QStringLiteral("capture-sheet"));
        send(&rig.field, P(superL));
        QCOMPARE(rig.sheet->statusText(), QStringLiteral("Release the keys to save Super."));
        savePicture(rig.sheet.get(), QStringLiteral("capture-sheet-chord"));
    }

    // The sheet as the dashboard window presents it while a capture intent is set.
    void inTheDashboard_data() {
        QTest::addColumn<Intent>("intent");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("stored");
        QTest::newRow("AI Mode gets Super + Alt and is switched on")
            << Intent::SmartEdit << Steps{P(superL), P(altL), R(altL), R(superL)}
            << QStringLiteral("Updated AI Mode shortcut to Super + Alt.") << true;
        QTest::newRow("Typing Mode cannot take dictation's Right Ctrl")
            << Intent::Vdi << Steps{P(ctrlR), R(ctrlR)}
            << QStringLiteral("Right Ctrl is already assigned to Dictation. Choose a different shortcut.")
            << false;
        QTest::newRow("Escape keeps the sentence of the Change button")
            << Intent::Dictation << Steps{P(superL), P(keyEscape)}
            << QStringLiteral("Press the new shortcut.") << false;
    }
    void inTheDashboard() {
        QFETCH(Intent, intent);
        QFETCH(Steps, steps);
        QFETCH(QString, status);
        QFETCH(bool, stored);

        DashboardRig rig;
        rig.appSettings.setSmartEditHotkeyEnabled(false);
        rig.appSettings.setVdiHotkeyEnabled(false);
        const HotkeyDefinition before = currentHotkey(intent, rig.appSettings);
        DashboardView& view = rig.makeView();
        view.show();
        view.state().setHotkeyStatusText(QStringLiteral("Press the new shortcut."));
        view.state().setCaptureIntent(intent);
        QPointer<QWidget> sheet = view.presentations().currentContent();
        QVERIFY(qobject_cast<DashboardHotkeyCaptureSheet*>(sheet));
        QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("captureTitle"))->text(),
                 DashboardHotkeyCaptureIntents::sheetTitle(intent));
        QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("captureCurrentShortcut"))->text(),
                 before.displayString());
        savePicture(&view, QStringLiteral("capture-in-dashboard-") + QTest::currentDataTag());

        for (const Step& step : steps) {
            send(view.presentations().currentContent() ? view.presentations().currentContent() : &view, step);
        }
        QCOMPARE(view.state().hotkeyStatusText(), status);
        QCOMPARE(view.state().captureIntent(), std::nullopt);
        QCOMPARE(view.presentations().currentKey(), QString());
        const HotkeyDefinition after = currentHotkey(intent, rig.appSettings);
        QCOMPARE(after != before, stored);
        QCOMPARE(after.id, before.id); // the stored shortcut keeps the replaced one's id
        if (stored) {
            QVERIFY(rig.appSettings.smartEditHotkeyEnabled());
        }
        QTRY_VERIFY(!sheet); // deleted once the event loop runs
    }
};

QTEST_MAIN(TestHotkeyCaptureSheet)
#include "tst_hotkey_capture_sheet.moc"
