// Before any Qt header: GLib's headers use `signals` as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "LibsecretBackend.h"

#include "Scheduler.h"

#include <QAbstractEventDispatcher>

#include <memory>

namespace {
// Items are matched by the schema name too, so items of other programs with the same two attribute
// names are never touched.
const SecretSchema kSchema = {
    "app.quillvane.desktop.Secret",
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

// How often the main GLib context is iterated while a call is open, when Qt's event loop does not run it.
constexpr std::chrono::milliseconds kContextPollInterval{10};

// Runs the main GLib context from a timer while any call is open, unless Qt's event dispatcher is GLib's
// own (then the context runs with every turn of the event loop). Main thread only.
class MainContextPump {
public:
    static void callOpened() {
        if (s_openCalls++ > 0 || dispatcherRunsGLib()) {
            return;
        }
        s_timer = Scheduler::current().repeating(kContextPollInterval, [] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
        });
    }

    static void callClosed() {
        if (--s_openCalls == 0) {
            s_timer.cancel();
        }
    }

private:
    static bool dispatcherRunsGLib() {
        const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
    }

    static inline int s_openCalls = 0;
    static inline TimerHandle s_timer;
};

// One call in flight: the texts libsecret may read until it answers, its cancellable, its deadline and
// where its outcome goes. Deleted when libsecret has answered; never touches the backend object, which
// may be gone by then.
struct OpenCall {
    explicit OpenCall(std::chrono::milliseconds limit) : limit(limit) {
        MainContextPump::callOpened();
        deadline = Scheduler::current().singleShot(limit, [this] {
            timedOut = true;
            g_cancellable_cancel(cancellable); // libsecret answers with G_IO_ERROR_CANCELLED
        });
    }
    ~OpenCall() {
        deadline.cancel();
        g_object_unref(cancellable);
        MainContextPump::callClosed();
    }
    OpenCall(const OpenCall&) = delete;
    OpenCall& operator=(const OpenCall&) = delete;

    // The status of a finished call; takes `error`. A call cut by the deadline says so.
    SecretBackend::Status status(GError* error, const char* fallbackReason) const {
        SecretBackend::Status status;
        if (!error) {
            status.code = -1;
            status.reason = QString::fromUtf8(fallbackReason);
            return status;
        }
        if (timedOut && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            status.code = G_IO_ERROR_TIMED_OUT;
            status.reason = QStringLiteral("the Secret Service did not answer within %1 s")
                                .arg(static_cast<double>(limit.count()) / 1000.0);
        } else {
            // Generic GIO and D-Bus failures have code 0, which would read as success.
            status.code = error->code != 0 ? error->code : -1;
            status.reason = QString::fromUtf8(g_quark_to_string(error->domain)) + QStringLiteral(": ") +
                            QString::fromUtf8(error->message);
        }
        g_error_free(error);
        return status;
    }

    std::chrono::milliseconds limit;
    GCancellable* cancellable = g_cancellable_new();
    TimerHandle deadline;
    bool timedOut = false;
    QByteArray service;
    QByteArray account;
    QByteArray collection;
    QByteArray label;
    SecretBackend::StatusCallback statusDone;
    SecretBackend::ReadCallback readDone;
};

void stored(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OpenCall> call(static_cast<OpenCall*>(data));
    GError* error = nullptr;
    const gboolean ok = secret_password_store_finish(result, &error);
    const SecretBackend::Status status =
        error || !ok ? call->status(error, "the Secret Service did not store the item")
                     : SecretBackend::Status::success();
    const SecretBackend::StatusCallback done = std::move(call->statusDone);
    call.reset();
    done(status);
}

void lookedUp(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OpenCall> call(static_cast<OpenCall*>(data));
    GError* error = nullptr;
    SecretValue* value = secret_password_lookup_binary_finish(result, &error);
    SecretBackend::ReadResult read;
    if (error) {
        read.status = call->status(error, nullptr);
    } else if (value) {
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        read.data = QByteArray(bytes, static_cast<qsizetype>(length));
    }
    if (value) {
        secret_value_unref(value);
    }
    const SecretBackend::ReadCallback done = std::move(call->readDone);
    call.reset();
    done(std::move(read));
}

void cleared(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OpenCall> call(static_cast<OpenCall*>(data));
    GError* error = nullptr;
    // FALSE without an error means there was nothing to remove, which counts as removed.
    secret_password_clear_finish(result, &error);
    const SecretBackend::Status status =
        error ? call->status(error, nullptr) : SecretBackend::Status::success();
    const SecretBackend::StatusCallback done = std::move(call->statusDone);
    call.reset();
    done(status);
}
} // namespace

LibsecretBackend::LibsecretBackend(std::chrono::milliseconds deadline, QString collection)
    : m_deadline(deadline), m_collection(collection.toUtf8()) {}

void LibsecretBackend::replace(const QString& service, const QString& account, const QByteArray& data,
                               StatusCallback done) {
    auto* call = new OpenCall(m_deadline);
    call->service = service.toUtf8();
    call->account = account.toUtf8();
    call->collection = m_collection;
    call->label = (account + QStringLiteral(" (") + service + QLatin1Char(')')).toUtf8();
    call->statusDone = std::move(done);
    SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
    secret_password_store_binary(
        &kSchema, call->collection.isEmpty() ? SECRET_COLLECTION_DEFAULT : call->collection.constData(),
        call->label.constData(), value, call->cancellable, &stored, call, "service",
        call->service.constData(), "account", call->account.constData(), nullptr);
    secret_value_unref(value); // libsecret holds its own reference until it answers
}

void LibsecretBackend::read(const QString& service, const QString& account, ReadCallback done) {
    auto* call = new OpenCall(m_deadline);
    call->service = service.toUtf8();
    call->account = account.toUtf8();
    call->readDone = std::move(done);
    secret_password_lookup(&kSchema, call->cancellable, &lookedUp, call, "service", call->service.constData(),
                           "account", call->account.constData(), nullptr);
}

void LibsecretBackend::remove(const QString& service, const QString& account, StatusCallback done) {
    auto* call = new OpenCall(m_deadline);
    call->service = service.toUtf8();
    call->account = account.toUtf8();
    call->statusDone = std::move(done);
    secret_password_clear(&kSchema, call->cancellable, &cleared, call, "service", call->service.constData(),
                          "account", call->account.constData(), nullptr);
}
