// The exit paths end to end: a child process (ExitChild.cpp) mutes another application's playback stream
// on the session's PulseAudio and remaps spare keycodes on a private X server, and is then ended by a
// termination signal or by losing its X connection. Whatever ends it, the stream is unmuted afterwards, the
// child leaves with a plain exit status (no crash, no abort) after running its flushes and flushing its
// runtime log, and, where the X server is still there, the keymap is as it was before.

#include "AudioTestTools.h"
#include "PrivateXServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

using namespace audiotest;

namespace {
const QString kSpeakers = QStringLiteral("speakers");

// Every keysym of every keycode of the server.
QList<KeySym> keymapOf(const QByteArray& displayName) {
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        return {};
    }
    int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), maxKeycode - minKeycode + 1,
                                       &perKeycode);
    QList<KeySym> result(syms, syms + (maxKeycode - minKeycode + 1) * perKeycode);
    XFree(syms);
    XCloseDisplay(display);
    return result;
}

// Whether Caps Lock is locked on the server; nothing when it cannot be asked.
std::optional<bool> capsLockOf(const QByteArray& displayName) {
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        return std::nullopt;
    }
    XkbStateRec state{};
    const bool read = XkbGetState(display, XkbUseCoreKbd, &state) == Success;
    XCloseDisplay(display);
    return read ? std::optional<bool>((state.locked_mods & LockMask) != 0) : std::nullopt;
}

bool lockCapsLock(const QByteArray& displayName) {
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        return false;
    }
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

// Asks the server to close the connection of the client that created `window`.
bool killClientOf(const QByteArray& displayName, unsigned long window) {
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        return false;
    }
    XKillClient(display, window);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

enum class Loss { ToolkitConnection, OwnConnection, Server };
} // namespace

Q_DECLARE_METATYPE(Loss)

class TestExitRestore : public QObject {
    Q_OBJECT

private:
    PrivateXServer m_x;
    QProcess m_child;
    QTemporaryDir m_runtime;
    QByteArray m_childOutput;
    unsigned long m_toolkitWindow = 0;
    unsigned long m_ownWindow = 0;
    QString m_logPath;
    std::unique_ptr<OtherAppStream> m_music; // another application's stream, muted by the child

    // Starts the child and waits until it holds its desktop state.
    bool startChild(const QStringList& arguments = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_x.displayName()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_child.setProcessEnvironment(environment);
        m_child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_child.start(QStringLiteral(EXIT_CHILD_PATH), arguments);
        if (!m_child.waitForStarted(20000)) {
            return false;
        }
        const bool ready = QTest::qWaitFor(
            [this] {
                m_childOutput += m_child.readAllStandardOutput();
                return m_childOutput.contains('\n') || m_child.state() == QProcess::NotRunning;
            },
            30000);
        const QList<QByteArray> fields = m_childOutput.trimmed().split(' ');
        if (!ready || fields.size() != 4 || fields[0] != "ready") {
            qWarning("child said: %s", m_childOutput.constData());
            return false;
        }
        m_toolkitWindow = fields[1].toULong();
        m_ownWindow = fields[2].toULong();
        m_logPath = QString::fromUtf8(fields[3]);
        return true;
    }

    // The recordings the child has in its private runtime folder.
    QStringList recordingsLeft() const {
        return QDir(m_runtime.filePath(QStringLiteral("quillvane")))
            .entryList({QStringLiteral("quillvane-*.wav")}, QDir::Files | QDir::System);
    }

    // The child's flushes ran before it ended.
    bool childFlushed() const { return QFile::exists(m_runtime.filePath(QStringLiteral("flushed"))); }

    QString childLog() const {
        QFile file(m_logPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init() {
        QVERIFY(m_runtime.isValid());
        QString error;
        QVERIFY2(m_x.start(false, &error), qPrintable(error));
        m_music = std::make_unique<OtherAppStream>(QStringLiteral("Music"));
        QVERIFY(m_music->start(kSpeakers));
        m_childOutput.clear();
        QFile::remove(m_runtime.filePath(QStringLiteral("flushed")));
    }

    void cleanup() {
        if (m_child.state() != QProcess::NotRunning) {
            m_child.kill();
            m_child.waitForFinished(5000);
        }
        m_x.stop();
        m_music.reset();
    }

    void terminationSignalRestoresEverything_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("name");
        QTest::newRow("SIGTERM") << int(SIGTERM) << QStringLiteral("SIGTERM");
        QTest::newRow("SIGINT") << int(SIGINT) << QStringLiteral("SIGINT");
        QTest::newRow("SIGHUP") << int(SIGHUP) << QStringLiteral("SIGHUP");
    }

    void terminationSignalRestoresEverything() {
        QFETCH(int, signal);
        QFETCH(QString, name);
        const QList<KeySym> before = keymapOf(m_x.displayName());
        QVERIFY(!before.isEmpty());
        QVERIFY(startChild());
        QCOMPARE(m_music->muted(), std::optional<bool>(true));
        QVERIFY2(keymapOf(m_x.displayName()) != before, "the child remapped no spare key");
        QCOMPARE(recordingsLeft().size(), 2);

        QCOMPARE(::kill(static_cast<pid_t>(m_child.processId()), signal), 0);
        QVERIFY(m_child.waitForFinished(20000));
        QCOMPARE(m_child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_child.exitCode(), 0);
        QCOMPARE(m_music->muted(), std::optional<bool>(false));
        QVERIFY(!QFile::exists(m_runtime.filePath(QStringLiteral("quillvane/muted-streams.json"))));
        QCOMPARE(keymapOf(m_x.displayName()), before);
        QVERIFY(childFlushed());
        QCOMPARE(recordingsLeft(), QStringList()); // the voice goes with the process
        const QString log = childLog();
        QVERIFY2(log.contains(QStringLiteral("Quitting on ") + name), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("Restored system audio after dictation")), qPrintable(log));
    }

    void terminationDuringTypingPutsTheKeyboardBack() {
        // The typing goes on for seconds on characters the layout lacks, with Caps Lock on (switched off
        // while typing). The exit path puts the keyboard back; the typing, resumed by its timers while the
        // way out still serves events, must not remap the spare keys or switch Caps Lock off again.
        QVERIFY(lockCapsLock(m_x.displayName()));
        QCOMPARE(capsLockOf(m_x.displayName()), std::optional<bool>(true));
        const QList<KeySym> before = keymapOf(m_x.displayName());
        QVERIFY(startChild({QStringLiteral("typing")}));
        QVERIFY2(keymapOf(m_x.displayName()) != before, "the child remapped no spare key");
        QCOMPARE(capsLockOf(m_x.displayName()), std::optional<bool>(false));
        QTest::qWait(300); // in the middle of the typing

        QCOMPARE(::kill(static_cast<pid_t>(m_child.processId()), SIGTERM), 0);
        QVERIFY(m_child.waitForFinished(20000));
        QCOMPARE(m_child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_child.exitCode(), 0);
        QCOMPARE(keymapOf(m_x.displayName()), before);
        QCOMPARE(capsLockOf(m_x.displayName()), std::optional<bool>(true));
        const QString log = childLog();
        QVERIFY2(log.contains(QStringLiteral("Quitting on SIGTERM")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("Typing ended: typing stopped: the application is quitting")),
                 qPrintable(log));
    }

    void losingTheXConnectionRestoresTheOutput_data() {
        QTest::addColumn<Loss>("loss");
        QTest::newRow("toolkit connection killed") << Loss::ToolkitConnection;
        QTest::newRow("own connection killed") << Loss::OwnConnection;
        QTest::newRow("X server gone") << Loss::Server;
    }

    void losingTheXConnectionRestoresTheOutput() {
        QFETCH(Loss, loss);
        const QList<KeySym> before = keymapOf(m_x.displayName());
        QVERIFY(startChild());
        QCOMPARE(m_music->muted(), std::optional<bool>(true));
        QCOMPARE(recordingsLeft().size(), 2);

        switch (loss) {
        case Loss::ToolkitConnection:
            QVERIFY(killClientOf(m_x.displayName(), m_toolkitWindow));
            break;
        case Loss::OwnConnection:
            QVERIFY(killClientOf(m_x.displayName(), m_ownWindow));
            break;
        case Loss::Server:
            m_x.stop();
            break;
        }
        QVERIFY(m_child.waitForFinished(20000));
        QCOMPARE(m_child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_child.exitCode(), 1);
        QCOMPARE(m_music->muted(), std::optional<bool>(false));
        QVERIFY(!QFile::exists(m_runtime.filePath(QStringLiteral("quillvane/muted-streams.json"))));
        QVERIFY(childFlushed());
        QCOMPARE(recordingsLeft(), QStringList());
        const QString log = childLog();
        QVERIFY2(log.contains(QStringLiteral("Restored system audio after dictation")), qPrintable(log));
        if (loss == Loss::ToolkitConnection) {
            // Only the toolkit's connection is gone: ours still puts the spare keys back.
            QCOMPARE(keymapOf(m_x.displayName()), before);
        }
    }
};

QTEST_GUILESS_MAIN(TestExitRestore)
#include "tst_exit_restore.moc"
