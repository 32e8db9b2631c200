#include "PulseOutputMuteControl.h"

#include "PulseConnection.h"

PulseOutputMuteControl::PulseOutputMuteControl(std::shared_ptr<PulseConnection> pulse)
    : m_pulse(std::move(pulse)) {}

std::optional<QList<PlaybackStream>> PulseOutputMuteControl::playbackStreams() {
    return m_pulse->sinkInputs(&m_lastError);
}

OutputMuteControl::Result PulseOutputMuteControl::setStreamMuted(quint32 index, bool muted) {
    return m_pulse->setSinkInputMute(index, muted, &m_lastError);
}
