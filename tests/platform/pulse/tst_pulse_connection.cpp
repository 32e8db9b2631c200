// The long-lived PulseAudio connection on a sound server of the test's own: the default source and the
// source list follow changes made on the server, a server that stops answering holds up neither the main
// thread nor, beyond the timeout, a request, and a server that is killed and started again is found again.
// Every client here (pactl, pacat, the connection) reaches that server through PULSE_SERVER.

#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "MediaControlService.h"
#include "PulseAudioInputSystem.h"
#include "PulseOutputMuteControl.h"
#include "PulseConnection.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

#include <sys/types.h>

using namespace audiotest;
using namespace std::chrono_literals;

namespace {

// A PulseAudio daemon with a "speakers" null sink (the default sink) and a "mic_a" null source (the
// default source), listening on a socket in a folder of its own.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const QString& folder) : m_folder(folder) {}
    ~PrivateSoundServer() { kill(); }

    QString address() const { return QStringLiteral("unix:") + m_folder + QStringLiteral("/native"); }

    bool start() {
        QFile script(m_folder + QStringLiteral("/server.pa"));
        if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        script.write(
            QStringLiteral("load-module module-native-protocol-unix socket=%1/native auth-anonymous=1 "
                           "srbchannel=no\n"
                           "load-module module-null-sink sink_name=speakers\n"
                           "load-module module-null-source source_name=mic_a\n"
                           "set-default-sink speakers\n"
                           "set-default-source mic_a\n")
                .arg(m_folder)
                .toUtf8());
        script.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), m_folder);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
        // Off the session bus: the session's own server holds the daemon's bus name there.
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("pulseaudio"),
                        {QStringLiteral("--daemonize=no"), QStringLiteral("--system=false"),
                         QStringLiteral("-n"), QStringLiteral("-F"), script.fileName(),
                         QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                         QStringLiteral("--high-priority=no"), QStringLiteral("--realtime=no"),
                         QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=error")});
        if (!m_process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 200 && m_process.state() == QProcess::Running; ++i) {
            if (pactl({QStringLiteral("info")}).ok)
                return true;
            QThread::msleep(25);
        }
        return false;
    }

    void kill() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    void freeze() { ::kill(pid_t(m_process.processId()), SIGSTOP); }
    void thaw() { ::kill(pid_t(m_process.processId()), SIGCONT); }

private:
    QString m_folder;
    QProcess m_process;
};

QStringList ids(const QList<AudioInputSystem::Input>& inputs) {
    QStringList result;
    for (const AudioInputSystem::Input& input : inputs)
        result << input.id;
    return result;
}

QString loadNullSource(const QString& name) {
    const CommandResult loaded = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-source"),
                                        QStringLiteral("source_name=") + name});
    return loaded.ok ? loaded.output : QString();
}

} // namespace

class TestPulseConnection : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;
    std::unique_ptr<PrivateSoundServer> m_server;

private slots:
    void initTestCase() {
        QVERIFY(m_folder.isValid());
        m_server = std::make_unique<PrivateSoundServer>(m_folder.path());
        qputenv("PULSE_SERVER", m_server->address().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_folder.path().toUtf8()); // the muted-streams record
        QVERIFY(m_server->start());
    }

    void cleanupTestCase() { m_server.reset(); }

    // Sources coming and going and the default source switched with pactl are seen without asking the
    // server; the monitors of outputs are not inputs.
    void followsTheServersSourcesAndDefault() {
        PulseAudioInputSystem inputs(std::make_shared<PulseConnection>());
        QCOMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_a")));
        QCOMPARE(ids(inputs.inputs()), QStringList{QStringLiteral("mic_a")});
        QVERIFY(inputs.deviceExists(QStringLiteral("speakers")));

        const QString module = loadNullSource(QStringLiteral("mic_b"));
        QVERIFY(!module.isEmpty());
        QTRY_COMPARE(ids(inputs.inputs()), (QStringList{QStringLiteral("mic_a"), QStringLiteral("mic_b")}));
        QVERIFY(pactl({QStringLiteral("set-default-source"), QStringLiteral("mic_b")}).ok);
        QTRY_COMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_b")));

        // Ours is seen at once, and by the server.
        QCOMPARE(inputs.setDefaultInput(QStringLiteral("mic_a")), 0);
        QCOMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_a")));
        QCOMPARE(pactl({QStringLiteral("get-default-source")}).output, QStringLiteral("mic_a"));

        QVERIFY(pactl({QStringLiteral("unload-module"), module}).ok);
        QTRY_COMPARE(ids(inputs.inputs()), QStringList{QStringLiteral("mic_a")});
        QVERIFY(!inputs.deviceExists(QStringLiteral("mic_b")));
        QCOMPARE(inputs.setDefaultInput(QStringLiteral("mic_b")), AudioInputSystem::noSuchInput);
    }

    // While the server is frozen, a mute request waits on the media worker; the main thread goes on
    // ticking and reading the default source, and the request completes once the server answers again.
    void aFrozenServerDoesNotHoldUpTheMainThread() {
        OtherAppStream music(QStringLiteral("Music"));
        QVERIFY(music.start());
        const std::shared_ptr<PulseConnection> pulse = PulseConnection::shared();
        PulseAudioInputSystem inputs(pulse);
        QCOMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_a")));
        MediaControlService media([pulse]() -> std::unique_ptr<OutputMuteControl> {
            return std::make_unique<PulseOutputMuteControl>(pulse); // the same connection
        });
        media.flush();

        m_server->freeze();
        auto thaw = qScopeGuard([this] { m_server->thaw(); });
        int ticks = 0;
        int answered = 0;
        QTimer timer;
        timer.setInterval(10ms);
        connect(&timer, &QTimer::timeout, this, [&] {
            ++ticks;
            if (inputs.defaultInputId() == std::optional<QString>(QStringLiteral("mic_a")))
                ++answered;
        });
        timer.start();
        media.muteIfNeeded();
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 20, 2000);
        timer.stop();
        QCOMPARE(answered, ticks);

        thaw.dismiss();
        m_server->thaw();
        media.flush();
        QCOMPARE(music.muted(), std::optional<bool>(true));
        media.restoreMuteStateIfNeeded();
        media.flush();
        QCOMPARE(music.muted(), std::optional<bool>(false));
    }

    // A request to a frozen server gives up after the timeout; the connection serves again once the
    // server answers.
    void aRequestGivesUpAfterTheTimeout() {
        PulseConnection pulse(QByteArray(), 300ms);
        QVERIFY(pulse.isConnected());
        m_server->freeze();
        auto thaw = qScopeGuard([this] { m_server->thaw(); });
        QString error;
        QVERIFY(!pulse.sinkInputs(&error));
        QCOMPARE(error, QStringLiteral("PulseAudio did not answer in time"));
        thaw.dismiss();
        m_server->thaw();
        QVERIFY(pulse.sinkInputs(&error));
        QCOMPARE(pulse.setDefaultSource(QStringLiteral("mic_a"), &error), 0);
    }

    // The server killed and started again: while it is away the connection says so, and then it is
    // connected and subscribed again.
    void survivesARestartOfTheServer() {
        const std::shared_ptr<PulseConnection> pulse = std::make_shared<PulseConnection>();
        PulseAudioInputSystem inputs(pulse);
        QCOMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_a")));

        m_server->kill();
        QTRY_VERIFY(!pulse->isConnected());
        QVERIFY(!inputs.defaultInputId());
        QVERIFY2(inputs.lastErrorText().contains(QStringLiteral("PulseAudio")),
                 qPrintable(inputs.lastErrorText()));
        QVERIFY(inputs.inputs().isEmpty());

        QVERIFY(m_server->start());
        QTRY_COMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_a")));
        const QString module = loadNullSource(QStringLiteral("mic_c"));
        QVERIFY(!module.isEmpty());
        QVERIFY(pactl({QStringLiteral("set-default-source"), QStringLiteral("mic_c")}).ok);
        QTRY_COMPARE(inputs.defaultInputId(), std::optional<QString>(QStringLiteral("mic_c")));
        pactl({QStringLiteral("unload-module"), module});
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestPulseConnection, QCoreApplication)
#include "tst_pulse_connection.moc"
