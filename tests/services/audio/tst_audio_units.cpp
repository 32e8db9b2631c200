// The audio services' pure parts (meter math, WAV header, device order and status sentence), their
// behaviour when no audio server answers, and the media control's decisions on a scripted sound server.
// Runs without the test session: PULSE_SERVER points nowhere.

#include "AudioCaptureService.h"
#include "AudioInputDeviceStore.h"
#include "AudioInputSystem.h"

#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "DesktopStateGuard.h"
#include "MediaControlService.h"
#include "MutedStreamsRecord.h"
#include "OutputMuteControl.h"
#include "RecordingFiles.h"
#include "RunTask.h"
#include "TestDesktop.h"
#include "WavFileWriter.h"
#include <QAudioSource>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>

using namespace audiotest;

Q_DECLARE_METATYPE(std::vector<qint16>)

namespace {
QStringList g_lines;
void collect(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (context.category && QByteArray(context.category) == "runtime")
        g_lines << message;
}

std::vector<qint16> constant(qint16 value, int count = 1600) {
    return std::vector<qint16>(std::size_t(count), value);
}

std::vector<qint16> sine(double amplitude, int count = 16000) {
    std::vector<qint16> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[std::size_t(i)] =
            qint16(std::lround(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * 440.0 * i / 16000.0)));
    return samples;
}

using Devices = QList<AudioInputDevice>;

template <class E, class F> std::optional<E> thrownBy(F action) {
    try {
        action();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

// A sound server as the test scripts it; records the default switches asked of it.
class ScriptedInputs : public AudioInputSystem {
public:
    std::optional<QString> defaultId;
    QList<Input> list;
    int switchStatus = 0;
    QStringList switches;

    std::optional<QString> defaultInputId() override { return defaultId; }
    QList<Input> inputs() override { return list; }
    bool deviceExists(const QString& id) override {
        return std::any_of(list.begin(), list.end(), [&](const Input& input) { return input.id == id; });
    }
    int setDefaultInput(const QString& id) override {
        switches << id;
        if (switchStatus == 0)
            defaultId = id;
        return switchStatus;
    }
    std::unique_ptr<QAudioSource> openCapture(const QString&, const QAudioFormat&) override {
        return nullptr;
    }
    QString lastErrorText() const override { return QStringLiteral("Connection refused"); }
};

// The sound server's playback streams as the test scripts them: which requests fail, and every mute change
// asked of it ("7=1": stream 7 muted). Used on the service's worker thread; read after the service has
// flushed.
struct MuteScript {
    bool listFails = false;
    bool muteFails = false;
    bool unmuteFails = false;
    QList<PlaybackStream> streams;
    QStringList changes;
};

class ScriptedOutput : public OutputMuteControl {
public:
    explicit ScriptedOutput(std::shared_ptr<MuteScript> script) : m_script(std::move(script)) {}
    std::optional<QList<PlaybackStream>> playbackStreams() override {
        return m_script->listFails ? std::nullopt : std::optional(m_script->streams);
    }
    Result setStreamMuted(quint32 index, bool muted) override {
        m_script->changes << QString::number(index) + (muted ? "=1" : "=0");
        const auto stream = std::find_if(m_script->streams.begin(), m_script->streams.end(),
                                         [index](const PlaybackStream& s) { return s.index == index; });
        if (stream == m_script->streams.end())
            return Result::NoSuchStream;
        if (muted ? m_script->muteFails : m_script->unmuteFails)
            return Result::Failed;
        stream->muted = muted;
        return Result::Done;
    }
    QString lastErrorText() const override { return QStringLiteral("Timeout"); }

private:
    std::shared_ptr<MuteScript> m_script;
};

MediaControlService::OutputFactory scripted(const std::shared_ptr<MuteScript>& script) {
    return [script] { return std::make_unique<ScriptedOutput>(script); };
}

const qint64 kOwnPid = QCoreApplication::applicationPid();

// The pid of a process that has ended.
qint64 endedProcess() {
    const CommandResult shell = run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
    return shell.output.toLongLong();
}

void writeRecord(const QByteArray& bytes) {
    QFile file(MutedStreamsRecord().path());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray recordOf(qint64 writerPid, quint64 writerStart, const QList<PlaybackStream>& streams) {
    QJsonArray list;
    for (const PlaybackStream& stream : streams)
        list.append(
            QJsonObject{{"index", qint64(stream.index)}, {"pid", stream.ownerPid}, {"app", stream.appName}});
    return QJsonDocument(
               QJsonObject{{"writer", QJsonObject{{"pid", writerPid}, {"started", qint64(writerStart)}}},
                           {"streams", list}})
        .toJson();
}
} // namespace

class TestAudioUnits : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;

private slots:
    void initTestCase() {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        qputenv("PULSE_SERVER", QByteArray("unix:") + m_runtime.filePath("no-such-pulse-socket").toUtf8());
    }

    // ---- meter
    // -----------------------------------------------------------------------------------------------

    void meterFromSamples_data() {
        QTest::addColumn<std::vector<qint16>>("samples");
        QTest::addColumn<double>("expected");
        QTest::newRow("no samples") << std::vector<qint16>{} << -160.0;
        QTest::newRow("digital silence") << constant(0) << -160.0;
        QTest::newRow("full scale") << constant(-32768) << 0.0;
        QTest::newRow("half scale") << constant(16384) << -6.0206;
        QTest::newRow("sine at half scale") << sine(0.5) << -9.0309;
        QTest::newRow("sine at full scale") << sine(1.0) << -3.0104;
        QTest::newRow("one step") << constant(1) << -90.3090;
        QTest::newRow("one step in a million") << [] {
            auto samples = constant(0, 1'000'000);
            samples[500] = 1;
            return samples;
        }() << -150.3090;
    }

    void meterFromSamples() {
        QFETCH(std::vector<qint16>, samples);
        QFETCH(double, expected);
        const float db = AudioCaptureService::averagePowerDbfs(samples.data(), qsizetype(samples.size()));
        QVERIFY2(std::abs(db - expected) < 0.01, qPrintable(QString::number(db)));
    }

    void meterClampsToItsRange_data() {
        QTest::addColumn<double>("sumOfSquares");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<float>("expected");
        constexpr double fullScale = 32768.0 * 32768.0;
        QTest::newRow("below -160") << 1.0 << qint64(1'000'000'000) << -160.0f;
        QTest::newRow("above full scale") << 4 * fullScale << qint64(1) << 0.0f;
        QTest::newRow("no samples") << 5.0 << qint64(0) << -160.0f;
        QTest::newRow("not a number") << std::nan("") << qint64(10) << -160.0f;
        QTest::newRow("negative") << -1.0 << qint64(10) << -160.0f;
    }

    void meterClampsToItsRange() {
        QFETCH(double, sumOfSquares);
        QFETCH(qint64, count);
        QFETCH(float, expected);
        QCOMPARE(AudioCaptureService::averagePowerDbfs(sumOfSquares, count), expected);
    }

    // ---- WAV file
    // ----------------------------------------------------------------------------------------------

    void wavHeaderIsCanonical() {
        const QByteArray expected = QByteArray::fromHex("52494646" // RIFF
                                                        "a40c0000" // 36 + 3200
                                                        "57415645" // WAVE
                                                        "666d7420" // "fmt "
                                                        "10000000" // 16
                                                        "0100"
                                                        "0100"     // PCM, mono
                                                        "803e0000" // 16000
                                                        "007d0000" // 32000 bytes/s
                                                        "0200"
                                                        "1000"       // 2 bytes/frame, 16 bits
                                                        "64617461"   // data
                                                        "800c0000"); // 3200
        QCOMPARE(WavFileWriter::header(16000, 1, 3200), expected);
    }

    void wavWriterPatchesSizesAndNeverOverwrites() {
        QTemporaryDir dir;
        const QString path = dir.filePath("out.wav");
        {
            WavFileWriter writer(16000, 1);
            QVERIFY(writer.open(path));
            const std::vector<qint16> samples = sine(0.25, 1234);
            QVERIFY(
                writer.write(reinterpret_cast<const char*>(samples.data()), qsizetype(samples.size() * 2)));
            QCOMPARE(writer.frames(), qint64(1234));
            QVERIFY(writer.finish());
        }
        const std::optional<Wav> wav = readWav(path);
        QVERIFY(wav);
        QCOMPARE(wav->fileSize, qint64(44 + 2468));
        QCOMPARE(wav->riffSize, quint32(36 + 2468));
        QCOMPARE(wav->dataSize, quint32(2468));
        QCOMPARE(wav->samples, sine(0.25, 1234));
        QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::Permissions());

        WavFileWriter second(16000, 1);
        QVERIFY(!second.open(path));
        QVERIFY(!second.errorText().isEmpty());
        QCOMPARE(QFileInfo(path).size(), qint64(44 + 2468));
    }

    // ---- device order and status
    // -------------------------------------------------------------------------------

    void devicesAreSorted_data() {
        QTest::addColumn<Devices>("enumerated");
        QTest::addColumn<QStringList>("expectedIds");
        QTest::newRow("default first")
            << Devices{{"a", "Alpha", false}, {"z", "Zulu", true}} << QStringList{"z", "a"};
        QTest::newRow("by name, ignoring case")
            << Devices{{"b", "beta", false}, {"a", "Alpha", false}, {"c", "Gamma", false}}
            << QStringList{"a", "b", "c"};
        QTest::newRow("names equal but for case keep their order")
            << Devices{{"2", "USB Mic", false}, {"1", "usb mic", false}, {"0", "Built-in", false}}
            << QStringList{"0", "2", "1"};
        QTest::newRow("same, the other way round")
            << Devices{{"1", "usb mic", false}, {"2", "USB Mic", false}} << QStringList{"1", "2"};
        QTest::newRow("empty") << Devices{} << QStringList{};
    }

    void devicesAreSorted() {
        QFETCH(Devices, enumerated);
        QFETCH(QStringList, expectedIds);
        QStringList ids;
        for (const AudioInputDevice& device : AudioInputDeviceStore::sorted(enumerated))
            ids << device.id;
        QCOMPARE(ids, expectedIds);
    }

    void statusSentence_data() {
        QTest::addColumn<Devices>("devices");
        QTest::addColumn<std::optional<QString>>("selected");
        QTest::addColumn<QString>("expected");
        const Devices devices{{"mic", "Desk Mic", true}, {"usb", "USB Headset", false}};
        QTest::newRow("selected device present")
            << devices << std::optional<QString>("usb") << "Selected microphone: USB Headset";
        QTest::newRow("selected default")
            << devices << std::optional<QString>("mic") << "Selected microphone: Desk Mic";
        QTest::newRow("saved device gone") << devices << std::optional<QString>("gone")
                                           << "Using your computer's default microphone: Desk Mic";
        QTest::newRow("no selection")
            << devices << std::optional<QString>() << "Using your computer's default microphone: Desk Mic";
        QTest::newRow("no default among inputs")
            << Devices{{"usb", "USB Headset", false}} << std::optional<QString>()
            << "Using your computer's default microphone.";
        QTest::newRow("no inputs") << Devices{} << std::optional<QString>("usb")
                                   << "Using your computer's default microphone.";
    }

    void statusSentence() {
        QFETCH(Devices, devices);
        QFETCH(std::optional<QString>, selected);
        QFETCH(QString, expected);
        QCOMPARE(AudioInputDeviceStore::statusFor(devices, selected), expected);
    }

    void errorSentences() {
        QCOMPARE(AudioInputDeviceError::setDefaultFailed(-50).message(),
                 QStringLiteral("Unable to switch microphones (-50)."));
        QCOMPARE(AudioCaptureError::recorderInitializationFailed("Disk full").message(),
                 QStringLiteral("Audio recorder initialization failed: Disk full"));
        QCOMPARE(AudioCaptureError::microphonePermissionDenied().message(),
                 QStringLiteral("Microphone permission was denied."));
    }

    // ---- no audio server
    // ---------------------------------------------------------------------------------------

    // The user is told what is missing (the audio server), not that a permission was denied.
    void withoutAServerTheMicrophoneIsDeniedAndNoFileIsMade() {
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        AudioCaptureService service(testDesktop(PlatformServices::PulseAudio).audioInputs);
        const auto error = expectFailure<AudioCaptureError>(service.startRecording());
        qInstallMessageHandler(previous);
        QCOMPARE(error.kind(), AudioCaptureError::Kind::microphonePermissionDenied);
        QCOMPARE(error.message(), AudioCaptureError::audioServerUnavailable().message());
        QVERIFY(error.message().contains("audio server cannot be reached"));
        QVERIFY(!service.isRecording());
        QCOMPARE(g_lines.size(), 2);
        QCOMPARE(g_lines[0], QStringLiteral("Audio start requested"));
        QVERIFY2(
            g_lines[1].startsWith("Audio start refused: the audio server (PulseAudio) cannot be reached"),
            qPrintable(g_lines[1]));
        QDir runtime(m_runtime.path());
        QCOMPARE(runtime.entryList({"*.wav"}, QDir::Files), QStringList());
        QCOMPARE(QDir(m_runtime.filePath("quillvane")).entryList({"*.wav"}, QDir::Files), QStringList());
    }

    // What the server lacks decides the sentence; no recording file is left behind.
    void startWithoutAUsableInput_data() {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("inputs");
        QTest::addColumn<QString>("message");
        QTest::newRow("no server") << false << false << AudioCaptureError::audioServerUnavailable().message();
        QTest::newRow("no input device") << true << false << AudioCaptureError::noInputDevice().message();
        QTest::newRow("input vanished before opening")
            << true << true << "Audio recorder initialization failed: The microphone is no longer available";
    }
    void startWithoutAUsableInput() {
        QFETCH(bool, server);
        QFETCH(bool, inputs);
        QFETCH(QString, message);
        auto system = std::make_shared<ScriptedInputs>();
        if (server)
            system->defaultId = "alsa_input.usb";
        if (inputs)
            system->list = {{"alsa_input.usb", "USB Microphone"}};
        AudioCaptureService service(system);
        const auto error = expectFailure<AudioCaptureError>(service.startRecording());
        QCOMPARE(error.message(), message);
        QVERIFY(!error.message().contains("permission"));
        QVERIFY(!service.isRecording());
        QCOMPARE(QDir(m_runtime.filePath("quillvane")).entryList({"*.wav"}, QDir::Files), QStringList());
    }

    // The store lists the server's inputs with its default first, and switches the default through it.
    void deviceStoreThroughTheInputSystem() {
        auto system = std::make_shared<ScriptedInputs>();
        system->defaultId = "b.mic";
        system->list = {{"a.mic", "Alpha"}, {"b.mic", "Bravo"}};
        AudioInputDeviceStore store(system);
        store.refresh(std::nullopt);
        QCOMPARE(store.devices(), (Devices{{"b.mic", "Bravo", true}, {"a.mic", "Alpha", false}}));
        QCOMPARE(store.statusText(), QStringLiteral("Using your computer's default microphone: Bravo"));

        store.selectDevice(QStringLiteral("a.mic"));
        QCOMPARE(system->switches, QStringList{"a.mic"});
        QCOMPARE(store.statusText(), QStringLiteral("Selected microphone: Alpha"));

        system->switchStatus = 7;
        const auto refused =
            thrownBy<AudioInputDeviceError>([&] { store.selectDevice(QStringLiteral("b.mic")); });
        QVERIFY(refused);
        QCOMPARE(refused->message(), QStringLiteral("Unable to switch microphones (7)."));
        const auto unknown =
            thrownBy<AudioInputDeviceError>([&] { store.selectDevice(QStringLiteral("zz")); });
        QVERIFY(unknown);
        QCOMPARE(unknown->kind(), AudioInputDeviceError::Kind::deviceLookupFailed);
        QCOMPARE(system->switches, (QStringList{"a.mic", "b.mic"})); // an unknown id is never sent
    }

    void withoutAServerNothingIsMutedOrRestored() {
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        {
            MediaControlService service(testDesktop(PlatformServices::PulseAudio).openOutputMute);
            service.muteIfNeeded();
            service.restoreMuteStateIfNeeded();
            service.flush();
        }
        qInstallMessageHandler(previous);
        QCOMPARE(g_lines.size(), 2);
        QVERIFY2(g_lines[0].startsWith("Audio mute PulseAudio request failed: "), qPrintable(g_lines[0]));
        QCOMPARE(g_lines[1], QStringLiteral("Unable to read system mute state"));
    }

    // A failing request at each step: streams are unmuted only after a mute of ours went through; an
    // unmute that fails is tried again by the next restore and the exit, and what still fails then is
    // left in the record for the next start. The exit guard never keeps a mute that is not ours.
    void muteFailuresLeaveNothingBehind_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("heldWhileMuted");
        QTest::addColumn<bool>("heldAfterRestores");
        QTest::addColumn<bool>("recordLeft");
        QTest::newRow("stream list") << "list" << QStringList{} << "Unable to read system mute state" << false
                                     << false << false;
        QTest::newRow("mute") << "mute" << QStringList{"7=1"}
                              << "Failed to set system mute state to true: 1 playback stream (Music)" << false
                              << false << false;
        QTest::newRow("unmute") << "unmute" << QStringList{"7=1", "7=0", "7=0", "7=0"}
                                << "Failed to set system mute state to false: 1 playback stream (Music)"
                                << true << true << true;
    }

    void muteFailuresLeaveNothingBehind() {
        QFETCH(QString, failing);
        QFETCH(QStringList, changes);
        QFETCH(QString, logged);
        QFETCH(bool, heldWhileMuted);
        QFETCH(bool, heldAfterRestores);
        QFETCH(bool, recordLeft);
        auto script = std::make_shared<MuteScript>();
        script->streams = {{7, 4242, "Music", false}};
        script->listFails = failing == "list";
        script->muteFails = failing == "mute";
        script->unmuteFails = failing == "unmute";
        const auto heldNow = [] {
            return DesktopStateGuard::instance().held().contains(QStringLiteral("output mute"));
        };
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        {
            MediaControlService service(scripted(script));
            service.muteIfNeeded();
            service.flush();
            QCOMPARE(heldNow(), heldWhileMuted);
            QCOMPARE(QFile::exists(MutedStreamsRecord().path()), heldWhileMuted);
            service.restoreMuteStateIfNeeded();
            service.restoreMuteStateIfNeeded();
            service.flush();
            QCOMPARE(heldNow(), heldAfterRestores);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(script->changes, changes);
        QVERIFY(!heldNow());
        QCOMPARE(QFile::exists(MutedStreamsRecord().path()), recordLeft);
        QVERIFY(MutedStreamsRecord().remove());
        QVERIFY2(g_lines.contains(logged), qPrintable(g_lines.join('\n')));
        QVERIFY(g_lines.contains(QStringLiteral("Audio mute PulseAudio request failed: Timeout")));
    }

    // Only other processes' streams that play unmuted are muted: never ours (the cues), never the sound
    // server's own (no owner), never one the user muted. A stream that ended meanwhile is not an error.
    void onlyOtherApplicationsPlayingStreamsAreMuted() {
        auto script = std::make_shared<MuteScript>();
        script->streams = {{1, kOwnPid, "Quillvane", false},
                           {2, 0, "Loopback", false},
                           {3, 4242, "Muted by the user", true},
                           {4, 4343, "Music", false},
                           {5, 4444, "Video", false}};
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        MediaControlService service(scripted(script));
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(script->changes, (QStringList{"4=1", "5=1"}));
        script->streams.removeLast(); // the video ends
        service.restoreMuteStateIfNeeded();
        service.flush();
        qInstallMessageHandler(previous);
        QCOMPARE(script->changes, (QStringList{"4=1", "5=1", "4=0"}));
        QCOMPARE(script->streams[2].muted, true);
        QCOMPARE(g_lines, (QStringList{"Muted system audio for dictation: 2 playback streams (Music, Video); "
                                       "left alone, muted already: 1 playback stream (Muted by the user)",
                                       "Restored system audio after dictation: 1 playback stream (Music); "
                                       "ended meanwhile: 1 playback stream (Video)"}));
        QVERIFY(!QFile::exists(MutedStreamsRecord().path()));
    }

    // Sound servers remember a stream's mute for the application's next stream: when a stream we muted
    // ends and the same program starts another one while we dictate, that one starts muted and is given
    // back with the rest. Streams of other programs, and ones that were there before, are not touched;
    // a stream into another output than the speakers is never muted.
    void aMuteTakenOverByTheNextStreamIsGivenBack() {
        auto script = std::make_shared<MuteScript>();
        script->streams = {
            {3, 4242, "Podcast", true}, {4, 4343, "Browser", false}, {5, 4444, "Player", false}};
        PlaybackStream feed{6, 4545, "Mic feed", false};
        feed.toDefaultOutput = false;
        script->streams << feed;
        MediaControlService service(scripted(script));
        service.muteIfNeeded();
        service.flush();
        QCOMPARE(script->changes, (QStringList{"4=1", "5=1"}));
        script->streams.removeAt(1);                                 // the browser's video ends...
        script->streams << PlaybackStream{9, 4343, "Browser", true}; // ...and the next starts muted
        script->streams << PlaybackStream{10, 4646, "Other", true};  // another program's, muted by its user
        service.restoreMuteStateIfNeeded();
        service.flush();
        QCOMPARE(script->changes, (QStringList{"4=1", "5=1", "9=0", "5=0"}));
        QCOMPARE(script->streams[0].muted, true); // the podcast the user had muted
        QCOMPARE(script->streams.last().muted, true);
    }

    // The next start unmutes what a dead run recorded, where the same stream (index, owner and name) still
    // plays muted; a record of a process still running, this one included, is left alone.
    void leftoverMutesAreRestoredOnlyForADeadWriter_data() {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<bool>("restored");
        QTest::newRow("an ended process") << "ended" << true;
        QTest::newRow("this pid, started at another time") << "reused pid" << true;
        QTest::newRow("this process") << "self" << false;
    }

    void leftoverMutesAreRestoredOnlyForADeadWriter() {
        QFETCH(QString, writer);
        QFETCH(bool, restored);
        const QList<PlaybackStream> recorded = {{7, 4242, "Music", true},
                                                {8, 4343, "Gone", true},
                                                {9, 4444, "Swapped", true},
                                                {10, 4545, "Unmuted by the user", true}};
        QString error;
        QVERIFY(MutedStreamsRecord().write(recorded, &error));
        const auto mine = MutedStreamsRecord().read(&error);
        QVERIFY2(mine, qPrintable(error));
        QCOMPARE(mine->writerPid, kOwnPid);
        QVERIFY(mine->writerStart > 0);
        QCOMPARE(mine->streams, recorded);
        if (writer == "ended")
            writeRecord(recordOf(endedProcess(), 0, recorded));
        else if (writer == "reused pid")
            writeRecord(recordOf(kOwnPid, mine->writerStart + 1, recorded));

        auto script = std::make_shared<MuteScript>();
        script->streams = {
            {7, 4242, "Music", true}, {9, 5555, "Swapped", true}, {10, 4545, "Unmuted by the user", false}};
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        {
            MediaControlService service(scripted(script));
            service.restoreLeftoverMutes();
            service.flush();
        }
        qInstallMessageHandler(previous);
        if (restored) {
            QCOMPARE(script->changes, QStringList{"7=0"});
            QVERIFY(!QFile::exists(MutedStreamsRecord().path()));
            QCOMPARE(g_lines,
                     QStringList{"Restored system audio left muted by an earlier run: 2 playback streams "
                                 "(Music, Unmuted by the user); ended meanwhile: 2 playback streams "
                                 "(Gone, Swapped)"});
        } else {
            QVERIFY(script->changes.isEmpty());
            QVERIFY(QFile::exists(MutedStreamsRecord().path()));
            QVERIFY(MutedStreamsRecord().remove());
        }
    }

    // A record that cannot be read or makes no sense is logged and deleted, and nothing is asked of the
    // sound server.
    void unreadableRecordsAreIgnored_data() {
        QTest::addColumn<QByteArray>("contents");
        // A record around `streams`, written with ' for ".
        const auto record = [](QByteArray streams) {
            return QByteArray("{'writer': {'pid': 1234567, 'started': 0}, 'streams': " + streams + "}")
                .replace('\'', '"');
        };
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x01\x02\xff\xfe", 4);
        QTest::newRow("cut short") << record("[{'index': 7").chopped(1);
        QTest::newRow("a list") << QByteArray("[]");
        QTest::newRow("no writer") << QByteArray("{'streams': []}").replace('\'', '"');
        QTest::newRow("streams not a list") << record("{}");
        QTest::newRow("no owner") << record("[{'index': 7, 'app': 'A'}]");
        QTest::newRow("negative index") << record("[{'index': -1, 'pid': 42, 'app': 'A'}]");
        QTest::newRow("index too large") << record("[{'index': 4294967296, 'pid': 42, 'app': 'A'}]");
        QTest::newRow("fractional index") << record("[{'index': 7.5, 'pid': 42, 'app': 'A'}]");
        QTest::newRow("name not text") << record("[{'index': 7, 'pid': 42, 'app': 3}]");
        QTest::newRow("too large") << record("[{'index': 7, 'pid': 42, 'app': '" + QByteArray(70000, 'x') +
                                             "'}]");
    }

    void unreadableRecordsAreIgnored() {
        QFETCH(QByteArray, contents);
        writeRecord(contents);
        auto script = std::make_shared<MuteScript>();
        script->streams = {{7, 42, "A", true}};
        auto previous = qInstallMessageHandler(collect);
        g_lines.clear();
        {
            MediaControlService service(scripted(script));
            service.restoreLeftoverMutes();
            service.flush();
        }
        qInstallMessageHandler(previous);
        QVERIFY(script->changes.isEmpty());
        QVERIFY(!QFile::exists(MutedStreamsRecord().path()));
        QCOMPARE(g_lines.size(), 1);
        QVERIFY2(g_lines[0].startsWith("Ignoring an unreadable record of muted streams: "),
                 qPrintable(g_lines[0]));
    }

    // The recordings of this process go on the way out; what an earlier run left is swept at start, and
    // only that: newer recordings and other files of the runtime folder stay.
    void recordingFilesAreDeletedOnTheWayOutAndLeftoversSwept() {
        QTemporaryDir folder;
        const auto make = [&](const QString& name, const QDateTime& written) {
            const QString path = folder.filePath(name);
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write("RIFF");
            file.flush(); // before the time is set: a later write would set it again
            file.setFileTime(written, QFileDevice::FileModificationTime);
            return path;
        };
        const QDateTime start = QDateTime::currentDateTimeUtc();
        const QString ours = make(QStringLiteral("quillvane-1.wav"), start.addSecs(1));
        const QString settled = make(QStringLiteral("quillvane-2.wav"), start.addSecs(1));
        const QString retryCopy = make(QStringLiteral("last-recording.wav"), start.addSecs(1));
        make(QStringLiteral("quillvane-old.wav"), start.addSecs(-60));
        make(QStringLiteral("quillvane-runtime.log"), start.addSecs(-60));
        make(QStringLiteral("other-old.wav"), start.addSecs(-60));

        QCOMPARE(RecordingFiles::sweepLeftovers(folder.path(), start), 1);
        const auto names = [&] { return QDir(folder.path()).entryList(QDir::Files, QDir::Name); };
        QCOMPARE(names(), QStringList({"last-recording.wav", "other-old.wav", "quillvane-1.wav",
                                       "quillvane-2.wav", "quillvane-runtime.log"}));

        for (const QString& path : {ours, settled, retryCopy})
            RecordingFiles::adopt(path);
        QVERIFY(RecordingFiles::remove(settled)); // deleted by its taker, then forgotten
        QVERIFY(RecordingFiles::remove(settled)); // already gone: nothing to do
        QCOMPARE(RecordingFiles::removeAll(), 2);
        QCOMPARE(names(), QStringList({"other-old.wav", "quillvane-runtime.log"}));
        QCOMPARE(RecordingFiles::removeAll(), 0); // each file goes once
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAudioUnits, QApplication)
#include "tst_audio_units.moc"
