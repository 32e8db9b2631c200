// The secure store's contract on an in-memory backend: what it asks the backend and in which order, what
// it returns and the log line of every outcome.
#include "FakeSecretBackend.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"

#include <QTemporaryDir>
#include <QTest>

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

    std::optional<QByteArray> stored() const { return m_backend->item(kService, kAccount); }

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
        QCOMPARE(stored(), std::optional<QByteArray>("t\xc3\xa9k\xe2\x82\xac"));
    }

    void writeReplacesWithoutDeleting_data() {
        QTest::addColumn<std::optional<SecretBackend::Status>>("replaceFailure");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("stored");

        QTest::newRow("stored") << std::optional<SecretBackend::Status>()
                                << QStringList{"INFO Stored session token in the Secret Service"} << "new";
        QTest::newRow("refused, old token stays")
            << std::optional<SecretBackend::Status>(kRefused)
            << QStringList{"ERROR Failed to store session token in the Secret Service status=5 reason=fake: "
                           "refused"}
            << "old";
        QTest::newRow("no reason") << std::optional<SecretBackend::Status>(
                                          SecretBackend::Status{-3, QString()})
                                   << QStringList{"ERROR Failed to store session token in the Secret "
                                                  "Service status=-3"}
                                   << "old";
    }
    void writeReplacesWithoutDeleting() {
        QFETCH(std::optional<SecretBackend::Status>, replaceFailure);
        QFETCH(QStringList, lines);
        QFETCH(QString, stored);

        m_backend->items[{kService, kAccount}] = "old";
        m_backend->removeFailure = kRefused; // a delete would show as an error line
        m_backend->replaceFailure = replaceFailure;
        m_store->writeSessionToken(QStringLiteral("new"));

        QCOMPARE(m_backend->calls, QStringList{"replace"});
        QCOMPARE(RuntimeLogCapture::entries(), lines);
        QCOMPARE(this->stored(), std::optional<QByteArray>(stored.toUtf8()));
    }

    // Steps: "write X" (the backend refuses it when X ends in "!"), "read", "delete", and "others X": another
    // program puts X in the item. An unchanged token is written only when the store cannot know that the
    // item holds it.
    void writesOnlyAChangedToken_data() {
        QTest::addColumn<QByteArray>("saved"); // the item before the steps; empty: none
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("same token twice")
            << QByteArray() << QStringList{"write a", "write a"} << QStringList{"replace"} << QByteArray("a");
        QTest::newRow("a token that was read")
            << QByteArray("a") << QStringList{"read", "write a"} << QStringList{"read"} << QByteArray("a");
        QTest::newRow("first write of the run")
            << QByteArray("a") << QStringList{"write a"} << QStringList{"replace"} << QByteArray("a");
        QTest::newRow("changed token") << QByteArray() << QStringList{"write a", "write b"}
                                       << QStringList{"replace", "replace"} << QByteArray("b");
        QTest::newRow("after a failed write") << QByteArray("a") << QStringList{"read", "write b!", "write a"}
                                              << QStringList{"read", "replace", "replace"} << QByteArray("a");
        QTest::newRow("after a delete") << QByteArray() << QStringList{"write a", "delete", "write a"}
                                        << QStringList{"replace", "remove", "replace"} << QByteArray("a");
        QTest::newRow("after reading another token")
            << QByteArray() << QStringList{"write a", "others b", "read", "write a"}
            << QStringList{"replace", "read", "replace"} << QByteArray("a");
    }
    void writesOnlyAChangedToken() {
        QFETCH(QByteArray, saved);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, calls);
        QFETCH(QByteArray, after);

        if (!saved.isEmpty()) {
            m_backend->items[{kService, kAccount}] = saved;
        }
        for (const QString& step : steps) {
            if (step == "read") {
                runTask(m_store->readSessionToken());
            } else if (step == "delete") {
                m_store->deleteSessionToken();
            } else if (step.startsWith("others ")) {
                m_backend->items[{kService, kAccount}] = step.mid(7).toUtf8();
            } else {
                const QString token = step.mid(6);
                const bool refused = token.endsWith('!');
                m_backend->replaceFailure = refused ? std::optional(kRefused) : std::nullopt;
                m_store->writeSessionToken(token);
            }
        }
        QCOMPARE(m_backend->calls, calls);
        QCOMPARE(stored(), std::optional<QByteArray>(after));
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
        QCOMPARE(runTask(m_store->readSessionToken()), expected);
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
        QVERIFY(stored());
    }

    // A slow backend: the calls return at once, one operation is with the backend at a time, and they
    // run in the order they were asked for.
    void operationsRunOneAtATimeInOrder() {
        m_backend->holdAnswers = true;
        m_backend->items[{kService, kAccount}] = "old";
        QCoro::Task<std::optional<QString>> before = m_store->readSessionToken();
        m_store->writeSessionToken("new");
        QCoro::Task<std::optional<QString>> between = m_store->readSessionToken();
        m_store->deleteSessionToken();
        QCoro::Task<std::optional<QString>> after = m_store->readSessionToken();
        QCoro::Task<> settled = m_store->settled();

        QCOMPARE(m_backend->calls, QStringList{"read"});
        QVERIFY(!before.isReady());
        int released = 0;
        while (m_backend->releaseOne()) {
            ++released;
            QCOMPARE(m_backend->calls.size(), std::min(released + 1, 5));
        }
        QCOMPARE(m_backend->calls, (QStringList{"read", "replace", "read", "remove", "read"}));
        QVERIFY(settled.isReady());
        QCOMPARE(runTask(std::move(before)), std::optional<QString>("old"));
        QCOMPARE(runTask(std::move(between)), std::optional<QString>("new"));
        QCOMPARE(runTask(std::move(after)), std::optional<QString>());
    }

    // The store goes while the backend still works on a call: the waiting reads learn "no token", and the
    // late answer touches nothing (the sanitizer build would see it).
    void goingAwayAnswersWaitingReads() {
        m_backend->holdAnswers = true;
        m_backend->items[{kService, kAccount}] = "abc";
        QCoro::Task<std::optional<QString>> running = m_store->readSessionToken();
        m_store->writeSessionToken("dropped");
        QCoro::Task<std::optional<QString>> queued = m_store->readSessionToken();
        QCoro::Task<> settled = m_store->settled();
        m_store.reset();

        QCOMPARE(runTask(std::move(running)), std::optional<QString>());
        QCOMPARE(runTask(std::move(queued)), std::optional<QString>());
        runTask(std::move(settled));
        QVERIFY(m_backend->releaseOne());
        QVERIFY(!m_backend->releaseOne());
        QCOMPARE(m_backend->calls, QStringList{"read"});
        QCOMPARE(stored(), std::optional<QByteArray>("abc"));
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSecureStore)
#include "tst_securestore.moc"
