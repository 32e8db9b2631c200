// Before any Qt header: GLib's headers use `signals` as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "LibsecretBackend.h"

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

// A failure's status: the GError's code, never 0 (generic GIO and D-Bus failures have code 0, which
// would read as success), with the error's domain and text as the reason.
SecretBackend::Status failure(GError* error, const char* fallbackReason) {
    SecretBackend::Status status;
    if (error) {
        status.code = error->code != 0 ? error->code : -1;
        status.reason = QString::fromUtf8(g_quark_to_string(error->domain)) + QStringLiteral(": ") +
                        QString::fromUtf8(error->message);
        g_error_free(error);
    } else {
        status.code = -1;
        status.reason = QString::fromUtf8(fallbackReason);
    }
    return status;
}
} // namespace

SecretBackend::Status LibsecretBackend::replace(const QString& service, const QString& account,
                                                const QByteArray& data) {
    const QByteArray serviceText = service.toUtf8();
    const QByteArray accountText = account.toUtf8();
    const QByteArray label = (account + QStringLiteral(" (") + service + QLatin1Char(')')).toUtf8();
    SecretValue* value = secret_value_new(data.constData(), data.size(), "text/plain");
    GError* error = nullptr;
    const gboolean stored = secret_password_store_binary_sync(
        &kSchema, SECRET_COLLECTION_DEFAULT, label.constData(), value, nullptr, &error, "service",
        serviceText.constData(), "account", accountText.constData(), nullptr);
    secret_value_unref(value);
    if (error || !stored) {
        return failure(error, "the Secret Service did not store the item");
    }
    return Status::success();
}

SecretBackend::ReadResult LibsecretBackend::read(const QString& service, const QString& account) {
    const QByteArray serviceText = service.toUtf8();
    const QByteArray accountText = account.toUtf8();
    GError* error = nullptr;
    SecretValue* value =
        secret_password_lookup_binary_sync(&kSchema, nullptr, &error, "service", serviceText.constData(),
                                           "account", accountText.constData(), nullptr);
    if (error) {
        if (value) {
            secret_value_unref(value);
        }
        return {failure(error, nullptr), std::nullopt};
    }
    if (!value) {
        return {Status::success(), std::nullopt};
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    QByteArray data(bytes, static_cast<qsizetype>(length));
    secret_value_unref(value);
    return {Status::success(), std::move(data)};
}

SecretBackend::Status LibsecretBackend::remove(const QString& service, const QString& account) {
    const QByteArray serviceText = service.toUtf8();
    const QByteArray accountText = account.toUtf8();
    GError* error = nullptr;
    // FALSE without an error means there was nothing to remove, which counts as removed.
    secret_password_clear_sync(&kSchema, nullptr, &error, "service", serviceText.constData(), "account",
                               accountText.constData(), nullptr);
    if (error) {
        return failure(error, nullptr);
    }
    return Status::success();
}
