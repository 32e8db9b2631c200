#pragma once

#include "OutputMuteControl.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

struct pa_context;
struct pa_mainloop_api;
struct pa_operation;
struct pa_server_info;
struct pa_sink_info;
struct pa_source_info;
struct pa_threaded_mainloop;
struct pa_time_event;
struct timeval;

// One long-lived connection to the sound server (PulseAudio, or PipeWire's PulseAudio service), driven by
// a libpulse main loop on a thread of its own. It keeps what the rest of the application asks for at once
// up to date from the server's change events: the default source and sink and the lists of sources and
// sinks. Those are read from a snapshot that only that thread writes, so a reader never waits for the
// server while the connection stands. When the server goes away the connection is made again, at once
// when someone asks and otherwise after a growing pause; while connected and idle it causes no wake-ups.
//
// The requests that need the server's answer (listing and muting the playback streams, switching the
// default source) wait for it on the calling thread, for a bounded time; they belong on a worker thread,
// or on the main thread where the answer is needed at once and is quick (a user's pick) or at exit.
class PulseConnection {
public:
    struct Device {
        QString name; // the server's name: the id Qt's audio devices carry
        QString description;
        bool isMonitor = false; // a source that records what a sink plays
    };

    // `server` empty: the desktop's server (PULSE_SERVER, the session's socket). `timeout` bounds each
    // wait for the server: a connection attempt and a request.
    explicit PulseConnection(QByteArray server = {},
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // The desktop's connection, shared by everyone who holds it; made when nobody holds one.
    static std::shared_ptr<PulseConnection> shared();

    // Whether the server is reachable. When the connection is down, an attempt is made now and waited for
    // (bounded); otherwise the answer is immediate. So are the reads below, which give none while the
    // server cannot be reached.
    bool isConnected();
    std::optional<QString> defaultSourceName();
    std::optional<QString> defaultSinkName();
    std::optional<QList<Device>> sources(); // in the server's order
    std::optional<QList<Device>> sinks();
    // Why the connection is down; empty while it stands.
    QString connectionErrorText();

    // Makes the named source the server's default source: 0, else the PulseAudio error code (PA_ERR_*,
    // positive) with PulseAudio's text in `error`. The cached default follows at once.
    int setDefaultSource(const QString& name, QString* error);
    // Every sink input (applications' playback streams) with its owning process, application name and
    // mute, and whether it plays on the default sink; none when the list cannot be read (`error` says why).
    std::optional<QList<PlaybackStream>> sinkInputs(QString* error);
    // Mutes or unmutes the sink input `index`.
    OutputMuteControl::Result setSinkInputMute(quint32 index, bool mute, QString* error);

private:
    enum class Phase { Connecting, Ready, Down };
    struct Snapshot {
        Phase phase = Phase::Connecting;
        QString error;
        QString defaultSource, defaultSink;
        std::map<quint32, Device> sources, sinks; // by server index: the server's order
    };

    // On the loop thread (or under the loop's lock).
    void startAttempt();
    void dropContext();
    void scheduleRetry();
    void publishDown(const QString& why);
    void onStateChanged();
    void onReady();
    void initialAnswerIn();
    void onEvent(unsigned type, quint32 index);
    static void onContextState(pa_context* context, void* self);
    static void onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);
    static void onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval* when, void* self);
    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* self);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);

    // Waits (bounded) until the connection is ready, starting an attempt when it is down. Any thread but
    // the loop's; not under the loop's lock.
    bool awaitReady();
    enum class Outcome { Done, Failed, TimedOut };
    // Waits, under the loop's lock, until `operation` has finished (bounded); the reason in `error` when
    // it failed or took too long (then it is cancelled).
    Outcome awaitOperation(pa_operation* operation, QString* error);
    bool succeeded(pa_operation* operation, QString* error) {
        return awaitOperation(operation, error) == Outcome::Done;
    }
    QString contextErrorText(const QString& what) const;

    QByteArray m_server;
    std::chrono::milliseconds m_timeout;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_mainloop_api* m_api = nullptr;

    // Owned by the loop thread (touched elsewhere only under the loop's lock).
    pa_context* m_context = nullptr;
    pa_time_event* m_retryTimer = nullptr;
    pa_time_event* m_connectTimer = nullptr;
    std::chrono::milliseconds m_retryPause{0};
    int m_initialAnswersPending = 0;
    bool m_closing = false;

    // The snapshot readers see; written by the loop thread.
    std::mutex m_mutex;
    std::condition_variable m_settled; // the phase left Connecting
    Snapshot m_snapshot;
};
