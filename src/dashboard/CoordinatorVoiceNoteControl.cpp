#include "CoordinatorVoiceNoteControl.h"

#include "AudioCaptureService.h"
#include "DictationCoordinator.h"

CoordinatorVoiceNoteControl::CoordinatorVoiceNoteControl(DictationCoordinator& coordinator,
                                                         AudioCaptureService& recorder, QObject* parent)
    : VoiceNoteControl(parent), m_coordinator(coordinator), m_recorder(recorder) {
    connect(&recorder, &AudioCaptureService::isRecordingChanged, this, &VoiceNoteControl::changed);
    connect(&coordinator, &DictationCoordinator::activeModeChanged, this, &VoiceNoteControl::changed);
    connect(&coordinator, &DictationCoordinator::lastRecordingSummaryChanged, this,
            &VoiceNoteControl::changed);
}

bool CoordinatorVoiceNoteControl::recorderIsRecording() const {
    return m_recorder.isRecording();
}

RecordingMode CoordinatorVoiceNoteControl::activeMode() const {
    return m_coordinator.activeMode();
}

std::optional<QString> CoordinatorVoiceNoteControl::lastRecordingSummary() const {
    return m_coordinator.lastRecordingSummary();
}

QCoro::Task<> CoordinatorVoiceNoteControl::startRecording(RecordingMode mode, OutputMode outputMode) {
    return m_coordinator.startRecording(mode, outputMode);
}

QCoro::Task<> CoordinatorVoiceNoteControl::stopRecording() {
    return m_coordinator.stopRecording();
}
