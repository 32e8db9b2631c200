// The secure store's contract on an in-memory backend: what it asks the backend, what it returns and
// the log line of every outcome.
#include "FakeSecretBackend.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kService = QStringLiteral("app.quillvane.desktop");
const QString kAccount = QStringLiteral("backend-session-token");
const SecretBackend::Status kRefused{5, QStringLiteral("fake: refused")};
} // namespace

class TestSecureStore : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;
    std::optional<RuntimeLogCapture> m_log; // installed once QTest has its own handler
    std::shared_ptr<FakeSecretBackend> m_backend;
    std::unique_ptr<SecureStore> m_store;

private slots:
    void initTestCase() {
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_log.emplace();
    }

    void cleanupTestCase() { m_log.reset(); }

    void init() {
        m_backend = std::make_shared<FakeSecretBackend>();
        m_store = std::make_unique<SecureStore>(m_backend);
        RuntimeLogCapture::clear();
    }

    void usesTheApplicationsAttributes() {
        QCOMPARE(m_store->service(), kService);
        QCOMPARE(m_store->sessionTokenAccount(), kAccount);
        m_store->writeSessionToken(QStringLiteral("t\u00e9k\u20ac"));
        QCOMPARE(m_backend->item(kService, kAccount), std::optional<QByteArray>("t\xc3\xa9k\xe2\x82\xac"));
    }

    void writeDeletesThenAdds_data() {
        QTest::addColumn<std::optional<SecretBackend::Status>>("removeFailure");
        QTest::addColumn<std::optional<SecretBackend::Status>>("replaceFailure");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("stored");

        QTest::newRow("both succeed")
            << std::optional<SecretBackend::Status>() << std::optional<SecretBackend::Status>()
            << QStringList{"INFO Stored session token in the Secret Service"} << "new";
        QTest::newRow("delete fails, add still runs")
            << std::optional<SecretBackend::Status>(kRefused) << std::optional<SecretBackend::Status>()
            << QStringList{"ERROR Failed to clear existing session token from the Secret Service status=5 "
                           "reason=fake: refused",
                           "INFO Stored session token in the Secret Service"}
            << "new";
        QTest::newRow("add fails, old token stays")
            << std::optional<SecretBackend::Status>(kRefused)
            << std::optional<SecretBackend::Status>(SecretBackend::Status{-3, QString()})
            << QStringList{"ERROR Failed to clear existing session token from the Secret Service status=5 "
                           "reason=fake: refused",
                           "ERROR Failed to store session token in the Secret Service status=-3"}
            << "old";
    }
    void writeDeletesThenAdds() {
        QFETCH(std::optional<SecretBackend::Status>, removeFailure);
        QFETCH(std::optional<SecretBackend::Status>, replaceFailure);
        QFETCH(QStringList, lines);
        QFETCH(QString, stored);

        m_backend->items[{kService, kAccount}] = "old";
        m_backend->removeFailure = removeFailure;
        m_backend->replaceFailure = replaceFailure;
        m_store->writeSessionToken(QStringLiteral("new"));

        QCOMPARE(m_backend->calls, (QStringList{"remove", "replace"}));
        QCOMPARE(RuntimeLogCapture::entries(), lines);
        QCOMPARE(m_backend->item(kService, kAccount), std::optional<QByteArray>(stored.toUtf8()));
    }

    void read_data() {
        QTest::addColumn<std::optional<QByteArray>>("item");
        QTest::addColumn<std::optional<SecretBackend::Status>>("failure");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::addColumn<QStringList>("lines");

        const std::optional<SecretBackend::Status> ok;
        QTest::newRow("absent is silent")
            << std::optional<QByteArray>() << ok << std::optional<QString>() << QStringList();
        QTest::newRow("token") << std::optional<QByteArray>("abc") << ok << std::optional<QString>("abc")
                               << QStringList{"INFO Loaded session token from the Secret Service"};
        QTest::newRow("empty token, no line")
            << std::optional<QByteArray>("") << ok << std::optional<QString>("") << QStringList();
        QTest::newRow("not UTF-8 reads as absent") << std::optional<QByteArray>("\xff\xfe"
                                                                                "abc")
                                                   << ok << std::optional<QString>() << QStringList();
        QTest::newRow("failure reads as absent")
            << std::optional<QByteArray>("abc") << std::optional<SecretBackend::Status>(kRefused)
            << std::optional<QString>()
            << QStringList{"ERROR Failed to load session token from the Secret Service status=5 reason=fake: "
                           "refused"};
    }
    void read() {
        QFETCH(std::optional<QByteArray>, item);
        QFETCH(std::optional<SecretBackend::Status>, failure);
        QFETCH(std::optional<QString>, expected);
        QFETCH(QStringList, lines);

        if (item) {
            m_backend->items[{kService, kAccount}] = *item;
        }
        m_backend->readFailure = failure;
        QCOMPARE(m_store->readSessionToken(), expected);
        QCOMPARE(RuntimeLogCapture::entries(), lines);
    }

    void deleteCountsMissingAsRemoved() {
        m_store->deleteSessionToken();
        QCOMPARE(RuntimeLogCapture::entries(),
                 QStringList{"INFO Cleared session token from the Secret Service"});

        RuntimeLogCapture::clear();
        m_backend->items[{kService, kAccount}] = "abc";
        m_backend->removeFailure = kRefused;
        m_store->deleteSessionToken();
        QCOMPARE(
            RuntimeLogCapture::entries(),
            QStringList{
                "ERROR Failed to clear session token from the Secret Service status=5 reason=fake: refused"});
        QVERIFY(m_backend->item(kService, kAccount));
    }
};

QTEST_GUILESS_MAIN(TestSecureStore)
#include "tst_securestore.moc"
