// The capture sheet on the session's X server: real key presses through XTest reach the sheet's window,
// and the keys are read from the server's keyboard map (Super, Alt under Shift, digits under Shift, Right
// Ctrl).

#include "DashboardHotkeyCaptureSheet.h"

#include <QShortcut>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

#include "XTestInjector.h"

namespace {

// One step: press (true) or release (false) of a keysym's key.
struct Stroke {
    bool press;
    unsigned long keysym;
};
using Strokes = QList<Stroke>;
using Definition = std::optional<HotkeyDefinition>;

Stroke P(unsigned long keysym) {
    return {true, keysym};
}
Stroke R(unsigned long keysym) {
    return {false, keysym};
}

constexpr std::uint32_t id = 2;

} // namespace

Q_DECLARE_METATYPE(Strokes)
Q_DECLARE_METATYPE(Definition)

class TestHotkeyCaptureX11 : public QObject {
    Q_OBJECT

private slots:
    void capture_data() {
        QTest::addColumn<Strokes>("strokes");
        QTest::addColumn<Definition>("saved");
        constexpr std::uint32_t Cmd = CarbonModifier::Command, Opt = CarbonModifier::Option,
                                Ctl = CarbonModifier::Control, Sft = CarbonModifier::Shift;
        QTest::newRow("Super + Alt") << Strokes{P(XK_Super_L), P(XK_Alt_L), R(XK_Alt_L), R(XK_Super_L)}
                                     << Definition({id, 0, Cmd | Opt, false, true});
        QTest::newRow("Shift + Alt") << Strokes{P(XK_Shift_L), P(XK_Alt_L), R(XK_Alt_L), R(XK_Shift_L)}
                                     << Definition({id, 0, Sft | Opt, false, true});
        QTest::newRow("Right Ctrl") << Strokes{P(XK_Control_R), R(XK_Control_R)}
                                    << Definition({id, 0, 0, true, true});
        QTest::newRow("Ctrl + Right Ctrl")
            << Strokes{P(XK_Control_L), P(XK_Control_R), R(XK_Control_R), R(XK_Control_L)}
            << Definition({id, 0, Ctl, true, true});
        QTest::newRow("Super + Shift + 1") << Strokes{P(XK_Super_L), P(XK_Shift_L), P(XK_1)}
                                           << Definition({id, 18, Cmd | Sft, false, false});
        QTest::newRow("Alt + Ctrl + Space") << Strokes{P(XK_Alt_L), P(XK_Control_L), P(XK_space)}
                                            << Definition({id, 49, Ctl | Opt, false, false});
        QTest::newRow("F5") << Strokes{P(XK_F5)} << Definition({id, 96, 0, false, false});
    }
    void capture() {
        QFETCH(Strokes, strokes);
        QFETCH(Definition, saved);

        XTestInjector keys;
        QVERIFY(keys.isOpen());
        QList<HotkeyDefinition> captures;
        int cancels = 0;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* sheet = new DashboardHotkeyCaptureSheet(
            QStringLiteral("Capture AI Mode Shortcut"), HotkeyDefinition{id, 0, 0x1000, true, true},
            [&] { ++cancels; }, [&](const HotkeyDefinition& captured) { captures << captured; });
        layout->addWidget(sheet);
        // A shortcut of the window does not fire while the sheet captures: the key is the capture's.
        QShortcut windowShortcut(QKeySequence(Qt::Key_F5), &window);
        int shortcutsFired = 0;
        connect(&windowShortcut, &QShortcut::activated, this, [&] { ++shortcutsFired; });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(sheet->isCapturing());

        for (const Stroke& stroke : strokes) {
            stroke.press ? keys.press(stroke.keysym) : keys.release(stroke.keysym);
            QTest::qWait(20);
        }
        QTRY_COMPARE(captures.size(), 1);
        QCOMPARE(captures.first(), *saved);
        QCOMPARE(cancels, 0);
        QCOMPARE(shortcutsFired, 0);
        QVERIFY(!sheet->isCapturing());
    }

    void escapeCancels() {
        XTestInjector keys;
        QVERIFY(keys.isOpen());
        int cancels = 0;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* sheet = new DashboardHotkeyCaptureSheet(
            QStringLiteral("Capture Dictation Shortcut"), HotkeyDefinition{1, 0, 0, true, true},
            [&] { ++cancels; }, [](const HotkeyDefinition&) { QFAIL("nothing may be captured"); });
        layout->addWidget(sheet);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        keys.press(XK_Super_L);
        keys.tap(XK_Escape);
        keys.release(XK_Super_L);
        QTRY_COMPARE(cancels, 1);
        QVERIFY(!sheet->isCapturing());
    }
};

QTEST_MAIN(TestHotkeyCaptureX11)
#include "tst_hotkey_capture_x11.moc"
