// The upload of a recording as the app sends it and as curl sends it: the same 4 s clip (16 kHz mono
// WAV, 128 KB) posted as multipart to the stand-in's transcription endpoint, which answers a scripted
// transcript at once. Each iteration uploads once through the app's BackendClient and once with the
// curl program; the counters give the median and p90 of both, their ratio, and the stand-in's own
// handling time per request (already inside both round trips). curl's figure is its own time_total, so
// the start of the curl process is left out (curl_wall_* includes it). The iteration time is the app's.
// The app's client keeps its connection between uploads, or (fresh_connection) is made anew for each, so
// that every upload opens a connection as curl's does. And the cost of the client's switch that removed
// the stall (Nagle's algorithm off on its connections).

#include "BackendClient.h"
#include "LowDelayConnections.h"
#include "RunTask.h"
#include "StandinBackend.h"
#include "WavWriter.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(double(values.size()) * fraction))];
}

void BM_UploadAppVsCurl(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    standin::StandinBackend standin;
    standin.start();
    standin.setTranscript("please send the report before noon");
    const QString url = QString::fromStdString(standin.baseUrl()) + QStringLiteral("/api/transcription");
    const QUrl base(QString::fromStdString(standin.baseUrl()));
    const bool freshConnection = state.range(1) != 0;
    auto client = std::make_unique<BackendClient>(base);

    const QByteArray clip =
        testwav::monoPcm16Wav(testwav::sineTone(220, double(state.range(0)) / 1000.0, 16000, 0.4), 16000);
    QTemporaryDir dir;
    const QString clipPath = dir.filePath(QStringLiteral("clip.wav"));
    {
        QFile file(clipPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(clip) != clip.size()) {
            state.SkipWithError("cannot write the clip");
            return;
        }
    }
    const QString token = QString::fromStdString(standin.openSession());
    const QMap<QString, QString> fields{{QStringLiteral("session_token"), token},
                                        {QStringLiteral("model"), QStringLiteral("nova-3")}};
    // The same parts in the same order; no "Expect: 100-continue" (the app sends none).
    QStringList curlArguments{
        QStringLiteral("--silent"),      QStringLiteral("--show-error"), QStringLiteral("--fail"),
        QStringLiteral("--output"),      QStringLiteral("/dev/null"),    QStringLiteral("--write-out"),
        QStringLiteral("%{time_total}"), QStringLiteral("--header"),     QStringLiteral("Expect:")};
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        curlArguments << QStringLiteral("--form-string") << it.key() + QLatin1Char('=') + it.value();
    }
    curlArguments << QStringLiteral("--form")
                  << QStringLiteral("audio=@") + clipPath +
                         QStringLiteral(";filename=clip.wav;type=audio/wav")
                  << url;

    std::vector<double> app, curl, curlWall, backend;
    for (auto _ : state) {
        if (freshConnection) {
            client = std::make_unique<BackendClient>(base);
        }
        const auto handled = standin.handlingTime();
        const SteadyClock::time_point start = SteadyClock::now();
        runTask(
            client->transcribeAudio(clip, QStringLiteral("clip.wav"), QStringLiteral("audio/wav"), fields));
        const double appSeconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        backend.push_back(
            std::chrono::duration<double, std::milli>(standin.handlingTime() - handled).count());
        state.SetIterationTime(appSeconds);
        app.push_back(appSeconds * 1e3);

        QProcess process;
        const SteadyClock::time_point curlStart = SteadyClock::now();
        process.start(QStringLiteral("curl"), curlArguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            state.SkipWithError(("curl failed: " + process.readAllStandardError()).constData());
            return;
        }
        curlWall.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - curlStart).count());
        curl.push_back(process.readAllStandardOutput().trimmed().toDouble() * 1e3);
    }
    // Both clients' uploads (the last ones the stand-in kept) arrived whole.
    const std::string expected = clip.toStdString();
    const auto received = standin.received();
    const bool whole = std::all_of(received.begin(), received.end(), [&](const standin::ReceivedRequest& r) {
        return r.path != "/api/transcription" || (r.file && r.file->content == expected);
    });
    if (received.empty() || !whole) {
        state.SkipWithError("the stand-in did not receive the clip");
        return;
    }
    state.counters["clip_kb"] = double(clip.size()) / 1024.0;
    state.counters["app_median_ms"] = percentile(app, 0.5);
    state.counters["app_p90_ms"] = percentile(app, 0.9);
    state.counters["curl_median_ms"] = percentile(curl, 0.5);
    state.counters["curl_p90_ms"] = percentile(curl, 0.9);
    state.counters["curl_wall_median_ms"] = percentile(curlWall, 0.5);
    state.counters["backend_median_ms"] = percentile(backend, 0.5);
    state.counters["app_to_curl"] = percentile(app, 0.5) / std::max(percentile(curl, 0.5), 1e-6);
}
// The arguments: the clip's length in milliseconds; 1 for a new connection for every upload.
BENCHMARK(BM_UploadAppVsCurl)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50)
    ->ArgNames({"clip_ms", "fresh_connection"})
    ->Args({4000, 0})
    ->Args({4000, 1});

// What turning Nagle's algorithm off costs the main thread on every request: one look through the
// process's descriptors, the connection found already switched.
void BM_LowDelayScan(benchmark::State& state) {
    QLoggingCategory::setFilterRules(QStringLiteral("runtime.info=false"));
    standin::StandinBackend standin;
    standin.start();
    BackendClient client(QUrl(QString::fromStdString(standin.baseUrl())));
    runTask(client.getTutorials()); // one connection, switched
    const QList<QHostAddress> addresses{QHostAddress(QHostAddress::LocalHost)};
    for (auto _ : state) {
        benchmark::DoNotOptimize(LowDelayConnections::enable(quint16(standin.port()), addresses));
    }
}
BENCHMARK(BM_LowDelayScan)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
