// Selected-text capture on a private X server: through AT-SPI on the session's accessibility bus, and
// through the copy chord with the clipboard put back (text and image) however the capture ends.

#include "AtSpiSelectionReader.h"
#include "ClipboardRestorer.h"
#include "InsertionTestSupport.h"
#include "RunTask.h"
#include "SelectedTextService.h"
#include "TestDesktop.h"
#include "TextInsertionService.h"

#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTemporaryFile>

using namespace std::chrono_literals;

namespace {
const QString kBefore = QStringLiteral("alpha");
const QString kSelected = QString::fromUtf8("  selected wörds – ✓  ");
const QString kAfter = QStringLiteral("omega");

// The real scheduler, counting the waits it is asked for.
class CountingScheduler : public Scheduler {
public:
    QList<Duration> delays;
    TimerHandle singleShot(Duration delay, std::function<void()> action) override {
        delays.append(delay);
        return m_real.singleShot(delay, std::move(action));
    }
    TimerHandle repeating(Duration interval, std::function<void()> action) override {
        return m_real.repeating(interval, std::move(action));
    }
    qsizetype count(Duration delay) const { return delays.count(delay); }

private:
    QtScheduler m_real;
};
// The real window source, except that windows carry no process id (a window without _NET_WM_PID).
class WindowsWithoutProcessIds : public FrontmostWindowSource {
public:
    explicit WindowsWithoutProcessIds(std::shared_ptr<FrontmostWindowSource> real)
        : m_real(std::move(real)) {}
    std::optional<FrontmostWindow> frontmostWindow() override {
        std::optional<FrontmostWindow> front = m_real->frontmostWindow();
        if (front) {
            front->processId.reset();
        }
        return front;
    }
    std::optional<QString> windowTitle(quint64 window) override { return m_real->windowTitle(window); }
    std::optional<quint64> mainWindow(quint64 window) override { return m_real->mainWindow(window); }
    QList<quint64> windowsOfProcess(qint64 processId) override { return m_real->windowsOfProcess(processId); }

private:
    std::shared_ptr<FrontmostWindowSource> m_real;
};

using Formats = QList<std::pair<QString, QByteArray>>;

// A clipboard owner without a toolkit (ClipboardProbe.cpp), offering exactly the given targets.
class ProbeOwner {
public:
    bool start(const Formats& formats) {
        QStringList arguments{"own"};
        for (const auto& [name, bytes] : formats) {
            if (bytes.size() > 64 * 1024) { // too long for a command line
                auto file = std::make_unique<QTemporaryFile>();
                if (!file->open() || file->write(bytes) != bytes.size() || !file->flush()) {
                    return false;
                }
                arguments << name << "@" + file->fileName();
                m_files.push_back(std::move(file));
            } else {
                arguments << name << QString::fromLatin1(bytes.toBase64());
            }
        }
        m_process.start(CLIPBOARD_PROBE_PATH, arguments);
        return m_process.waitForStarted() &&
               QTest::qWaitFor([this] { return m_process.readAll().startsWith("owned"); }, 10000);
    }
    ~ProbeOwner() {
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
    std::vector<std::unique_ptr<QTemporaryFile>> m_files;
};

// The clipboard's targets and the bytes of each, as a client without a toolkit reads them.
struct ProbeReading {
    QStringList targets;
    QMap<QString, QByteArray> data;
};
ProbeReading readClipboardWithProbe() {
    QProcess probe;
    probe.start(CLIPBOARD_PROBE_PATH, {"read"});
    // Our own process may own the clipboard: keep its event loop running while the probe asks.
    if (!QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 20000)) {
        return {};
    }
    ProbeReading reading;
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2 && fields[0] == "target") {
            reading.targets.append(QString::fromLatin1(fields[1]));
        } else if (fields.size() == 3 && fields[0] == "data") {
            reading.data.insert(QString::fromLatin1(fields[1]), QByteArray::fromBase64(fields[2]));
        }
    }
    return reading;
}

// A PNG that a re-encoding would change: stored without compression and carrying a text chunk.
QByteArray unusualPng() {
    QImage image(24, 16, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 10, y * 15, 200));
        }
    }
    image.setText("Comment", "made by the test");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setCompression(0);
    writer.write(image);
    return bytes;
}
} // namespace

class TestSelectionX11 : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<X11WindowInspector> m_windows;

    // Starts the target with `text` in it, [from, to) selected, frontmost, owning the user's clipboard.
    bool startTarget(TargetProcess& target, const QStringList& arguments, const QString& text, int from,
                     int to, bool accessible = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (accessible) {
            environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        }
        target.setEnvironment(environment);
        if (!target.start(arguments) || !waitUntilFrontmost(*m_windows, target)) {
            return false;
        }
        if (target.setText(text) != "done" || target.select(from, to) != "done" ||
            target.setClipboard(kUserText, true) != "done") {
            return false;
        }
        target.clearKeys();
        return QTest::qWaitFor([] {
            const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
            return mime && mime->text() == kUserText && mime->hasImage();
        });
    }

    static QString sample() { return kBefore + kSelected + kAfter; }
    static int selectionStart() { return int(kBefore.size()); }
    static int selectionEnd() { return int(kBefore.size() + kSelected.size()); }

private slots:
    void initTestCase() {
        m_windows = std::make_shared<X11WindowInspector>();
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "no session bus: run under scripts/test-session");
    }

    void cleanup() {
        Scheduler::setCurrent(nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!m_windows->frontmostWindow(), 10000);
    }

    // The target exposes its text field on the accessibility bus and ignores Ctrl+C: the selection can
    // only come through AT-SPI, and the clipboard is never touched.
    void captureThroughAccessibility() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startTarget(target, {"--ignore-copy"}, sample(), selectionStart(), selectionEnd(), true));

        AtSpiSelectionReader reader;
        // The target registers with the accessibility bus on its own time.
        QTRY_VERIFY_WITH_TIMEOUT(runTask(reader.readFocusedSelection(target.pid())).text == kSelected, 20000);

        SelectedTextService service(testDesktop().keys, testDesktop().windows,
                                    testDesktop().accessibleSelection);
        QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        QVERIFY(target.keys().isEmpty()); // no copy chord sent
        QVERIFY(!QGuiApplication::clipboard()->ownsClipboard());
        verifyUserClipboard(target);
    }

    // A frontmost window without a process id: the accessible application with a focused object may be
    // another one than the user's, so the selection comes through the copy chord, not AT-SPI.
    void withoutProcessIdSkipsAccessibility() {
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startTarget(target, {}, sample(), selectionStart(), selectionEnd(), true));
        AtSpiSelectionReader reader;
        QTRY_VERIFY_WITH_TIMEOUT(runTask(reader.readFocusedSelection(target.pid())).text == kSelected, 20000);

        SelectedTextService service(testDesktop().keys, std::make_shared<WindowsWithoutProcessIds>(m_windows),
                                    std::make_shared<AtSpiSelectionReader>());
        QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        QCOMPARE(target.keys(), QList<QByteArray>{"ctrl+c"});
        verifyUserClipboard(target);
    }

    // Without accessibility: the copy chord (Ctrl+Shift+C in a terminal), then the user's clipboard back.
    void captureThroughCopy_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("chord");
        QTest::newRow("editor") << QStringList{} << QByteArray("ctrl+c");
        QTest::newRow("terminal") << QStringList{"--terminal", "--class", "xterm,XTerm"}
                                  << QByteArray("ctrl+shift+c");
    }
    void captureThroughCopy() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, chord);
        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(startTarget(target, arguments, sample(), selectionStart(), selectionEnd()));

        SelectedTextService service(testDesktop().keys, testDesktop().windows,
                                    testDesktop().accessibleSelection);
        QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        QCOMPARE(target.keys(), QList<QByteArray>{chord});
        verifyUserClipboard(target);
    }

    // Whatever borrowed it (a copy of the selection, a paste), the clipboard comes back with the targets its
    // owner offered and nothing else, each with the owner's bytes: no re-encoded PNG, no UTF-16 HTML turned
    // into UTF-8, private binary types intact, a large one too. The other image formats beside the PNG come
    // back as targets made from it.
    void clipboardComesBackByteForByte_data() {
        QTest::addColumn<bool>("paste");
        QTest::newRow("selection capture") << false;
        QTest::newRow("paste") << true;
    }
    void clipboardComesBackByteForByte() {
        QFETCH(bool, paste);
        // STRING is Latin-1 by definition, and Qt answers TEXT with STRING: a text Latin-1 can hold.
        const QString userText = QString::fromUtf8("the user's own wörds");
        const QByteArray text = userText.toUtf8();
        QByteArray html("\xff\xfe"); // UTF-16 with a byte-order mark, as browsers offer it
        const QString htmlText = QString::fromUtf8("<b>the user's ✓</b>");
        html.append(reinterpret_cast<const char*>(htmlText.utf16()), htmlText.size() * 2);
        const QByteArray png = unusualPng();
        // More than an X request holds: it travels in INCR pieces, to us and back to the reader.
        QByteArray large(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        QRandomGenerator generator(9);
        for (char& byte : large) {
            byte = char(generator.generate() & 0xff);
        }
        const Formats offered{{"UTF8_STRING", text},
                              {"STRING", userText.toLatin1()},
                              {"TEXT", userText.toLatin1()},
                              {"text/plain", text},
                              {"text/html", html},
                              {"image/png", png},
                              {"image/bmp", QByteArray("made from the PNG on request")},
                              {"application/x-quillvane-test", QByteArray("\0\xff\xfe binary\0", 11)},
                              {"application/x-quillvane-large", large}};

        TargetProcess target(INSERTION_TARGET_PATH);
        QVERIFY(target.start() && waitUntilFrontmost(*m_windows, target));
        QCOMPARE(target.setText(sample()), QByteArray("done"));
        QCOMPARE(target.select(selectionStart(), selectionEnd()), QByteArray("done"));
        ProbeOwner owner;
        QVERIFY(owner.start(offered));

        if (paste) {
            TextInsertionService insertion(testDesktop().keys, testDesktop().windows);
            runTask(insertion.pasteText(QStringLiteral("dictated")));
            QTRY_VERIFY_WITH_TIMEOUT(target.text().contains("dictated"), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(!ClipboardRestorer::instance().hasPendingRestore(), 10000);
        } else {
            SelectedTextService service(testDesktop().keys, testDesktop().windows,
                                        testDesktop().accessibleSelection);
            QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        }

        // Taken again while we still own it (the next dictation), it is the owner's snapshot as it was.
        const ClipboardSnapshot again = ClipboardRestorer::instance().takeUserClipboard();
        QStringList offeredNames;
        for (const auto& [name, bytes] : offered) {
            offeredNames.append(name);
        }
        QCOMPARE(again.formats(), offeredNames);
        QCOMPARE(again.data("image/png"), png);
        QVERIFY(again.data("image/bmp").isEmpty()); // still to be made from the PNG when asked for

        const ProbeReading reading = readClipboardWithProbe();
        const QStringList protocol{"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"};
        QStringList restored = reading.targets;
        restored.removeIf([&](const QString& name) { return protocol.contains(name); });
        QStringList expected = offeredNames;
        restored.sort();
        expected.sort();
        QCOMPARE(restored, expected);
        for (const auto& [name, bytes] : offered) {
            if (name == "image/bmp") {
                QImage fromBmp, fromPng;
                QVERIFY(fromBmp.loadFromData(reading.data.value(name), "BMP"));
                QVERIFY(fromPng.loadFromData(png, "PNG"));
                QCOMPARE(fromBmp.convertToFormat(QImage::Format_ARGB32),
                         fromPng.convertToFormat(QImage::Format_ARGB32));
            } else {
                QVERIFY2(reading.data.value(name) == bytes,
                         qPrintable(name + " " + QString::number(reading.data.value(name).size())));
            }
        }
    }

    // However the capture fails, the user's clipboard (text and image) is back afterwards.
    void failedCaptureRestoresClipboard_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("kind"); // -1: cancelled
        QTest::newRow("application ignores the copy")
            << "ignores" << int(SelectedTextError::Kind::ClipboardReadFailed);
        QTest::newRow("blank selection") << "blank" << int(SelectedTextError::Kind::NoSelectionCaptured);
        QTest::newRow("no permission")
            << "permission" << int(SelectedTextError::Kind::AccessibilityPermissionRequired);
        QTest::newRow("cancelled while polling") << "cancelled" << -1;
    }
    void failedCaptureRestoresClipboard() {
        QFETCH(QString, situation);
        QFETCH(int, kind);
        TargetProcess target(INSERTION_TARGET_PATH);
        const QString text = situation == "blank" ? QStringLiteral("a   b") : sample();
        const int from = situation == "blank" ? 1 : selectionStart();
        const int to = situation == "blank" ? 4 : selectionEnd();
        const QStringList arguments =
            situation == "ignores" || situation == "cancelled" ? QStringList{"--ignore-copy"} : QStringList{};
        QVERIFY(startTarget(target, arguments, text, from, to));

        CountingScheduler scheduler;
        Scheduler::setCurrent(&scheduler);
        SelectedTextService service(testDesktop().keys, testDesktop().windows,
                                    testDesktop().accessibleSelection);
        if (situation == "permission") {
            service.isAccessibilityTrusted = [] { return false; };
        }
        std::function<bool()> isCancelled;
        if (situation == "cancelled") {
            isCancelled = [&scheduler] {
                return scheduler.count(SelectedTextService::clipboardPollInterval) >= 3;
            };
        }
        if (kind < 0) {
            expectFailure<SelectedTextCaptureCancelled>(service.captureSelectedText(isCancelled));
            QCOMPARE(scheduler.count(SelectedTextService::clipboardPollInterval), 3);
        } else {
            const auto error = expectFailure<SelectedTextError>(service.captureSelectedText(isCancelled));
            QCOMPARE(int(error.kind()), kind);
            if (situation == "permission") { // says what is missing on Linux, no macOS setting
                QVERIFY(error.message().contains("XTest"));
                QVERIFY(!error.message().contains("enable Accessibility"));
            }
        }
        if (situation == "ignores") {
            QCOMPARE(scheduler.count(SelectedTextService::clipboardPollInterval),
                     SelectedTextService::clipboardPollCount);
        }
        if (situation == "permission") {
            QVERIFY(!QGuiApplication::clipboard()->ownsClipboard()); // never touched
            QVERIFY(target.keys().isEmpty());
        } else {
            QCOMPARE(target.keys(), QList<QByteArray>{"ctrl+c"});
        }
        verifyUserClipboard(target);
    }
};

INSERTION_X11_TEST_MAIN(TestSelectionX11)
#include "tst_selection_x11.moc"
