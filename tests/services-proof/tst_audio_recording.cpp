// Proves the PulseAudio server of the test session records: a 1 kHz tone played into the sink that feeds
// the virtual microphone comes back through QAudioSource, in the requested 16 kHz mono Int16 format.

#include "AudioTestMain.h"
#include "WavWriter.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {
constexpr int kRate = 16000;
constexpr double kToneHz = 1000.0;
constexpr double kToneAmplitude = 0.5;     // of full scale; a sine's RMS is amplitude / sqrt(2)
constexpr std::int16_t kLoud = 3000;       // a sample above this is the tone, not silence
constexpr qsizetype kWantedFrames = kRate; // one second

QString defaultSourceName() {
    QProcess pactl;
    pactl.start("pactl", {"get-default-source"});
    if (!pactl.waitForFinished() || pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0)
        return {};
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

std::optional<qsizetype> firstLoudSample(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > kLoud)
            return qsizetype(i);
    return std::nullopt;
}

double rms(const std::int16_t* samples, qsizetype count) {
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / count) / 32768.0;
}

// Frequency from rising zero crossings; at a wrong sample rate a 1 kHz tone reads as another pitch.
double toneFrequency(const std::int16_t* samples, qsizetype count, int sampleRate) {
    qsizetype first = -1, last = -1, crossings = 0;
    for (qsizetype i = 1; i < count; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (first < 0)
                first = i;
            else
                ++crossings;
            last = i;
        }
    }
    if (crossings == 0)
        return 0;
    return double(crossings) * sampleRate / double(last - first);
}
} // namespace

class TestAudioRecording : public QObject {
    Q_OBJECT

private slots:
    void recordsTheToneFedIntoTheVirtualMicrophone() {
        const QString sink = qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK");
        QVERIFY2(!sink.isEmpty(), "QUILLVANE_TEST_MIC_SINK is not set: run under scripts/test-session");

        // Qt 6.4 marks no input as the default: ask the server and match the device id.
        const QString sourceName = defaultSourceName();
        QVERIFY2(!sourceName.isEmpty(), "pactl get-default-source failed: is PulseAudio running?");
        QAudioDevice device;
        QStringList seen;
        for (const QAudioDevice& d : QMediaDevices::audioInputs()) {
            seen << QString::fromUtf8(d.id());
            if (d.id() == sourceName.toUtf8())
                device = d;
        }
        QVERIFY2(
            !device.isNull(),
            qPrintable(
                QString("default source %1 not among Qt's inputs: %2").arg(sourceName, seen.join(", "))));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString wavPath = dir.filePath("tone.wav");
        {
            QFile wav(wavPath);
            QVERIFY(wav.open(QIODevice::WriteOnly));
            // Long enough to still play after a slow start of either side.
            wav.write(testwav::monoPcm16Wav(testwav::sineTone(kToneHz, 8.0, 48000, kToneAmplitude), 48000));
        }

        QAudioFormat format;
        format.setSampleRate(kRate);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
        QAudioSource source(device, format);
        QIODevice* input = source.start();
        QVERIFY(input);
        QCOMPARE(source.error(), QAudio::NoError);
        QCOMPARE(source.format(), format);

        std::vector<std::int16_t> recorded;
        QByteArray pending;
        connect(input, &QIODevice::readyRead, this, [&] {
            pending += input->readAll();
            const qsizetype whole = pending.size() / qsizetype(sizeof(std::int16_t));
            if (whole == 0) {
                return;
            }
            const std::size_t at = recorded.size();
            recorded.resize(at + std::size_t(whole));
            std::memcpy(recorded.data() + at, pending.constData(), std::size_t(whole) * sizeof(std::int16_t));
            pending.remove(0, whole * qsizetype(sizeof(std::int16_t)));
        });

        QProcess player;
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start("paplay", {"-d", sink, wavPath});
        QVERIFY2(player.waitForStarted(), "paplay did not start");

        // One second of recording from the moment the tone arrives.
        auto haveOneSecondOfTone = [&] {
            const auto start = firstLoudSample(recorded);
            return start && qsizetype(recorded.size()) - *start >= kWantedFrames;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(haveOneSecondOfTone() || player.state() == QProcess::NotRunning,
                                  "no tone reached the recording", 20000);
        source.stop();
        const QByteArray playerOutput = player.readAll();
        const bool playerFailed = player.state() == QProcess::NotRunning && player.exitCode() != 0;
        player.kill();
        player.waitForFinished();
        QVERIFY2(!playerFailed, playerOutput.constData());
        QVERIFY2(firstLoudSample(recorded),
                 "no tone reached the recording: the sink does not feed the default source");
        QVERIFY2(haveOneSecondOfTone(), "the tone stopped before one second was recorded");

        const std::int16_t* second = recorded.data() + *firstLoudSample(recorded);
        const double level = rms(second, kWantedFrames);
        QVERIFY2(level > 0.5 * kToneAmplitude / std::sqrt(2.0),
                 qPrintable(QString("RMS %1 of full scale is too close to silence").arg(level)));
        const double frequency = toneFrequency(second, kWantedFrames, kRate);
        qInfo("recorded %zu frames; the tone's second: RMS %.3f of full scale, %.1f Hz", recorded.size(),
              level, frequency);
        QVERIFY2(
            std::abs(frequency - kToneHz) < 0.03 * kToneHz,
            qPrintable(QString("tone reads as %1 Hz at 16 kHz: the recording is not 16 kHz").arg(frequency)));
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAudioRecording, QCoreApplication)
#include "tst_audio_recording.moc"
