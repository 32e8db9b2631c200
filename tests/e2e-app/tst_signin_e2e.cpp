// Signing in as a person does it, on the real program that scripts/run starts beside the stand-in backend.
// The keyring holds a session token that the stand-in has never issued (a session the backend no longer
// knows): the program must drop it and show the sign-in buttons with "Your session ended. Sign in again.",
// never "Signed in" with a dead session. "Sign in with Apple" then signs in against the stand-in. Last the
// stand-in refuses sign-ins (it comes back with --refuse-sign-in): after "Sign Out", a new sign-in shows
// the stand-in's reason under the buttons. Everything is found by accessible name on the accessibility
// bus and clicked with the real pointer.

#include "AtSpiClient.h"
#include "AudioTestMain.h"
#include "RunScript.h"

#include "../services/audio/AudioTestTools.h"

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

const QString kAppleButton = QStringLiteral("Sign in with Apple");
const QString kSessionEnded = QStringLiteral("Your session ended. Sign in again.");
const QString kRefusal = QStringLiteral("This account is not admitted to Quillvane.");
const QString kStaleToken = QStringLiteral("stale-session-the-standin-never-issued");
const QStringList kTokenAttributes{"service", "app.quillvane.desktop", "account", "backend-session-token"};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
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

// Stores `token` where the program keeps its session, as an earlier run would have.
bool storeSessionToken(const QString& token, QString* error) {
    QProcess store;
    store.start(QStringLiteral("secret-tool"), QStringList{"store", "--label=Quillvane session", "xdg:schema",
                                                           "app.quillvane.desktop.Secret"} +
                                                   kTokenAttributes);
    if (!store.waitForStarted(5000)) {
        *error = store.errorString();
        return false;
    }
    store.write(token.toUtf8());
    store.closeWriteChannel();
    store.waitForFinished(15000);
    *error = QString::fromLocal8Bit(store.readAllStandardError());
    return store.exitStatus() == QProcess::NormalExit && store.exitCode() == 0;
}

QString storedSessionToken() {
    return audiotest::run("secret-tool", QStringList{"lookup"} + kTokenAttributes, 10000).output;
}

} // namespace

class TestSignInEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_run;
    QProcess m_standin; // the refusing stand-in, in place of run's
    QString m_log;
    quint16 m_port = 0;
    XTestInjector m_pointer;
    AtSpiClient m_accessibility;
    bool m_started = false;
    bool m_signedIn = false;

    bool logHas(const QString& text) {
        m_log += QString::fromUtf8(m_run.readAll());
        return m_log.contains(text);
    }

    std::optional<AtSpiClient::Object> application() {
        return m_accessibility.application(QStringLiteral("quillvane"));
    }

    QStringList showingNames() {
        const std::optional<AtSpiClient::Object> app = application();
        return app ? m_accessibility.showingNames(*app) : QStringList();
    }

    bool showsTextContaining(const QString& text) {
        for (const QString& name : showingNames()) {
            if (name.contains(text)) {
                return true;
            }
        }
        return false;
    }

    QRect buttonOnScreen(const QString& name) {
        return ClickByName::buttonOnScreen(m_accessibility, QStringLiteral("quillvane"), name);
    }

    bool clickButton(const QString& name) {
        return ClickByName::click(m_accessibility, m_pointer, QStringLiteral("quillvane"), name);
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_pointer.isOpen(), "no X display: run under scripts/test-session");
        QVERIFY(m_dir.isValid());
        QString error;
        QVERIFY2(m_accessibility.connect(&error), qPrintable(error));
        QVERIFY2(storeSessionToken(kStaleToken, &error), qPrintable("secret-tool store: " + error));
        QCOMPARE(storedSessionToken(), kStaleToken);
    }

    // The saved session is unknown to the backend: the program forgets it and asks the user to sign in.
    void rejectedSessionShowsTheSignInButtons() {
        m_port = freePort();
        startRunScript(m_run, m_dir, m_port);
        QVERIFY(m_run.waitForStarted());
        m_started = true;
        QTRY_VERIFY_WITH_TIMEOUT(logHas("Dictation coordinator started"), 60000);
        QTRY_VERIFY2_WITH_TIMEOUT(application().has_value(), "quillvane is not on the accessibility bus",
                                  20000);

        QTRY_VERIFY2_WITH_TIMEOUT(showingNames().contains(kSessionEnded),
                                  qPrintable(showingNames().join(" | ")), 20000);
        QVERIFY(!buttonOnScreen(kAppleButton).isEmpty());
        QVERIFY(!buttonOnScreen(QStringLiteral("Sign In With Google")).isEmpty());
        QVERIFY(buttonOnScreen(QStringLiteral("Sign Out")).isEmpty());
        QVERIFY(!showingNames().contains(QStringLiteral("Signed in")));
        // The dead token is gone from the keyring, as a sign-out leaves it.
        QTRY_COMPARE_WITH_TIMEOUT(storedSessionToken(), QString(), 10000);
        // Launch at login is left to an installed copy: this build tree registers nothing by itself.
        QVERIFY(!QFile::exists(m_dir.filePath("config/autostart/quillvane.desktop")));
    }

    void signInAgainstTheStandin() {
        QVERIFY2(m_started, "needs the program started above");
        QVERIFY(clickButton(kAppleButton));
        QTRY_VERIFY2_WITH_TIMEOUT(logHas("Apple-backed session established"), qPrintable(m_log.right(3000)),
                                  30000);
        QTRY_VERIFY_WITH_TIMEOUT(!buttonOnScreen(QStringLiteral("Sign Out")).isEmpty(), 10000);
        QVERIFY(!showingNames().contains(kSessionEnded));
        QVERIFY(!storedSessionToken().isEmpty());
        m_signedIn = true;
    }

    // The backend refuses the next sign-in: its reason shows under the sign-in buttons.
    void refusedSignInShowsItsReason() {
        QVERIFY2(m_signedIn, "needs the sign-in above");
        QVERIFY(clickButton(QStringLiteral("Sign Out")));
        QTRY_VERIFY_WITH_TIMEOUT(!buttonOnScreen(kAppleButton).isEmpty(), 10000);

        const QString standin =
            firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane-stand"});
        QVERIFY2(!standin.isEmpty(), "the stand-in backend is not a child of scripts/run");
        QVERIFY(::kill(pid_t(standin.toLongLong()), SIGTERM) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(!listening(m_port), 10000);
        m_standin.setProcessChannelMode(QProcess::MergedChannels);
        m_standin.start(
            QStringLiteral(BUILD_DIR "/standin-backend/quillvane-standin-backend"),
            {"--host", "127.0.0.1", "--port", QString::number(m_port), "--refuse-sign-in", kRefusal});
        QVERIFY(m_standin.waitForStarted());
        QByteArray output;
        QTRY_VERIFY2_WITH_TIMEOUT((output += m_standin.readAll()).contains("Stand-in backend listening"),
                                  output.constData(), 15000);

        QVERIFY(clickButton(kAppleButton));
        QTRY_VERIFY2_WITH_TIMEOUT(showsTextContaining(kRefusal), qPrintable(showingNames().join(" | ")),
                                  30000);
        QVERIFY(!buttonOnScreen(kAppleButton).isEmpty()); // still signed out, free to try again
        QVERIFY(buttonOnScreen(QStringLiteral("Sign Out")).isEmpty());
        QCOMPARE(storedSessionToken(), QString());
    }

    void cleanupTestCase() {
        if (m_run.state() != QProcess::NotRunning) {
            const QString app =
                firstLine("pgrep", {"-P", QString::number(m_run.processId()), "-x", "quillvane"});
            if (!app.isEmpty()) {
                ::kill(pid_t(app.toLongLong()), SIGTERM);
            }
            if (!m_run.waitForFinished(30000)) {
                m_run.terminate();
                m_run.waitForFinished(15000);
            }
        }
        if (m_standin.state() != QProcess::NotRunning) {
            m_standin.terminate();
            m_standin.waitForFinished(15000);
        }
        // The next program started under this keyring starts signed out.
        audiotest::run("secret-tool", QStringList{"clear"} + kTokenAttributes, 10000);
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestSignInEndToEnd, QApplication)
#include "tst_signin_e2e.moc"
