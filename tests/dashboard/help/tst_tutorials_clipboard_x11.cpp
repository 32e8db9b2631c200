// "Copy Link" on the X server's real CLIPBOARD: another X client reads the link back.

#include "HelpFixtures.h"
#include "RuntimeLogCapture.h"

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QTest>

namespace {
// The clipboard's UTF8_STRING as a client without a toolkit reads it; nothing when unreadable.
std::optional<QString> readClipboardFromAnotherClient() {
    QProcess probe;
    probe.start(QStringLiteral(CLIPBOARD_PROBE_PATH), {QStringLiteral("read")});
    // This process owns the clipboard: its event loop must run while the probe asks.
    if (!QTest::qWaitFor([&] { return probe.state() == QProcess::NotRunning; }, 20000)) {
        probe.kill();
        probe.waitForFinished();
        return std::nullopt;
    }
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3 && fields[0] == "data" && fields[1] == "UTF8_STRING") {
            return QString::fromUtf8(QByteArray::fromBase64(fields[2]));
        }
    }
    return std::nullopt;
}
} // namespace

class TutorialsClipboardTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X server (xcb)");
    }

    // The link goes on the clipboard unchanged, even one "Watch" would refuse, and its length is logged.
    void copyLinkPutsTheLinkOnTheClipboard_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("chars");
        QTest::newRow("web link") << "https://example.invalid/tutorials/first-dictation?t=42" << 54;
        QTest::newRow("not a web link") << "file:///home/me/caf\u00e9 notes.txt" << 30;
    }
    void copyLinkPutsTheLinkOnTheClipboard() {
        QFETCH(QString, url);
        QFETCH(int, chars);
        RuntimeLogCapture log;
        DashboardState state;
        state.setTutorials(
            {TutorialItemDTO{QStringLiteral("k"), QStringLiteral("Title"), QStringLiteral("About"), url}});
        QList<QUrl> opened;
        TutorialsPage page(state, TutorialsLoader::Fetch{},
                           [&opened](const QUrl& link) { opened.append(link); });
        page.show();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        visibleChildren<QPushButton>(page, QStringLiteral("tutorialCopyButton")).at(0)->click();

        QCOMPARE(readClipboardFromAnotherClient().value_or(QStringLiteral("<unreadable>")), url);
        QVERIFY(opened.isEmpty());
        QCOMPARE(RuntimeLogCapture::entries(),
                 QStringList{QStringLiteral("INFO Copied text to clipboard chars=%1").arg(chars)});
    }
};

QTEST_MAIN(TutorialsClipboardTest)
#include "tst_tutorials_clipboard_x11.moc"
