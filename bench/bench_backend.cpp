// Costs on the dictation hot path: building the upload body of a 60 s recording and reading the
// transcription answer.

#include "APIModels.h"
#include "MultipartFormDataBuilder.h"

#include <benchmark/benchmark.h>

namespace {
// 60 s of 16 kHz mono 16-bit audio plus the 44-byte WAV header: 1,920,044 bytes.
QByteArray sixtySecondsOfAudio() {
    QByteArray data(44 + 60 * 16000 * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i) {
        data[i] = char(i * 31);
    }
    return data;
}

void BM_MultipartBody60s(benchmark::State& state) {
    const QByteArray audio = sixtySecondsOfAudio();
    const QMap<QString, QString> fields{{"session_token", "0123456789abcdef0123456789abcdef"},
                                        {"model", "tidewell"},
                                        {"language", "auto"},
                                        {"prompt", QString(2000, QLatin1Char('p'))}};
    for (auto _ : state) {
        auto built =
            MultipartFormDataBuilder::makeRequestBody(fields, "audio", "clip.wav", "audio/wav", audio);
        benchmark::DoNotOptimize(built.body.constData());
    }
    state.SetBytesProcessed(state.iterations() * audio.size());
}
BENCHMARK(BM_MultipartBody60s)->Unit(benchmark::kMicrosecond);

void BM_DecodeTranscriptionAnswer(benchmark::State& state) {
    const QByteArray answer =
        R"({"text":")" + QByteArray(900, 'w') + R"(","words":160,"provider":"standin","prompt_used":")" +
        QByteArray(1500, 'p') +
        R"(","session":{"total_words":120345,"total_minutes":812.25,"lifetime_words":4500123,
                                 "lifetime_minutes":30123.5,"profile":{"email":"a@b.c","name":"Ann"},
                                 "session_token":"0123456789abcdef"},
                                 "provider_metadata":{"model":"tidewell","latency_ms":412,"segments":[1,2,3]}})";
    for (auto _ : state) {
        auto decoded = fromJsonText<TranscriptionResponseDTO>(answer);
        benchmark::DoNotOptimize(decoded.words);
    }
}
BENCHMARK(BM_DecodeTranscriptionAnswer)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
