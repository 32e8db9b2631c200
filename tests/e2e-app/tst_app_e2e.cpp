// The whole product as a person runs it: scripts/run starts the stand-in backend and the quillvane program
// on the test session's X server and sound server. The test finds the dashboard's buttons by their
// accessible names on the accessibility bus and clicks them with the real pointer; it signs in with
// "Sign in with Apple" (the stand-in's page is followed by run's browser stand-in), holds Right Ctrl
// through XTest while flite's sentence plays into the virtual microphone, and reads the recognised
// sentence from a window of another process. Then the backend goes away during a second dictation, comes
// back, and "Retry Last Submission" on the dashboard delivers the second sentence into the window it was
// spoken for. Last the program is asked to quit: it exits 0 and run leaves no process behind.

#include "AtSpiClient.h"
#include "AudioTestMain.h"
#include "RunScript.h"

#include "../services/audio/AudioTestTools.h"
#include "../services/insertion/TargetProcess.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

// Xlib after Qt.
#include "ClickByName.h"
#include "../services/hotkeys/XTestInjector.h"

namespace {

const QString kSentence = QStringLiteral("we need more time to finish the project");
const QString kSecondSentence = QStringLiteral("the meeting starts at nine tomorrow morning");
const QString kUserClipboard = QStringLiteral("what the user copied before");

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

// Running, and not a zombie waiting for its parent to reap it.
bool alive(qint64 pid) {
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0) {
        return false;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) != "Z";
}

bool listening(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool connected = socket.waitForConnected(2000);
    socket.abort();
    return connected;
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
    QProcess m_standin; // the stand-in this test starts again after taking run's away
    QString m_log;
    quint16 m_port = 0;
    XTestInjector m_keys;
    AtSpiClient m_accessibility;
    TargetProcess m_target{QStringLiteral(INSERTION_TARGET_PATH)};
    QString m_speech, m_secondSpeech;
    bool m_signedIn = false;
    bool m_dictated = false;

    bool logHas(const QString& text, qsizetype from = 0) {
        m_log += QString::fromUtf8(m_run.readAll());
        return m_log.indexOf(text, from) >= 0;
    }
    // The log since `from`, for failure messages.
    QByteArray logSince(qsizetype from) {
        m_log += QString::fromUtf8(m_run.readAll());
        return m_log.mid(from).toLocal8Bit();
    }
    qsizetype logMark() {
        m_log += QString::fromUtf8(m_run.readAll());
        return m_log.size();
    }

    // The quillvane application on the accessibility bus, once it has registered there.
    std::optional<AtSpiClient::Object> application() {
        return m_accessibility.application(QStringLiteral("quillvane"));
    }

    QRect buttonOnScreen(const QString& name) {
        return ClickByName::buttonOnScreen(m_accessibility, QStringLiteral("quillvane"), name);
    }

    bool clickButton(const QString& name) {
        return ClickByName::click(m_accessibility, m_keys, QStringLiteral("quillvane"), name);
    }

    // Holds Right Ctrl while the clip plays into the virtual microphone. The user speaks once the
    // recording is under way, when the app has dealt with the other applications' playback.
    bool dictate(const QString& speech, qsizetype from) {
        m_keys.press(XK_Control_R);
        const auto started = [&] {
            return logHas(QStringLiteral("Dictation recording active"), from) &&
                   (logHas(QStringLiteral("No other application is playing sound"), from) ||
                    logHas(QStringLiteral("Muted system audio for dictation"), from));
        };
        if (!QTest::qWaitFor(started, 10000)) {
            m_keys.release(XK_Control_R);
            qWarning("the recording did not start: %s", logSince(from).constData());
            return false;
        }
        const audiotest::CommandResult played =
            audiotest::run("paplay", {"-d", qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK"), speech});
        QTest::qWait(800); // the clip's end travels through the server into the file
        m_keys.release(XK_Control_R);
        if (!played.ok) {
            qWarning("paplay: %s", qPrintable(played.errors));
        }
        return played.ok;
    }

    QString standinPid() {
        return firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane-stand"});
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_keys.isOpen(), "no X display: run under scripts/test-session");
        QVERIFY2(!qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK").isEmpty(),
                 "run under scripts/test-session");
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(m_accessibility.connect(&error), qPrintable(error));
        m_speech = m_dir.filePath("speech.wav");
        m_secondSpeech = m_dir.filePath("speech-2.wav");
        QVERIFY2(audiotest::makeSpeech(kSentence, m_dir.filePath("speech-raw.wav"), m_speech, &error),
                 qPrintable(error));
        QVERIFY2(audiotest::makeSpeech(kSecondSentence, m_dir.filePath("speech-2-raw.wav"), m_secondSpeech,
                                       &error),
                 qPrintable(error));
    }

    void signInThroughTheDashboard() {
        m_port = freePort();
        startRunScript(m_run, m_dir, m_port);
        QVERIFY(m_run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Dictation coordinator started"), 60000);
        QVERIFY2(logHas("sign-in pages are followed with curl"), qPrintable(m_log));

        QTRY_VERIFY2_WITH_TIMEOUT(application().has_value(), "quillvane is not on the accessibility bus",
                                  20000);
        QVERIFY(clickButton(QStringLiteral("Sign in with Apple")));
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Apple-backed session established"), 30000);
        m_signedIn = true;
    }

    // Right Ctrl alone dictates: the sentence arrives in the user's window, through the paste path.
    void dictationArrivesInTheUsersWindow() {
        QVERIFY2(m_signedIn, "needs the sign-in above");
        QVERIFY(m_target.start({QStringLiteral("--title"), QStringLiteral("Project notes")}));
        QTRY_VERIFY_WITH_TIMEOUT(m_target.isActive(), 10000);

        const qsizetype from = logMark();
        QVERIFY(dictate(m_speech, from));
        QTRY_VERIFY2_WITH_TIMEOUT(!m_target.text().isEmpty(), logSince(from).constData(), 30000);
        QCOMPARE(words(m_target.text()), words(kSentence));
        QVERIFY2(logHas("Recording start requested mode=transcription output=paste", from),
                 logSince(from).constData());
        QVERIFY2(!logHas("mode=smart_edit", from), logSince(from).constData());
        m_dictated = true;
    }

    // The backend is unreachable while the second sentence is dictated: nothing arrives, the recording is
    // kept. The backend comes back (the user's session with it), the user brings up the dashboard and
    // clicks "Retry Last Submission": the sentence arrives in the window it was spoken for, not in
    // Quillvane, and the user's clipboard is as it was.
    void retryDeliversIntoTheWindowItWasSpokenFor() {
        QVERIFY2(m_dictated, "needs the dictation above");
        const QString standin = standinPid();
        QVERIFY2(!standin.isEmpty(), "the stand-in backend is not a child of scripts/run");
        const audiotest::CommandResult token =
            audiotest::run("secret-tool", {"lookup", "service", "app.quillvane.desktop", "account",
                                           "backend-session-token"});
        QVERIFY2(token.ok && !token.output.isEmpty(),
                 qPrintable("no session token in the keyring: " + token.errors));

        QVERIFY(::kill(pid_t(standin.toLongLong()), SIGTERM) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!alive(standin.toLongLong()), 10000);
        QVERIFY2(!listening(m_port), "something still listens on the stand-in's port");

        QVERIFY(m_target.setText(QString()) == "done");
        QVERIFY(m_target.setClipboard(kUserClipboard, false) == "done");
        QTRY_VERIFY_WITH_TIMEOUT(m_target.isActive(), 10000);
        m_target.clearKeys();
        qsizetype from = logMark();
        QVERIFY(dictate(m_secondSpeech, from));
        QTRY_VERIFY2_WITH_TIMEOUT(logHas("request failed", from), logSince(from).constData(), 30000);
        QVERIFY2(logHas("Recording start requested mode=transcription output=paste", from),
                 logSince(from).constData());
        QTest::qWait(1000);
        QCOMPARE(m_target.text(), QString());
        QVERIFY(m_target.keys().isEmpty());

        // The backend is back on the same port and knows the session the app holds.
        m_standin.setProcessChannelMode(QProcess::MergedChannels);
        m_standin.start(
            QStringLiteral(BUILD_DIR "/standin-backend/quillvane-standin-backend"),
            {"--host", "127.0.0.1", "--port", QString::number(m_port), "--session-token", token.output});
        QVERIFY(m_standin.waitForStarted());
        QByteArray standinOutput;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (standinOutput += m_standin.readAll()).contains("Stand-in backend listening"),
            standinOutput.constData(), 15000);

        // The user brings the dashboard to the front and clicks the retry button.
        const QString dashboard = firstLine("xdotool", {"search", "--onlyvisible", "--name", "^Quillvane$"});
        QVERIFY(!dashboard.isEmpty());
        QVERIFY(audiotest::run("xdotool", {"windowactivate", "--sync", dashboard}).ok);
        QTRY_VERIFY_WITH_TIMEOUT(!m_target.isActive(), 10000);
        from = logMark();
        QVERIFY(clickButton(QStringLiteral("Retry Last Submission")));

        QTRY_VERIFY2_WITH_TIMEOUT(!m_target.text().isEmpty(), logSince(from).constData(), 30000);
        QCOMPARE(words(m_target.text()), words(kSecondSentence));
        QVERIFY(m_target.isActive()); // brought back to the front for the paste
        QVERIFY2(!logHas("request failed", from), logSince(from).constData());
        QTRY_COMPARE_WITH_TIMEOUT(m_target.clipboard().text.value_or(QString()), kUserClipboard, 10000);

        // Nothing went into Quillvane: whatever has the focus there does not hold the sentence.
        const std::optional<AtSpiClient::Object> app = application();
        QVERIFY(app);
        if (const std::optional<AtSpiClient::Object> focused = m_accessibility.focused(*app)) {
            const QString text = m_accessibility.text(*focused).value_or(QString());
            QVERIFY2(!words(text).join(' ').contains(words(kSecondSentence).join(' ')), qPrintable(text));
        }
    }

    // Quit: the program ends 0, run stops what it started and ends with the program's status.
    void quitEndsEverything() {
        QVERIFY2(m_run.state() != QProcess::NotRunning, "needs the program started above");
        m_target.stop();
        const QString app = firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane"});
        const QString standin = standinPid();
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
        m_target.stop();
        if (m_run.state() != QProcess::NotRunning) {
            m_run.terminate();
            m_run.waitForFinished(15000);
        }
        if (m_standin.state() != QProcess::NotRunning) {
            m_standin.terminate();
            m_standin.waitForFinished(15000);
        }
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAppEndToEnd, QApplication)
#include "tst_app_e2e.moc"
