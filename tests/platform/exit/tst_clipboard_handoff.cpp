// The clipboard outlives the application: a child process (ClipboardExitChild.cpp) owns the clipboard
// with the user's bytes, as a paste's restore leaves it, on a private X server where a stand-in clipboard
// manager (the owner of CLIPBOARD_MANAGER, here in the test) runs. When the child is ended by SIGTERM, the
// manager is asked to save (SAVE_TARGETS) before the child goes, and fetches the user's bytes from it.

#include "PrivateXServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <optional>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

namespace {

// Keeps what the clipboard's owner offers when asked to, as a clipboard manager does: on a SAVE_TARGETS
// request it reads TARGETS and the text from the CLIPBOARD owner, then answers the requestor.
class FakeClipboardManager {
public:
    ~FakeClipboardManager() {
        if (m_display) {
            XCloseDisplay(m_display);
        }
    }

    bool start(const QByteArray& displayName) {
        m_display = XOpenDisplay(displayName.constData());
        if (!m_display) {
            return false;
        }
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0, 0);
        m_manager = XInternAtom(m_display, "CLIPBOARD_MANAGER", False);
        m_clipboard = XInternAtom(m_display, "CLIPBOARD", False);
        m_saveTargets = XInternAtom(m_display, "SAVE_TARGETS", False);
        m_targets = XInternAtom(m_display, "TARGETS", False);
        m_utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        m_property = XInternAtom(m_display, "FAKE_MANAGER_DATA", False);
        XSetSelectionOwner(m_display, m_manager, m_window, CurrentTime);
        return XGetSelectionOwner(m_display, m_manager) == m_window;
    }

    // Handles the requests that arrived (none before start()).
    void serve() {
        while (m_display && XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type != SelectionRequest || event.xselectionrequest.selection != m_manager) {
                continue;
            }
            const XSelectionRequestEvent request = event.xselectionrequest;
            bool kept = false;
            if (request.target == m_saveTargets) {
                ++saveRequests;
                const std::optional<QByteArray> list = fetch(m_targets);
                targetsOffered = list ? atomNames(*list) : QStringList();
                if (const std::optional<QByteArray> text = fetch(m_utf8)) {
                    kept = true;
                    saved = *text;
                }
            }
            XEvent answer{};
            answer.xselection.type = SelectionNotify;
            answer.xselection.requestor = request.requestor;
            answer.xselection.selection = request.selection;
            answer.xselection.target = request.target;
            answer.xselection.property = kept ? (request.property ? request.property : request.target) : None;
            answer.xselection.time = request.time;
            XSendEvent(m_display, request.requestor, False, NoEventMask, &answer);
            XFlush(m_display);
        }
    }

    int saveRequests = 0;
    QStringList targetsOffered;
    QByteArray saved;

private:
    std::optional<QByteArray> fetch(Atom target) {
        XDeleteProperty(m_display, m_window, m_property);
        XConvertSelection(m_display, m_clipboard, target, m_property, m_window, CurrentTime);
        XFlush(m_display);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        XEvent event;
        while (!XCheckTypedWindowEvent(m_display, m_window, SelectionNotify, &event)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return std::nullopt;
            }
            pollfd descriptor{ConnectionNumber(m_display), POLLIN, 0};
            poll(&descriptor, 1, 20);
        }
        if (event.xselection.property == None) {
            return std::nullopt;
        }
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, m_window, m_property, 0, 1 << 20, True, AnyPropertyType, &type,
                               &format, &count, &remaining, &data) != Success ||
            !data) {
            return std::nullopt;
        }
        QByteArray bytes;
        if (format == 32) {
            for (unsigned long i = 0; i < count; ++i) {
                const quint32 item = static_cast<quint32>(reinterpret_cast<unsigned long*>(data)[i]);
                bytes.append(reinterpret_cast<const char*>(&item), sizeof item);
            }
        } else {
            bytes = QByteArray(reinterpret_cast<const char*>(data), int(count));
        }
        XFree(data);
        return bytes;
    }

    QStringList atomNames(const QByteArray& list) {
        QStringList names;
        for (qsizetype offset = 0; offset + 4 <= list.size(); offset += 4) {
            quint32 atom = 0;
            memcpy(&atom, list.constData() + offset, sizeof atom);
            if (char* name = XGetAtomName(m_display, atom)) {
                names << QString::fromLatin1(name);
                XFree(name);
            }
        }
        return names;
    }

    Display* m_display = nullptr;
    Window m_window = None;
    Atom m_manager = None, m_clipboard = None, m_saveTargets = None, m_targets = None, m_utf8 = None,
         m_property = None;
};

enum class Manager { Absent, FromTheStart, AfterReady };

} // namespace

Q_DECLARE_METATYPE(Manager)

class TestClipboardHandOff : public QObject {
    Q_OBJECT

    PrivateXServer m_x;
    QTemporaryDir m_runtime;
    QProcess m_child;

    QString childLog(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init() {
        QVERIFY(m_runtime.isValid());
        QString error;
        QVERIFY2(m_x.start(false, &error), qPrintable(error));
    }

    void cleanup() {
        if (m_child.state() != QProcess::NotRunning) {
            m_child.kill();
            m_child.waitForFinished(5000);
        }
        m_x.stop();
    }

    void userClipboardGoesToTheManagerBeforeTheEnd_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<Manager>("manager");
        QTest::addColumn<bool>("savedAtOnce"); // handed over as soon as the user's bytes were back
        QTest::newRow("restored, manager started later") << "restored" << Manager::AfterReady << false;
        QTest::newRow("restored, manager running") << "restored" << Manager::FromTheStart << true;
        QTest::newRow("quit while the restore waits") << "pending" << Manager::FromTheStart << false;
        QTest::newRow("no manager") << "restored" << Manager::Absent << false;
    }

    void userClipboardGoesToTheManagerBeforeTheEnd() {
        QFETCH(QString, mode);
        QFETCH(Manager, manager);
        QFETCH(bool, savedAtOnce);
        FakeClipboardManager fake;
        if (manager == Manager::FromTheStart) {
            QVERIFY(fake.start(m_x.displayName()));
        }

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", QString::fromLatin1(m_x.displayName()));
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("XDG_RUNTIME_DIR", m_runtime.path());
        m_child.setProcessEnvironment(environment);
        m_child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_child.start(QStringLiteral(CLIPBOARD_EXIT_CHILD_PATH), {mode});
        QVERIFY(m_child.waitForStarted(20000));
        QByteArray output;
        const auto serveUntil = [&](const std::function<bool()>& done, int ms) {
            return QTest::qWaitFor(
                [&] {
                    fake.serve();
                    output += m_child.readAllStandardOutput();
                    return done();
                },
                ms);
        };
        QVERIFY(serveUntil([&] { return output.contains('\n') || m_child.state() == QProcess::NotRunning; },
                           30000));
        QVERIFY2(output.startsWith("ready "), output.constData());
        const QString logPath = QString::fromUtf8(output.trimmed().mid(6));

        if (savedAtOnce) {
            QVERIFY(serveUntil([&] { return fake.saveRequests > 0; }, 10000));
            QCOMPARE(fake.saved, QByteArray("the user's own words"));
            fake.saved.clear();
        } else if (manager == Manager::FromTheStart) {
            QTest::qWait(300);
            fake.serve();
            QCOMPARE(fake.saveRequests, 0); // our own pasted text is never handed over
        }
        if (manager == Manager::AfterReady) {
            QVERIFY(fake.start(m_x.displayName()));
        }
        const int requestsBefore = fake.saveRequests;

        QCOMPARE(::kill(pid_t(m_child.processId()), SIGTERM), 0);
        QVERIFY(serveUntil([&] { return m_child.state() == QProcess::NotRunning; }, 20000));
        QCOMPARE(m_child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_child.exitCode(), 0);
        const QString log = childLog(logPath);
        if (manager == Manager::Absent) {
            QVERIFY2(log.contains("No clipboard manager runs"), qPrintable(log));
            return;
        }
        QCOMPARE(fake.saveRequests, requestsBefore + 1);
        QVERIFY2(fake.targetsOffered.contains("UTF8_STRING"), qPrintable(fake.targetsOffered.join(' ')));
        QCOMPARE(fake.saved, QByteArray("the user's own words"));
        QVERIFY2(log.contains("Handed the clipboard to the clipboard manager"), qPrintable(log));
    }
};

QTEST_GUILESS_MAIN(TestClipboardHandOff)
#include "tst_clipboard_handoff.moc"
