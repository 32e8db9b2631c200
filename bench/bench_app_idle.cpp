// The quillvane program at rest, on the test session's services:
//   scripts/test-session build-<name>/bench/bench_app_idle
// - start → shortcuts registered and idle: from starting the process to its "Dictation coordinator started"
//   line (the shortcuts are grabbed then), with the window hidden (goal: under 300 ms);
// - resident memory once start-up has settled, window and tray hidden (goal: under 40 MiB);
// - wake-ups per second while idle: context switches of all its threads over 10 s (goal: 0, no timer runs
//   while nothing happens).
// Each run uses its own temporary configuration, data and autostart folders.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

namespace {

QString programPath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/quillvane"));
}

struct Running {
    QTemporaryDir dir;
    QProcess process;

    // Starts the program hidden; returns the milliseconds until it said its shortcuts are registered, or -1.
    double start() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("QUILLVANE_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        process.start(programPath(), {QStringLiteral("--hidden")});
        QByteArray output;
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

qint64 contextSwitches(qint64 pid) {
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString status = tasks.filePath(task + QStringLiteral("/status"));
        total += statusField(status, "voluntary_ctxt_switches") +
                 statusField(status, "nonvoluntary_ctxt_switches");
    }
    return total;
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
BENCHMARK(BM_StartToShortcutsRegistered)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IdleFootprint(benchmark::State& state) {
    for (auto _ : state) {
        Running app;
        if (app.start() < 0) {
            state.SkipWithError("the program did not register its shortcuts");
            return;
        }
        QThread::sleep(3); // start-up settles (the session check against the closed port, the keyring)
        const qint64 pid = app.process.processId();
        const qint64 before = contextSwitches(pid);
        QThread::sleep(10);
        const qint64 after = contextSwitches(pid);
        state.counters["rss_MiB"] =
            double(statusField(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS")) / 1024.0;
        state.counters["wakeups_per_s"] = double(after - before) / 10.0;
        state.counters["threads"] =
            double(statusField(QStringLiteral("/proc/%1/status").arg(pid), "Threads"));
    }
}
BENCHMARK(BM_IdleFootprint)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
