// AudioInputDeviceStore against the test session's PulseAudio: the inputs are listed with the server's
// default first, selecting a microphone makes it the default source (and the recording follows it), and
// the failures leave everything as it was. The session's default source "virtualmic" is restored after
// every test.

#include "AudioCaptureService.h"
#include "AudioInputDeviceStore.h"
#include "AudioTestMain.h"
#include "AudioTestTools.h"
#include "RunTask.h"
#include "TestDesktop.h"
#include "WavWriter.h"

#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

using namespace audiotest;

namespace {
const QString kVirtualMic = QStringLiteral("virtualmic");
const QString kVirtualMicName = QStringLiteral("Virtual_microphone");
const QString kSecondMic = QStringLiteral("quillvane_test_second_mic");
const QString kSecondMicName = QStringLiteral("Another_microphone");

QString defaultSource() {
    return pactl({QStringLiteral("get-default-source")}).output;
}

const AudioInputDevice* find(const QList<AudioInputDevice>& devices, const QString& id) {
    for (const AudioInputDevice& device : devices)
        if (device.id == id)
            return &device;
    return nullptr;
}
} // namespace

class TestAudioDevices : public QObject {
    Q_OBJECT

    QString m_moduleIndex; // of the second microphone (a null source: it records silence)

private slots:
    void initTestCase() {
        QCOMPARE(defaultSource(), kVirtualMic);
        const CommandResult loaded = pactl(
            {QStringLiteral("load-module"), QStringLiteral("module-null-source"),
             QStringLiteral("source_name=") + kSecondMic, QStringLiteral("description=") + kSecondMicName});
        QVERIFY2(loaded.ok, qPrintable(loaded.errors));
        m_moduleIndex = loaded.output;
        QCOMPARE(defaultSource(), kVirtualMic);
    }

    void cleanup() {
        pactl({QStringLiteral("set-default-source"), kVirtualMic});
        QCOMPARE(defaultSource(), kVirtualMic);
    }

    void cleanupTestCase() {
        if (!m_moduleIndex.isEmpty())
            pactl({QStringLiteral("unload-module"), m_moduleIndex});
        QCOMPARE(defaultSource(), kVirtualMic);
    }

    void listsTheInputsWithTheDefaultFirst() {
        AudioInputDeviceStore store(testDesktop(PlatformServices::PulseAudio).audioInputs);
        QCOMPARE(store.statusText(), QStringLiteral("Using your computer's default microphone."));
        store.refresh(std::nullopt);
        const QList<AudioInputDevice> devices = store.devices();
        QVERIFY2(devices.size() >= 2, qPrintable(QString::number(devices.size())));
        QCOMPARE(devices.first(), (AudioInputDevice{kVirtualMic, kVirtualMicName, true}));
        const AudioInputDevice* second = find(devices, kSecondMic);
        QVERIFY(second);
        QCOMPARE(second->name, kSecondMicName);
        QVERIFY(!second->isDefault);
        for (const AudioInputDevice& device : devices)
            QVERIFY2(!device.id.endsWith(QLatin1String(".monitor")),
                     qPrintable(device.id)); // outputs' monitors
        QCOMPARE(store.statusText(),
                 QStringLiteral("Using your computer's default microphone: ") + kVirtualMicName);

        // A saved choice that no longer exists falls back to the default sentence.
        store.refresh(QStringLiteral("a-microphone-unplugged-long-ago"));
        QCOMPARE(store.statusText(),
                 QStringLiteral("Using your computer's default microphone: ") + kVirtualMicName);
        // A saved choice that exists is named as the selection.
        store.refresh(kSecondMic);
        QCOMPARE(store.statusText(), QStringLiteral("Selected microphone: ") + kSecondMicName);
    }

    void selectingAMicrophoneMakesItTheDefaultSource() {
        AudioInputDeviceStore store(testDesktop(PlatformServices::PulseAudio).audioInputs);
        store.refresh(std::nullopt);
        QSignalSpy devicesChanged(&store, &AudioInputDeviceStore::devicesChanged);

        store.selectDevice(kSecondMic);
        QCOMPARE(defaultSource(), kSecondMic);
        QCOMPARE(devicesChanged.count(), 1);
        QCOMPARE(store.devices().first(), (AudioInputDevice{kSecondMic, kSecondMicName, true}));
        QVERIFY(!find(store.devices(), kVirtualMic)->isDefault);
        QCOMPARE(store.statusText(), QStringLiteral("Selected microphone: ") + kSecondMicName);

        // The recorder follows the default source: the second microphone hears nothing of what the
        // virtual microphone is fed.
        QTemporaryDir dir;
        const QString tone = dir.filePath(QStringLiteral("tone.wav"));
        {
            QFile file(tone);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(testwav::monoPcm16Wav(testwav::sineTone(440, 1.0, 16000, 0.5), 16000));
        }
        AudioCaptureService recorder(testDesktop(PlatformServices::PulseAudio).audioInputs);
        runTask(recorder.startRecording());
        const CommandResult played =
            run(QStringLiteral("paplay"),
                {QStringLiteral("-d"), qEnvironmentVariable("QUILLVANE_TEST_MIC_SINK"), tone});
        QVERIFY2(played.ok, qPrintable(played.errors));
        const qint64 atEnd = recorder.framesWritten();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.framesWritten() >= atEnd + 8000, 20000);
        const RecordedAudio recording = recorder.stopRecording();
        const std::optional<Wav> wav = readWav(recording.url.toLocalFile());
        QFile::remove(recording.url.toLocalFile());
        QVERIFY(wav && !wav->samples.empty());
        QVERIFY2(!loudSpan(wav->samples, 100),
                 "the recording heard the virtual microphone, not the selected one");

        // Back to the session's microphone.
        store.selectDevice(kVirtualMic);
        QCOMPARE(defaultSource(), kVirtualMic);
        QCOMPARE(store.devices().first().id, kVirtualMic);
        QCOMPARE(store.statusText(), QStringLiteral("Selected microphone: ") + kVirtualMicName);
    }

    void noSelectionOnlyRefreshes() {
        AudioInputDeviceStore store(testDesktop(PlatformServices::PulseAudio).audioInputs);
        store.refresh(kSecondMic);
        store.selectDevice(QString());
        QCOMPARE(defaultSource(), kVirtualMic);
        QCOMPARE(store.statusText(),
                 QStringLiteral("Using your computer's default microphone: ") + kVirtualMicName);
        store.selectDevice(std::nullopt);
        QCOMPARE(defaultSource(), kVirtualMic);
    }

    void failedSelectionsChangeNothing() {
        AudioInputDeviceStore store(testDesktop(PlatformServices::PulseAudio).audioInputs);
        store.refresh(std::nullopt);
        const QList<AudioInputDevice> devices = store.devices();
        const QString status = store.statusText();

        try {
            store.selectDevice(QStringLiteral("no-such-microphone"));
            QFAIL("an unknown microphone was accepted");
        } catch (const AudioInputDeviceError& error) {
            QCOMPARE(error.kind(), AudioInputDeviceError::Kind::deviceLookupFailed);
            QCOMPARE(error.message(), QStringLiteral("Unable to find the selected microphone."));
        }

        // An output is found by the lookup, but the server refuses it as the default source.
        try {
            store.selectDevice(QStringLiteral("speakers"));
            QFAIL("an output was accepted as the default input");
        } catch (const AudioInputDeviceError& error) {
            QCOMPARE(error.kind(), AudioInputDeviceError::Kind::setDefaultFailed);
            QVERIFY(error.status() != 0);
            QCOMPARE(error.message(),
                     QStringLiteral("Unable to switch microphones (%1).").arg(error.status()));
        }
        QCOMPARE(defaultSource(), kVirtualMic);
        QCOMPARE(store.devices(), devices);
        QCOMPARE(store.statusText(), status);
    }
};

QUILLVANE_AUDIO_TEST_MAIN(TestAudioDevices, QApplication)
#include "tst_audio_devices.moc"
