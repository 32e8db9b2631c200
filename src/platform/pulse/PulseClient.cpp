#include "PulseClient.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>

#include <QByteArray>

#include <algorithm>

namespace {

struct ServerInfoAnswer {
    bool done = false;
    bool ok = false;
    QString defaultSource;
    QString defaultSink;
};

struct SuccessAnswer {
    bool done = false;
    bool ok = false;
    int error = 0;
};

struct SinkInputsAnswer {
    bool done = false;
    bool failed = false;
    QList<PlaybackStream> streams;
    QList<quint32> sinks; // the sink of each stream
};

struct SinkIndexAnswer {
    bool done = false;
    std::optional<quint32> index;
};

void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SinkIndexAnswer*>(userdata);
    if (eol != 0) {
        answer->done = true;
        return;
    }
    if (info)
        answer->index = info->index;
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* answer = static_cast<ServerInfoAnswer*>(userdata);
    if (info) {
        answer->ok = true;
        answer->defaultSource =
            info->default_source_name ? QString::fromUtf8(info->default_source_name) : QString();
        answer->defaultSink =
            info->default_sink_name ? QString::fromUtf8(info->default_sink_name) : QString();
    }
    answer->done = true;
}

void onSuccess(pa_context* context, int success, void* userdata) {
    auto* answer = static_cast<SuccessAnswer*>(userdata);
    answer->ok = success != 0;
    answer->error = success ? 0 : pa_context_errno(context);
    answer->done = true;
}

void onSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SinkInputsAnswer*>(userdata);
    if (eol != 0) { // end of list (eol > 0) or a failure (eol < 0)
        answer->failed = eol < 0;
        answer->done = true;
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

} // namespace

PulseClient::PulseClient(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

PulseClient::~PulseClient() {
    disconnect();
}

void PulseClient::fail(const QString& what) {
    m_lastError = what;
}

void PulseClient::failFromContext(const QString& what) {
    const int code = m_context ? pa_context_errno(m_context) : PA_ERR_CONNECTIONREFUSED;
    m_lastError = what + QStringLiteral(": ") + QString::fromUtf8(pa_strerror(code));
}

bool PulseClient::waitUntil(const std::function<bool()>& done) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + m_timeout;
    while (!done()) {
        const auto left = duration_cast<microseconds>(deadline - steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (pa_mainloop_prepare(m_mainloop, int(left.count())) < 0)
            return false;
        if (pa_mainloop_poll(m_mainloop) < 0)
            return false;
        if (pa_mainloop_dispatch(m_mainloop) < 0)
            return false;
    }
    return true;
}

bool PulseClient::connect() {
    m_lastError.clear();
    if (m_context) {
        // Take in what the server sent since the last call (a closed connection shows up here).
        while (pa_mainloop_iterate(m_mainloop, 0, nullptr) > 0) {
        }
        if (pa_context_get_state(m_context) == PA_CONTEXT_READY)
            return true;
    }
    disconnect();
    m_mainloop = pa_mainloop_new();
    if (!m_mainloop) {
        fail(QStringLiteral("Could not create the PulseAudio main loop"));
        return false;
    }
    m_context = pa_context_new(pa_mainloop_get_api(m_mainloop), "Quillvane");
    if (!m_context) {
        fail(QStringLiteral("Could not create the PulseAudio context"));
        disconnect();
        return false;
    }
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failFromContext(QStringLiteral("Could not connect to PulseAudio"));
        disconnect();
        return false;
    }
    const bool settled = waitUntil([this] {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled || pa_context_get_state(m_context) != PA_CONTEXT_READY) {
        if (settled)
            failFromContext(QStringLiteral("Could not connect to PulseAudio"));
        else
            fail(QStringLiteral("PulseAudio did not answer in time"));
        disconnect();
        return false;
    }
    return true;
}

void PulseClient::disconnect() {
    if (m_context) {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    if (m_mainloop) {
        pa_mainloop_free(m_mainloop);
        m_mainloop = nullptr;
    }
}

bool PulseClient::run(pa_operation* operation) {
    if (!operation) {
        failFromContext(QStringLiteral("PulseAudio refused the request"));
        return false;
    }
    const bool finished =
        waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (!finished) {
        // The answer may still come; make sure no callback sees the caller's vanished answer record, and
        // start over with a fresh connection next time.
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        fail(QStringLiteral("PulseAudio did not answer in time"));
        disconnect();
        return false;
    }
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    if (!done)
        failFromContext(QStringLiteral("PulseAudio request failed"));
    return done;
}

std::optional<std::pair<QString, QString>> PulseClient::serverDefaults() {
    if (!connect())
        return std::nullopt;
    ServerInfoAnswer answer;
    if (!run(pa_context_get_server_info(m_context, onServerInfo, &answer)) || !answer.ok) {
        if (m_lastError.isEmpty())
            fail(QStringLiteral("PulseAudio gave no server information"));
        return std::nullopt;
    }
    return std::pair(answer.defaultSource, answer.defaultSink);
}

std::optional<QString> PulseClient::defaultSourceName() {
    const auto defaults = serverDefaults();
    return defaults ? std::optional(defaults->first) : std::nullopt;
}

std::optional<QString> PulseClient::defaultSinkName() {
    const auto defaults = serverDefaults();
    return defaults ? std::optional(defaults->second) : std::nullopt;
}

int PulseClient::setDefaultSource(const QString& sourceName) {
    if (!connect())
        return PA_ERR_CONNECTIONREFUSED;
    SuccessAnswer answer;
    const QByteArray name = sourceName.toUtf8();
    if (!run(pa_context_set_default_source(m_context, name.constData(), onSuccess, &answer)))
        return m_context ? std::max(1, pa_context_errno(m_context)) : int(PA_ERR_TIMEOUT);
    if (!answer.ok) {
        m_lastError = QStringLiteral("Could not set the default source: ") +
                      QString::fromUtf8(pa_strerror(answer.error));
        return std::max(1, answer.error);
    }
    return 0;
}

std::optional<QList<PlaybackStream>> PulseClient::sinkInputs() {
    if (!connect())
        return std::nullopt;
    SinkInputsAnswer answer;
    if (!run(pa_context_get_sink_input_info_list(m_context, onSinkInputInfo, &answer)))
        return std::nullopt;
    if (answer.failed) {
        failFromContext(QStringLiteral("Could not list the playback streams"));
        return std::nullopt;
    }
    // Which streams play on the default output: a stream into another sink may be feeding a microphone.
    const std::optional<QString> defaultSink = defaultSinkName();
    SinkIndexAnswer sink;
    const QByteArray sinkName = defaultSink.value_or(QString()).toUtf8();
    if (!defaultSink || defaultSink->isEmpty() ||
        !run(pa_context_get_sink_info_by_name(m_context, sinkName.constData(), onSinkInfo, &sink)) ||
        !sink.index) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < answer.streams.size(); ++i) {
        answer.streams[i].toDefaultOutput = answer.sinks[i] == *sink.index;
    }
    return answer.streams;
}

OutputMuteControl::Result PulseClient::setSinkInputMute(quint32 index, bool mute) {
    using Result = OutputMuteControl::Result;
    if (!connect())
        return Result::Failed;
    SuccessAnswer answer;
    if (!run(pa_context_set_sink_input_mute(m_context, index, mute ? 1 : 0, onSuccess, &answer)))
        return Result::Failed;
    if (!answer.ok) {
        if (answer.error == PA_ERR_NOENTITY)
            return Result::NoSuchStream;
        m_lastError = QStringLiteral("Could not set the stream's mute state: ") +
                      QString::fromUtf8(pa_strerror(answer.error));
        return Result::Failed;
    }
    return Result::Done;
}
