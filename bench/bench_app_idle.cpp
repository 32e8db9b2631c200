// The quillvane program at rest, on the test session's services:
//   scripts/test-session build-<name>/bench/bench_app_idle
// - start → shortcuts registered and idle: from starting the process to its "Dictation coordinator started"
//   line (the shortcuts are grabbed then), with the window hidden (goal: under 300 ms);
// - resident memory once start-up has settled, window and tray hidden (goal: under 40 MiB), and its
//   anonymous part (the process's own heap and stacks, without the pages of the mapped libraries);
// - wake-ups per second while idle: context switches of all its threads over 10 s (goal: 0, no timer runs
//   while nothing happens);
// - the same after use: signed in against the stand-in backend (started here on 127.0.0.1, its session in
//   the keyring as an earlier sign-in leaves it, confirmed with the stand-in at start), three dictations of a
//   short flite clip into a window of another process (Right Ctrl held through XTest while the clip plays
//   into the virtual microphone), settled 10 s (goal: under 40 MiB, 0 wake-ups/s);
// - after five quick start/stop cycles of a recording, settled 10 s (goal: 0 wake-ups/s).
// Each run uses its own temporary configuration, data and autostart folders.

#include "StandinBackend.h"

#include "../tests/services/audio/AudioTestTools.h"
#include "../tests/services/insertion/InsertionTargetWindow.h"
#include "../tests/services/insertion/TargetProcess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstring>

// Xlib after Qt.
#include "../tests/services/hotkeys/XTestInjector.h"

namespace {

const char* kTargetSwitch = "--insertion-target";
const QString kTranscript = QStringLiteral("please send the report before noon");

QString programPath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/quillvane"));
}

struct Running {
    QTemporaryDir dir;
    QProcess process;
    QByteArray output;

    // Starts the program hidden against `backendUrl`; returns the milliseconds until it said its shortcuts
    // are registered, or -1.
    double start(const QString& backendUrl = QStringLiteral("http://127.0.0.1:9")) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QUILLVANE_BACKEND_URL"), backendUrl);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(programPath(), {QStringLiteral("--hidden")});
        while (timer.elapsed() < 20000) {
            process.waitForReadyRead(5);
            output += process.readAll();
            if (output.contains("Dictation coordinator started")) {
                return double(timer.nsecsElapsed()) / 1e6;
            }
            if (process.state() == QProcess::NotRunning) {
                break;
            }
        }
        return -1;
    }

    // Whether the log holds `line` after byte `from`, waiting up to `timeoutMs` (the event loop runs
    // meanwhile).
    bool waitForLog(const QByteArray& line, qsizetype from, int timeoutMs) {
        return QTest::qWaitFor(
            [&] {
                output += process.readAll();
                return output.indexOf(line, from) >= 0;
            },
            timeoutMs);
    }
    qsizetype mark() {
        output += process.readAll();
        return output.size();
    }

    ~Running() {
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

qint64 statusField(const QString& path, const QByteArray& field) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
        }
    }
    return 0;
}

// Context switches of each thread of the process, by thread id.
QHash<QString, qint64> contextSwitches(qint64 pid) {
    QHash<QString, qint64> switches;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString status = tasks.filePath(task + QStringLiteral("/status"));
        switches[task] = statusField(status, "voluntary_ctxt_switches") +
                         statusField(status, "nonvoluntary_ctxt_switches");
    }
    return switches;
}

// The switches between two samples; a thread that ended between them (an idle pool thread expiring) is left
// out, one that started counts from zero.
qint64 switchesBetween(const QHash<QString, qint64>& before, const QHash<QString, qint64>& after) {
    qint64 total = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        total += it.value() - before.value(it.key(), 0);
    }
    return total;
}

// Settles `settleSeconds`, then counts wake-ups over 10 s and reads the resident memory.
void measureIdle(benchmark::State& state, Running& app, int settleSeconds) {
    QTest::qWait(settleSeconds * 1000);
    const qint64 pid = app.process.processId();
    const QHash<QString, qint64> before = contextSwitches(pid);
    QThread::sleep(10);
    const QHash<QString, qint64> after = contextSwitches(pid);
    const QString status = QStringLiteral("/proc/%1/status").arg(pid);
    state.counters["rss_MiB"] = double(statusField(status, "VmRSS")) / 1024.0;
    // Of which the process's own memory (heap, stacks); the rest is pages of the mapped libraries.
    state.counters["anon_MiB"] = double(statusField(status, "RssAnon")) / 1024.0;
    state.counters["wakeups_per_s"] = double(switchesBetween(before, after)) / 10.0;
    state.counters["threads"] = double(statusField(status, "Threads"));
}

void BM_StartToShortcutsRegistered(benchmark::State& state) {
    for (auto _ : state) {
        Running app;
        const double ms = app.start();
        if (ms < 0) {
            state.SkipWithError("the program did not register its shortcuts");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

void BM_IdleFootprint(benchmark::State& state) {
    for (auto _ : state) {
        Running app;
        if (app.start() < 0) {
            state.SkipWithError("the program did not register its shortcuts");
            return;
        }
        // Start-up settles (the session check against the closed port, the keyring).
        measureIdle(state, app, 3);
    }
}

// The stand-in, a signed-in program, a target window of another process and the speech clip: what the
// rows after use share.
struct UsedApp {
    standin::StandinBackend standin;
    Running app;
    XTestInjector keys;
    std::unique_ptr<TargetProcess> target;
    QString clip;
    QString error;

    bool setUp() {
        if (!keys.isOpen() || qEnvironmentVariableIsEmpty("QUILLVANE_TEST_MIC_SINK")) {
            error = QStringLiteral("run under scripts/test-session");
            return false;
        }
        clip = app.dir.filePath(QStringLiteral("clip.wav"));
        if (!audiotest::makeSpeech(kTranscript, app.dir.filePath(QStringLiteral("clip-raw.wav")), clip,
                                   &error)) {
            return false;
        }
        standin.start();
        standin.setTranscript(kTranscript.toStdString());
        // The session an earlier sign-in left in the keyring; the program confirms it with the stand-in.
        const QByteArray token = QByteArray::fromStdString(standin.openSession());
        QProcess store;
        store.start(QStringLiteral("secret-tool"),
                    {QStringLiteral("store"), QStringLiteral("--label=Quillvane"),
                     QStringLiteral("xdg:schema"), QStringLiteral("app.quillvane.desktop.Secret"),
                     QStringLiteral("service"), QStringLiteral("app.quillvane.desktop"),
                     QStringLiteral("account"), QStringLiteral("backend-session-token")});
        store.write(token);
        store.closeWriteChannel();
        if (!store.waitForFinished(10000) || store.exitCode() != 0) {
            error = QStringLiteral("secret-tool could not store the session token");
            return false;
        }
        if (app.start(QString::fromStdString(standin.baseUrl())) < 0 ||
            !app.waitForLog("Session refresh succeeded", 0, 20000)) {
            error = QStringLiteral("the program did not start signed in: ") + QString::fromUtf8(app.output);
            return false;
        }
        target = std::make_unique<TargetProcess>(QCoreApplication::applicationFilePath(),
                                                 QStringList{QString::fromLatin1(kTargetSwitch)});
        if (!target->start({QStringLiteral("--title"), QStringLiteral("Notes")}) ||
            !QTest::qWaitFor([this] { return target->isActive(); }, 10000)) {
            error = QStringLiteral("the target window did not come up");
            return false;
        }
        return true;
    }

    // Right Ctrl held while the clip plays into the virtual microphone; true once the text arrived.
    bool dictate() {
        const qsizetype from = app.mark();
        target->setText(QString());
        keys.press(XK_Control_R);
        if (!app.waitForLog("Dictation recording active", from, 10000)) {
            keys.release(XK_Control_R);
            error = QStringLiteral("the recording did not start");
            return false;
        }
        const audiotest::CommandResult played =
            audiotest::run(QStringLiteral("paplay"),
                           {QStringLiteral("-d"), qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK"), clip});
        QTest::qWait(500);
        keys.release(XK_Control_R);
        if (!played.ok || !app.waitForLog("Transcript paste succeeded", from, 30000)) {
            error =
                QStringLiteral("the dictation did not arrive: ") + QString::fromUtf8(app.output.mid(from));
            return false;
        }
        return true;
    }

    // Right Ctrl pressed and let go at once after the recording started: nothing is sent.
    bool quickCycle() {
        const qsizetype from = app.mark();
        keys.press(XK_Control_R);
        const bool started = app.waitForLog("Dictation recording active", from, 10000);
        QTest::qWait(150);
        keys.release(XK_Control_R);
        if (!started || !app.waitForLog("Audio recording stopped", from, 10000)) {
            error = QStringLiteral("the recording did not start and stop: ") +
                    QString::fromUtf8(app.output.mid(from));
            return false;
        }
        QTest::qWait(300);
        return true;
    }
};

void BM_IdleAfterUse(benchmark::State& state) {
    for (auto _ : state) {
        UsedApp used;
        if (!used.setUp()) {
            state.SkipWithError(qPrintable(used.error));
            return;
        }
        for (int i = 0; i < 3; ++i) {
            if (!used.dictate()) {
                state.SkipWithError(qPrintable(used.error));
                return;
            }
        }
        measureIdle(state, used.app, 10);
    }
}

void BM_IdleAfterQuickCycles(benchmark::State& state) {
    for (auto _ : state) {
        UsedApp used;
        if (!used.setUp()) {
            state.SkipWithError(qPrintable(used.error));
            return;
        }
        for (int i = 0; i < 5; ++i) {
            if (!used.quickCycle()) {
                state.SkipWithError(qPrintable(used.error));
                return;
            }
        }
        measureIdle(state, used.app, 10);
    }
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kTargetSwitch) == 0) {
            return insertion_target::run(argc, argv);
        }
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("BM_StartToShortcutsRegistered", BM_StartToShortcutsRegistered)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
    benchmark::RegisterBenchmark("BM_IdleFootprint", BM_IdleFootprint)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("BM_IdleAfterUse", BM_IdleAfterUse)->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("BM_IdleAfterQuickCycles", BM_IdleAfterQuickCycles)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
