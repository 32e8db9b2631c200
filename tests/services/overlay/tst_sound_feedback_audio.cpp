// The cue sounds are heard: each cue, played on the session's PulseAudio server, reaches the monitor of
// the default sink ("speakers"), recorded with parec, above silence and at the cue's own pitch.

#include "AudioTestMain.h"
#include "SoundFeedbackService.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include "Scheduler.h"

#include <cmath>
#include <cstring>
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

private:
    SpeakerMonitor m_monitor;
};

QUILLVANE_AUDIO_TEST_MAIN(TestSoundFeedbackAudio, QApplication)
#include "tst_sound_feedback_audio.moc"
