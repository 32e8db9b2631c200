// The secure store on the real Secret Service of the test session (gnome-keyring), under attributes
// of its own so that no real item is ever touched.
// Before any Qt header: GLib's headers use `signals` as a name, which Qt defines as a macro.
#include <libsecret/secret.h>

#include "LibsecretBackend.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"

#include <QTemporaryDir>
#include <QtTest>

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
        const SecretBackend::Status status = m_backend->remove(kService, kAccount);
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
        QCOMPARE(count(), 1);
        QCOMPARE(m_store.readSessionToken(), std::optional<QString>("second-token"));
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
        RuntimeLogCapture::clear();
        const std::optional<QString> read = m_store.readSessionToken();
        QVERIFY(read);
        QCOMPARE(*read, token);
        QCOMPARE(RuntimeLogCapture::entries(), readLines);
    }

    void absentItemReadsSilentlyAndDeletes() {
        QCOMPARE(m_store.readSessionToken(), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
        m_store.deleteSessionToken();
        QCOMPARE(RuntimeLogCapture::entries(),
                 QStringList{"INFO Cleared session token from the Secret Service"});
    }

    void deleteRemovesTheItem() {
        m_store.writeSessionToken("to-be-removed");
        m_store.deleteSessionToken();
        QCOMPARE(count(), 0);
        QCOMPARE(m_store.readSessionToken(), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(),
                 (QStringList{"INFO Stored session token in the Secret Service",
                              "INFO Cleared session token from the Secret Service"}));
    }

    void bytesThatAreNotUtf8ReadAsAbsent() {
        QVERIFY(m_backend->replace(kService, kAccount, QByteArray("\xff\xfe\x00x", 4)).ok());
        QCOMPARE(count(), 1);
        QCOMPARE(m_store.readSessionToken(), std::optional<QString>());
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
    }

    void otherAccountsAreLeftAlone() {
        SecureStore other(m_backend, kService, kAccount + "-other");
        other.writeSessionToken("other-token");
        m_store.writeSessionToken("mine");
        m_store.deleteSessionToken();
        QCOMPARE(other.readSessionToken(), std::optional<QString>("other-token"));
        other.deleteSessionToken();
        QCOMPARE(other.readSessionToken(), std::optional<QString>());
    }
};

QTEST_GUILESS_MAIN(TestSecureStoreKeyring)
#include "tst_securestore_keyring.moc"
