// The whole product as a person runs it: scripts/run starts the stand-in backend and the quillvane program
// on the test session's X server and sound server; the test signs in by pressing "Sign in with Apple" (the
// stand-in's page is followed by run's browser stand-in), holds Right Ctrl through XTest while flite's
// sentence plays into the virtual microphone, and reads the recognised sentence from a window of another
// process. Then the program is asked to quit: it exits 0 and run leaves no process behind.

#include "AudioTestMain.h"

#include "../services/audio/AudioTestTools.h"
#include "../services/insertion/TargetProcess.h"

#include <QApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

// Xlib after Qt.
#include "../services/hotkeys/XTestInjector.h"

namespace {

const QString kSentence = QStringLiteral("we need more time to finish the project");

QStringList words(const QString& text) {
    QString letters;
    for (const QChar c : text.toLower()) {
        letters += c.isLetterOrNumber() ? c : QLatin1Char(' ');
    }
    return letters.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool alive(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

QString firstLine(const QString& program, const QStringList& arguments) {
    const audiotest::CommandResult result = audiotest::run(program, arguments, 10000);
    return result.output.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

class TestAppEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_run;
    QString m_log;
    XTestInjector m_keys;
    TargetProcess m_target{QStringLiteral(INSERTION_TARGET_PATH)};

    bool logHas(const QString& text) {
        m_log += QString::fromUtf8(m_run.readAll());
        return m_log.contains(text);
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_keys.isOpen(), "no X display: run under scripts/test-session");
        QVERIFY2(!qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK").isEmpty(),
                 "run under scripts/test-session");
        QVERIFY(m_dir.isValid());
    }

    void dictationThroughTheRealProgram() {
        QString error;
        const QString speech = m_dir.filePath("speech.wav");
        QVERIFY2(audiotest::makeSpeech(kSentence, m_dir.filePath("speech-raw.wav"), speech, &error),
                 qPrintable(error));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUILLVANE_RUN_SKIP_BUILD", "1");
        environment.insert("QUILLVANE_RUN_BUILD_DIR", BUILD_DIR);
        environment.insert("QUILLVANE_STANDIN_PORT", QString::number(freePort()));
        environment.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        environment.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        environment.remove("QT_QPA_PLATFORM");
        m_run.setProcessEnvironment(environment);
        m_run.setProcessChannelMode(QProcess::MergedChannels);
        m_run.setWorkingDirectory(m_dir.path());
        m_run.start(QStringLiteral(RUN_SCRIPT), {});
        QVERIFY(m_run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Dictation coordinator started"), 60000);
        QVERIFY2(logHas("sign-in pages are followed with curl"), qPrintable(m_log));

        // "Sign in with Apple" in the dashboard's sidebar.
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = firstLine("xdotool", {"search", "--onlyvisible", "--name", "^Quillvane$"})).isEmpty(),
            20000);
        const QString height = firstLine(
            "sh", {"-c", "xdotool getwindowgeometry --shell " + window + " | sed -n 's/^HEIGHT=//p'"});
        QVERIFY(height.toInt() > 200);
        QVERIFY(audiotest::run("xdotool", {"mousemove", "--window", window, "80",
                                           QString::number(height.toInt() - 139), "click", "1"})
                    .ok);
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Apple-backed session established"), 30000);

        // The user's window, frontmost.
        QVERIFY(m_target.start({QStringLiteral("--title"), QStringLiteral("Project notes")}));
        QTRY_VERIFY_WITH_TIMEOUT(m_target.isActive(), 10000);

        m_keys.press(XK_Control_R);
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Dictation recording active"), 10000);
        const audiotest::CommandResult played =
            audiotest::run("paplay", {"-d", qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK"), speech});
        QVERIFY2(played.ok, qPrintable(played.errors));
        QTest::qWait(800); // the clip's end travels through the server into the file
        m_keys.release(XK_Control_R);

        QTRY_VERIFY_WITH_TIMEOUT(!m_target.text().isEmpty(), 60000);
        QCOMPARE(words(m_target.text()), words(kSentence));
        m_target.stop();

        // Quit: the program ends 0, run stops the stand-in and ends with the program's status.
        const QString app = firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane"});
        const QString standin =
            firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane-stand"});
        QVERIFY2(!app.isEmpty(), "the program is not a child of scripts/run");
        QVERIFY(::kill(pid_t(app.toLongLong()), SIGTERM) == 0);
        QVERIFY(m_run.waitForFinished(30000));
        m_log += QString::fromUtf8(m_run.readAll());
        QCOMPARE(m_run.exitStatus(), QProcess::NormalExit);
        QVERIFY2(m_run.exitCode() == 0, qPrintable(m_log.right(2000)));
        QVERIFY(!alive(app.toLongLong()));
        QVERIFY(standin.isEmpty() || !alive(standin.toLongLong()));
    }

    void cleanupTestCase() {
        if (m_run.state() != QProcess::NotRunning) {
            m_run.terminate();
            m_run.waitForFinished(15000);
        }
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAppEndToEnd, QApplication)
#include "tst_app_e2e.moc"
