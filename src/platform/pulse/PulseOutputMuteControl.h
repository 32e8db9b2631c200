#pragma once

#include "OutputMuteControl.h"
#include "PulseClient.h"

// The outputs' mute on PulseAudio: the default sink and the sinks' mute switches, through one PulseClient.
class PulseOutputMuteControl : public OutputMuteControl {
public:
    std::optional<QString> defaultOutputId() override { return m_pulse.defaultSinkName(); }
    std::optional<bool> isMuted(const QString& id) override { return m_pulse.sinkMute(id); }
    bool setMuted(const QString& id, bool muted) override { return m_pulse.setSinkMute(id, muted); }
    QString lastErrorText() const override { return m_pulse.lastErrorText(); }

private:
    PulseClient m_pulse;
};
