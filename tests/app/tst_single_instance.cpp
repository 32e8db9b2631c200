// One Quillvane per user, with the real program on a private X server: a second start asks the running
// one to show its window and ends with status 0, leaving one process; an instance killed outright leaves
// no lock behind that would keep the next one from starting.

#include "PrivateXServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

const QString kShowLine = QStringLiteral("Another start of Quillvane asked for the dashboard; showing it");

quint16 closedLoopbackPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when the probe goes: requests there fail at once
}

// Whether a top-level window titled `title` is on screen.
bool windowShown(const QByteArray& displayName, const QByteArray& title) {
    Display* display = XOpenDisplay(displayName.constData());
    if (!display) {
        return false;
    }
    bool shown = false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
        for (unsigned int i = 0; i < count && !shown; ++i) {
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(display, children[i], &attributes) ||
                attributes.map_state != IsViewable) {
                continue;
            }
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* name = nullptr;
            if (XGetWindowProperty(display, children[i], netName, 0, 256, False, utf8, &type, &format, &items,
                                   &after, &name) == Success &&
                name) {
                shown = QByteArray(reinterpret_cast<const char*>(name), int(items)) == title;
                XFree(name);
            }
        }
        XFree(children);
    }
    XCloseDisplay(display);
    return shown;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

    PrivateXServer m_x;
    QTemporaryDir m_home; // runtime, config and data folders of the instances
    std::vector<std::unique_ptr<QProcess>> m_started;

    QString runtimeLog() const {
        QFile file(m_home.filePath("runtime/quillvane/quillvane-runtime.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QProcess& start(const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", QString::fromLatin1(m_x.displayName()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_CACHE_HOME", m_home.filePath("cache"));
        environment.insert("QUILLVANE_BACKEND_URL",
                           QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(m_home.path());
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QStringLiteral(QUILLVANE_PATH), arguments);
        m_started.push_back(std::move(process));
        return *m_started.back();
    }

    // Starts an instance and waits until its event loop runs (its bootstrap has logged).
    bool startRunning(QProcess*& process) {
        const qsizetype before = runtimeLog().count(QStringLiteral("Dictation coordinator started"));
        process = &start({QStringLiteral("--hidden")});
        return process->waitForStarted(20000) &&
               QTest::qWaitFor(
                   [&] {
                       return runtimeLog().count(QStringLiteral("Dictation coordinator started")) > before ||
                              process->state() == QProcess::NotRunning;
                   },
                   60000) &&
               process->state() == QProcess::Running;
    }

    // A second start ends with 0 while `running` stays, showing its window.
    void secondStartShows(QProcess& running) {
        const qsizetype asked = runtimeLog().count(kShowLine);
        QProcess& second = start({});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(runtimeLog().count(kShowLine), asked + 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(windowShown(m_x.displayName(), "Quillvane"), 10000);
        QCOMPARE(running.state(), QProcess::Running);
    }

private slots:
    void init() {
        QVERIFY(m_home.isValid());
        QVERIFY(QDir().mkpath(m_home.filePath("runtime")));
        QFile::setPermissions(m_home.filePath("runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QString error;
        QVERIFY2(m_x.start(false, &error), qPrintable(error));
    }

    void cleanup() {
        for (auto& process : m_started) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(10000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
        }
        m_started.clear();
        m_x.stop();
    }

    void secondStartShowsTheRunningInstanceAndEnds() {
        QProcess* first = nullptr;
        QVERIFY2(startRunning(first), qPrintable(runtimeLog().right(3000)));
        QVERIFY(!windowShown(m_x.displayName(), "Quillvane")); // started hidden
        secondStartShows(*first);
    }

    void killedInstanceDoesNotBlockTheNextStart() {
        QProcess* first = nullptr;
        QVERIFY2(startRunning(first), qPrintable(runtimeLog().right(3000)));
        QCOMPARE(::kill(pid_t(first->processId()), SIGKILL), 0);
        QVERIFY(first->waitForFinished(10000));
        // Its lock file and socket file are still there; the next start runs and answers in its place.
        QVERIFY(QFile::exists(m_home.filePath("runtime/quillvane/quillvane.socket")));
        QProcess* next = nullptr;
        QVERIFY2(startRunning(next), qPrintable(runtimeLog().right(3000)));
        secondStartShows(*next);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
