// The local speech check: its boundaries (duration, header, trimming, frames, thresholds, floors) and the
// exact log lines that explain a rejection.

#include "RuntimeLogCapture.h"
#include "SpeechDetection.h"
#include "WavWriter.h"

#include <QtEndian>
#include <QTest>

#include <vector>

namespace {

constexpr int kTrim = 1280;
constexpr int kFrame = 1024;

QByteArray pcm(const std::vector<std::int16_t>& samples) {
    QByteArray bytes(qsizetype(samples.size() * 2), Qt::Uninitialized);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        qToLittleEndian<std::int16_t>(samples[i], bytes.data() + 2 * i);
    }
    return bytes;
}

// Raw samples (no header): `frames` analysis frames between the two trimmed ends, the frames listed in
// `loud` filled with `amplitude`, everything else silent.
QByteArray framesClip(int frames, const QList<int>& loud, int amplitude) {
    std::vector<std::int16_t> samples(std::size_t(2 * kTrim + frames * kFrame), 0);
    for (int frame : loud) {
        std::fill_n(samples.begin() + kTrim + frame * kFrame, kFrame, std::int16_t(amplitude));
    }
    return pcm(samples);
}

// `count` silent samples with one sample of 1000 at index 1280.
QByteArray oneLoudSample(int count) {
    std::vector<std::int16_t> samples(std::size_t(count), 0);
    samples[kTrim] = 1000;
    return pcm(samples);
}

QString insufficient(const QString& reasons) {
    return QStringLiteral("INFO Audio contains insufficient speech content (") + reasons +
           QStringLiteral(")");
}

} // namespace

class TestSpeechDetection : public QObject {
    Q_OBJECT

private slots:
    void extractsThePayloadOfACanonicalWav_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("payload");
        const QByteArray header = QByteArray("RIFF") + QByteArray(4, 'x') + "WAVE" + QByteArray(32, 'h');
        QTest::newRow("44-byte header alone is kept") << header << header;
        QTest::newRow("45 bytes leave one") << header + "p" << QByteArray("p");
        QTest::newRow("payload after the header") << header + "pcm!" << QByteArray("pcm!");
        const QByteArray notWave = QByteArray("RIFF") + QByteArray(4, 'x') + "WAVF" + QByteArray(40, 'h');
        QTest::newRow("RIFF without WAVE is all samples") << notWave << notWave;
        const QByteArray binary = QByteArray("\xff\xfe\x00\x01", 4).repeated(20);
        QTest::newRow("other bytes are all samples") << binary << binary;
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void extractsThePayloadOfACanonicalWav() {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, payload);
        QCOMPARE(SpeechDetection::extractPCM16Audio(data), payload);
    }

    void decidesAndExplains_data() {
        QTest::addColumn<QByteArray>("audio");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<bool>("speech");
        QTest::addColumn<QStringList>("log");

        const QByteArray loud = framesClip(10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 1000);
        QTest::newRow("0.449 s is too short") << loud << 0.449 << 180 << false
                                              << QStringList{"INFO Recording too short for speech detection "
                                                             "duration=0.45s"};
        QTest::newRow("0.45 s is analysed")
            << loud << 0.45 << 180 << true
            << QStringList{"INFO Audio analysis duration=0.45 speech_ratio=1.00 max_rms=1000 avg_rms=1000"};
        QTest::newRow("no bytes") << QByteArray() << 1.0 << 180 << false
                                  << QStringList{"INFO No audio frames available for speech detection"};
        const QByteArray header = QByteArray("RIFF") + QByteArray(4, 'x') + "WAVE" + QByteArray(32, 'h');
        QTest::newRow("45-byte WAV") << header + "p" << 1.0 << 180 << false
                                     << QStringList{"INFO No PCM samples available for speech detection"};

        QTest::newRow("2,560 samples are not trimmed")
            << oneLoudSample(2560) << 1.0 << 180 << false
            << QStringList{
                   "INFO Audio analysis duration=1.00 speech_ratio=0.00 max_rms=31 avg_rms=10",
                   insufficient("speech ratio 0.00 below threshold 0.08; max RMS 31 <= silence threshold "
                                "180; short low-energy clip (avg RMS 10 below floor 65)")};
        QTest::newRow("2,561 samples leave one, a frame of its own")
            << oneLoudSample(2561) << 1.0 << 180 << true
            << QStringList{"INFO Audio analysis duration=1.00 speech_ratio=1.00 max_rms=1000 avg_rms=1000"};
        {
            std::vector<std::int16_t> samples(std::size_t(2 * kTrim + 2049), 0);
            samples[kTrim + 2048] = 1000; // the last frame's only sample
            QTest::newRow("2,049 samples make three frames")
                << pcm(samples) << 1.0 << 180 << true
                << QStringList{
                       "INFO Audio analysis duration=1.00 speech_ratio=0.33 max_rms=1000 avg_rms=333"};
        }
        QTest::newRow("RMS equal to the threshold is silence")
            << pcm(std::vector<std::int16_t>(4000, 180)) << 1.0 << 180 << false
            << QStringList{
                   "INFO Audio analysis duration=1.00 speech_ratio=0.00 max_rms=180 avg_rms=180",
                   insufficient("speech ratio 0.00 below threshold 0.08; max RMS 180 <= silence threshold "
                                "180")};

        // Required share: 0.2 below 0.75 s, 0.08 below 2.0 s, 0.02 from there on.
        const QByteArray tenth = framesClip(10, {4}, 1000);
        QTest::newRow("0.74 s needs 0.2")
            << tenth << 0.74 << 180 << false
            << QStringList{"INFO Audio analysis duration=0.74 speech_ratio=0.10 max_rms=1000 avg_rms=100",
                           insufficient("speech ratio 0.10 below threshold 0.20")};
        QTest::newRow("0.75 s needs 0.08")
            << tenth << 0.75 << 180 << true
            << QStringList{"INFO Audio analysis duration=0.75 speech_ratio=0.10 max_rms=1000 avg_rms=100"};
        const QByteArray thirtieth = framesClip(33, {16}, 3000);
        QTest::newRow("1.99 s needs 0.08")
            << thirtieth << 1.99 << 180 << false
            << QStringList{"INFO Audio analysis duration=1.99 speech_ratio=0.03 max_rms=3000 avg_rms=91",
                           insufficient("speech ratio 0.03 below threshold 0.08")};
        QTest::newRow("2.0 s needs 0.02")
            << thirtieth << 2.0 << 180 << true
            << QStringList{"INFO Audio analysis duration=2.00 speech_ratio=0.03 max_rms=3000 avg_rms=91"};

        // A share exactly at the requirement passes it; the low-energy test stops after 5.0 s.
        const QByteArray fiftieth = framesClip(50, {20}, 1000);
        QTest::newRow("5.0 s, ratio exactly 0.02: low energy")
            << fiftieth << 5.0 << 180 << false
            << QStringList{"INFO Audio analysis duration=5.00 speech_ratio=0.02 max_rms=1000 avg_rms=20",
                           insufficient("short low-energy clip (avg RMS 20 below floor 65)")};
        QTest::newRow("5.01 s, ratio exactly 0.02")
            << fiftieth << 5.01 << 180 << true
            << QStringList{"INFO Audio analysis duration=5.01 speech_ratio=0.02 max_rms=1000 avg_rms=20"};
        QTest::newRow("ratio exactly 0.08 skips the low-energy test")
            << framesClip(25, {3, 17}, 500) << 1.0 << 180 << true
            << QStringList{"INFO Audio analysis duration=1.00 speech_ratio=0.08 max_rms=500 avg_rms=40"};

        // The floor: 0.36 of the threshold, never below 40.
        QTest::newRow("T=100: floor 40, not 36")
            << framesClip(20, {7}, 760) << 3.0 << 100 << false
            << QStringList{"INFO Audio analysis duration=3.00 speech_ratio=0.05 max_rms=760 avg_rms=38",
                           insufficient("short low-energy clip (avg RMS 38 below floor 40)")};
        QTest::newRow("T=200: floor 72")
            << framesClip(20, {7}, 1400) << 3.0 << 200 << false
            << QStringList{"INFO Audio analysis duration=3.00 speech_ratio=0.05 max_rms=1400 avg_rms=70",
                           insufficient("short low-energy clip (avg RMS 70 below floor 72)")};
        QTest::newRow("T=200: above the floor")
            << framesClip(20, {7}, 1500) << 3.0 << 200 << true
            << QStringList{"INFO Audio analysis duration=3.00 speech_ratio=0.05 max_rms=1500 avg_rms=75"};

        QTest::newRow("threshold 0, all zero")
            << pcm(std::vector<std::int16_t>(8000, 0)) << 1.0 << 0 << false
            << QStringList{
                   "INFO Audio analysis duration=1.00 speech_ratio=0.00 max_rms=0 avg_rms=0",
                   insufficient("speech ratio 0.00 below threshold 0.08; max RMS 0 <= silence threshold 0; "
                                "short low-energy clip (avg RMS 0 below floor 40)")};
        QTest::newRow("threshold 0, one quiet sample makes a speech frame")
            << oneLoudSample(2561) << 1.0 << 0 << true
            << QStringList{"INFO Audio analysis duration=1.00 speech_ratio=1.00 max_rms=1000 avg_rms=1000"};
    }
    void decidesAndExplains() {
        QFETCH(QByteArray, audio);
        QFETCH(double, duration);
        QFETCH(int, threshold);
        QFETCH(bool, speech);
        QFETCH(QStringList, log);
        RuntimeLogCapture capture;
        QCOMPARE(SpeechDetection::hasMeaningfulAudio(audio, duration, threshold), speech);
        QCOMPARE(capture.entries(), log);
    }

    // The 44-byte header is stripped only from a RIFF/WAVE file: elsewhere its bytes count as samples.
    void headerBytesCountAsSamplesUnlessTheFileIsAWav() {
        const QByteArray silent = testwav::monoPcm16Wav(std::vector<std::int16_t>(2000, 0), 16000);
        QVERIFY(!SpeechDetection::hasMeaningfulAudio(silent, 1.0, 180));
        QByteArray notWave = silent;
        notWave.replace(8, 4, "WAVF");
        QVERIFY(SpeechDetection::hasMeaningfulAudio(notWave, 1.0, 180));
    }

    void toneBurstInQuietRoomPassesAndTheRoomAloneFails() {
        // A 2 s tone burst of 0.6 s inside quiet room noise passes; the room noise alone fails.
        std::vector<std::int16_t> samples = testwav::sineTone(220, 2.0, 16000, 0.003); // about 70 RMS
        const std::vector<std::int16_t> burst = testwav::sineTone(220, 0.6, 16000, 0.2);
        std::copy(burst.begin(), burst.end(), samples.begin() + 8000);
        QVERIFY(SpeechDetection::hasMeaningfulAudio(testwav::monoPcm16Wav(samples, 16000), 2.0, 180));
        const std::vector<std::int16_t> noise = testwav::sineTone(220, 2.0, 16000, 0.003);
        QVERIFY(!SpeechDetection::hasMeaningfulAudio(testwav::monoPcm16Wav(noise, 16000), 2.0, 180));
    }
};

QTEST_GUILESS_MAIN(TestSpeechDetection)
#include "tst_speech_detection.moc"
