// Proves the X server of the test session draws real windows: a two-coloured widget is shown on the xcb
// platform and read back from the root window's pixels (the server's framebuffer, not Qt's backing store).

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QTest>

namespace {
const QColor kLeft(32, 160, 96);
const QColor kRight(200, 40, 120);

class SplitWidget : public QWidget {
public:
    SplitWidget() {
        setWindowTitle("quillvane-x11-proof");
        setWindowFlag(Qt::WindowStaysOnTopHint); // stay visible if another test's window opens meanwhile
        setFixedSize(240, 160);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(0, 0, width() / 2, height(), kLeft);
        p.fillRect(width() / 2, 0, width() - width() / 2, height(), kRight);
    }
};

QColor screenPixel(QScreen* screen, QPoint global) {
    const QImage image = screen->grabWindow(0, global.x(), global.y(), 1, 1).toImage();
    return image.isNull() ? QColor() : image.pixelColor(0, 0);
}
} // namespace

class TestX11Window : public QObject {
    Q_OBJECT

private slots:
    void runsOnTheSessionXServer() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"),
                 "DISPLAY is not set: run under scripts/test-session");
    }

    void shownWidgetIsDrawnByTheServer() {
        SplitWidget widget;
        widget.move(100, 100);
        QScreen* screen = widget.screen();
        QVERIFY(screen);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));

        const QPoint leftSample = widget.mapToGlobal(QPoint(widget.width() / 4, widget.height() / 2));
        const QPoint rightSample = widget.mapToGlobal(QPoint(3 * widget.width() / 4, widget.height() / 2));
        // Exposure comes before the first paint reaches the server: poll the framebuffer until it shows.
        QTRY_COMPARE(screenPixel(screen, leftSample), kLeft);
        QCOMPARE(screenPixel(screen, rightSample), kRight);

        widget.hide();
        QTRY_VERIFY(screenPixel(screen, leftSample) != kLeft);
    }
};

QTEST_MAIN(TestX11Window)
#include "tst_x11_window.moc"
