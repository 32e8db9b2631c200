// The pure parts of the cue sounds and the recording overlay (tone rendering, level, phase, bar and
// position math, the compiled-in cue files), and the overlay controller's state machine on a manual
// scheduler (offscreen platform).

#include "AudioCaptureService.h"
#include "Clock.h"
#include "ManualScheduler.h"
#include "RecordingOverlayController.h"
#include "RecordingOverlayMath.h"
#include "RecordingOverlayView.h"
#include "SoundFeedbackService.h"
#include "TestDesktop.h"
#include "ToneRenderer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>

using namespace std::chrono_literals;
using OverlayState = RecordingOverlayController::OverlayState;

namespace {
double peak(const std::vector<float>& samples, std::size_t from, std::size_t to) {
    double result = 0;
    for (std::size_t i = from; i < to && i < samples.size(); ++i)
        result = std::max(result, double(std::abs(samples[i])));
    return result;
}

// The sample the renderer must produce at frame i of a tone (its envelope taken from the renderer).
double expectedSample(double frequency, int i, int toneFrames, double amplitude) {
    const double w = 2.0 * std::numbers::pi * frequency * i / ToneRenderer::kSampleRate;
    return (std::sin(w) + 0.24 * std::sin(2.0 * w)) * ToneRenderer::envelope(i, toneFrames) * amplitude;
}

struct WavInfo {
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
    QByteArray data;
};

std::optional<WavInfo> readWav(const QByteArray& file) {
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;
    WavInfo info;
    qsizetype at = 12;
    while (at + 8 <= file.size()) {
        const QByteArray id = file.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16) {
            if (qFromLittleEndian<quint16>(file.constData() + body) != 1)
                return std::nullopt; // PCM only
            info.channels = qFromLittleEndian<quint16>(file.constData() + body + 2);
            info.sampleRate = int(qFromLittleEndian<quint32>(file.constData() + body + 4));
            info.bits = qFromLittleEndian<quint16>(file.constData() + body + 14);
        } else if (id == "data") {
            info.data = file.mid(body, size);
        }
        at = body + size + (size & 1);
    }
    return info;
}
} // namespace

class TestOverlayUnit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen")); }

    // ---- tone renderer ---------------------------------------------------------------------------------

    void toneLayout_data() {
        QTest::addColumn<std::vector<double>>("frequencies");
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("gap");
        QTest::addColumn<int>("toneFrames");
        QTest::addColumn<int>("gapFrames");
        // The completion fallback: 7056 + 1102 frames per tone, 16316 in all.
        QTest::newRow("two tones of 0.16 s")
            << std::vector<double>{880, 1174} << 0.16 << 0.025 << 7056 << 1102;
        QTest::newRow("one tone") << std::vector<double>{880} << 0.16 << 0.025 << 7056 << 1102;
        QTest::newRow("no gap") << std::vector<double>{2093} << 0.07 << 0.0 << 3087 << 0;
        // Shorter than attack + release (2425 frames): cut off at its own length, never into its gap.
        QTest::newRow("0.02 s tones") << std::vector<double>{880, 1174, 660} << 0.02 << 0.01 << 882 << 441;
        QTest::newRow("0.05 s tone, no gap") << std::vector<double>{660} << 0.05 << 0.0 << 2205 << 0;
        QTest::newRow("exactly attack + release")
            << std::vector<double>{500, 700} << 2425.0 / 44100 << 0.005 << 2425 << 220;
        QTest::newRow("zero length") << std::vector<double>{880, 1174} << 0.0 << 0.025 << 0 << 1102;
        QTest::newRow("no frequencies") << std::vector<double>{} << 0.16 << 0.025 << 7056 << 1102;
    }

    void toneLayout() {
        QFETCH(std::vector<double>, frequencies);
        QFETCH(double, duration);
        QFETCH(double, gap);
        QFETCH(int, toneFrames);
        QFETCH(int, gapFrames);
        constexpr double amplitude = 0.16;
        const auto samples = ToneRenderer::render({frequencies, duration, gap, amplitude});

        const std::size_t slot = std::size_t(toneFrames + gapFrames);
        QCOMPARE(samples.size(), frequencies.size() * slot);
        for (std::size_t k = 0; k < frequencies.size(); ++k) {
            const std::size_t start = k * slot;
            // Every gap is silent: a tone that overran its length would show here first.
            QCOMPARE(peak(samples, start + std::size_t(toneFrames), start + slot), 0.0);
            QCOMPARE(samples[start], 0.0f); // each tone starts at phase 0 and envelope 0
            QVERIFY(peak(samples, start, start + std::size_t(toneFrames)) <= amplitude * 1.24 + 1e-6);
            for (int i : {1, 200, 441, 1000, 3000, toneFrames - 1}) {
                if (i <= 0 || i >= toneFrames)
                    continue;
                QVERIFY2(std::abs(samples[start + std::size_t(i)] -
                                  expectedSample(frequencies[k], i, toneFrames, amplitude)) < 1e-5,
                         qPrintable(QString("tone %1 frame %2").arg(k).arg(i)));
            }
        }
    }

    void toneEnvelope_data() {
        QTest::addColumn<int>("toneFrames");
        QTest::addColumn<int>("frame");
        QTest::addColumn<double>("envelope");
        QTest::newRow("start of attack") << 7056 << 0 << 0.0;
        QTest::newRow("middle of attack") << 7056 << 220 << 220.0 / 441;
        QTest::newRow("end of attack") << 7056 << 441 << 1.0;
        QTest::newRow("end of sustain") << 7056 << 441 + 4631 - 1 << 1.0;
        QTest::newRow("start of release") << 7056 << 441 + 4631 << 1.0;
        QTest::newRow("middle of release") << 7056 << 441 + 4631 + 992 << 0.5;
        QTest::newRow("last frame") << 7056 << 7055 << 1.0 / 1984;
        QTest::newRow("short tone: no sustain") << 882 << 441 << 1.0;
        QTest::newRow("short tone: release begins at once") << 882 << 881 << 1.0 - 440.0 / 1984;
    }

    void toneEnvelope() {
        QFETCH(int, toneFrames);
        QFETCH(int, frame);
        QFETCH(double, envelope);
        QCOMPARE(ToneRenderer::envelope(frame, toneFrames), envelope);
    }

    // ---- the compiled-in cue files ---------------------------------------------------------------------

    void cueFilesAreShortSoftAndEndInSilence_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("start") << "dictation-start.wav";
        QTest::newRow("stop") << "dictation-stop.wav";
    }

    void cueFilesAreShortSoftAndEndInSilence() {
        QFETCH(QString, name);
        const auto url = SoundFeedbackService::findToneFile({"sounds/" + name});
        QVERIFY(url);
        QCOMPARE(url->toString(), "qrc:/sounds/" + name);
        QFile file(":/sounds/" + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const auto wav = readWav(file.readAll());
        QVERIFY(wav);
        QCOMPARE(wav->channels, 1);
        QCOMPARE(wav->bits, 16);
        QVERIFY(wav->sampleRate > 0);
        const auto* samples = reinterpret_cast<const qint16*>(wav->data.constData());
        const qsizetype count = wav->data.size() / 2;
        const double seconds = double(count) / wav->sampleRate;
        QVERIFY2(seconds > 0.25 && seconds < 0.6, qPrintable(QString::number(seconds)));

        qsizetype lastSound = -1;
        int loudest = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const int v = std::abs(int(qFromLittleEndian<qint16>(samples + i)));
            loudest = std::max(loudest, v);
            if (v > 0)
                lastSound = i;
        }
        QVERIFY2(loudest > 0.1 * 32768 && loudest < 0.5 * 32768, qPrintable(QString::number(loudest)));
        // The player drops about the last 100 ms of a clip: 200 ms of silence keep the cue whole.
        QVERIFY2(count - 1 - lastSound >= wav->sampleRate / 5,
                 qPrintable(QString("%1 silent frames at the end").arg(count - 1 - lastSound)));
    }

    void toneFileLookup() {
        // Resource first, by file name, whatever folder the candidate names.
        QCOMPARE(SoundFeedbackService::findToneFile({"macos/sounds/dictation-stop.wav"})->toString(),
                 QStringLiteral("qrc:/sounds/dictation-stop.wav"));
        // Then the working directory, in candidate order.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        QVERIFY(QDir().mkpath("b"));
        QFile local(dir.filePath("b/custom-cue.wav"));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.close();
        const auto found = SoundFeedbackService::findToneFile({"a/custom-cue.wav", "b/custom-cue.wav"});
        const auto missing = SoundFeedbackService::findToneFile({"a/custom-cue.wav", "sounds/none.wav"});
        QVERIFY(QDir::setCurrent(previous));
        QVERIFY(found);
        QCOMPARE(found->toLocalFile(), QFileInfo(dir.filePath("b/custom-cue.wav")).absoluteFilePath());
        QVERIFY(!missing);
    }

    // ---- overlay math -----------------------------------------------------------------------------------

    void levelFromPower_data() {
        QTest::addColumn<float>("power");
        QTest::addColumn<double>("level");
        QTest::newRow("silence") << -160.0f << 0.0;
        QTest::newRow("floor") << -55.0f << 0.0;
        QTest::newRow("under the gate") << -50.0f << 0.0;
        QTest::newRow("just over the gate") << -49.0f << 6.0 / 55;
        QTest::newRow("half") << -27.5f << 0.5;
        QTest::newRow("quiet speech") << -20.0f << 35.0 / 55;
        QTest::newRow("full scale") << 0.0f << 1.0;
        QTest::newRow("above full scale") << 3.0f << 1.0;
        QTest::newRow("minus infinity") << -std::numeric_limits<float>::infinity() << 0.0;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0.0;
    }

    void levelFromPower() {
        QFETCH(float, power);
        QFETCH(double, level);
        QCOMPARE(RecordingOverlayMath::normalizedLevel(power), level);
    }

    void phaseAdvancesAndResets() {
        double phase = 0.0;
        phase = RecordingOverlayMath::nextPhase(phase);
        QCOMPARE(phase, 0.18);
        phase = RecordingOverlayMath::nextPhase(phase);
        QCOMPARE(phase, 0.36);
        int ticks = 2;
        while (phase != 0.0 && ticks < 100) {
            phase = RecordingOverlayMath::nextPhase(phase);
            ++ticks;
        }
        QCOMPARE(ticks, 35); // back to 0, not 2 pi less, on the tick that would pass 2 pi
        QCOMPARE(RecordingOverlayMath::nextPhase(6.2), 0.0);
        QCOMPARE(RecordingOverlayMath::nextPhase(6.1), 6.1 + 0.18);
    }

    void bars_data() {
        QTest::addColumn<double>("level");
        QTest::addColumn<int>("bar");
        QTest::addColumn<double>("phase");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("opacity");
        QTest::newRow("silent") << 0.0 << 4 << 1.0 << 4.0 << 0.28;
        QTest::newRow("at the quiet threshold") << 0.02 << 7 << 1.0 << 4.0 << 0.28;
        QTest::newRow("full, bar 4") << 1.0 << 4 << 0.0 << 20.0 << 1.0;
        QTest::newRow("full, bar 0, no ripple") << 1.0 << 0 << 0.0 << 4.0 + 16 * 0.3 << 1.0;
        QTest::newRow("half, bar 0, phase 0") << 0.5 << 0 << 0.0 << 4.0 + 16 * 0.15 << 0.5;
        QTest::newRow("half, bar 2, rippling")
            << 0.5 << 2 << 0.0 << 4.0 + 16 * (0.32 + std::sin(0.84) * 0.09) << 0.6;
        QTest::newRow("half, bar 2, trough") << 0.5 << 2 << std::numbers::pi << 4.0 + 16 * 0.32 << 0.6;
        QTest::newRow("ripple capped at 0.16") << 0.95 << 3 << std::numbers::pi / 2 - 1.26
                                               << 4.0 + 16 * std::min(0.95 * 0.82 + 0.16, 1.0) << 1.0;
        QTest::newRow("quiet: opacity floor") << 0.1 << 1 << -0.42 << 4.0 + 16 * 0.048 << 0.35;
        QTest::newRow("tiny level: base floor") << 0.03 << 0 << 0.0 << 4.0 + 16 * 0.02 << 0.35;
    }

    void bars() {
        QFETCH(double, level);
        QFETCH(int, bar);
        QFETCH(double, phase);
        QFETCH(double, height);
        QFETCH(double, opacity);
        QVERIFY2(std::abs(RecordingOverlayMath::barHeight(level, bar, phase) - height) < 1e-9,
                 qPrintable(QString::number(RecordingOverlayMath::barHeight(level, bar, phase))));
        QVERIFY(std::abs(RecordingOverlayMath::barOpacity(level, bar) - opacity) < 1e-9);
    }

    void panelOrigin_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("1280x800") << QRect(0, 0, 1280, 800) << QPoint(594, 752);
        QTest::newRow("panel at the bottom") << QRect(0, 0, 1280, 770) << QPoint(594, 722);
        QTest::newRow("second screen") << QRect(1280, 0, 1920, 1080) << QPoint(1280 + 914, 1032);
        QTest::newRow("screen above the primary") << QRect(0, -1056, 1920, 1056) << QPoint(914, -48);
    }

    void panelOrigin() {
        QFETCH(QRect, available);
        QFETCH(QPoint, origin);
        QCOMPARE(RecordingOverlayMath::panelOrigin(available, QSize(92, 30)), origin);
    }

    void screenOfTheFocusedWindow_data() {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<int>("screen");
        // Left 1920x1080, right 2560x1440 beside it.
        QTest::newRow("on the left") << QRect(100, 100, 800, 600) << 0;
        QTest::newRow("on the right") << QRect(2500, 700, 800, 600) << 1;
        QTest::newRow("straddling, centre on the right") << QRect(1500, 100, 1000, 600) << 1;
        QTest::newRow("centre off every screen, mostly left") << QRect(-700, 900, 1000, 600) << 0;
        QTest::newRow("centre below every screen, on the right") << QRect(1800, 1300, 400, 400) << 1;
        QTest::newRow("nowhere") << QRect(-3000, -3000, 100, 100) << -1;
    }

    void screenOfTheFocusedWindow() {
        QFETCH(QRect, window);
        QFETCH(int, screen);
        const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440)};
        QCOMPARE(RecordingOverlayMath::screenIndexForWindow(screens, window), screen);
    }

    void fade() {
        using RecordingOverlayMath::fadeOpacity;
        QCOMPARE(fadeOpacity(0.0, 1.0, 0.0, 0.12), 0.0);
        QCOMPARE(fadeOpacity(0.0, 1.0, 0.06, 0.12), 0.75); // ease-out: three quarters at half time
        QCOMPARE(fadeOpacity(0.0, 1.0, 0.12, 0.12), 1.0);
        QCOMPARE(fadeOpacity(0.0, 1.0, 5.0, 0.12), 1.0);
        QCOMPARE(fadeOpacity(1.0, 0.0, 0.06, 0.12), 0.25);
    }

    // ---- overlay controller -------------------------------------------------------------------------

    void init() {
        m_clock = std::make_unique<ManualClock>();
        m_scheduler = std::make_unique<ManualScheduler>(*m_clock);
        Clock::setCurrent(m_clock.get());
    }

    void cleanup() {
        Clock::setCurrent(nullptr);
        m_scheduler.reset();
        m_clock.reset();
    }

    void showAndHideRunTheAnimationOnlyWhileShown() {
        RecordingOverlayController overlay(*m_scheduler);
        overlay.hide(); // nothing to hide yet: no panel is made for it
        QVERIFY(!overlay.panel());

        overlay.prepare();
        QVERIFY(overlay.panel());
        QVERIFY(!overlay.isPanelVisible());
        QVERIFY(!overlay.isPhaseTimerRunning());
        m_scheduler->advance(1s);
        QCOMPARE(overlay.phase(), 0.0);

        overlay.show(OverlayState::Recording);
        QCOMPARE(overlay.state(), OverlayState::Recording);
        QVERIFY(overlay.isPanelVisible());
        QVERIFY(overlay.isPhaseTimerRunning());
        QCOMPARE(overlay.panel()->pillOpacity(), 0.0);
        m_scheduler->advance(50ms);
        QCOMPARE(overlay.phase(), 0.18);
        m_scheduler->advance(100ms);
        QCOMPARE(overlay.phase(), 0.54);
        QCOMPARE(overlay.panel()->pillOpacity(), 1.0); // faded in within 120 ms

        overlay.show(OverlayState::Processing);
        QCOMPARE(overlay.state(), OverlayState::Processing);
        QVERIFY(overlay.isPanelVisible());

        overlay.hide();
        QCOMPARE(overlay.state(), OverlayState::Hidden);
        QVERIFY(!overlay.isPanelVisible());
        QVERIFY(!overlay.isPhaseTimerRunning());
        const double phase = overlay.phase();
        m_scheduler->advance(1s);
        QCOMPARE(overlay.phase(), phase);
        QCOMPARE(m_scheduler->pendingCount(), 0);
    }

    void recorderStateDrivesThePanel_data() {
        QTest::addColumn<OverlayState>("state");
        QTest::addColumn<bool>("visibleAfterStop");
        QTest::newRow("recording: goes away with the recorder") << OverlayState::Recording << false;
        QTest::newRow("processing: stays until hide()") << OverlayState::Processing << true;
        QTest::newRow("hidden: goes away") << OverlayState::Hidden << false;
    }

    void recorderStateDrivesThePanel() {
        QFETCH(OverlayState, state);
        QFETCH(bool, visibleAfterStop);
        RecordingOverlayController overlay(*m_scheduler);
        if (state != OverlayState::Hidden)
            overlay.show(state);
        overlay.recorderRecordingChanged(true);
        QVERIFY(overlay.isPanelVisible());
        QCOMPARE(overlay.state(), state); // the recorder never changes the state
        overlay.recorderRecordingChanged(false);
        QCOMPARE(overlay.isPanelVisible(), visibleAfterStop);
        QCOMPARE(overlay.isPhaseTimerRunning(), visibleAfterStop);
        QCOMPARE(overlay.state(), state);
    }

    void followsTheRecordersPublishedState() {
        AudioCaptureService recorder(testDesktop(PlatformServices::PulseAudio).audioInputs);
        RecordingOverlayController overlay(*m_scheduler);
        QSignalSpy levels(&overlay, &RecordingOverlayController::normalizedLevelChanged);
        overlay.recorderAveragePowerChanged(-27.5f);
        QCOMPARE(overlay.normalizedLevel(), 0.5);

        overlay.observe(recorder);
        // The recorder's current values (not recording, -160 dB) arrive on the next turn of the event loop.
        QCOMPARE(overlay.normalizedLevel(), 0.5);
        QTRY_COMPARE(overlay.normalizedLevel(), 0.0);
        QVERIFY(!overlay.panel()); // "hidden" with nothing to hide

        emit recorder.isRecordingChanged(true);
        QTRY_VERIFY(overlay.isPanelVisible());
        emit recorder.averagePowerChanged(0.0f);
        QTRY_COMPARE(overlay.normalizedLevel(), 1.0);
        emit recorder.isRecordingChanged(false);
        QTRY_VERIFY(!overlay.isPanelVisible());
        QCOMPARE(levels.count(), 3);
    }

private:
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<ManualScheduler> m_scheduler;
};

QTEST_MAIN(TestOverlayUnit)
#include "tst_overlay_unit.moc"
