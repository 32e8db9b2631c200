#pragma once

#include <QString>

#include <memory>
#include <optional>

// The sound server's side of the speakers' mute switch: which output is the default, and reading and
// setting an output's mute. Ids are the server's device names. One instance belongs to one thread; each
// call waits, for a bounded time, for the server's answer on that thread.
class OutputMuteControl {
public:
    virtual ~OutputMuteControl() = default;

    // The default output's id; none when the sound server does not answer.
    virtual std::optional<QString> defaultOutputId() = 0;
    // Whether the output `id` is muted; none when it cannot be read.
    virtual std::optional<bool> isMuted(const QString& id) = 0;
    // Mutes or unmutes the output `id`; false on failure.
    virtual bool setMuted(const QString& id, bool muted) = 0;
    // The server's text for the last failure.
    virtual QString lastErrorText() const = 0;

    // The desktop's (PulseAudio, or PipeWire's PulseAudio service); it connects on first use.
    static std::unique_ptr<OutputMuteControl> open();
};
