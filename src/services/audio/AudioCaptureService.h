#pragma once

#include "RecordedAudio.h"
#include "Scheduler.h"
#include "UserFacingError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QtMultimedia/qaudio.h>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class AudioInputSystem;
class QAudioSource;
class QIODevice;
class WavFileWriter;
class AudioCaptureSink;

// The recorder's failures; the message is the sentence shown to the user.
class AudioCaptureError : public UserFacingError {
public:
    enum class Kind {
        recorderInitializationFailed,
        microphonePermissionDenied,
        recorderUnavailable,
        noRecordingURL,
        recordingInterrupted
    };

    static AudioCaptureError recorderInitializationFailed(const QString& description);
    static AudioCaptureError microphonePermissionDenied();
    // The microphone cannot be used because the audio server does not answer, or lists no input
    // (kind microphonePermissionDenied: there is no consent to give on Linux, the input is what is missing).
    static AudioCaptureError audioServerUnavailable();
    static AudioCaptureError noInputDevice();
    static AudioCaptureError recorderUnavailable();
    // A start while a recording runs (kind recorderUnavailable).
    static AudioCaptureError alreadyRecording();
    static AudioCaptureError noRecordingURL();
    // The recording broke off before the stop: the microphone stopped delivering sound, or the samples
    // could not be written (`reason`, the system's words). `cutAt` is the length kept, in seconds.
    static AudioCaptureError microphoneStopped(double cutAt, const QString& reason);
    static AudioCaptureError recordingNotWritten(double cutAt, const QString& reason);

    Kind kind() const { return m_kind; }
    const QString& description() const { return m_description; } // payload of recorderInitializationFailed

private:
    AudioCaptureError(Kind kind, QString message, QString description = {})
        : UserFacingError(std::move(message)), m_kind(kind), m_description(std::move(description)) {}
    Kind m_kind;
    QString m_description;
};

// Records the default input (the PulseAudio default source) into a temporary WAV file of 16 kHz, mono,
// 16-bit PCM in the private runtime folder, between `startRecording()` and `stopRecording()`, and
// publishes the recording state, the elapsed time and the input level (refreshed every 0.1 s).
// Main thread only. The service never deletes its files: the caller deletes each recording it received.
class AudioCaptureService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(double elapsedDuration READ elapsedDuration NOTIFY elapsedDurationChanged)
    Q_PROPERTY(float averagePower READ averagePower NOTIFY averagePowerChanged) // dBFS, -160 (silence) .. 0

public:
    static constexpr int kSampleRate = 16000;
    static constexpr float kSilenceDb = -160.0f;

    explicit AudioCaptureService(std::shared_ptr<AudioInputSystem> inputs, QObject* parent = nullptr);
    ~AudioCaptureService() override;

    // Asks for microphone access (granted when the audio server answers and lists an input) and starts
    // a recording into a new file. Throws AudioCaptureError: microphonePermissionDenied,
    // recorderInitializationFailed, or recorderUnavailable (also when a recording is already running;
    // the running recording is kept).
    QCoro::Task<void> startRecording();

    // Ends the running recording and returns its file and duration. Throws noRecordingURL when no
    // recording is running, and recordingInterrupted when the recording broke off on the way (the
    // microphone stopped, or its file could not be written): its file is deleted then, as a cut recording
    // must not pass for the user's whole dictation.
    RecordedAudio stopRecording();

    bool isRecording() const { return m_isRecording; }
    double elapsedDuration() const { return m_elapsedDuration; }
    float averagePower() const { return m_averagePower; }

    // Frames (16-bit samples) written to the running recording's file so far; 0 when idle.
    qint64 framesWritten() const;

    // Average power of 16-bit samples in dBFS (RMS relative to full scale), clamped to -160..0;
    // no samples read as -160.
    static float averagePowerDbfs(const qint16* samples, qsizetype count);
    static float averagePowerDbfs(double sumOfSquares, qint64 count);

signals:
    void isRecordingChanged(bool isRecording);
    void elapsedDurationChanged(double elapsedDuration);
    void averagePowerChanged(float averagePower);
    // The running recording broke off (`message`: what happened and where it was cut); the stop throws it.
    void recordingInterrupted(const QString& message);

private:
    friend class AudioCaptureSink;

    void startMeterTimer();
    void meterTick();
    void consumeAudio(const char* data, qint64 size); // samples delivered by the audio source
    void sourceStateChanged(QAudio::State state);
    void checkForStall(double now);
    void checkInputPresent();
    // Notes the first failure of the running recording (later ones change nothing).
    void recordingBrokeOff(const AudioCaptureError& error, const QString& logLine);
    void releaseRecorder();
    void setRecording(bool value);
    void setElapsedDuration(double value);
    void setAveragePower(float value);

    bool m_isRecording = false;
    double m_elapsedDuration = 0;
    float m_averagePower = kSilenceDb;

    std::unique_ptr<QAudioSource> m_source;
    std::unique_ptr<AudioCaptureSink> m_sink;
    std::unique_ptr<WavFileWriter> m_writer;
    TimerHandle m_timer;
    std::optional<double> m_recordingStartedAt; // Clock monotonic seconds
    QUrl m_currentOutputURL;
    bool m_starting = false;
    std::shared_ptr<AudioInputSystem> m_inputs;

    // The audio source delivers samples every 20 ms or so: a much longer silence of the stream (not of the
    // room) means it is gone. A new stream may take a while to start on a loaded machine, so the first
    // samples are given longer. Ticks further apart than kMaximumTickGap mean a busy main thread instead.
    static constexpr double kLongestGapBetweenSamples = 2.0; // seconds
    static constexpr double kLongestWaitForFirstSamples = 5.0;
    static constexpr double kMaximumTickGap = 0.3;
    std::optional<AudioCaptureError> m_interruption; // why the running recording broke off
    QString m_inputId;                               // the input the running recording listens to
    std::optional<double> m_lastSamplesAt;           // Clock monotonic seconds of the last tick with samples
    std::optional<double> m_lastTickAt;
    QByteArray m_pendingByte; // an odd byte left over between reads
    double m_tickSumOfSquares = 0;
    qint64 m_tickSamples = 0;
};
