#include "CoordinatorVoiceNoteControl.h"

#include "DictationCoordinator.h"

CoordinatorVoiceNoteControl::CoordinatorVoiceNoteControl(DictationCoordinator& coordinator, QObject* parent)
    : VoiceNoteControl(parent), m_coordinator(coordinator) {
    for (auto signal : {&DictationCoordinator::statusTextChanged, &DictationCoordinator::activeModeChanged,
                        &DictationCoordinator::lastRecordingSummaryChanged,
                        &DictationCoordinator::canRetryLastSubmissionChanged}) {
        connect(&coordinator, signal, this, &VoiceNoteControl::changed);
    }
}

bool CoordinatorVoiceNoteControl::recorderIsRecording() const {
    return m_coordinator.services().recorder.isRecording();
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
