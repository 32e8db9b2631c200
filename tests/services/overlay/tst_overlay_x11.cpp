// The recording overlay on the session's X server (openbox): it appears and goes away with the recorder,
// is drawn on top centred 18 px above the bottom of the screen, lets clicks through to the window below,
// and the window that had the focus (another process's) keeps it.

#include "AudioCaptureService.h"
#include "RecordingOverlayController.h"
#include "RecordingOverlayView.h"
#include "RunTask.h"
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QTest>

#include <cstdio>

// Xlib last: its macros clash with Qt's headers.
#include "TestDesktop.h"
#include "X11Display.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>

namespace {
const char* const kTargetFlag = "--focus-target";

// The other application: a plain window over the bottom middle of the screen that reports its id and
// every mouse press on stdout.
class TargetWindow : public QWidget {
protected:
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint global = event->globalPosition().toPoint();
        std::printf("press %d %d\n", global.x(), global.y());
        std::fflush(stdout);
    }
};

int runTargetWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    TargetWindow window;
    window.setWindowTitle(QStringLiteral("quillvane-overlay-focus-target"));
    const QRect screen = app.primaryScreen()->geometry();
    window.setGeometry(screen.center().x() - 300, screen.bottom() - 330, 600, 300);
    window.show();
    window.activateWindow();
    window.raise();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const QRect client(window.mapToGlobal(QPoint(0, 0)), window.size());
    std::printf("window %llu %d %d %d %d\n", static_cast<unsigned long long>(window.winId()), client.x(),
                client.y(), client.width(), client.height());
    std::fflush(stdout);
    return app.exec();
}

std::optional<unsigned long> cardinalProperty(X11Display& x11, Window window, const char* name, Atom kind) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    X11Display::ErrorTrap trap(x11);
    std::optional<unsigned long> value;
    if (XGetWindowProperty(x11.display(), window, x11.atom(name), 0, 1, False, kind, &type, &format, &count,
                           &remaining, &data) == Success &&
        data) {
        if (type == kind && format == 32 && count >= 1)
            value = *reinterpret_cast<unsigned long*>(data) & 0xFFFFFFFFul; // Xlib widens to long
        XFree(data);
    }
    trap.finish();
    return value;
}

Window activeWindow(X11Display& x11) {
    return Window(cardinalProperty(x11, x11.root(), "_NET_ACTIVE_WINDOW", XA_WINDOW).value_or(None));
}

bool isViewable(X11Display& x11, Window window) {
    XWindowAttributes attributes{};
    X11Display::ErrorTrap trap(x11);
    const bool ok = XGetWindowAttributes(x11.display(), window, &attributes);
    return trap.finish() == Success && ok && attributes.map_state == IsViewable;
}

QRect rootGeometry(X11Display& x11, Window window) {
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    X11Display::ErrorTrap trap(x11);
    XGetWindowAttributes(x11.display(), window, &attributes);
    XTranslateCoordinates(x11.display(), window, x11.root(), 0, 0, &x, &y, &child);
    if (trap.finish() != Success)
        return {};
    return QRect(x, y, attributes.width, attributes.height);
}

QColor screenPixel(QPoint global) {
    const QImage image =
        QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage();
    return image.isNull() ? QColor() : image.pixelColor(0, 0);
}

bool isDark(const QColor& color) {
    return color.isValid() && color.red() < 60 && color.green() < 60 && color.blue() < 60;
}
} // namespace

class TestOverlayX11 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_x11 = X11Display::open();
        QVERIFY2(m_x11, "no X server: run under scripts/test-session");
        QVERIFY(m_x11->hasXTest());
        QVERIFY2(cardinalProperty(*m_x11, m_x11->root(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW),
                 "no EWMH window manager");
    }

    void followsTheRecorderWithoutTakingFocusOrClicks() {
        // Another application's window has the focus.
        QProcess target;
        target.start(QCoreApplication::applicationFilePath(), {kTargetFlag});
        QVERIFY(target.waitForStarted());
        QByteArray output;
        auto line = [&](const QByteArray& prefix) -> QList<QByteArray> {
            output += target.readAllStandardOutput();
            for (const QByteArray& l : output.split('\n'))
                if (l.startsWith(prefix + ' '))
                    return l.split(' ');
            return {};
        };
        QTRY_VERIFY_WITH_TIMEOUT(line("window").size() == 6 || target.state() == QProcess::NotRunning, 20000);
        const QList<QByteArray> announced = line("window");
        QVERIFY2(announced.size() == 6, target.readAllStandardError().constData());
        const Window targetWindow = Window(announced[1].toULongLong());
        const QRect targetRect(announced[2].toInt(), announced[3].toInt(), announced[4].toInt(),
                               announced[5].toInt());
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(*m_x11), targetWindow, 10000);
        QCOMPARE(QGuiApplication::focusWindow(), nullptr);

        AudioCaptureService recorder(testDesktop().audioInputs);
        RecordingOverlayController overlay(Scheduler::current(), testDesktop().windows);
        overlay.observe(recorder);
        QTest::qWait(0);
        QVERIFY(!overlay.isPanelVisible());

        // Recording starts: the pill's window comes up; the dictation shows it in its recording state.
        runTask(recorder.startRecording());
        QTRY_VERIFY(overlay.isPanelVisible());
        const Window panel = Window(overlay.panel()->winId());
        QTRY_VERIFY_WITH_TIMEOUT(isViewable(*m_x11, panel), 10000);
        overlay.show(RecordingOverlayController::OverlayState::Recording);

        // Centred, 18 px above the bottom of the screen (openbox runs no panel: the whole screen is usable).
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QTRY_COMPARE(rootGeometry(*m_x11, panel).size(), QSize(92, 30));
        const QRect placed = rootGeometry(*m_x11, panel);
        QCOMPARE(placed.x() + placed.width() / 2, screen.x() + screen.width() / 2);
        QCOMPARE(placed.y() + placed.height(), screen.y() + screen.height() - 18);
        // The dark pill is drawn over the other window (its padding, left of the bars); the window's
        // corners, outside the rounded pill, show the window below (no compositing manager here: the
        // window is cut to the pill's shape).
        const QPoint padding(placed.center().x() - 30, placed.center().y());
        QVERIFY(!isDark(screenPixel(padding - QPoint(0, 40))));
        QTRY_VERIFY2(isDark(screenPixel(padding)), qPrintable(screenPixel(padding).name()));
        QVERIFY2(!isDark(screenPixel(placed.topLeft() + QPoint(1, 1))),
                 qPrintable(screenPixel(placed.topLeft() + QPoint(1, 1)).name()));

        // Shown, it took no focus, neither from the other application nor in this one.
        XSync(m_x11->display(), False);
        QCOMPARE(activeWindow(*m_x11), targetWindow);
        QVERIFY(!overlay.panel()->isActiveWindow());
        QCOMPARE(QGuiApplication::focusWindow(), nullptr);

        // A click on the pill reaches the window below it.
        const QPoint centre = placed.center();
        QVERIFY2(targetRect.contains(centre), "the target window does not lie under the pill");
        XTestFakeMotionEvent(m_x11->display(), -1, centre.x(), centre.y(), CurrentTime);
        XTestFakeButtonEvent(m_x11->display(), 1, True, CurrentTime);
        XTestFakeButtonEvent(m_x11->display(), 1, False, CurrentTime);
        XFlush(m_x11->display());
        QTRY_COMPARE_WITH_TIMEOUT(
            line("press").mid(1),
            (QList<QByteArray>{QByteArray::number(centre.x()), QByteArray::number(centre.y())}), 10000);
        QCOMPARE(activeWindow(*m_x11), targetWindow);

        // The recorder stops: the pill goes (its state stays until the dictation changes it).
        const RecordedAudio recorded = recorder.stopRecording();
        QFile::remove(recorded.url.toLocalFile());
        QTRY_VERIFY(!overlay.isPanelVisible());
        QTRY_VERIFY(!isViewable(*m_x11, panel));
        QCOMPARE(overlay.state(), RecordingOverlayController::OverlayState::Recording);
        QCOMPARE(activeWindow(*m_x11), targetWindow);

        target.kill();
        target.waitForFinished();
    }

private:
    std::unique_ptr<X11Display> m_x11;
};

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], kTargetFlag) == 0)
            return runTargetWindow(argc, argv);
    int status = 0;
    {
        QApplication app(argc, argv);
        TestOverlayX11 test;
        status = QTest::qExec(&test, argc, argv);
    }
    // The recorder it follows used Qt's PulseAudio backend, whose exit-time teardown can abort: see
    // AudioTestMain.h.
    std::fflush(nullptr);
    std::_Exit(status);
}

#include "tst_overlay_x11.moc"
