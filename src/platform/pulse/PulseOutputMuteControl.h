#pragma once

#include "OutputMuteControl.h"

#include <memory>

class PulseConnection;

// The applications' mute switches on PulseAudio: the sink inputs and their mute, through the long-lived
// connection. Each call waits (bounded) for the server's answer on the calling thread.
class PulseOutputMuteControl : public OutputMuteControl {
public:
    explicit PulseOutputMuteControl(std::shared_ptr<PulseConnection> pulse);

    std::optional<QList<PlaybackStream>> playbackStreams() override;
    Result setStreamMuted(quint32 index, bool muted) override;
    QString lastErrorText() const override { return m_lastError; }

private:
    std::shared_ptr<PulseConnection> m_pulse;
    QString m_lastError;
};
