#pragma once

#include "RecordedAudio.h"
#include "Scheduler.h"
#include "UserFacingError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
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
        noRecordingURL
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

    explicit AudioCaptureService(QObject* parent = nullptr);
    explicit AudioCaptureService(std::shared_ptr<AudioInputSystem> inputs, QObject* parent = nullptr);
    ~AudioCaptureService() override;

    // Asks for microphone access (granted when the audio server answers and lists an input) and starts
    // a recording into a new file. Throws AudioCaptureError: microphonePermissionDenied,
    // recorderInitializationFailed, or recorderUnavailable (also when a recording is already running;
    // the running recording is kept).
    QCoro::Task<void> startRecording();

    // Ends the running recording and returns its file and duration. Throws noRecordingURL when no
    // recording is running.
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

private:
    friend class AudioCaptureSink;

    void startMeterTimer();
    void meterTick();
    void consumeAudio(const char* data, qint64 size); // samples delivered by the audio source
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

    QByteArray m_pendingByte; // an odd byte left over between reads
    double m_tickSumOfSquares = 0;
    qint64 m_tickSamples = 0;
};
