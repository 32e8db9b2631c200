#pragma once

#include "VoiceNoteControl.h"

class DictationCoordinator;

// The notes page's voice-note control over the real coordinator and the recorder it drives. The
// coordinator publishes a change (status, mode, summary or the retry flag) whenever its recorder starts
// or stops, so those signals are the page's cue to look again. The coordinator must outlive this object.
class CoordinatorVoiceNoteControl : public VoiceNoteControl {
    Q_OBJECT

public:
    explicit CoordinatorVoiceNoteControl(DictationCoordinator& coordinator, QObject* parent = nullptr);

    bool recorderIsRecording() const override;
    RecordingMode activeMode() const override;
    std::optional<QString> lastRecordingSummary() const override;
    QCoro::Task<> startRecording(RecordingMode mode, OutputMode outputMode) override;
    QCoro::Task<> stopRecording() override;

private:
    DictationCoordinator& m_coordinator;
};
