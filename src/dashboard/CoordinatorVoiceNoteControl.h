#pragma once

#include "VoiceNoteControl.h"

class AudioCaptureService;
class DictationCoordinator;

// The notes page's voice-note control over the real coordinator and the recorder it drives. Both must
// outlive this object.
class CoordinatorVoiceNoteControl : public VoiceNoteControl {
    Q_OBJECT

public:
    CoordinatorVoiceNoteControl(DictationCoordinator& coordinator, AudioCaptureService& recorder,
                                QObject* parent = nullptr);

    bool recorderIsRecording() const override;
    RecordingMode activeMode() const override;
    std::optional<QString> lastRecordingSummary() const override;
    QCoro::Task<> startRecording(RecordingMode mode, OutputMode outputMode) override;
    QCoro::Task<> stopRecording() override;

private:
    DictationCoordinator& m_coordinator;
    AudioCaptureService& m_recorder;
};
