// The secure store on the real Secret Service of the test session (gnome-keyring), under attributes
// of its own so that no real item is ever touched.
// Before any Qt header: GLib's headers use `signals` as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "LibsecretBackend.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kService = QStringLiteral("app.quillvane.desktop.tests");
const QString kAccount = QStringLiteral("session-store-test");

// Items carrying both attributes, whatever schema stored them.
const SecretSchema kAnySchema = {
    "app.quillvane.desktop.tests.Any",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

// The outcome of one call of the backend, waited for in the event loop.
SecretBackend::Status waitForStatus(const std::function<void(SecretBackend::StatusCallback)>& call) {
    std::optional<SecretBackend::Status> status;
    call([&status](const SecretBackend::Status& answer) { status = answer; });
    if (!QTest::qWaitFor([&status] { return status.has_value(); }, 60000)) {
        return {-1, QStringLiteral("no answer from the backend")};
    }
    return *status;
}

// The number of items of (kService, kAccount), or -1 with the error in `error`.
int itemCount(QString* error) {
    GError* gerror = nullptr;
    const QByteArray service = kService.toUtf8();
    const QByteArray account = kAccount.toUtf8();
    GList* items = secret_password_search_sync(&kAnySchema, SECRET_SEARCH_ALL, nullptr, &gerror, "service",
                                               service.constData(), "account", account.constData(), nullptr);
    if (gerror) {
        *error = QString::fromUtf8(gerror->message);
        g_error_free(gerror);
        return -1;
    }
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}
} // namespace

class TestSecureStoreKeyring : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;
    std::optional<RuntimeLogCapture> m_log; // installed once QTest has its own handler
    std::shared_ptr<LibsecretBackend> m_backend = std::make_shared<LibsecretBackend>();
    SecureStore m_store{m_backend, kService, kAccount};

    void removeTestItems() {
        const SecretBackend::Status status =
            waitForStatus([this](auto done) { m_backend->remove(kService, kAccount, std::move(done)); });
        QVERIFY2(status.ok(), qPrintable(QStringLiteral("Secret Service unreachable: status=%1 %2")
                                             .arg(status.code)
                                             .arg(status.reason)));
    }

    int count() {
        QString error;
        const int n = itemCount(&error);
        if (n < 0)
            qWarning("search failed: %s", qPrintable(error));
        return n;
    }

    static std::optional<QString> read(SecureStore& store) { return runTask(store.readSessionToken()); }

private slots:
    void initTestCase() {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_log.emplace();
    }

    void cleanupTestCase() { m_log.reset(); }

    void init() {
        removeTestItems();
        RuntimeLogCapture::clear();
    }

    void cleanup() { removeTestItems(); }

    void writingTwiceLeavesOneItem() {
        m_store.writeSessionToken("first-token");
        m_store.writeSessionToken("second-token");
        runTask(m_store.settled());
        QCOMPARE(count(), 1);
        QCOMPARE(read(m_store), std::optional<QString>("second-token"));
        QCOMPARE(RuntimeLogCapture::entries(),
                 (QStringList{"INFO Stored session token in the Secret Service",
                              "INFO Stored session token in the Secret Service",
                              "INFO Loaded session token from the Secret Service"}));
    }

    void tokensRoundTrip_data() {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QStringList>("readLines");
        const QStringList loaded{"INFO Loaded session token from the Secret Service"};
        QTest::newRow("ascii") << "sess_0123456789abcdef" << loaded;
        QTest::newRow("non-ascii") << QStringLiteral("t\u00e9k\u20ac-\U0001F600") << loaded;
        QTest::newRow("embedded NUL") << QString::fromUtf8("a\0b", 3) << loaded;
        QTest::newRow("empty") << QString("") << QStringList();
    }
    void tokensRoundTrip() {
        QFETCH(QString, token);
        QFETCH(QStringList, readLines);
        m_store.writeSessionToken(token);
        runTask(m_store.settled());
        RuntimeLogCapture::clear();
        SecureStore fresh(m_backend, kService, kAccount); // reads from the service, whatever m_store knows
        const std::optional<QString> loaded = read(fresh);
        QVERIFY(loaded);
        QCOMPARE(*loaded, token);
        QCOMPARE(RuntimeLogCapture::entries(), readLines);
    }

    void absentItemReadsSilentlyAndDeletes() {
        QCOMPARE(read(m_store), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
        m_store.deleteSessionToken();
        runTask(m_store.settled());
        QCOMPARE(RuntimeLogCapture::entries(),
                 QStringList{"INFO Cleared session token from the Secret Service"});
    }

    void deleteRemovesTheItem() {
        m_store.writeSessionToken("to-be-removed");
        m_store.deleteSessionToken();
        runTask(m_store.settled());
        QCOMPARE(count(), 0);
        QCOMPARE(read(m_store), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(),
                 (QStringList{"INFO Stored session token in the Secret Service",
                              "INFO Cleared session token from the Secret Service"}));
    }

    void bytesThatAreNotUtf8ReadAsAbsent() {
        QVERIFY(waitForStatus([this](auto done) {
                    m_backend->replace(kService, kAccount, QByteArray("\xff\xfe\x00x", 4), std::move(done));
                }).ok());
        QCOMPARE(count(), 1);
        QCOMPARE(read(m_store), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
    }

    void otherAccountsAreLeftAlone() {
        SecureStore other(m_backend, kService, kAccount + "-other");
        other.writeSessionToken("other-token");
        m_store.writeSessionToken("mine");
        m_store.deleteSessionToken();
        runTask(m_store.settled());
        QCOMPARE(read(other), std::optional<QString>("other-token"));
        other.deleteSessionToken();
        QCOMPARE(read(other), std::optional<QString>());
    }

    // Each answer of the backend carries the token; the item is written only when it changes. Another
    // program's change of the item shows whether the unchanged token reached the Secret Service again.
    void unchangedTokenIsNotWrittenAgain() {
        m_store.writeSessionToken("mine");
        runTask(m_store.settled());
        QVERIFY(waitForStatus([this](auto done) {
                    m_backend->replace(kService, kAccount, "theirs", std::move(done));
                }).ok());

        m_store.writeSessionToken("mine");
        runTask(m_store.settled());
        SecureStore fresh(m_backend, kService, kAccount);
        QCOMPARE(read(fresh), std::optional<QString>("theirs"));

        m_store.writeSessionToken("changed");
        runTask(m_store.settled());
        QCOMPARE(read(fresh), std::optional<QString>("changed"));
        QCOMPARE(count(), 1);
        QCOMPARE(RuntimeLogCapture::entriesStartingWith("INFO Stored session token"),
                 (QStringList{"INFO Stored session token in the Secret Service",
                              "INFO Stored session token in the Secret Service"}));
    }

    // The Secret Service refuses a write (here: a collection that does not exist): the token stored
    // before is still there, so the user stays signed in.
    void failedWriteKeepsTheStoredToken() {
        m_store.writeSessionToken("old-token");
        runTask(m_store.settled());
        SecureStore refusing(
            std::make_shared<LibsecretBackend>(LibsecretBackend::kDefaultDeadline,
                                               QStringLiteral("/org/freedesktop/secrets/collection/missing")),
            kService, kAccount);
        RuntimeLogCapture::clear();
        refusing.writeSessionToken("new-token");
        runTask(refusing.settled());

        const QStringList lines = RuntimeLogCapture::entries();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("ERROR Failed to store session token in the Secret Service status="),
                 qPrintable(lines[0]));
        QCOMPARE(count(), 1);
        QCOMPARE(read(m_store), std::optional<QString>("old-token"));
    }
};

QTEST_GUILESS_MAIN(TestSecureStoreKeyring)
#include "tst_securestore_keyring.moc"
