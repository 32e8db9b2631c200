#pragma once
// Helpers for the audio tests: pactl, another application's playback stream, speech clips made with flite
// and sox, and a strict WAV reader.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtEndian>

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace audiotest {

struct CommandResult {
    bool ok = false;
    QString output; // stdout, trimmed
    QString errors; // stderr
};

inline CommandResult run(const QString& program, const QStringList& arguments, int timeoutMs = 60000) {
    QProcess process;
    process.start(program, arguments);
    CommandResult result;
    if (!process.waitForStarted(timeoutMs)) {
        result.errors = program + QStringLiteral(" did not start");
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.errors = program + QStringLiteral(" did not finish");
        return result;
    }
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    result.errors = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline CommandResult pactl(const QStringList& arguments) {
    return run(QStringLiteral("pactl"), arguments);
}

// "yes"/"no" of `pactl get-sink-mute <sink>`, or none.
inline std::optional<bool> sinkMuted(const QString& sink = QStringLiteral("@DEFAULT_SINK@")) {
    const CommandResult result = pactl({QStringLiteral("get-sink-mute"), sink});
    if (!result.ok)
        return std::nullopt;
    if (result.output.endsWith(QLatin1String("yes")))
        return true;
    if (result.output.endsWith(QLatin1String("no")))
        return false;
    return std::nullopt;
}

// The server's playback streams (sink inputs), from `pactl -f json list sink-inputs`; empty on failure.
inline QJsonArray sinkInputs() {
    const CommandResult result = pactl({QStringLiteral("-f"), QStringLiteral("json"), QStringLiteral("list"),
                                        QStringLiteral("sink-inputs")});
    return result.ok ? QJsonDocument::fromJson(result.output.toUtf8()).array() : QJsonArray();
}

// Another application playing into a sink: a pacat process (its own pid, its own client name) streaming a
// raw 44.1 kHz mono 16-bit file, by default endless silence from /dev/zero. Stopped when destroyed.
class OtherAppStream {
public:
    explicit OtherAppStream(QString name = QStringLiteral("Bystander")) : m_name(std::move(name)) {}
    ~OtherAppStream() { stop(); }
    OtherAppStream(const OtherAppStream&) = delete;
    OtherAppStream& operator=(const OtherAppStream&) = delete;

    // Starts it and waits until the server lists its stream.
    bool start(const QString& sink = QStringLiteral("speakers"),
               const QString& rawFile = QStringLiteral("/dev/zero")) {
        m_process.start(QStringLiteral("pacat"),
                        {QStringLiteral("--playback"), QStringLiteral("-d"), sink,
                         QStringLiteral("--client-name=") + m_name, QStringLiteral("--format=s16le"),
                         QStringLiteral("--rate=44100"), QStringLiteral("--channels=1"), rawFile});
        if (!m_process.waitForStarted(10000))
            return false;
        for (int i = 0; i < 200 && m_process.state() == QProcess::Running; ++i) {
            if (const auto found = entry()) {
                m_index = quint32(found->value(QStringLiteral("index")).toInteger());
                return true;
            }
            QThread::msleep(25);
        }
        return false;
    }

    void stop() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    qint64 pid() const { return m_process.processId(); }
    quint32 index() const { return m_index; }

    // Whether the server has the stream muted; none when it lists no stream of this process.
    std::optional<bool> muted() const {
        const auto found = entry();
        return found ? std::optional(found->value(QStringLiteral("mute")).toBool()) : std::nullopt;
    }

    bool setMuted(bool muted) {
        return pactl({QStringLiteral("set-sink-input-mute"), QString::number(m_index),
                      muted ? QStringLiteral("1") : QStringLiteral("0")})
            .ok;
    }

private:
    std::optional<QJsonObject> entry() const {
        const QString pid = QString::number(m_process.processId());
        for (const QJsonValue& value : sinkInputs()) {
            const QJsonObject object = value.toObject();
            if (object.value(QStringLiteral("properties"))
                    .toObject()
                    .value(QStringLiteral("application.process.id")) == pid)
                return object;
        }
        return std::nullopt;
    }

    QString m_name;
    QProcess m_process;
    quint32 m_index = 0;
};

// Speech spoken by flite's "slt" voice, converted to 16 kHz mono 16-bit PCM.
inline bool makeSpeech(const QString& text, const QString& rawPath, const QString& path, QString* error) {
    const CommandResult spoken =
        run(QStringLiteral("flite"), {QStringLiteral("-voice"), QStringLiteral("slt"), QStringLiteral("-t"),
                                      text, QStringLiteral("-o"), rawPath});
    if (!spoken.ok) {
        *error = QStringLiteral("flite failed: ") + spoken.errors;
        return false;
    }
    const CommandResult converted = run(
        QStringLiteral("sox"), {rawPath, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"),
                                QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"),
                                QStringLiteral("-e"), QStringLiteral("signed-integer"), path});
    if (!converted.ok) {
        *error = QStringLiteral("sox failed: ") + converted.errors;
        return false;
    }
    return true;
}

struct Wav {
    qint64 fileSize = 0;
    QByteArray riff, wave, fmtTag, dataTag; // the four-character tags at their canonical places
    quint32 riffSize = 0;
    quint32 fmtSize = 0;
    quint16 formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    quint32 sampleRate = 0, byteRate = 0, dataSize = 0;
    std::vector<std::int16_t> samples; // the data chunk's samples
};

// Reads the fmt and data chunks wherever they are (other chunks are skipped); the tags of a canonical
// 44-byte header are kept to check our own files.
inline std::optional<Wav> readWav(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12)
        return std::nullopt;
    Wav wav;
    wav.fileSize = bytes.size();
    const auto u32 = [&bytes](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&bytes](qsizetype at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    wav.riff = bytes.mid(0, 4);
    wav.riffSize = u32(4);
    wav.wave = bytes.mid(8, 4);
    wav.fmtTag = bytes.mid(12, 4);
    wav.dataTag = bytes.mid(36, 4);
    qsizetype at = 12;
    bool haveData = false;
    while (at + 8 <= bytes.size()) {
        const QByteArray tag = bytes.mid(at, 4);
        const quint32 size = u32(at + 4);
        const qsizetype body = at + 8;
        if (tag == "fmt " && body + 16 <= bytes.size()) {
            wav.fmtSize = size;
            wav.formatTag = u16(body);
            wav.channels = u16(body + 2);
            wav.sampleRate = u32(body + 4);
            wav.byteRate = u32(body + 8);
            wav.blockAlign = u16(body + 12);
            wav.bitsPerSample = u16(body + 14);
        } else if (tag == "data") {
            wav.dataSize = size;
            const qsizetype available = std::min<qsizetype>(size, bytes.size() - body);
            wav.samples.resize(std::size_t(available / 2));
            for (std::size_t i = 0; i < wav.samples.size(); ++i)
                wav.samples[i] = qFromLittleEndian<std::int16_t>(bytes.constData() + body + qsizetype(2 * i));
            haveData = true;
            break;
        }
        at = body + size + (size % 2);
    }
    if (!haveData)
        return std::nullopt;
    return wav;
}

// First and last sample index whose magnitude exceeds the threshold.
inline std::optional<std::pair<std::size_t, std::size_t>> loudSpan(const std::vector<std::int16_t>& samples,
                                                                   int threshold) {
    std::optional<std::pair<std::size_t, std::size_t>> span;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) > threshold) {
            if (!span)
                span.emplace(i, i);
            span->second = i;
        }
    }
    return span;
}

// RMS level in dBFS of samples [from, to).
inline double levelDb(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    const double meanSquare = sum / double(std::max<std::size_t>(1, to - from)) / (32768.0 * 32768.0);
    return meanSquare > 0 ? 10 * std::log10(meanSquare) : -160.0;
}

} // namespace audiotest
