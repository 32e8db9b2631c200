#pragma once

#include "OutputMuteControl.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

struct pa_context;
struct pa_mainloop;
struct pa_operation;

// A small synchronous PulseAudio client: each call sends one request and waits, for a bounded time, for
// the server's answer on a private pa_mainloop driven on the calling thread (no thread of its own, no Qt
// event loop). The connection is made on first use and made again after it failed.
// One instance belongs to one thread; calls block that thread for at most the timeout each.
class PulseClient {
public:
    explicit PulseClient(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Names of the server's default source and default sink; none when the server cannot be reached.
    std::optional<QString> defaultSourceName();
    std::optional<QString> defaultSinkName();

    // Makes the named source the server's default source. On failure returns the PulseAudio error code
    // (PA_ERR_*, positive); 0 on success.
    int setDefaultSource(const QString& sourceName);

    // Every sink input (applications' playback streams) with its owning process, application name and
    // mute; none when the list cannot be read.
    std::optional<QList<PlaybackStream>> sinkInputs();
    // Mutes or unmutes the sink input `index`.
    OutputMuteControl::Result setSinkInputMute(quint32 index, bool mute);

    // The error of the last failed call, as PulseAudio's text.
    QString lastErrorText() const { return m_lastError; }

private:
    bool connect();
    void disconnect();
    // The server's default source and sink names, in that order; none when they cannot be read.
    std::optional<std::pair<QString, QString>> serverDefaults();
    bool run(pa_operation* operation); // waits for the operation to finish; false on timeout or failure
    bool waitUntil(const std::function<bool()>& done);
    void fail(const QString& what);
    void failFromContext(const QString& what);

    std::chrono::milliseconds m_timeout;
    pa_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    QString m_lastError;
};
