// The cue sounds are heard: each cue, played on the session's PulseAudio server, reaches the monitor of
// the default sink ("speakers"), recorded with parec, above silence and at the cue's own pitch; the start
// cue is heard even though the other applications are muted right after it, as a dictation starts; and
// once the cues have sounded no playback stream of this process is left on the server.

#include "AudioTestMain.h"
#include "MediaControlService.h"
#include "SoundFeedbackService.h"
#include "TestDesktop.h"
#include "WavWriter.h"

#include "../audio/AudioTestTools.h"

#include <QApplication>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "Scheduler.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {
constexpr int kRate = 44100;
constexpr double kHeard = 0.02;  // peak, of full scale, that is not silence
constexpr double kQuiet = 0.002; // peak of a silent stretch

// Records the speakers' monitor (Qt lists no monitor sources) as 44.1 kHz mono 16-bit samples.
class SpeakerMonitor {
public:
    bool start() {
        m_parec.start("parec", {"-d", "speakers.monitor", "--raw", "--format=s16le", "--rate=44100",
                                "--channels=1", "--latency-msec=20"});
        if (!m_parec.waitForStarted())
            return false;
        QObject::connect(&m_parec, &QProcess::readyReadStandardOutput, [this] { read(); });
        return true;
    }

    ~SpeakerMonitor() {
        m_parec.kill();
        m_parec.waitForFinished();
    }

    bool running() const { return m_parec.state() == QProcess::Running; }
    QByteArray errors() { return m_parec.readAllStandardError(); }
    std::size_t size() const { return m_samples.size(); }

    double peak(std::size_t from, std::size_t to) const {
        double result = 0;
        for (std::size_t i = from; i < std::min(to, m_samples.size()); ++i)
            result = std::max(result, std::abs(m_samples[i]) / 32768.0);
        return result;
    }

    // The first sample from `from` on above `level`.
    std::optional<std::size_t> onset(std::size_t from, double level) const {
        for (std::size_t i = from; i < m_samples.size(); ++i)
            if (std::abs(m_samples[i]) / 32768.0 > level)
                return i;
        return std::nullopt;
    }

    // Pitch from rising zero crossings over `count` samples.
    double frequency(std::size_t from, std::size_t count) const {
        std::optional<std::size_t> first;
        std::size_t last = 0, crossings = 0;
        for (std::size_t i = from + 1; i < std::min(from + count, m_samples.size()); ++i) {
            if (m_samples[i - 1] < 0 && m_samples[i] >= 0) {
                if (!first)
                    first = i;
                else
                    ++crossings;
                last = i;
            }
        }
        return crossings ? double(crossings) * kRate / double(last - *first) : 0.0;
    }

    // RMS of [from, to), of full scale.
    double rms(std::size_t from, std::size_t to) const {
        to = std::min(to, m_samples.size());
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += double(m_samples[i]) * m_samples[i];
        return to > from ? std::sqrt(sum / double(to - from)) / 32768.0 : 0.0;
    }

    // The amplitude (of full scale) of the tone at `frequency` in [from, from + count): a Hann-windowed
    // Goertzel filter, deaf to tones a few hundred hertz away.
    double toneLevel(std::size_t from, std::size_t count, double frequency) const {
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / kRate);
        double previous = 0, beforePrevious = 0, windowSum = 0;
        for (std::size_t i = 0; i < count && from + i < m_samples.size(); ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count - 1));
            windowSum += w;
            const double value = w * m_samples[from + i] / 32768.0 + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = value;
        }
        const double power =
            previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
        return windowSum > 0 ? 2 * std::sqrt(std::max(power, 0.0)) / windowSum : 0.0;
    }

private:
    void read() {
        m_pending += m_parec.readAllStandardOutput();
        const qsizetype whole = m_pending.size() / 2;
        const std::size_t at = m_samples.size();
        m_samples.resize(at + std::size_t(whole));
        std::memcpy(m_samples.data() + at, m_pending.constData(), std::size_t(whole) * 2);
        m_pending.remove(0, whole * 2);
    }

    QProcess m_parec;
    QByteArray m_pending;
    std::vector<qint16> m_samples;
};

enum class Cue { Start, Completion };
} // namespace

class TestSoundFeedbackAudio : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("PULSE_SERVER"),
                 "PULSE_SERVER is not set: run under scripts/test-session");
        QVERIFY2(m_monitor.start(), "parec did not start");
        // The monitor streams from the start (silence while nothing plays).
        QTRY_VERIFY2_WITH_TIMEOUT(m_monitor.size() >= kRate / 5 || !m_monitor.running(),
                                  "no data from speakers.monitor", 15000);
        QVERIFY2(m_monitor.running(), m_monitor.errors().constData());
    }

    void cueIsHeard_data() {
        QTest::addColumn<bool>("withFiles");
        QTest::addColumn<int>("cue");
        QTest::addColumn<double>("pitch"); // of the first note
        // The shipped files: the start cue opens on D5, the completion cue on A5.
        QTest::newRow("start cue file") << true << int(Cue::Start) << 587.33;
        QTest::newRow("completion cue file") << true << int(Cue::Completion) << 880.0;
        // Without files: the start cue is the named sound "Tink", the completion cue the rendered tone.
        QTest::newRow("start cue without its file") << false << int(Cue::Start) << 2093.0;
        QTest::newRow("completion cue without its file") << false << int(Cue::Completion) << 880.0;
    }

    void cueIsHeard() {
        QFETCH(bool, withFiles);
        QFETCH(int, cue);
        QFETCH(double, pitch);

        SoundFeedbackService::Configuration configuration;
        if (!withFiles) {
            configuration.startCandidates = {"sounds/no-such-start.wav"};
            configuration.completionCandidates = {"sounds/no-such-stop.wav"};
        }
        SoundFeedbackService sounds(Scheduler::current(), configuration);
        if (withFiles) {
            QTRY_VERIFY_WITH_TIMEOUT(sounds.hasStartFile() && sounds.hasCompletionFile(), 10000);
        } else {
            QVERIFY(!sounds.hasStartFile() && !sounds.hasCompletionFile());
        }

        // Start from a stretch of silence, so what follows is this cue.
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor.size() > kRate / 5 &&
                                     m_monitor.peak(m_monitor.size() - kRate / 5, m_monitor.size()) < kQuiet,
                                 15000);
        const std::size_t mark = m_monitor.size();
        if (Cue(cue) == Cue::Start)
            sounds.playStartSound();
        else
            sounds.playCompletionSound();

        QTRY_VERIFY2_WITH_TIMEOUT(m_monitor.onset(mark, kHeard), "the cue was not heard on the speakers",
                                  15000);
        const std::size_t onset = *m_monitor.onset(mark, kHeard);
        // 5 ms into the sound, 20 ms of it: within the first note of every cue.
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor.size() > onset + kRate / 10, 10000);
        const double measured = m_monitor.frequency(onset + kRate / 200, kRate / 50);
        qInfo("peak %.3f, first note %.1f Hz", m_monitor.peak(mark, m_monitor.size()), measured);
        QVERIFY2(std::abs(measured - pitch) < 0.05 * pitch, qPrintable(QString::number(measured)));
        QVERIFY(m_monitor.peak(mark, m_monitor.size()) < 0.5); // soft
    }

    // As a dictation starts: the start cue, then at once the mute of the other applications. Another
    // application's tone (150 Hz) falls silent on the speakers and stays so; the cue, of this process, is
    // heard after that point.
    void theStartCueIsHeardOverTheMute() {
        constexpr double kBystanderPitch = 150.0;
        constexpr std::size_t kWindow = kRate / 50; // 20 ms
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString tone = dir.filePath(QStringLiteral("bystander.raw"));
        {
            const std::vector<std::int16_t> samples = testwav::sineTone(kBystanderPitch, 20.0, kRate, 0.3);
            QFile file(tone);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size() * 2));
        }
        SoundFeedbackService sounds;
        QTRY_VERIFY_WITH_TIMEOUT(sounds.hasStartFile(), 10000);
        MediaControlService media(testDesktop(PlatformServices::PulseAudio).openOutputMute);
        audiotest::OtherAppStream bystander;
        QVERIFY(bystander.start(QStringLiteral("speakers"), tone));
        const auto bystanderHeard = [this](std::size_t from) {
            return m_monitor.toneLevel(from, kWindow, kBystanderPitch) > 0.05;
        };
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor.size() > kWindow && bystanderHeard(m_monitor.size() - kWindow),
                                 15000);

        const std::size_t mark = m_monitor.size();
        sounds.playStartSound();
        media.muteIfNeeded();
        media.flush();
        QCOMPARE(bystander.muted(), std::optional<bool>(true));
        const std::size_t flushed = m_monitor.size();
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor.size() > flushed + kRate * 3 / 2, 15000);

        // The last stretch where the bystander is heard; silent from its end to the end of the capture
        // (at least a second).
        std::size_t silentFrom = mark;
        for (std::size_t at = mark; at + kWindow <= m_monitor.size(); at += kWindow / 2)
            if (bystanderHeard(at))
                silentFrom = at + kWindow;
        QVERIFY2(silentFrom + kRate < m_monitor.size(), "the other application was not silenced");
        double loudest = 0;
        for (std::size_t at = silentFrom; at + kWindow <= m_monitor.size(); at += kWindow / 2)
            loudest = std::max(loudest, m_monitor.rms(at, at + kWindow));
        qInfo("bystander silent %.0f ms after the mark; the cue's loudest 20 ms after that: RMS %.3f",
              double(silentFrom - mark) * 1000 / kRate, loudest);
        QVERIFY2(loudest > 0.02, "the start cue was not heard after the mute");

        media.restoreMuteStateIfNeeded();
        media.flush();
        QCOMPARE(bystander.muted(), std::optional<bool>(false));
    }

    // Cues cut off by the next one (quick dictations) and cues played out: shortly after the last one, no
    // stream of ours is left on the server (an open one keeps the idle process waking up).
    void noStreamIsLeftOpenAfterTheCues() {
        SoundFeedbackService sounds;
        QVERIFY(sounds.hasStartFile() && sounds.hasCompletionFile());
        const auto ourStreams = [] {
            int count = 0;
            const QString pid = QString::number(QCoreApplication::applicationPid());
            for (const QJsonValue stream : audiotest::sinkInputs())
                if (stream[QLatin1String("properties")][QLatin1String("application.process.id")].toString() ==
                    pid)
                    ++count;
            return count;
        };
        for (int i = 0; i < 5; ++i) {
            sounds.playStartSound();
            QTest::qWait(60);
            sounds.playCompletionSound();
            QTest::qWait(60);
        }
        sounds.playNamedSound(QStringLiteral("Pop"), 0.2, 0.2);
        QTRY_VERIFY(sounds.isPlaying());
        QTRY_VERIFY(ourStreams() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!sounds.isPlaying(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(ourStreams(), 0, 5000);

        // A cue after that opens a stream again and is heard.
        const std::size_t mark = m_monitor.size();
        sounds.playCompletionSound();
        QTRY_VERIFY_WITH_TIMEOUT(m_monitor.onset(mark, kHeard), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!sounds.isPlaying(), 5000);
    }

private:
    SpeakerMonitor m_monitor;
};

QUILLVANE_AUDIO_TEST_MAIN(TestSoundFeedbackAudio, QApplication)
#include "tst_sound_feedback_audio.moc"
