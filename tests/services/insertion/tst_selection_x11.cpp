// Selected-text capture on a private X server: through AT-SPI on the session's accessibility bus, and
// through the copy chord with the clipboard put back (text and image) however the capture ends.

#include "AtSpiSelectionReader.h"
#include "ClipboardRestorer.h"
#include "InsertionTestSupport.h"
#include "RunTask.h"
#include "SelectedTextService.h"

#include <QClipboard>
#include <QMimeData>

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

        SelectedTextService service;
        QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        QVERIFY(target.keys().isEmpty()); // no copy chord sent
        QVERIFY(!QGuiApplication::clipboard()->ownsClipboard());
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

        SelectedTextService service;
        QCOMPARE(runTask(service.captureSelectedText()), kSelected);
        QCOMPARE(target.keys(), QList<QByteArray>{chord});
        verifyUserClipboard(target);
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
        SelectedTextService service;
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
