// AudioCaptureService against the test session's PulseAudio: speech played into the virtual microphone
// lands in a well-formed 16 kHz mono WAV of the right length and level; the duration counts the frames
// written; a second start is refused without harming the running recording.

#include "AudioCaptureService.h"
#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "Clock.h"
#include "ManualScheduler.h"
#include "ManualTime.h"
#include "RunTask.h"
#include "RuntimeDirectory.h"
#include "TestDesktop.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace audiotest;

namespace {
constexpr int kRate = 16000;
constexpr int kLoud = 1000; // a sample above this is speech, not silence

QStringList recordingsInRuntimeFolder() {
    return QDir(RuntimeDirectory::path())
        .entryList({QStringLiteral("quillvane-*.wav")}, QDir::Files, QDir::Name);
}

// Checks the canonical 44-byte header of a file the service wrote and returns the file.
Wav checkedRecording(const RecordedAudio& recording) {
    const std::optional<Wav> wav = readWav(recording.url.toLocalFile());
    if (!wav) {
        qWarning("recording %s is not a WAV file", qPrintable(recording.url.toString()));
        return {};
    }
    return *wav;
}
// Takes a source of the session's PulseAudio away by unloading the module that made it, as unplugging a
// microphone does, and puts it back (same arguments, default again) when destroyed.
class RemovedSource {
public:
    explicit RemovedSource(const QString& name) : m_name(name) {
        const CommandResult modules =
            pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
        for (const QString& line : modules.output.split(QLatin1Char('\n'))) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            if (fields.size() >= 3 && fields.at(2).contains(QStringLiteral("source_name=") + name)) {
                m_module = fields.at(1);
                m_arguments = fields.at(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const CommandResult unloaded = pactl({QStringLiteral("unload-module"), fields.at(0)});
                if (!unloaded.ok)
                    m_error = unloaded.errors;
                return;
            }
        }
        m_error = QStringLiteral("no module made the source ") + name;
    }
    ~RemovedSource() {
        if (m_module.isEmpty())
            return;
        pactl(QStringList{QStringLiteral("load-module"), m_module} + m_arguments);
        pactl({QStringLiteral("set-default-source"), m_name});
    }
    QString error() const { return m_error; }

private:
    QString m_name;
    QString m_module;
    QStringList m_arguments;
    QString m_error;
};

// Lowers this process's file size limit, with SIGXFSZ ignored so that a write past it fails instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};
} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_sink;
    QString m_speechPath;
    Wav m_speech;

    // Plays a file into the virtual microphone and waits until the player is done.
    bool play(const QString& path) {
        QProcess player;
        player.setProcessChannelMode(QProcess::MergedChannels);
        player.start(QStringLiteral("paplay"), {QStringLiteral("-d"), m_sink, path});
        if (!player.waitForStarted())
            return false;
        const bool finished = QTest::qWaitFor([&] { return player.state() == QProcess::NotRunning; }, 60000);
        if (!finished) {
            player.kill();
            player.waitForFinished();
            return false;
        }
        if (player.exitCode() != 0)
            qWarning("paplay: %s", player.readAll().constData());
        return player.exitCode() == 0;
    }

private slots:
    void initTestCase() {
        m_sink = qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK");
        QVERIFY2(!m_sink.isEmpty(), "QUILLVANE_TEST_MIC_SINK is not set: run under scripts/test-session");
        QCOMPARE(pactl({QStringLiteral("get-default-source")}).output, QStringLiteral("virtualmic"));
        QVERIFY(m_dir.isValid());
        QString error;
        m_speechPath = m_dir.filePath(QStringLiteral("speech.wav"));
        QVERIFY2(makeSpeech(QStringLiteral("Please send the quarterly report to Margaret before Friday."),
                            m_dir.filePath(QStringLiteral("speech-raw.wav")), m_speechPath, &error),
                 qPrintable(error));
        const std::optional<Wav> speech = readWav(m_speechPath);
        QVERIFY(speech);
        QCOMPARE(speech->sampleRate, quint32(kRate));
        QCOMPARE(speech->channels, quint16(1));
        QVERIFY(loudSpan(speech->samples, kLoud));
        m_speech = *speech;
    }

    void cleanup() {
        for (const QString& name : recordingsInRuntimeFolder())
            QFile::remove(QDir(RuntimeDirectory::path()).filePath(name));
    }

    void recordsSpeechIntoA16kMonoWav() {
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        QList<bool> states;
        QList<float> powers;
        double longestElapsed = 0;
        connect(&service, &AudioCaptureService::isRecordingChanged, this, [&](bool on) { states << on; });
        connect(&service, &AudioCaptureService::averagePowerChanged, this, [&](float db) { powers << db; });
        connect(&service, &AudioCaptureService::elapsedDurationChanged, this,
                [&](double seconds) { longestElapsed = std::max(longestElapsed, seconds); });

        runTask(service.startRecording());
        QVERIFY(service.isRecording());
        QCOMPARE(service.averagePower(), -160.0f);
        QVERIFY(play(m_speechPath));
        // Let the clip's end travel through the server into the file.
        const qint64 atEnd = service.framesWritten();
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() >= atEnd + kRate / 2, 20000);
        const float levelBeforeStop = service.averagePower();
        const RecordedAudio recording = service.stopRecording();

        QCOMPARE(states, (QList<bool>{true, false}));
        QCOMPARE(service.elapsedDuration(), 0.0);
        QCOMPARE(service.averagePower(), levelBeforeStop); // kept until the next start
        QVERIFY(longestElapsed > 0);

        // The file: a new name in the private folder, readable by its owner only.
        QVERIFY(recording.url.isLocalFile());
        const QFileInfo info(recording.url.toLocalFile());
        QCOMPARE(info.absolutePath(), QDir(RuntimeDirectory::path()).absolutePath());
        QVERIFY2(
            QRegularExpression(QStringLiteral("^quillvane-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.wav$"))
                .match(info.fileName())
                .hasMatch(),
            qPrintable(info.fileName()));
        QCOMPARE(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                       QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions());

        // The header, with the sizes patched at stop.
        const Wav wav = checkedRecording(recording);
        QCOMPARE(wav.riff, QByteArray("RIFF"));
        QCOMPARE(wav.wave, QByteArray("WAVE"));
        QCOMPARE(wav.fmtTag, QByteArray("fmt "));
        QCOMPARE(wav.dataTag, QByteArray("data"));
        QCOMPARE(qint64(wav.riffSize), wav.fileSize - 8);
        QCOMPARE(wav.fmtSize, 16u);
        QCOMPARE(wav.formatTag, quint16(1));
        QCOMPARE(wav.channels, quint16(1));
        QCOMPARE(wav.sampleRate, quint32(kRate));
        QCOMPARE(wav.byteRate, quint32(2 * kRate));
        QCOMPARE(wav.blockAlign, quint16(2));
        QCOMPARE(wav.bitsPerSample, quint16(16));
        QCOMPARE(qint64(wav.dataSize), wav.fileSize - 44);

        // The duration is the file's own length, and the file holds the whole clip.
        QCOMPARE(recording.duration, double(wav.samples.size()) / kRate);
        const double clipSeconds = double(m_speech.samples.size()) / kRate;
        QVERIFY2(recording.duration >= clipSeconds, qPrintable(QString::number(recording.duration)));

        // The speech arrived whole (no gap, no loss) and at its level.
        const auto clipSpan = *loudSpan(m_speech.samples, kLoud);
        const auto heard = loudSpan(wav.samples, kLoud);
        QVERIFY2(heard, "no speech reached the recording");
        const double clipSpanSeconds = double(clipSpan.second - clipSpan.first) / kRate;
        const double heardSpanSeconds = double(heard->second - heard->first) / kRate;
        qInfo("clip %.3f s (speech %.3f s), recording %.3f s (speech %.3f s)", clipSeconds, clipSpanSeconds,
              recording.duration, heardSpanSeconds);
        QVERIFY2(std::abs(heardSpanSeconds - clipSpanSeconds) < 0.1,
                 qPrintable(QString("speech lasted %1 s in the recording, %2 s in the clip")
                                .arg(heardSpanSeconds)
                                .arg(clipSpanSeconds)));
        const double clipLevel = levelDb(m_speech.samples, clipSpan.first, clipSpan.second);
        const double heardLevel = levelDb(wav.samples, heard->first, heard->second);
        qInfo("speech level: clip %.1f dBFS, recording %.1f dBFS", clipLevel, heardLevel);
        QVERIFY2(std::abs(heardLevel - clipLevel) < 6.0, qPrintable(QString::number(heardLevel)));

        // The published meter followed the speech and stayed within its range.
        QVERIFY(!powers.isEmpty());
        for (float db : powers)
            QVERIFY2(db >= -160.0f && db <= 0.0f, qPrintable(QString::number(db)));
        const float loudest = *std::max_element(powers.begin(), powers.end());
        QVERIFY2(loudest > clipLevel - 12.0, qPrintable(QString::number(loudest)));

        // The next recording goes to a new file and starts from silence on the meter.
        runTask(service.startRecording());
        QCOMPARE(service.averagePower(), -160.0f);
        const RecordedAudio second = service.stopRecording();
        QVERIFY(second.url != recording.url);
    }

    // A stop before the meter's first tick still reports the true length, not 0.
    void stopBeforeTheFirstMeterTickCountsTheFramesWritten() {
        ManualTime time;
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        runTask(service.startRecording());
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() > 0, 20000);
        QCOMPARE(service.elapsedDuration(), 0.0); // no tick ran
        const RecordedAudio recording = service.stopRecording();
        const Wav wav = checkedRecording(recording);
        QVERIFY(!wav.samples.empty());
        QCOMPARE(qint64(wav.dataSize), wav.fileSize - 44);
        QCOMPARE(recording.duration, double(wav.samples.size()) / kRate);
        QVERIFY(recording.duration > 0);
        QCOMPARE(time.scheduler.pendingCount(), 0); // the meter timer is gone
    }

    void secondStartIsRefusedAndKeepsTheFirstRecording() {
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        runTask(service.startRecording());
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() > 0, 20000);
        const QStringList files = recordingsInRuntimeFolder();
        QCOMPARE(files.size(), 1);

        const auto error = expectFailure<AudioCaptureError>(service.startRecording());
        QCOMPARE(error.kind(), AudioCaptureError::Kind::recorderUnavailable);
        QCOMPARE(error.message(), QStringLiteral("A recording is already running."));

        QVERIFY(service.isRecording());
        QCOMPARE(recordingsInRuntimeFolder(), files);
        const qint64 framesAtRefusal = service.framesWritten();
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() > framesAtRefusal, 20000); // still recording

        const RecordedAudio recording = service.stopRecording();
        QCOMPARE(QFileInfo(recording.url.toLocalFile()).fileName(), files.first());
        const Wav wav = checkedRecording(recording);
        QVERIFY(qint64(wav.samples.size()) > framesAtRefusal);
        QCOMPARE(recording.duration, double(wav.samples.size()) / kRate);
    }

    // The recording broke off: the microphone's source removed from the server mid-recording (as when it
    // is unplugged; the server moves the stream to another source and the samples go on), or the file
    // refusing more samples (a full runtime folder, here a file size limit).
    // The stop fails with what happened and where it was cut, and leaves no file.
    void aRecordingThatBrokeOffFailsWithWhatHappened_data() {
        QTest::addColumn<bool>("removeMicrophone");
        QTest::addColumn<QString>("message");
        QTest::newRow("microphone removed")
            << true << "^The microphone stopped; the recording was cut at [1-9][0-9]* s\\.$";
        QTest::newRow("file cannot grow")
            << false << "^The recording could not be saved \\(File too large\\); it was cut at 1 s\\.$";
    }

    void aRecordingThatBrokeOffFailsWithWhatHappened() {
        QFETCH(bool, removeMicrophone);
        QFETCH(QString, message);
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        QSignalSpy interrupted(&service, &AudioCaptureService::recordingInterrupted);
        std::optional<RemovedSource> removed;
        std::optional<FileSizeLimit> limit;
        if (!removeMicrophone)
            limit.emplace(44 + 2 * kRate); // one second of samples after the header
        runTask(service.startRecording());
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() >= kRate / 2, 20000);
        if (removeMicrophone) {
            removed.emplace(QStringLiteral("virtualmic"));
            QVERIFY2(removed->error().isEmpty(), qPrintable(removed->error()));
        }
        QVERIFY(interrupted.wait(10000));
        limit.reset();
        QVERIFY(service.isRecording()); // until the user lets go

        try {
            service.stopRecording();
            QFAIL("the stop of a broken-off recording did not throw");
        } catch (const AudioCaptureError& error) {
            QCOMPARE(error.kind(), AudioCaptureError::Kind::recordingInterrupted);
            QVERIFY2(QRegularExpression(message).match(error.message()).hasMatch(),
                     qPrintable(error.message()));
            QCOMPARE(interrupted.first().first().toString(), error.message());
        }
        QVERIFY(!service.isRecording());
        QCOMPARE(recordingsInRuntimeFolder(), QStringList());
        QCOMPARE(interrupted.count(), 1);

        // With the microphone back, the next recording works.
        removed.reset();
        runTask(service.startRecording());
        QTRY_VERIFY_WITH_TIMEOUT(service.framesWritten() > 0, 20000);
        QVERIFY(service.stopRecording().duration > 0);
    }

    void stopWithoutRecordingThrows() {
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        try {
            service.stopRecording();
            QFAIL("stop without a recording did not throw");
        } catch (const AudioCaptureError& error) {
            QCOMPARE(error.kind(), AudioCaptureError::Kind::noRecordingURL);
            QCOMPARE(error.message(), QStringLiteral("No recording file was created."));
        }
        QVERIFY(!service.isRecording());

        runTask(service.startRecording());
        service.stopRecording();
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, service.stopRecording()); // a second stop has nothing
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAudioCapture, QApplication)
#include "tst_audio_capture.moc"
