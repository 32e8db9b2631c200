// The session coordinator against the stand-in backend, with an in-memory secret backend and a manual
// clock: bootstrap, refresh (a refused token ends the session), the three sign-in exchanges, snapshots,
// sign-out and invalidation, the foreground age rule, and the two guards (late answers after a sign-out,
// empty tokens).
#include "BackendClient.h"
#include "Clock.h"
#include "FakeSecretBackend.h"
#include "RunTask.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "StandinBackend.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using OptionalText = std::optional<QString>;

namespace {
const QString kService = QStringLiteral("app.quillvane.desktop");
const QString kAccount = QStringLiteral("backend-session-token");
const QString kSessionPath = QStringLiteral("/api/session");

std::string answerJson(qint64 words, double minutes, const std::optional<std::string>& token,
                       bool withProfile) {
    QJsonObject o{{"total_words", words},
                  {"total_minutes", minutes},
                  {"lifetime_words", words * 10},
                  {"lifetime_minutes", minutes * 10}};
    if (token) {
        o.insert("session_token", QString::fromStdString(*token));
    }
    if (withProfile) {
        o.insert("profile", QJsonObject{{"email", "ada@example.com"}, {"name", "Ada L"}});
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

SessionResponseDTO snapshot(qint64 words, OptionalText token, bool withProfile) {
    SessionResponseDTO s;
    s.total_words = words;
    s.total_minutes = static_cast<double>(words) / 4.0;
    s.session_token = std::move(token);
    if (withProfile) {
        s.profile = UserProfileDTO{QStringLiteral("ada@example.com"), QStringLiteral("Ada L"), std::nullopt};
    }
    return s;
}

QStringList sortedKeys(const QJsonObject& o) {
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}
} // namespace

class TestSessionCoordinator : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;
    std::optional<RuntimeLogCapture> m_log; // installed once QTest has its own handler
    standin::StandinBackend m_backend;
    ManualClock m_clock;
    std::unique_ptr<BackendClient> m_client;
    std::shared_ptr<FakeSecretBackend> m_secrets;
    std::unique_ptr<SecureStore> m_store;
    std::unique_ptr<SessionCoordinator> m_session;

    OptionalText savedToken() const {
        const auto item = m_secrets->item(kService, kAccount);
        return item ? OptionalText(QString::fromUtf8(*item)) : std::nullopt;
    }
    void saveToken(const QString& token) { m_secrets->items[{kService, kAccount}] = token.toUtf8(); }
    int keychainWrites() const { return int(m_secrets->calls.count(QStringLiteral("replace"))); }

    int sessionRequests() const {
        int n = 0;
        for (const auto& r : m_backend.received())
            n += r.path == kSessionPath.toStdString() ? 1 : 0;
        return n;
    }
    QJsonObject lastSessionBody() const {
        const auto request = m_backend.lastRequest(kSessionPath.toStdString());
        return request ? QJsonDocument::fromJson(QByteArray::fromStdString(request->body)).object()
                       : QJsonObject();
    }

    // A session the stand-in knows, adopted as if a transcription answer had carried it.
    QString startSession(qint64 words = 7) {
        const QString token = QString::fromStdString(m_backend.openSession());
        m_session->applySessionSnapshot(snapshot(words, token, true));
        return token;
    }

    QCoro::Task<bool> exchange(const QString& provider, const QString& idToken, OptionalText email,
                               OptionalText name, OptionalText picture) {
        // Only Google's sign-in brings a picture.
        return m_session->establishSession(provider, capitalizedProvider(provider), idToken, email, name,
                                           provider == "google" ? picture : std::nullopt);
    }

    static QString capitalizedProvider(const QString& provider) {
        return provider.left(1).toUpper() + provider.mid(1);
    }

private slots:
    void initTestCase() {
        m_log.emplace();
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
        m_backend.start();
        Clock::setCurrent(&m_clock);
    }

    void cleanupTestCase() {
        Clock::setCurrent(nullptr);
        m_log.reset();
    }

    void init() {
        m_backend.reset();
        m_client = std::make_unique<BackendClient>(QUrl(QString::fromStdString(m_backend.baseUrl())));
        m_secrets = std::make_shared<FakeSecretBackend>();
        m_store = std::make_unique<SecureStore>(m_secrets);
        m_session = std::make_unique<SessionCoordinator>(*m_client, *m_store);
        RuntimeLogCapture::clear();
    }

    void startsWithoutSession() {
        QCOMPARE(m_session->statusText(), QStringLiteral("No active backend session."));
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QCOMPARE(m_session->totalWords(), qint64(0));
        QCOMPARE(m_session->totalMinutes(), 0.0);
        QVERIFY(!m_session->profile());
        QVERIFY(!m_session->lastRefreshAt());
        QVERIFY(m_secrets->calls.isEmpty()); // no I/O at construction
    }

    // ---- Bootstrap ----

    void bootstrapWithoutUsableSavedToken_data() {
        QTest::addColumn<OptionalText>("saved");
        QTest::addColumn<bool>("readFails");
        QTest::newRow("nothing saved") << OptionalText() << false;
        QTest::newRow("empty token saved") << OptionalText("") << false;
        QTest::newRow("read fails") << OptionalText("abc") << true;
    }
    void bootstrapWithoutUsableSavedToken() {
        QFETCH(OptionalText, saved);
        QFETCH(bool, readFails);
        if (saved)
            saveToken(*saved);
        if (readFails)
            m_secrets->readFailure = SecretBackend::Status{2, "fake: locked"};

        runTask(m_session->bootstrapFromSecureStore());
        QCOMPARE(m_session->statusText(), QStringLiteral("No saved backend session."));
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QCOMPARE(sessionRequests(), 0);
        QVERIFY(RuntimeLogCapture::entries().contains("INFO No saved backend session token found"));
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false);
    }

    void bootstrapPublishesThenRefreshesTheSavedToken() {
        const QString token = QString::fromStdString(m_backend.openSession());
        saveToken(token);
        QSignalSpy tokenChanged(m_session.get(), &SessionCoordinator::activeSessionTokenChanged);

        QCoro::Task<> bootstrap = m_session->bootstrapFromSecureStore();
        // Published before the refresh is answered, so a dictation can already use it.
        QCOMPARE(m_session->activeSessionToken(), OptionalText(token));
        QCOMPARE(tokenChanged.count(), 1);
        runTask(std::move(bootstrap));

        const QJsonObject body = lastSessionBody();
        QCOMPARE(sortedKeys(body), (QStringList{"client_platform", "force_refresh", "session_token"}));
        QCOMPARE(body["session_token"].toString(), token);
        QCOMPARE(body["client_platform"].toString(), QStringLiteral("linux"));
        QCOMPARE(body["force_refresh"].toBool(true), false);

        QCOMPARE(m_session->statusText(), QStringLiteral("Backend session active."));
        QCOMPARE(m_session->lastRefreshAt(), std::optional<QDateTime>(m_clock.now()));
        QCOMPARE(savedToken(), OptionalText(token));
        QCOMPARE(keychainWrites(), 0); // the answer carried the token just read: nothing to write
        const QStringList lines = RuntimeLogCapture::entries();
        QVERIFY(lines.contains("INFO Loaded session token from secure store"));
        QVERIFY(lines.contains("INFO Session refresh succeeded words=0"));
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false);
    }

    void bootstrapWithRefusedTokenEndsTheSession() {
        saveToken("expired-token"); // the stand-in knows no such session: 401 "invalid session"
        QSignalSpy rejected(m_session.get(), &SessionCoordinator::sessionRejected);
        runTask(m_session->bootstrapFromSecureStore());

        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QCOMPARE(savedToken(), OptionalText());
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!m_session->lastRefreshAt());
        const QString status = m_session->statusText();
        QVERIFY2(status.startsWith("Session refresh failed: Backend error 401: "), qPrintable(status));
        QVERIFY2(status.contains("invalid session"), qPrintable(status));
        QVERIFY(RuntimeLogCapture::entries().contains("ERROR " + status));
        QVERIFY(RuntimeLogCapture::entries().contains(
            "ERROR Backend session invalidated after authentication failure: " + status));
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false); // nothing left to refresh
    }

    // A keyring that answers late (an unlock prompt): a session adopted or ended before the saved token
    // loads is newer than that token, which must not come back.
    void savedTokenLoadingLateIsIgnored_data() {
        QTest::addColumn<bool>("signOut"); // false: an answer brings a session meanwhile
        QTest::newRow("session adopted meanwhile") << false;
        QTest::newRow("signed out meanwhile") << true;
    }
    void savedTokenLoadingLateIsIgnored() {
        QFETCH(bool, signOut);
        saveToken("saved-token");
        m_secrets->holdAnswers = true;
        QCoro::Task<> bootstrap = m_session->bootstrapFromSecureStore();
        QVERIFY(!bootstrap.isReady());
        if (signOut)
            m_session->clearSavedSession();
        else
            m_session->applySessionSnapshot(snapshot(2, "fresh-token", true));
        while (m_secrets->releaseOne()) {
        }
        runTask(std::move(bootstrap));

        const OptionalText expected = signOut ? OptionalText() : OptionalText("fresh-token");
        QCOMPARE(m_session->activeSessionToken(), expected);
        QCOMPARE(savedToken(), expected);
        QCOMPARE(sessionRequests(), 0); // the old token was never sent
        QVERIFY(RuntimeLogCapture::entries().contains(
            "INFO Ignored saved session token: the session changed while it loaded"));
    }

    // ---- Refresh ----

    void refreshWithoutTokenSendsNothing() {
        runTask(m_session->refreshSession(true));
        QCOMPARE(m_session->statusText(), QStringLiteral("No session token is available yet."));
        QCOMPARE(sessionRequests(), 0);
        QCOMPARE(RuntimeLogCapture::entries(), QStringList());
    }

    void refreshAdoptsTheAnswer_data() {
        QTest::addColumn<std::optional<std::string>>("answerToken");
        QTest::addColumn<bool>("withProfile");
        QTest::addColumn<bool>("tokenReplaced");

        QTest::newRow("new token and profile") << std::optional<std::string>("rotated-token") << true << true;
        QTest::newRow("no token, no profile") << std::optional<std::string>() << false << false;
        QTest::newRow("empty token is no token") << std::optional<std::string>("") << true << false;
    }
    void refreshAdoptsTheAnswer() {
        QFETCH(std::optional<std::string>, answerToken);
        QFETCH(bool, withProfile);
        QFETCH(bool, tokenReplaced);

        const QString token = startSession();
        const int writesBefore = keychainWrites();
        m_clock.advance(10s);
        m_backend.scriptNext(kSessionPath.toStdString(),
                             {200, answerJson(12, 1.5, answerToken, withProfile)});
        runTask(m_session->refreshSession(true));

        QCOMPARE(lastSessionBody()["force_refresh"].toBool(false), true);
        const QString expectedToken = tokenReplaced ? QString::fromStdString(*answerToken) : token;
        QCOMPARE(m_session->activeSessionToken(), OptionalText(expectedToken));
        QCOMPARE(savedToken(), OptionalText(expectedToken));
        QCOMPARE(keychainWrites(), writesBefore + (tokenReplaced ? 1 : 0));
        QCOMPARE(m_session->totalWords(), qint64(12));
        QCOMPARE(m_session->totalMinutes(), 1.5);
        QCOMPARE(m_session->profile().has_value(), withProfile); // an answer without a profile clears it
        QCOMPARE(m_session->lastRefreshAt(), std::optional<QDateTime>(m_clock.now()));
        QCOMPARE(m_session->statusText(), QStringLiteral("Backend session active."));
        QVERIFY(RuntimeLogCapture::entries().contains("INFO Session refresh succeeded words=12"));
        QCOMPARE(RuntimeLogCapture::entries().contains("INFO Ignored empty session token in session answer"),
                 answerToken && answerToken->empty());
    }

    void refreshFailureKeepsTheSession_data() {
        QTest::addColumn<int>("status"); // 0: nothing listens on the port
        QTest::addColumn<std::string>("body");
        QTest::addColumn<QString>("description");

        QTest::newRow("server error") << 500 << std::string("boom") << "Backend error 500: boom";
        // Only a refusal of the token ends the session; a bad request says nothing about it.
        QTest::newRow("bad request") << 400 << std::string("force_refresh must be a boolean")
                                     << "Backend error 400: force_refresh must be a boolean";
        QTest::newRow("undecodable") << 200 << std::string("{\"total_words\":\"many\"}")
                                     << "Failed to decode backend response.";
        QTest::newRow("no connection") << 0 << std::string() << QString();
    }
    void refreshFailureKeepsTheSession() {
        QFETCH(int, status);
        QFETCH(std::string, body);
        QFETCH(QString, description);

        const QString token = startSession(7);
        const auto refreshedAt = m_session->lastRefreshAt();
        const int writes = keychainWrites();
        if (status == 0) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            const quint16 port = closed.serverPort();
            closed.close();
            m_client->updateBaseURL(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
        } else {
            m_backend.scriptNext(kSessionPath.toStdString(), {status, body});
        }
        m_clock.advance(5s);
        QSignalSpy rejected(m_session.get(), &SessionCoordinator::sessionRejected);
        runTask(m_session->refreshSession(false));
        QCOMPARE(rejected.count(), 0);

        const QString sentence = m_session->statusText();
        QVERIFY2(sentence.startsWith("Session refresh failed: ") && sentence.size() > 24,
                 qPrintable(sentence));
        if (!description.isEmpty())
            QCOMPARE(sentence, "Session refresh failed: " + description);
        QVERIFY(RuntimeLogCapture::entries().contains("ERROR " + sentence));
        QCOMPARE(m_session->activeSessionToken(), OptionalText(token));
        QCOMPARE(savedToken(), OptionalText(token));
        QCOMPARE(keychainWrites(), writes);
        QCOMPARE(m_session->totalWords(), qint64(7));
        QVERIFY(m_session->profile());
        QCOMPARE(m_session->lastRefreshAt(), refreshedAt);
    }

    // ---- Sign-in exchanges ----

    void refreshRefusalEndsTheSession_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<std::string>("body");
        QTest::newRow("401") << 401 << std::string(R"({"error":"invalid session"})");
        QTest::newRow("403") << 403 << std::string(R"({"error":"account disabled"})");
    }
    void refreshRefusalEndsTheSession() {
        QFETCH(int, status);
        QFETCH(std::string, body);
        startSession(7);
        QSignalSpy rejected(m_session.get(), &SessionCoordinator::sessionRejected);
        m_backend.scriptNext(kSessionPath.toStdString(), {status, body});
        runTask(m_session->refreshSession(true));

        // Ended as a sign-out ends it: token, saved item, figures and profile.
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QVERIFY(m_secrets->items.empty());
        QCOMPARE(m_session->totalWords(), qint64(0));
        QVERIFY(!m_session->profile());
        QVERIFY(!m_session->lastRefreshAt());
        QVERIFY2(m_session->statusText().startsWith(
                     QStringLiteral("Session refresh failed: Backend error %1").arg(status)),
                 qPrintable(m_session->statusText()));
    }

    void exchangeOpensASession_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<OptionalText>("email");
        QTest::addColumn<OptionalText>("name");
        QTest::addColumn<OptionalText>("picture");
        QTest::addColumn<QJsonObject>("sentProfile");

        QTest::newRow("apple") << "apple" << OptionalText("ada@example.com") << OptionalText("Ada L")
                               << OptionalText("ignored.png")
                               << QJsonObject{{"email", "ada@example.com"}, {"name", "Ada L"}};
        QTest::newRow("apple, nothing known")
            << "apple" << OptionalText() << OptionalText() << OptionalText() << QJsonObject();
        QTest::newRow("google") << "google" << OptionalText("ada@example.com") << OptionalText()
                                << OptionalText("https://example.com/p.png")
                                << QJsonObject{{"email", "ada@example.com"},
                                               {"picture", "https://example.com/p.png"}};
        QTest::newRow("microsoft") << "microsoft" << OptionalText() << OptionalText("Ada L")
                                   << OptionalText("ignored.png") << QJsonObject{{"name", "Ada L"}};
    }
    void exchangeOpensASession() {
        QFETCH(QString, provider);
        QFETCH(OptionalText, email);
        QFETCH(OptionalText, name);
        QFETCH(OptionalText, picture);
        QFETCH(QJsonObject, sentProfile);

        const QString oldToken = startSession(); // an active session does not leak into the exchange
        QVERIFY(runTask(exchange(provider, "identity-" + provider, email, name, picture)));

        const QJsonObject body = lastSessionBody();
        QCOMPARE(sortedKeys(body),
                 (QStringList{"auth_provider", "client_platform", "force_refresh", "id_token", "profile"}));
        QCOMPARE(body["id_token"].toString(), "identity-" + provider);
        QCOMPARE(body["auth_provider"].toString(), provider);
        QCOMPARE(body["client_platform"].toString(), QStringLiteral("linux"));
        QCOMPARE(body["force_refresh"].toBool(true), false);
        QCOMPARE(body["profile"].toObject(), sentProfile);

        const OptionalText token = m_session->activeSessionToken();
        QVERIFY(token && !token->isEmpty() && *token != oldToken);
        QCOMPARE(savedToken(), token);
        QCOMPARE(m_session->statusText(), QStringLiteral("Signed in and backend session active."));
        QCOMPARE(m_session->lastRefreshAt(), std::optional<QDateTime>(m_clock.now()));
        QVERIFY(RuntimeLogCapture::entries().contains("INFO " + capitalizedProvider(provider) +
                                                      "-backed session established words=0"));
    }

    void exchangeFailureChangesNoSession_data() {
        QTest::addColumn<QString>("provider");
        QTest::newRow("apple") << "apple";
        QTest::newRow("google") << "google";
        QTest::newRow("microsoft") << "microsoft";
    }
    void exchangeFailureChangesNoSession() {
        QFETCH(QString, provider);
        m_backend.scriptNext(kSessionPath.toStdString(), {502, "upstream down"});

        QVERIFY(!runTask(exchange(provider, "identity", std::nullopt, std::nullopt, std::nullopt)));
        const QString p = capitalizedProvider(provider);
        QCOMPARE(m_session->statusText(),
                 p + " sign-in succeeded, but backend session failed: Backend error 502: upstream down");
        QVERIFY(RuntimeLogCapture::entries().contains(
            "ERROR " + p + "-backed session establish failed: Backend error 502: upstream down"));
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QVERIFY(!m_session->lastRefreshAt());
        QVERIFY(m_secrets->items.empty());
    }

    void exchangeAnsweredWithoutTokenStillSucceeds() {
        m_backend.scriptNext(kSessionPath.toStdString(), {200, answerJson(3, 0.5, std::nullopt, true)});
        QVERIFY(runTask(m_session->establishSession("google", "Google", "identity", std::nullopt,
                                                    std::nullopt, std::nullopt)));
        QCOMPARE(m_session->activeSessionToken(), OptionalText()); // absent stays absent
        QCOMPARE(m_session->totalWords(), qint64(3));
        QVERIFY(m_session->profile());
        QVERIFY(m_session->lastRefreshAt());
        QCOMPARE(m_session->statusText(), QStringLiteral("Signed in and backend session active."));
        QCOMPARE(keychainWrites(), 0);
    }

    // ---- Snapshots ----

    void snapshotsAreAdopted() {
        m_session->applySessionSnapshot(snapshot(3, "tok-a", true));
        m_session->applySessionSnapshot(snapshot(4, "tok-a", true));
        QCOMPARE(keychainWrites(), 1); // written once: the unchanged token is not written again
        QCOMPARE(m_session->activeSessionToken(), OptionalText("tok-a"));

        m_session->applySessionSnapshot(snapshot(5, std::nullopt, false));
        m_session->applySessionSnapshot(snapshot(6, "", false));
        QCOMPARE(keychainWrites(), 1); // no token, and an empty one, leave the item alone
        QCOMPARE(savedToken(), OptionalText("tok-a"));
        QCOMPARE(m_session->activeSessionToken(), OptionalText("tok-a"));
        QCOMPARE(m_session->totalWords(), qint64(6));
        QCOMPARE(m_session->totalMinutes(), 1.5);
        QVERIFY(!m_session->profile());
        QCOMPARE(m_session->statusText(), QStringLiteral("Backend session active."));
        QCOMPARE(
            RuntimeLogCapture::entriesStartingWith("INFO Applied session snapshot words="),
            (QStringList{"INFO Applied session snapshot words=3", "INFO Applied session snapshot words=4",
                         "INFO Applied session snapshot words=5", "INFO Applied session snapshot words=6"}));
        QCOMPARE(sessionRequests(), 0);
    }

    // ---- Ending a session ----

    void endingTheSession_data() {
        QTest::addColumn<bool>("signOut"); // false: invalidation after an authentication failure
        QTest::newRow("sign-out") << true;
        QTest::newRow("invalidation") << false;
    }
    void endingTheSession() {
        QFETCH(bool, signOut);
        startSession(9);
        QSignalSpy tokenChanged(m_session.get(), &SessionCoordinator::activeSessionTokenChanged);
        QSignalSpy rejected(m_session.get(), &SessionCoordinator::sessionRejected);

        if (signOut)
            m_session->clearSavedSession();
        else
            m_session->invalidateSessionDueToAuthenticationFailure("Your session expired. Sign in again.");

        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QCOMPARE(tokenChanged.count(), 1);
        QVERIFY(m_secrets->items.empty());
        QCOMPARE(m_session->totalWords(), qint64(0));
        QCOMPARE(m_session->totalMinutes(), 0.0);
        QVERIFY(!m_session->lastRefreshAt());
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false);
        QVERIFY(!m_session->profile()); // nobody is shown as signed in any more
        QCOMPARE(rejected.count(), signOut ? 0 : 1);
        if (signOut) {
            QCOMPARE(m_session->statusText(), QStringLiteral("Saved session cleared."));
            QVERIFY(RuntimeLogCapture::entries().contains("INFO Saved session token cleared"));
        } else {
            QCOMPARE(m_session->statusText(), QStringLiteral("Your session expired. Sign in again."));
            QVERIFY(RuntimeLogCapture::entries().contains(
                "ERROR Backend session invalidated after authentication "
                "failure: Your session expired. Sign in again."));
        }
    }

    // ---- Foreground age rule ----

    void foregroundRefreshIsDueByAge_data() {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<bool>("due");
        QTest::newRow("just refreshed") << qint64(0) << false;
        QTest::newRow("44.9 s") << qint64(44900) << false;
        QTest::newRow("45 s") << qint64(45000) << true;
        QTest::newRow("an hour") << qint64(3600000) << true;
        QTest::newRow("clock went back") << qint64(-60000) << false;
    }
    void foregroundRefreshIsDueByAge() {
        QFETCH(qint64, ageMs);
        QFETCH(bool, due);
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false); // no token
        m_session->applySessionSnapshot(snapshot(1, std::nullopt, false));
        QCOMPARE(m_session->shouldRefreshOnForeground(45), false); // an answer, still no token

        startSession();
        const QDateTime adopted = m_clock.now();
        m_clock.setNow(adopted.addMSecs(ageMs));
        QCOMPARE(m_session->shouldRefreshOnForeground(45), due);
        m_clock.setNow(adopted);
    }

    void loadedTokenIsDueUntilRefreshed() {
        saveToken("expired-token");
        m_backend.setMissing(kSessionPath.toStdString(), 404);
        runTask(m_session->bootstrapFromSecureStore());
        m_backend.setMissing(kSessionPath.toStdString(), 0);
        QCOMPARE(m_session->shouldRefreshOnForeground(45), true);
    }

    // ---- Late answers after the session ended ----

    void lateAnswersDoNotRestoreTheSession_data() {
        QTest::addColumn<QString>("operation"); // "refresh", "refresh-failing" or a provider
        QTest::addColumn<bool>("signOut");
        for (const bool signOut : {true, false}) {
            const char* end = signOut ? "after sign-out" : "after invalidation";
            for (const char* op : {"refresh", "refresh-failing", "refresh-refused", "google", "apple"})
                QTest::addRow("%s %s", op, end) << QString::fromLatin1(op) << signOut;
        }
    }
    void lateAnswersDoNotRestoreTheSession() {
        QFETCH(QString, operation);
        QFETCH(bool, signOut);
        startSession();
        if (operation == "refresh-failing")
            m_backend.scriptNext(kSessionPath.toStdString(), {500, "boom"});
        if (operation == "refresh-refused") // a refusal of the ended session must not end a newer one
            m_backend.scriptNext(kSessionPath.toStdString(), {401, "invalid session"});
        QSignalSpy rejected(m_session.get(), &SessionCoordinator::sessionRejected);
        // Hold the answer back so that it surely lands after the session ended.
        m_backend.setDelay(kSessionPath.toStdString(), 100ms);

        const bool isRefresh = operation.startsWith("refresh");
        std::optional<QCoro::Task<>> refreshTask;
        std::optional<QCoro::Task<bool>> exchangeTask;
        if (isRefresh)
            refreshTask.emplace(m_session->refreshSession(true));
        else
            exchangeTask.emplace(exchange(operation, "identity", std::nullopt, std::nullopt, std::nullopt));
        if (signOut)
            m_session->clearSavedSession();
        else
            m_session->invalidateSessionDueToAuthenticationFailure("Session expired.");
        const QString endedStatus = m_session->statusText();
        const int writes = keychainWrites();

        if (refreshTask)
            runTask(std::move(*refreshTask));
        else
            QCOMPARE(runTask(std::move(*exchangeTask)), false);
        m_backend.setDelay(kSessionPath.toStdString(), 0ms);

        QCOMPARE(sessionRequests(), 1); // the backend did answer
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QVERIFY(m_secrets->items.empty());
        QCOMPARE(keychainWrites(), writes);
        QCOMPARE(m_session->totalWords(), qint64(0));
        QVERIFY(!m_session->lastRefreshAt());
        QCOMPARE(m_session->statusText(), endedStatus);
        QCOMPARE(rejected.count(), signOut ? 0 : 1); // only the explicit invalidation
        const QString source = isRefresh ? QStringLiteral("refresh") : operation;
        const QStringList discarded = RuntimeLogCapture::entriesStartingWith(
            "INFO Discarded session answer from before sign-out or invalidation");
        QCOMPARE(discarded.size(), 1);
        QVERIFY2(discarded[0].contains(" source=" + source), qPrintable(discarded[0]));

        // A request sent after the sign-out is answered and adopted as usual.
        QVERIFY(runTask(exchange("google", "identity-2", std::nullopt, std::nullopt, std::nullopt)));
        QVERIFY(m_session->activeSessionToken());
        QCOMPARE(savedToken(), m_session->activeSessionToken());
    }

    void answerAfterTheCoordinatorIsGoneIsIgnored() {
        startSession();
        QCoro::Task<> refresh = m_session->refreshSession(true);
        m_session.reset();
        runTask(std::move(refresh)); // must not touch the destroyed coordinator
        QCOMPARE(sessionRequests(), 1);
    }

    void snapshotFromBeforeSignOutIsDiscarded() {
        startSession();
        const quint64 sentIn = m_session->sessionGeneration();
        m_session->clearSavedSession();
        m_session->applySessionSnapshot(snapshot(4, "late-token", true), sentIn);
        QCOMPARE(m_session->activeSessionToken(), OptionalText());
        QVERIFY(m_secrets->items.empty());
        QVERIFY(!m_session->profile());
        QCOMPARE(m_session->statusText(), QStringLiteral("Saved session cleared."));
        QCOMPARE(RuntimeLogCapture::entriesStartingWith("INFO Discarded session answer"),
                 QStringList{
                     "INFO Discarded session answer from before sign-out or invalidation source=snapshot"});

        m_session->applySessionSnapshot(snapshot(4, "fresh-token", true), m_session->sessionGeneration());
        QCOMPARE(m_session->activeSessionToken(), OptionalText("fresh-token"));
    }
};

QTEST_GUILESS_MAIN(TestSessionCoordinator)
#include "tst_sessioncoordinator.moc"
