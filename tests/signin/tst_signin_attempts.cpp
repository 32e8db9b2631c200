// Sign-in attempts over the real stores and session, against the in-process stand-in backend, with
// providers whose browser flows the test answers: each provider's row from start to the recorded identity,
// one attempt at a time (a newer one supersedes the waiting one, whatever the older one hears later),
// provider errors shown once, and cancellation.
#include "../stores/session/FakeSecretBackend.h"
#include "AppSettings.h"
#include "AppleOAuthService.h"
#include "AuthStore.h"
#include "BackendClient.h"
#include "ConfigSyncCoordinator.h"
#include "FakeSignInProvider.h"
#include "KnowledgeBaseStore.h"
#include "ManualScheduler.h"
#include "PromptSettingsStore.h"
#include "RuntimeLogCapture.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "SignInAttempts.h"
#include "StandinBackend.h"
#include "UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(SignInProviderId)

namespace {

QCoro::Task<SignInIdentity> answerOf(PendingValue<SignInIdentity> pending) {
    co_return co_await pending;
}

// The stores and coordinators an attempt reports to, on the files of one folder, talking to one stand-in.
struct AttemptsRig {
    AttemptsRig(const QString& baseUrl, const QString& folder, const SignInProviderReplacements& flows)
        : defaults(QDir(folder).filePath(QStringLiteral("settings.json"))), appSettings(defaults),
          promptSettings(defaults), knowledgeBase(folder), client(QUrl(baseUrl)),
          secrets(std::make_shared<FakeSecretBackend>()), secureStore(secrets), session(client, secureStore),
          auth(defaults), scheduler(clock),
          sync(client, appSettings, session, promptSettings, knowledgeBase, scheduler, folder),
          attempts(std::make_unique<SignInAttempts>(
              SignInProviders(SignInProviderContext{client, &network, [](const QUrl&) {}}, flows), auth,
              session, sync)) {}

    UserDefaults defaults;
    AppSettings appSettings;
    PromptSettingsStore promptSettings;
    KnowledgeBaseStore knowledgeBase;
    BackendClient client;
    QNetworkAccessManager network;
    std::shared_ptr<FakeSecretBackend> secrets;
    SecureStore secureStore;
    SessionCoordinator session;
    AuthStore auth;
    ManualClock clock;
    ManualScheduler scheduler;
    ConfigSyncCoordinator sync;
    std::unique_ptr<SignInAttempts> attempts;
};

} // namespace

class TestSignInAttempts : public QObject {
    Q_OBJECT

    standin::StandinBackend m_backend;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AttemptsRig> m_rig;
    // One answer per provider, settled by the test; the flows ignore cancellation unless told otherwise
    // (a browser that came back just as the attempt was called off).
    std::map<SignInProviderId, PendingValue<SignInIdentity>> m_answers;
    bool m_flowsEndOnCancel = false;
    QList<SignInProviderId> m_flowsCalled;
    QList<SignInCancelToken> m_flowTokens;
    QStringList m_authStatuses;

    SignInAttempts& attempts() { return *m_rig->attempts; }
    AuthStore& auth() { return m_rig->auth; }

    void build() {
        SignInProviderReplacements flows;
        for (const SignInProviders::Row& row : SignInProviders::table()) {
            const SignInProviderId id = row.id;
            flows[id] = std::make_shared<FakeSignInProvider>([this, id](SignInCancelToken cancel) {
                m_flowsCalled << id;
                m_flowTokens << cancel;
                return m_flowsEndOnCancel ? awaitUnlessCancelled(answerOf(m_answers[id]), cancel)
                                          : answerOf(m_answers[id]);
            });
        }
        m_rig =
            std::make_unique<AttemptsRig>(QString::fromStdString(m_backend.baseUrl()), m_dir->path(), flows);
        connect(&auth(), &AuthStore::statusTextChanged, this,
                [this] { m_authStatuses << auth().statusText(); });
    }

private slots:
    void initTestCase() { m_backend.start(); }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_answers.clear();
        m_flowsEndOnCancel = false;
        m_flowsCalled.clear();
        m_flowTokens.clear();
        m_authStatuses.clear();
        m_backend.reset();
        build();
    }

    void cleanup() {
        m_rig.reset();
        m_backend.reset();
    }

    // Each provider's row: its flow runs, its name is in the texts, its key goes to the backend and is
    // stored with the identity, and the cloud configuration is pulled.
    void eachProviderSignsInWithItsOwnFlow_data() {
        QTest::addColumn<SignInProviderId>("provider");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("label");
        QTest::newRow("apple") << SignInProviderId::Apple << "apple"
                               << "Apple";
        QTest::newRow("google") << SignInProviderId::Google << "google"
                                << "Google";
        QTest::newRow("microsoft") << SignInProviderId::Microsoft << "microsoft"
                                   << "Microsoft";
    }
    void eachProviderSignsInWithItsOwnFlow() {
        QFETCH(SignInProviderId, provider);
        QFETCH(QString, key);
        QFETCH(QString, label);
        attempts().start(provider);
        QCOMPARE(m_flowsCalled, QList<SignInProviderId>{provider});
        QCOMPARE(auth().statusText(), "Opening " + label + " sign-in...");
        QVERIFY(attempts().hasActiveAttempt());

        m_answers[provider].resolve(SignInIdentity{key + "-id-token", QStringLiteral("ada@example.test"),
                                                   QStringLiteral("Ada"), std::nullopt});
        QTRY_COMPARE(auth().provider(), std::optional<QString>(key));
        QCOMPARE(auth().email(), std::optional<QString>(QStringLiteral("ada@example.test")));
        QCOMPARE(auth().displayName(), std::optional<QString>(QStringLiteral("Ada")));
        QTRY_COMPARE(m_backend.receivedCount("GET", "/api/user/config"), 1);
        QTRY_VERIFY(!attempts().hasActiveAttempt());
        const auto session = m_backend.lastRequest("/api/session");
        QVERIFY(session);
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(session->body)).object();
        QCOMPARE(body.value("auth_provider").toString(), key);
        QCOMPARE(body.value("id_token").toString(), key + "-id-token");
    }

    void newAttemptSupersedesTheWaitingOne() {
        RuntimeLogCapture log;
        attempts().start(SignInProviderId::Apple);
        QCOMPARE(auth().statusText(), QStringLiteral("Opening Apple sign-in..."));
        const std::optional<QUuid> appleAttempt = attempts().activeAttemptID();

        attempts().start(SignInProviderId::Google);
        QCOMPARE(m_authStatuses.mid(1),
                 (QStringList{QStringLiteral("Apple sign-in cancelled. Starting Google sign-in..."),
                              QStringLiteral("Opening Google sign-in...")}));
        QVERIFY(attempts().activeAttemptID() != appleAttempt);
        QVERIFY(m_flowTokens.first().isCancelled());

        // Apple's flow fails later: nobody is told.
        m_answers[SignInProviderId::Apple].fail(
            std::make_exception_ptr(AppleOAuthError::callbackFailed(QStringLiteral("late"))));
        QTest::qWait(50);
        QCOMPARE(auth().statusText(), QStringLiteral("Opening Google sign-in..."));
        QVERIFY(log.entriesStartingWith(QStringLiteral("ERROR Apple sign-in failed")).isEmpty());

        // Google's result completes the sign-in and pulls the cloud configuration.
        m_answers[SignInProviderId::Google].resolve(
            SignInIdentity{QStringLiteral("google-id-token"), QStringLiteral("g@example.com"),
                           QStringLiteral("Gee"), QStringLiteral("https://example.com/g.png")});
        QTRY_COMPARE(auth().provider(), std::optional<QString>(QStringLiteral("google")));
        QCOMPARE(auth().email(), std::optional<QString>(QStringLiteral("g@example.com")));
        QVERIFY(!auth().isAuthenticating());
        QTRY_COMPARE(m_backend.receivedCount("GET", "/api/user/config"), 1);
        QTRY_VERIFY(!attempts().hasActiveAttempt());
        const auto session = m_backend.lastRequest("/api/session");
        QVERIFY(session && session->body.find("https://example.com/g.png") != std::string::npos);

        // A new attempt after the finished one cancels nothing.
        m_authStatuses.clear();
        attempts().start(SignInProviderId::Microsoft);
        QCOMPARE(m_authStatuses, QStringList{QStringLiteral("Opening Microsoft sign-in...")});
    }

    void attemptWithoutProviderLabelIsCalledPrevious() {
        auth().beginAuth(QString());
        attempts().start(SignInProviderId::Microsoft);
        QVERIFY(m_authStatuses.contains(
            QStringLiteral("Previous sign-in cancelled. Starting Microsoft sign-in...")));
    }

    void providerErrorsOfTheCurrentAttemptAreShown_data() {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("status");
        QTest::newRow("cancelled") << "cancelled"
                                   << "Apple sign-in cancelled. Try again.";
        QTest::newRow("failed")
            << "timed out"
            << "Apple sign-in failed: It took too long to hear back from the browser. Try again.";
        // The provider's own sentence already starts with the prefix: it is not said twice.
        QTest::newRow("refused by the user") << "denied"
                                             << "Apple sign-in failed: The user cancelled the sign-in.";
    }

    void providerErrorsOfTheCurrentAttemptAreShown() {
        QFETCH(QString, error);
        QFETCH(QString, status);
        attempts().start(SignInProviderId::Apple);
        m_answers[SignInProviderId::Apple].fail(
            error == "cancelled"   ? std::make_exception_ptr(SignInCancelled())
            : error == "timed out" ? std::make_exception_ptr(AppleOAuthError::authCancelled())
                                   : std::make_exception_ptr(AppleOAuthError::callbackFailed(QStringLiteral(
                                         "Apple sign-in failed: The user cancelled the sign-in."))));
        QTRY_COMPARE(auth().statusText(), status);
        QVERIFY(!auth().isAuthenticating());
        QVERIFY(!attempts().hasActiveAttempt());
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
    }

    void supersededProviderSuccessMakesNoSessionCall() {
        attempts().start(SignInProviderId::Apple);
        attempts().start(SignInProviderId::Google);
        m_answers[SignInProviderId::Apple].resolve(SignInIdentity{
            QStringLiteral("apple-id-token"), QStringLiteral("a@example.com"), std::nullopt, std::nullopt});
        QTest::qWait(100);
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
        QVERIFY(!m_rig->session.activeSessionToken());
        QCOMPARE(auth().statusText(), QStringLiteral("Opening Google sign-in..."));
    }

    void newestAttemptWinsWhenAnOlderSessionAnswerArrivesLate() {
        RuntimeLogCapture log;
        // Apple's exchange is slow; it is still in flight when the user starts Google.
        m_backend.setDelay("/api/session", 700ms);
        attempts().start(SignInProviderId::Apple);
        m_answers[SignInProviderId::Apple].resolve(SignInIdentity{
            QStringLiteral("apple-id-token"), QStringLiteral("a@example.com"), std::nullopt, std::nullopt});
        QTRY_COMPARE(m_backend.receivedCount("POST", "/api/session"), 1);
        m_backend.setDelay("/api/session", 0ms);

        attempts().start(SignInProviderId::Google);
        m_answers[SignInProviderId::Google].resolve(SignInIdentity{
            QStringLiteral("google-id-token"), QStringLiteral("g@example.com"), std::nullopt, std::nullopt});
        QTRY_COMPARE(auth().provider(), std::optional<QString>(QStringLiteral("google")));
        // Apple's answer comes after Google's and is dropped: the stored session, the session's profile and
        // the shown identity all belong to Google.
        QTRY_VERIFY(!log.entriesStartingWith(QStringLiteral("INFO Discarded session answer")).isEmpty());
        QTest::qWait(50);
        const std::optional<QString> token = m_rig->session.activeSessionToken();
        QVERIFY(token);
        QCOMPARE(m_rig->session.profile()->email, std::optional<QString>(QStringLiteral("g@example.com")));
        QCOMPARE(auth().email(), std::optional<QString>(QStringLiteral("g@example.com")));
        const QByteArray saved = m_rig->secrets->items[std::make_pair(
            SecureStore::kDefaultService, SecureStore::kDefaultSessionTokenAccount)];
        QCOMPARE(saved, token->toUtf8());
    }

    // Cancelling ends the attempt as cancelled when its flow stops at once; a result that still arrives
    // (the browser came back just then) signs nobody in.
    void cancelledAttemptIgnoresALateResult_data() {
        QTest::addColumn<bool>("flowEndsOnCancel");
        QTest::newRow("flow ends at once") << true;
        QTest::newRow("flow finishes anyway") << false;
    }
    void cancelledAttemptIgnoresALateResult() {
        QFETCH(bool, flowEndsOnCancel);
        m_flowsEndOnCancel = flowEndsOnCancel;
        attempts().start(SignInProviderId::Google);
        attempts().cancel();
        QVERIFY(m_flowTokens.first().isCancelled());
        if (flowEndsOnCancel) {
            QTRY_COMPARE(auth().statusText(), QStringLiteral("Google sign-in cancelled. Try again."));
            QVERIFY(!auth().isAuthenticating());
            QVERIFY(!attempts().hasActiveAttempt());
        }

        m_answers[SignInProviderId::Google].resolve(SignInIdentity{
            QStringLiteral("google-id-token"), QStringLiteral("g@example.com"), std::nullopt, std::nullopt});
        QTRY_VERIFY(!attempts().hasActiveAttempt());
        QTest::qWait(50);
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
        QVERIFY(!auth().provider());
        QVERIFY(!m_rig->session.activeSessionToken());
    }

    // An attempt still waiting when the app goes is called off, and what its flow hears later touches
    // nothing that is gone.
    void destroyingCancelsTheRunningAttempt() {
        attempts().start(SignInProviderId::Microsoft);
        m_rig->attempts.reset();
        QVERIFY(m_flowTokens.first().isCancelled());
        m_answers[SignInProviderId::Microsoft].resolve(
            SignInIdentity{QStringLiteral("microsoft-id-token"), std::nullopt, std::nullopt, std::nullopt});
        QTest::qWait(50);
        QCOMPARE(m_backend.receivedCount("POST", "/api/session"), 0);
        QCOMPARE(auth().statusText(), QStringLiteral("Opening Microsoft sign-in..."));
    }
};

QTEST_GUILESS_MAIN(TestSignInAttempts)

#include "tst_signin_attempts.moc"
