#include "PulseConnection.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <array>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstRetryPause = 250ms;
constexpr std::chrono::milliseconds kLongestRetryPause = 30s;

pa_usec_t microseconds(std::chrono::milliseconds duration) {
    return pa_usec_t(std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
}

PulseConnection::Device deviceOf(const char* name, const char* description, bool isMonitor) {
    return {QString::fromUtf8(name), description ? QString::fromUtf8(description) : QString(), isMonitor};
}

struct SuccessAnswer {
    bool ok = false;
    int error = 0;
};

void onSuccess(pa_context* context, int success, void* userdata) {
    auto* answer = static_cast<SuccessAnswer*>(userdata);
    answer->ok = success != 0;
    answer->error = success ? 0 : pa_context_errno(context);
}

struct SinkInputsAnswer {
    bool failed = false;
    QList<PlaybackStream> streams;
    QList<quint32> sinks; // the sink of each stream
};

void onSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SinkInputsAnswer*>(userdata);
    if (eol != 0) { // end of list (eol > 0) or a failure (eol < 0)
        answer->failed = eol < 0;
        return;
    }
    if (!info)
        return;
    PlaybackStream stream;
    stream.index = info->index;
    stream.muted = info->mute != 0;
    if (const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID)) {
        bool ok = false;
        const qint64 value = QByteArray(pid).trimmed().toLongLong(&ok);
        stream.ownerPid = ok && value > 0 ? value : 0;
    }
    if (const char* name = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME))
        stream.appName = QString::fromUtf8(name);
    answer->streams.append(stream);
    answer->sinks.append(info->sink);
}

struct DefaultSinkAnswer {
    std::optional<QString> name;
};

void onServerDefaults(pa_context*, const pa_server_info* info, void* userdata) {
    if (info && info->default_sink_name)
        static_cast<DefaultSinkAnswer*>(userdata)->name = QString::fromUtf8(info->default_sink_name);
}

void onSinkIndex(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    if (eol == 0 && info)
        *static_cast<std::optional<quint32>*>(userdata) = info->index;
}

struct OperationTimeout {
    pa_threaded_mainloop* loop;
    bool fired = false;
};

} // namespace

PulseConnection::PulseConnection(QByteArray server, std::chrono::milliseconds timeout)
    : m_server(std::move(server)), m_timeout(timeout) {
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        publishDown(QStringLiteral("Could not create the PulseAudio main loop"));
        return;
    }
    pa_threaded_mainloop_set_name(m_loop, "pulse-connection");
    m_api = pa_threaded_mainloop_get_api(m_loop);
    startAttempt(); // no thread runs the loop yet: no lock needed
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        dropContext();
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        publishDown(QStringLiteral("Could not start the PulseAudio main loop"));
    }
}

PulseConnection::~PulseConnection() {
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    m_closing = true;
    if (m_retryTimer)
        m_api->time_free(m_retryTimer);
    if (m_connectTimer)
        m_api->time_free(m_connectTimer);
    m_retryTimer = m_connectTimer = nullptr;
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    if (m_context)
        pa_context_unref(m_context);
    pa_threaded_mainloop_free(m_loop);
}

std::shared_ptr<PulseConnection> PulseConnection::shared() {
    static auto* mutex = new std::mutex;
    static auto* current = new std::weak_ptr<PulseConnection>;
    std::lock_guard lock(*mutex);
    std::shared_ptr<PulseConnection> connection = current->lock();
    if (!connection) {
        connection = std::make_shared<PulseConnection>();
        *current = connection;
    }
    return connection;
}

// --- The loop thread's side -----------------------------------------------------------------------------

void PulseConnection::dropContext() {
    if (!m_context)
        return;
    if (m_connectTimer) {
        m_api->time_free(m_connectTimer);
        m_connectTimer = nullptr;
    }
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void PulseConnection::startAttempt() {
    if (m_retryTimer) {
        m_api->time_free(m_retryTimer);
        m_retryTimer = nullptr;
    }
    dropContext();
    {
        std::lock_guard lock(m_mutex);
        m_snapshot = Snapshot{};
    }
    m_context = pa_context_new(m_api, "Quillvane");
    if (!m_context) {
        publishDown(QStringLiteral("Could not create the PulseAudio context"));
        return;
    }
    pa_context_set_state_callback(m_context, &PulseConnection::onContextState, this);
    if (pa_context_connect(m_context, m_server.isEmpty() ? nullptr : m_server.constData(),
                           PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        publishDown(contextErrorText(QStringLiteral("Could not connect to PulseAudio")));
        scheduleRetry();
        return;
    }
    // A server that accepts the connection and then says nothing is given up after the timeout.
    m_connectTimer = pa_context_rttime_new(m_context, pa_rtclock_now() + microseconds(m_timeout),
                                           &PulseConnection::onConnectTimeout, this);
}

void PulseConnection::scheduleRetry() {
    if (m_closing || !m_context)
        return;
    m_retryPause = std::clamp(m_retryPause * 2, kFirstRetryPause, kLongestRetryPause);
    if (m_retryTimer)
        m_api->time_free(m_retryTimer);
    m_retryTimer = pa_context_rttime_new(m_context, pa_rtclock_now() + microseconds(m_retryPause),
                                         &PulseConnection::onRetry, this);
}

void PulseConnection::publishDown(const QString& why) {
    std::lock_guard lock(m_mutex);
    m_snapshot = Snapshot{};
    m_snapshot.phase = Phase::Down;
    m_snapshot.error = why;
    m_settled.notify_all();
}

void PulseConnection::onContextState(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    // Requests waiting for an answer look again (their operations end with the connection).
    pa_threaded_mainloop_signal(connection->m_loop, 0);
    if (context != connection->m_context || connection->m_closing)
        return;
    connection->onStateChanged();
}

void PulseConnection::onStateChanged() {
    const pa_context_state_t state = pa_context_get_state(m_context);
    if (state == PA_CONTEXT_READY) {
        m_retryPause = 0ms;
        onReady(); // the connect timer runs on until the first answers are in
        return;
    }
    if (PA_CONTEXT_IS_GOOD(state))
        return; // still connecting
    if (m_connectTimer) {
        m_api->time_free(m_connectTimer);
        m_connectTimer = nullptr;
    }
    bool wasReady;
    {
        std::lock_guard lock(m_mutex);
        wasReady = m_snapshot.phase == Phase::Ready;
    }
    publishDown(contextErrorText(wasReady ? QStringLiteral("Lost the connection to PulseAudio")
                                          : QStringLiteral("Could not connect to PulseAudio")));
    scheduleRetry();
}

void PulseConnection::onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                       void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    api->time_free(event);
    connection->m_connectTimer = nullptr;
    pa_context_set_state_callback(connection->m_context, nullptr, nullptr);
    pa_context_disconnect(connection->m_context);
    connection->publishDown(QStringLiteral("PulseAudio did not answer in time"));
    connection->scheduleRetry();
}

void PulseConnection::onRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    api->time_free(event);
    connection->m_retryTimer = nullptr;
    connection->startAttempt();
}

// Subscribes to the changes first, then reads the defaults and the lists: a change between the two is
// answered after the list and wins.
void PulseConnection::onReady() {
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
            static_cast<PulseConnection*>(self)->onEvent(unsigned(type), index);
        },
        this);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE |
                                             PA_SUBSCRIPTION_MASK_SINK);
    std::array<pa_operation*, 4> operations{
        pa_context_subscribe(m_context, mask, nullptr, nullptr),
        pa_context_get_server_info(
            m_context,
            [](pa_context* context, const pa_server_info* info, void* self) {
                onServerInfo(context, info, self);
                static_cast<PulseConnection*>(self)->initialAnswerIn();
            },
            this),
        pa_context_get_source_info_list(
            m_context,
            [](pa_context* context, const pa_source_info* info, int eol, void* self) {
                onSourceInfo(context, info, eol, self);
                if (eol != 0)
                    static_cast<PulseConnection*>(self)->initialAnswerIn();
            },
            this),
        pa_context_get_sink_info_list(
            m_context,
            [](pa_context* context, const pa_sink_info* info, int eol, void* self) {
                onSinkInfo(context, info, eol, self);
                if (eol != 0)
                    static_cast<PulseConnection*>(self)->initialAnswerIn();
            },
            this),
    };
    m_initialAnswersPending = 3;
    for (pa_operation* operation : operations) {
        if (!operation) {
            // The connection broke meanwhile: its state callback takes it from here.
            continue;
        }
        pa_operation_unref(operation);
    }
}

void PulseConnection::initialAnswerIn() {
    if (--m_initialAnswersPending > 0)
        return;
    if (m_connectTimer) {
        m_api->time_free(m_connectTimer);
        m_connectTimer = nullptr;
    }
    std::lock_guard lock(m_mutex);
    m_snapshot.phase = Phase::Ready;
    m_snapshot.error.clear();
    m_settled.notify_all();
}

void PulseConnection::onEvent(unsigned type, quint32 index) {
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    pa_operation* operation = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        operation = pa_context_get_server_info(m_context, &PulseConnection::onServerInfo, this);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE || facility == PA_SUBSCRIPTION_EVENT_SINK) {
        const bool source = facility == PA_SUBSCRIPTION_EVENT_SOURCE;
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            std::lock_guard lock(m_mutex);
            (source ? m_snapshot.sources : m_snapshot.sinks).erase(index);
            return;
        }
        operation =
            source
                ? pa_context_get_source_info_by_index(m_context, index, &PulseConnection::onSourceInfo, this)
                : pa_context_get_sink_info_by_index(m_context, index, &PulseConnection::onSinkInfo, this);
    }
    if (operation)
        pa_operation_unref(operation);
}

void PulseConnection::onServerInfo(pa_context*, const pa_server_info* info, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (!info)
        return;
    std::lock_guard lock(connection->m_mutex);
    connection->m_snapshot.defaultSource =
        info->default_source_name ? QString::fromUtf8(info->default_source_name) : QString();
    connection->m_snapshot.defaultSink =
        info->default_sink_name ? QString::fromUtf8(info->default_sink_name) : QString();
}

// eol < 0: the source ended before the answer (its removal comes as an event of its own).
void PulseConnection::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
    if (eol != 0 || !info)
        return;
    auto* connection = static_cast<PulseConnection*>(self);
    std::lock_guard lock(connection->m_mutex);
    connection->m_snapshot.sources[info->index] =
        deviceOf(info->name, info->description, info->monitor_of_sink != PA_INVALID_INDEX);
}

void PulseConnection::onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    if (eol != 0 || !info)
        return;
    auto* connection = static_cast<PulseConnection*>(self);
    std::lock_guard lock(connection->m_mutex);
    connection->m_snapshot.sinks[info->index] = deviceOf(info->name, info->description, false);
}

QString PulseConnection::contextErrorText(const QString& what) const {
    const int code = m_context ? pa_context_errno(m_context) : int(PA_ERR_CONNECTIONREFUSED);
    return what + QStringLiteral(": ") + QString::fromUtf8(pa_strerror(code));
}

// --- The readers' side ----------------------------------------------------------------------------------

bool PulseConnection::awaitReady() {
    std::unique_lock lock(m_mutex);
    if (m_snapshot.phase == Phase::Ready)
        return true;
    if (!m_loop || pa_threaded_mainloop_in_thread(m_loop))
        return false;
    if (m_snapshot.phase == Phase::Down) {
        // Try now rather than at the next retry: the server may be back.
        lock.unlock();
        pa_threaded_mainloop_lock(m_loop);
        bool down;
        {
            std::lock_guard check(m_mutex);
            down = m_snapshot.phase == Phase::Down;
        }
        if (down && !m_closing)
            startAttempt();
        pa_threaded_mainloop_unlock(m_loop);
        lock.lock();
    }
    m_settled.wait_for(lock, m_timeout, [this] { return m_snapshot.phase != Phase::Connecting; });
    return m_snapshot.phase == Phase::Ready;
}

bool PulseConnection::isConnected() {
    return awaitReady();
}

std::optional<QString> PulseConnection::defaultSourceName() {
    if (!awaitReady())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return m_snapshot.phase == Phase::Ready ? std::optional(m_snapshot.defaultSource) : std::nullopt;
}

std::optional<QString> PulseConnection::defaultSinkName() {
    if (!awaitReady())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return m_snapshot.phase == Phase::Ready ? std::optional(m_snapshot.defaultSink) : std::nullopt;
}

std::optional<QList<PulseConnection::Device>> PulseConnection::sources() {
    if (!awaitReady())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    if (m_snapshot.phase != Phase::Ready)
        return std::nullopt;
    QList<Device> devices;
    for (const auto& [index, device] : m_snapshot.sources)
        devices.append(device);
    return devices;
}

std::optional<QList<PulseConnection::Device>> PulseConnection::sinks() {
    if (!awaitReady())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    if (m_snapshot.phase != Phase::Ready)
        return std::nullopt;
    QList<Device> devices;
    for (const auto& [index, device] : m_snapshot.sinks)
        devices.append(device);
    return devices;
}

QString PulseConnection::connectionErrorText() {
    std::lock_guard lock(m_mutex);
    switch (m_snapshot.phase) {
    case Phase::Ready:
        return {};
    case Phase::Connecting:
        return QStringLiteral("PulseAudio did not answer in time");
    case Phase::Down:
        break;
    }
    return m_snapshot.error;
}

PulseConnection::Outcome PulseConnection::awaitOperation(pa_operation* operation, QString* error) {
    if (!operation) {
        *error = contextErrorText(QStringLiteral("PulseAudio refused the request"));
        return Outcome::Failed;
    }
    pa_operation_set_state_callback(
        operation,
        [](pa_operation*, void* loop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
        },
        m_loop);
    OperationTimeout timeout{m_loop};
    pa_time_event* timer = pa_context_rttime_new(
        m_context, pa_rtclock_now() + microseconds(m_timeout),
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
            auto* timeout = static_cast<OperationTimeout*>(userdata);
            timeout->fired = true;
            pa_threaded_mainloop_signal(timeout->loop, 0);
        },
        &timeout);
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !timeout.fired)
        pa_threaded_mainloop_wait(m_loop);
    if (timer)
        m_api->time_free(timer);
    const pa_operation_state_t state = pa_operation_get_state(operation);
    if (state == PA_OPERATION_RUNNING) {
        // No callback may see the caller's vanished answer record.
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        *error = QStringLiteral("PulseAudio did not answer in time");
        return Outcome::TimedOut;
    }
    pa_operation_unref(operation);
    if (state != PA_OPERATION_DONE) {
        *error = contextErrorText(QStringLiteral("PulseAudio request failed"));
        return Outcome::Failed;
    }
    return Outcome::Done;
}

namespace {
// Holds the loop's lock for a request; the context is usable only when it is ready.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

bool usable(pa_context* context) {
    return context && pa_context_get_state(context) == PA_CONTEXT_READY;
}
} // namespace

int PulseConnection::setDefaultSource(const QString& name, QString* error) {
    error->clear();
    if (!awaitReady() || pa_threaded_mainloop_in_thread(m_loop)) {
        *error = connectionErrorText();
        return PA_ERR_CONNECTIONREFUSED;
    }
    SuccessAnswer answer;
    {
        LoopLock lock(m_loop);
        if (!usable(m_context)) {
            *error = contextErrorText(QStringLiteral("Could not connect to PulseAudio"));
            return PA_ERR_CONNECTIONREFUSED;
        }
        const QByteArray wanted = name.toUtf8();
        const Outcome outcome = awaitOperation(
            pa_context_set_default_source(m_context, wanted.constData(), onSuccess, &answer), error);
        if (outcome == Outcome::TimedOut)
            return PA_ERR_TIMEOUT;
        if (outcome == Outcome::Failed)
            return std::max(1, pa_context_errno(m_context));
    }
    if (!answer.ok) {
        *error = QStringLiteral("Could not set the default source: ") +
                 QString::fromUtf8(pa_strerror(answer.error));
        return std::max(1, answer.error);
    }
    // The server's change event says the same a moment later; readers see it now.
    std::lock_guard lock(m_mutex);
    m_snapshot.defaultSource = name;
    return 0;
}

std::optional<QList<PlaybackStream>> PulseConnection::sinkInputs(QString* error) {
    error->clear();
    if (!awaitReady() || pa_threaded_mainloop_in_thread(m_loop)) {
        *error = connectionErrorText();
        return std::nullopt;
    }
    LoopLock lock(m_loop);
    if (!usable(m_context)) {
        *error = contextErrorText(QStringLiteral("Could not connect to PulseAudio"));
        return std::nullopt;
    }
    SinkInputsAnswer answer;
    if (!succeeded(pa_context_get_sink_input_info_list(m_context, onSinkInputInfo, &answer), error))
        return std::nullopt;
    if (answer.failed) {
        *error = contextErrorText(QStringLiteral("Could not list the playback streams"));
        return std::nullopt;
    }
    // Which streams play on the default output: a stream into another sink may be feeding a microphone.
    // Asked of the server with the list, not taken from the snapshot, so that both are of one moment.
    DefaultSinkAnswer defaultSink;
    if (!succeeded(pa_context_get_server_info(m_context, onServerDefaults, &defaultSink), error))
        return std::nullopt;
    if (!defaultSink.name || defaultSink.name->isEmpty()) {
        *error = QStringLiteral("PulseAudio names no default output");
        return std::nullopt;
    }
    std::optional<quint32> sinkIndex;
    const QByteArray sinkName = defaultSink.name->toUtf8();
    if (!succeeded(pa_context_get_sink_info_by_name(m_context, sinkName.constData(), onSinkIndex, &sinkIndex),
                   error))
        return std::nullopt;
    if (!sinkIndex) {
        *error = QStringLiteral("PulseAudio lists no default output");
        return std::nullopt;
    }
    for (qsizetype i = 0; i < answer.streams.size(); ++i)
        answer.streams[i].toDefaultOutput = answer.sinks[i] == *sinkIndex;
    return answer.streams;
}

OutputMuteControl::Result PulseConnection::setSinkInputMute(quint32 index, bool mute, QString* error) {
    using Result = OutputMuteControl::Result;
    error->clear();
    if (!awaitReady() || pa_threaded_mainloop_in_thread(m_loop)) {
        *error = connectionErrorText();
        return Result::Failed;
    }
    SuccessAnswer answer;
    {
        LoopLock lock(m_loop);
        if (!usable(m_context)) {
            *error = contextErrorText(QStringLiteral("Could not connect to PulseAudio"));
            return Result::Failed;
        }
        if (!succeeded(pa_context_set_sink_input_mute(m_context, index, mute ? 1 : 0, onSuccess, &answer),
                       error))
            return Result::Failed;
    }
    if (!answer.ok) {
        if (answer.error == PA_ERR_NOENTITY)
            return Result::NoSuchStream;
        *error = QStringLiteral("Could not set the stream's mute state: ") +
                 QString::fromUtf8(pa_strerror(answer.error));
        return Result::Failed;
    }
    return Result::Done;
}
