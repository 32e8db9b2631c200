// The secure store against a Secret Service that never answers: a private session bus of the test's own,
// on which a small service holds the Secret Service's name and drops every call. The store's calls must
// return at once, the event loop must keep running while they wait, and each must end in an error that
// says what happened.
#include "LibsecretBackend.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

using namespace std::chrono_literals;

namespace {
const QString kService = QStringLiteral("app.quillvane.desktop.tests");
const QString kAccount = QStringLiteral("unanswered-store-test");
constexpr std::chrono::milliseconds kDeadline = 1s;

// A session bus that starts no service by itself (no service folders) and lets anyone take any name.
const char* const kBusConfig =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:dir=%1</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

QByteArray firstLine(QProcess& process) {
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000)) {
            return {};
        }
    }
    return process.readLine().trimmed();
}
} // namespace

class TestSecureStoreUnanswered : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_silentService;
    std::optional<RuntimeLogCapture> m_log; // installed once QTest has its own handler

private slots:
    // Before anything in this process opens the session bus: GLib keeps the first connection for good.
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
        const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile config(configPath);
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString::fromUtf8(kBusConfig).arg(m_dir.path()).toUtf8());
        config.close();

        m_bus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon did not start");
        const QByteArray address = firstLine(m_bus);
        QVERIFY2(!address.isEmpty(), "dbus-daemon printed no address");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        m_silentService.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_silentService.start(QStringLiteral(SILENT_SECRET_SERVICE_PATH), {QString::fromUtf8(address)});
        QVERIFY2(m_silentService.waitForStarted(), "the silent service did not start");
        QCOMPARE(firstLine(m_silentService), QByteArray("ready"));
        m_log.emplace();
    }

    void cleanupTestCase() {
        m_log.reset();
        m_silentService.closeWriteChannel(); // it ends when its input closes
        QVERIFY(m_silentService.waitForFinished(5000));
        m_bus.terminate();
        QVERIFY(m_bus.waitForFinished(5000));
    }

    void callsEndInAnErrorWhileTheEventLoopRuns() {
        SecureStore store(std::make_shared<LibsecretBackend>(kDeadline), kService, kAccount);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start();

        QCoro::Task<std::optional<QString>> read = store.readSessionToken();
        QVERIFY(!read.isReady()); // the call returned without waiting for the service
        store.writeSessionToken(QStringLiteral("new-token"));
        QCoro::Task<> settled = store.settled();

        QCOMPARE(runTask(std::move(read)), std::optional<QString>());
        const int ticksWhileReading = ticks;
        runTask(std::move(settled));

        // A blocking call would have let the timer fire once at most.
        QVERIFY2(ticksWhileReading >= 10, qPrintable(QString::number(ticksWhileReading)));
        QVERIFY2(ticks - ticksWhileReading >= 10, qPrintable(QString::number(ticks)));
        const QString tail = QStringLiteral(" status=24 reason=the Secret Service did not answer within 1 s");
        QCOMPARE(RuntimeLogCapture::entries(),
                 (QStringList{"ERROR Failed to load session token from the Secret Service" + tail,
                              "ERROR Failed to store session token in the Secret Service" + tail}));
    }
};

QTEST_GUILESS_MAIN(TestSecureStoreUnanswered)
#include "tst_securestore_unanswered.moc"
