#pragma once

#include "OutputMuteControl.h"
#include "PulseClient.h"

// The applications' mute switches on PulseAudio: the sink inputs and their mute, through one PulseClient.
class PulseOutputMuteControl : public OutputMuteControl {
public:
    std::optional<QList<PlaybackStream>> playbackStreams() override { return m_pulse.sinkInputs(); }
    Result setStreamMuted(quint32 index, bool muted) override {
        return m_pulse.setSinkInputMute(index, muted);
    }
    QString lastErrorText() const override { return m_pulse.lastErrorText(); }

private:
    PulseClient m_pulse;
};
