// Proves the Secret Service of the test session (gnome-keyring on the session bus) stores, finds and
// deletes items through libsecret, keyed by the service and account attributes.

// Before any Qt header: GLib's headers use `signals` as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include <QTest>

namespace {
const SecretSchema kSchema = {
    "app.quillvane.desktop.test.Password",
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};
constexpr const char* kService = "app.quillvane.desktop.test";
constexpr const char* kAccount = "proof";
constexpr const char* kOtherAccount = "proof-other";

// Each call returns an error text instead of throwing, so a missing service fails the test with its reason.
struct Result {
    QString error;
    bool ok() const { return error.isEmpty(); }
};

QString takeError(GError* error) {
    if (!error)
        return {};
    QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text.isEmpty() ? QStringLiteral("unknown error") : text;
}

Result store(const char* account, const QByteArray& value) {
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(
        &kSchema, SECRET_COLLECTION_DEFAULT, "Quillvane test item", value.constData(), nullptr, &error,
        "service", kService, "account", account, nullptr);
    QString text = takeError(error);
    if (text.isEmpty() && !stored)
        text = QStringLiteral("store reported failure");
    return {text};
}

// The stored value, or "<absent>", or "<error: ...>": one string that QCOMPARE can show on failure.
const QString kAbsent = QStringLiteral("<absent>");
QString lookup(const char* account) {
    GError* error = nullptr;
    gchar* value = secret_password_lookup_sync(&kSchema, nullptr, &error, "service", kService, "account",
                                               account, nullptr);
    const QString errorText = takeError(error);
    if (!errorText.isEmpty())
        return "<error: " + errorText + ">";
    if (!value)
        return kAbsent;
    const QString result = QString::fromUtf8(value);
    secret_password_free(value);
    return result;
}

Result clear(const char* account, bool* removed) {
    GError* error = nullptr;
    *removed = secret_password_clear_sync(&kSchema, nullptr, &error, "service", kService, "account", account,
                                          nullptr);
    return {takeError(error)};
}
} // namespace

class TestSecretStore : public QObject {
    Q_OBJECT

    static void clearAll() {
        bool removed = false;
        for (const char* account : {kAccount, kOtherAccount}) {
            const Result r = clear(account, &removed);
            QVERIFY2(r.ok(), qPrintable("Secret Service unreachable: " + r.error));
        }
    }

private slots:
    void init() { clearAll(); }
    void cleanup() { clearAll(); }

    void storesReadsAndClearsAnItem() {
        const QString token = QStringLiteral("tok-\u00e9\u20ac-123"); // UTF-8 survives the round trip
        Result r = store(kAccount, token.toUtf8());
        QVERIFY2(r.ok(), qPrintable(r.error));

        QCOMPARE(lookup(kAccount), token);
        QCOMPARE(lookup(kOtherAccount), kAbsent); // the account attribute takes part in the match

        bool removed = false;
        r = clear(kAccount, &removed);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QVERIFY(removed);
        QCOMPARE(lookup(kAccount), kAbsent);

        r = clear(kAccount, &removed);
        QVERIFY2(r.ok(), qPrintable(r.error));
        QVERIFY(!removed); // nothing left to remove
    }

    void storingAgainReplacesTheItem() {
        QVERIFY(store(kAccount, "first").ok());
        QVERIFY(store(kOtherAccount, "other").ok());
        QVERIFY(store(kAccount, "second").ok());

        QCOMPARE(lookup(kAccount), QStringLiteral("second"));
        QCOMPARE(lookup(kOtherAccount), QStringLiteral("other"));

        // One clear removes the only item of the account: no stale first value resurfaces.
        bool removed = false;
        QVERIFY(clear(kAccount, &removed).ok());
        QVERIFY(removed);
        QCOMPARE(lookup(kAccount), kAbsent);
    }
};

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secret_store.moc"
