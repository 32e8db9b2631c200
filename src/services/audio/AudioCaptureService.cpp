#include "AudioCaptureService.h"

#include "AppLogger.h"
#include "AudioInputSystem.h"
#include "Clock.h"
#include "RecordingFiles.h"
#include "RuntimeDirectory.h"
#include "TextUtilities.h"
#include "WavFileWriter.h"

#include <QAudioFormat>
#include <QAudioSource>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>

using namespace std::chrono_literals;

// ---- errors
// ------------------------------------------------------------------------------------------------

AudioCaptureError AudioCaptureError::recorderInitializationFailed(const QString& description) {
    return AudioCaptureError(Kind::recorderInitializationFailed,
                             QStringLiteral("Audio recorder initialization failed: ") + description,
                             description);
}

AudioCaptureError AudioCaptureError::microphonePermissionDenied() {
    return AudioCaptureError(Kind::microphonePermissionDenied,
                             QStringLiteral("Microphone permission was denied."));
}

AudioCaptureError AudioCaptureError::audioServerUnavailable() {
    return AudioCaptureError(Kind::microphonePermissionDenied,
                             QStringLiteral("The audio server cannot be reached. Check that PulseAudio or "
                                            "PipeWire is running, then try again."));
}

AudioCaptureError AudioCaptureError::noInputDevice() {
    return AudioCaptureError(Kind::microphonePermissionDenied,
                             QStringLiteral("No microphone was found. Connect a microphone or choose an "
                                            "input in the sound settings."));
}

AudioCaptureError AudioCaptureError::alreadyRecording() {
    return AudioCaptureError(Kind::recorderUnavailable, QStringLiteral("A recording is already running."));
}

AudioCaptureError AudioCaptureError::recorderUnavailable() {
    return AudioCaptureError(Kind::recorderUnavailable,
                             QStringLiteral("Audio recorder could not be created."));
}

AudioCaptureError AudioCaptureError::noRecordingURL() {
    return AudioCaptureError(Kind::noRecordingURL, QStringLiteral("No recording file was created."));
}

namespace {
// "4 s": the length a broken-off recording kept, in whole seconds.
QString secondsText(double seconds) {
    return QString::number(std::max<qint64>(0, qRound64(seconds))) + QStringLiteral(" s");
}
} // namespace

AudioCaptureError AudioCaptureError::microphoneStopped(double cutAt, const QString& reason) {
    return AudioCaptureError(Kind::recordingInterrupted,
                             QStringLiteral("The microphone stopped; the recording was cut at ") +
                                 secondsText(cutAt) + QStringLiteral("."),
                             reason);
}

AudioCaptureError AudioCaptureError::recordingNotWritten(double cutAt, const QString& reason) {
    return AudioCaptureError(Kind::recordingInterrupted,
                             QStringLiteral("The recording could not be saved (") + reason +
                                 QStringLiteral("); it was cut at ") + secondsText(cutAt) +
                                 QStringLiteral("."),
                             reason);
}

// ---- meter math
// ----------------------------------------------------------------------------------------------

float AudioCaptureService::averagePowerDbfs(double sumOfSquares, qint64 count) {
    if (count <= 0 || !(sumOfSquares > 0))
        return kSilenceDb;
    constexpr double fullScale = 32768.0;
    const double meanSquare = sumOfSquares / double(count) / (fullScale * fullScale);
    const double db = 10.0 * std::log10(meanSquare);
    if (!std::isfinite(db))
        return kSilenceDb;
    return float(std::clamp(db, double(kSilenceDb), 0.0));
}

float AudioCaptureService::averagePowerDbfs(const qint16* samples, qsizetype count) {
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return averagePowerDbfs(sum, count);
}

// ---- service ----------------------------------------------------------------------------------------------

// Where the audio source writes the recorded samples (Qt reads the server's stream on the source's timer and
// writes everything that arrived, so a busy main thread delays samples without losing them). Every write is
// accepted: a refused one would stop the source.
class AudioCaptureSink : public QIODevice {
public:
    explicit AudioCaptureSink(AudioCaptureService& service) : m_service(service) {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        m_service.consumeAudio(data, size);
        return size;
    }

private:
    AudioCaptureService& m_service;
};

AudioCaptureService::AudioCaptureService(std::shared_ptr<AudioInputSystem> inputs, QObject* parent)
    : QObject(parent), m_inputs(std::move(inputs)) {}

AudioCaptureService::~AudioCaptureService() {
    m_timer.cancel();
    releaseRecorder();
}

qint64 AudioCaptureService::framesWritten() const {
    return m_writer ? m_writer->frames() : 0;
}

namespace {
// Linux has no microphone consent: access is there when the audio server answers and lists an input.
// Gives the id of the input recordings use (the server's default source); throws when there is none.
QString accessibleDefaultInput(AudioInputSystem& system) {
    const std::optional<QString> defaultId = system.defaultInputId();
    if (!defaultId) {
        AppLogger::error(
            QStringLiteral("Audio start refused: the audio server (PulseAudio) cannot be reached: ") +
            system.lastErrorText());
        throw AudioCaptureError::audioServerUnavailable();
    }
    const QList<AudioInputSystem::Input> inputs = system.inputs();
    if (inputs.isEmpty()) {
        AppLogger::error(QStringLiteral("Audio start refused: the audio server lists no input device"));
        throw AudioCaptureError::noInputDevice();
    }
    for (const AudioInputSystem::Input& input : inputs)
        if (input.id == *defaultId)
            return input.id;
    return inputs.first().id;
}

} // namespace

QCoro::Task<void> AudioCaptureService::startRecording() {
    AppLogger::info(QStringLiteral("Audio start requested"));
    if (m_isRecording || m_starting) {
        // A second start would orphan the running recording's file: keep the running one.
        AppLogger::error(QStringLiteral("Audio start refused: a recording is already running"));
        throw AudioCaptureError::alreadyRecording();
    }
    m_starting = true;
    struct StartingGuard {
        bool& flag;
        ~StartingGuard() { flag = false; }
    } guard{m_starting};

    const QString inputId = accessibleDefaultInput(*m_inputs);
    QAudioFormat format;
    format.setSampleRate(kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    std::unique_ptr<QAudioSource> source = m_inputs->openCapture(inputId, format);
    if (!source) {
        const QString description = QStringLiteral("The microphone is no longer available");
        AppLogger::error(QStringLiteral("Recorder init failed: the input vanished: ") + inputId);
        throw AudioCaptureError::recorderInitializationFailed(description);
    }

    QString folderError;
    const QString folder = RuntimeDirectory::path(&folderError);
    if (folder.isEmpty()) {
        const QString description =
            folderError.isEmpty() ? QStringLiteral("No private folder for the recording") : folderError;
        AppLogger::error(QStringLiteral("Recorder init failed: ") + description);
        throw AudioCaptureError::recorderInitializationFailed(description);
    }
    const QString path =
        QDir(folder).filePath(QStringLiteral("quillvane-") + Text::newUuidText() + QStringLiteral(".wav"));

    auto writer = std::make_unique<WavFileWriter>(kSampleRate, 1);
    if (!writer->open(path)) {
        AppLogger::error(QStringLiteral("Recorder init failed: ") + writer->errorText());
        throw AudioCaptureError::recorderInitializationFailed(writer->errorText());
    }
    RecordingFiles::adopt(path);

    // Small fragments: the first samples reach the file about 20 ms after the start.
    source->setBufferSize(kSampleRate * 2 / 50);
    auto sink = std::make_unique<AudioCaptureSink>(*this);
    sink->open(QIODevice::WriteOnly);
    m_writer = std::move(writer); // the source may deliver samples as soon as it starts
    m_pendingByte.clear();
    m_tickSumOfSquares = 0;
    m_tickSamples = 0;
    source->start(sink.get());
    if (source->error() != QAudio::NoError || source->state() == QAudio::StoppedState) {
        AppLogger::error(
            QStringLiteral("Audio input could not be started (QAudioSource on the default source)"));
        source.reset();
        m_writer.reset();
        RecordingFiles::remove(path); // never handed over: nobody else would delete it
        throw AudioCaptureError::recorderUnavailable();
    }

    m_source = std::move(source);
    m_sink = std::move(sink);
    m_interruption.reset();
    m_inputId = inputId;
    m_lastSamplesAt.reset();
    m_lastTickAt.reset();
    connect(m_source.get(), &QAudioSource::stateChanged, this, &AudioCaptureService::sourceStateChanged);

    m_currentOutputURL = QUrl::fromLocalFile(path);
    m_recordingStartedAt = Clock::current().monotonicSeconds();
    setElapsedDuration(0);
    setAveragePower(kSilenceDb);
    setRecording(true);

    AppLogger::info(QStringLiteral("Audio recording started -> ") + QFileInfo(path).fileName());
    startMeterTimer();
    co_return;
}

void AudioCaptureService::consumeAudio(const char* bytes, qint64 size) {
    if (!m_writer || size <= 0)
        return;
    QByteArray data;
    const char* start = bytes;
    qint64 length = size;
    if (!m_pendingByte.isEmpty()) {
        data = m_pendingByte + QByteArray(bytes, size);
        m_pendingByte.clear();
        start = data.constData();
        length = data.size();
    }
    const qint64 whole = length - length % 2;
    if (whole < length)
        m_pendingByte = QByteArray(start + whole, 1);
    if (whole == 0)
        return;

    const qint64 count = whole / 2;
    for (qint64 i = 0; i < count; ++i) {
        const qint16 sample = qFromLittleEndian<qint16>(start + 2 * i);
        m_tickSumOfSquares += double(sample) * double(sample);
    }
    m_tickSamples += count;

    if (m_interruption)
        return; // what follows a gap or a lost block would be spliced onto the part before it
    if (!m_writer->write(start, whole)) {
        const double kept = double(m_writer->frames()) / double(kSampleRate);
        recordingBrokeOff(AudioCaptureError::recordingNotWritten(kept, m_writer->errorText()),
                          QStringLiteral("Audio recording write failed: ") + m_writer->errorText());
    }
}

void AudioCaptureService::sourceStateChanged(QAudio::State state) {
    if (!m_source || !m_isRecording || state != QAudio::StoppedState)
        return;
    // Only stop() stops the source without an error, and it disconnects first: this stop came from the
    // audio server (restarted, or the input removed).
    const QAudio::Error error = m_source->error();
    const QString reason = error == QAudio::OpenError ? QStringLiteral("the input could not be opened")
                           : error == QAudio::IOError ? QStringLiteral("the audio server stopped the input")
                           : error == QAudio::FatalError ? QStringLiteral("the audio server is gone")
                                                         : QStringLiteral("the input stopped");
    const double kept = double(framesWritten()) / double(kSampleRate);
    recordingBrokeOff(AudioCaptureError::microphoneStopped(kept, reason),
                      QStringLiteral("Audio input stopped: ") + reason + QStringLiteral(" error=") +
                          QString::number(int(error)));
}

void AudioCaptureService::checkInputPresent() {
    // A removed input's stream is moved by the server to another source (a monitor of the speakers, as
    // often as not): the samples go on, but they are no longer the user's voice.
    const QList<AudioInputSystem::Input> inputs = m_inputs->inputs();
    if (std::any_of(inputs.begin(), inputs.end(),
                    [this](const auto& input) { return input.id == m_inputId; }))
        return;
    const double kept = double(framesWritten()) / double(kSampleRate);
    recordingBrokeOff(AudioCaptureError::microphoneStopped(kept, QStringLiteral("the input was removed")),
                      QStringLiteral("Audio input stopped: the input was removed: ") + m_inputId);
}

void AudioCaptureService::checkForStall(double now) {
    // The audio server dropped the stream (its input removed) without the source noticing: no samples come
    // any more. Only judged after a tick on time, so that a main thread that was busy (and let neither the
    // source nor this timer run) is not taken for a silent microphone.
    const bool onTime = m_lastTickAt && now - *m_lastTickAt < kMaximumTickGap;
    const double since = m_lastSamplesAt.value_or(m_recordingStartedAt.value_or(now));
    const double longest = m_lastSamplesAt ? kLongestGapBetweenSamples : kLongestWaitForFirstSamples;
    const bool sourceFailed = m_source->error() != QAudio::NoError;
    if (!sourceFailed && (!onTime || now - since < longest))
        return;
    const double kept = double(framesWritten()) / double(kSampleRate);
    const QString reason = sourceFailed ? QStringLiteral("the audio server stopped the input")
                                        : QStringLiteral("no sound arrived for ") +
                                              QString::number(now - since, 'f', 1) + QStringLiteral(" s");
    recordingBrokeOff(AudioCaptureError::microphoneStopped(kept, reason),
                      QStringLiteral("Audio input stopped: ") + reason + QStringLiteral(" error=") +
                          QString::number(int(m_source->error())));
}

void AudioCaptureService::recordingBrokeOff(const AudioCaptureError& error, const QString& logLine) {
    if (m_interruption)
        return;
    m_interruption = error;
    AppLogger::error(logLine + QStringLiteral(" kept_s=") +
                     QString::number(double(framesWritten()) / double(kSampleRate), 'f', 2));
    emit recordingInterrupted(error.message());
}

void AudioCaptureService::startMeterTimer() {
    m_timer.cancel();
    QPointer<AudioCaptureService> self(this);
    m_timer = Scheduler::current().repeating(100ms, [self] {
        if (self)
            self->meterTick();
    });
}

void AudioCaptureService::meterTick() {
    const double now = Clock::current().monotonicSeconds();
    if (m_source) {
        // A tick without new samples keeps the last level rather than flickering to silence.
        if (m_tickSamples > 0) {
            setAveragePower(averagePowerDbfs(m_tickSumOfSquares, m_tickSamples));
            m_lastSamplesAt = now;
        } else if (m_isRecording && !m_interruption) {
            checkForStall(now);
        }
        if (m_isRecording && !m_interruption)
            checkInputPresent();
        m_tickSumOfSquares = 0;
        m_tickSamples = 0;
    }
    m_lastTickAt = now;
    if (m_recordingStartedAt)
        setElapsedDuration(Clock::current().monotonicSeconds() - *m_recordingStartedAt);
}

void AudioCaptureService::releaseRecorder() {
    if (m_source) {
        m_source->disconnect(this);
        m_source->stop();
        m_source.reset();
    }
    m_sink.reset();
    m_pendingByte.clear();
    if (m_writer && m_writer->isOpen() && !m_writer->finish())
        AppLogger::error(QStringLiteral("Audio recording could not be finished: ") + m_writer->errorText());
}

RecordedAudio AudioCaptureService::stopRecording() {
    AppLogger::info(QStringLiteral("Audio stop requested"));
    m_timer.cancel();
    m_timer = {};
    releaseRecorder();
    const qint64 frames = m_writer ? m_writer->frames() : 0;
    m_writer.reset();
    setRecording(false);

    if (m_currentOutputURL.isEmpty())
        throw AudioCaptureError::noRecordingURL();
    if (const std::optional<AudioCaptureError> interruption = std::exchange(m_interruption, std::nullopt)) {
        RecordingFiles::remove(m_currentOutputURL.toLocalFile());
        m_currentOutputURL.clear();
        m_recordingStartedAt.reset();
        setElapsedDuration(0);
        AppLogger::error(QStringLiteral("Audio recording discarded: ") + interruption->message());
        throw *interruption;
    }

    // The file's true length: every frame written, at 16000 frames per second.
    const double duration = double(frames) / double(kSampleRate);
    const QUrl url = m_currentOutputURL;
    m_currentOutputURL.clear();
    m_recordingStartedAt.reset();
    setElapsedDuration(0);

    AppLogger::info(QStringLiteral("Audio recording stopped duration=") + QString::number(duration, 'f', 2) +
                    QStringLiteral("s file=") + QFileInfo(url.toLocalFile()).fileName());
    return RecordedAudio{url, duration};
}

void AudioCaptureService::setRecording(bool value) {
    if (m_isRecording == value)
        return;
    m_isRecording = value;
    emit isRecordingChanged(value);
}

void AudioCaptureService::setElapsedDuration(double value) {
    if (m_elapsedDuration == value)
        return;
    m_elapsedDuration = value;
    emit elapsedDurationChanged(value);
}

void AudioCaptureService::setAveragePower(float value) {
    if (m_averagePower == value)
        return;
    m_averagePower = value;
    emit averagePowerChanged(value);
}
