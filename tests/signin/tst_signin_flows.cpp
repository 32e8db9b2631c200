// Whole sign-ins against the stand-in identity providers with a browser played by the test: results, stray
// and forged requests that reach the listener first, the PKCE check, every cause of failure with the one
// text it shows, and cancellation.
#include "AppleOAuthService.h"
#include "BackendClient.h"
#include "CallbackRequestParser.h"
#include "FakeBrowser.h"
#include "GoogleOAuthService.h"
#include "MicrosoftOAuthService.h"
#include "RawHttpClient.h"
#include "RunTask.h"
#include "StandinBackend.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

using Choices = QList<std::pair<QString, QString>>;

// Runs a sign-in to its end; returns the error's text, or "" on success (the result in `out`).
template <class Result> QString outcome(QCoro::Task<Result> task, std::optional<Result>& out) {
    try {
        out = runTask(std::move(task));
        return {};
    } catch (const UserFacingError& error) {
        return error.message();
    } catch (const SignInCancelled&) {
        return QStringLiteral("<cancelled>");
    } catch (const std::exception& error) {
        return QStringLiteral("<other> ") + QString::fromUtf8(error.what());
    }
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString show(const std::optional<QString>& value) {
    return value ? *value : QStringLiteral("<absent>");
}

} // namespace

class TestSignInFlows : public QObject {
    Q_OBJECT

    standin::StandinBackend m_backend;
    QString m_base;
    QTemporaryDir m_secrets;
    QNetworkAccessManager m_network;
    // Lives as long as the test: a cancelled attempt leaves its start request running to its end.
    std::unique_ptr<BackendClient> m_client;

    GoogleSignInOptions googleOptions() {
        GoogleSignInOptions options;
        options.endpoints = {QUrl(m_base + "/google/o/oauth2/v2/auth"), QUrl(m_base + "/google/token"),
                             QUrl(m_base + "/google/oauth2/v3/userinfo")};
        options.clientSecretSearch =
            GoogleClientSecretSearch{{m_secrets.path()}, {}, m_secrets.path(), m_secrets.path()};
        return options;
    }
    MicrosoftSignInOptions microsoftOptions() {
        MicrosoftSignInOptions options;
        options.authority = QUrl(m_base + "/microsoft/");
        return options;
    }
    bool tokenRequested(const std::string& path) { return m_backend.lastRequest(path).has_value(); }

    // One sign-in of `provider` run to its end: "" on success, else the error's text.
    QString signIn(const QString& provider, FakeBrowser& browser, std::chrono::milliseconds wait = 120s,
                   SignInCancelToken cancel = {}) {
        if (provider == "apple") {
            AppleOAuthService service(*m_client, browser.opener(), AppleSignInOptions{wait});
            std::optional<SignInIdentity> result;
            return outcome(service.signIn(cancel), result);
        }
        if (provider == "google") {
            GoogleSignInOptions options = googleOptions();
            options.callbackTimeout = wait;
            GoogleOAuthService service(&m_network, browser.opener(), options);
            std::optional<SignInIdentity> result;
            return outcome(service.signIn(cancel), result);
        }
        MicrosoftSignInOptions options = microsoftOptions();
        options.callbackTimeout = wait;
        MicrosoftOAuthService service(&m_network, browser.opener(), options);
        std::optional<SignInIdentity> result;
        return outcome(service.signIn(cancel), result);
    }

private slots:
    void initTestCase() {
        m_backend.start();
        m_base = QString::fromStdString(m_backend.baseUrl());
        m_client = std::make_unique<BackendClient>(QUrl(m_base));
        QFile secret(m_secrets.filePath("google_client_secret.json"));
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write(R"({"installed":{"client_id":"desk+top&id=1.apps","client_secret":"s/e+c=r&t"}})");
    }
    void init() {
        m_backend.reset();
        qputenv("MICROSOFT_CLIENT_ID", "ms-client");
        qunsetenv("MICROSOFT_TENANT_ID");
        qputenv("MICROSOFT_REDIRECT_URI",
                "http://127.0.0.1:" + QByteArray::number(freePort()) + "/oauth/microsoft/callback");
    }

    void apple_data() {
        QTest::addColumn<Choices>("choices");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("name");

        QTest::newRow("GET query") << Choices{} << "ada@example.test"
                                   << "Ada Lovelace";
        QTest::newRow("POST form") << Choices{{"standin_action", "form"}, {"standin_name", "Grace B. Hopper"}}
                                   << "ada@example.test"
                                   << "Grace B. Hopper";
        QTest::newRow("no user: e-mail from the token")
            << Choices{{"standin_user", "omit"}, {"standin_email", "g@h.test"}} << "g@h.test"
            << "<absent>";
    }
    void apple() {
        QFETCH(Choices, choices);
        QFETCH(QString, email);
        QFETCH(QString, name);

        FakeBrowser browser;
        browser.choices = choices;
        AppleOAuthService service(*m_client, browser.opener());
        std::optional<SignInIdentity> result;
        QCOMPARE(outcome(service.signIn(SignInCancelToken()), result), QString());
        QVERIFY(result->idToken.count('.') == 2);
        QCOMPARE(show(result->email), email);
        QCOMPARE(show(result->name), name);
        QTRY_COMPARE(browser.finalStatus, 200);
        QVERIFY2(browser.finalBody.contains("Apple sign-in completed"), browser.finalBody);
        QCOMPARE(browser.listenersChecked, 1);
        QCOMPARE(browser.nonLoopbackListeners, QStringList());
        QVERIFY(!accepts(FakeBrowser::callbackPort(browser.opened.first())));
    }

    void appleStartAnswers_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::newRow("not a web address")
            << 200 << QByteArray("{\"auth_url\":\"file:///etc/passwd\",\"state\":\"s\"}")
            << "Apple sign-in returned an invalid authorization URL.";
        QTest::newRow("not a URL") << 200 << QByteArray("{\"auth_url\":\"http://[x\",\"state\":\"s\"}")
                                   << "Apple sign-in returned an invalid authorization URL.";
        QTest::newRow("backend refuses") << 503 << QByteArray(R"({"error":"down"})") << "down";
    }
    void appleStartAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        m_backend.scriptNext("/api/auth/apple/start", {status, body.toStdString()});
        FakeBrowser browser;
        AppleOAuthService service(*m_client, browser.opener());
        std::optional<SignInIdentity> result;
        const QString message = outcome(service.signIn(SignInCancelToken()), result);
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY(browser.opened.isEmpty());
        const auto start = m_backend.lastRequest("/api/auth/apple/start");
        QVERIFY(start);
        QVERIFY(!accepts(quint16(std::stoi(start->queryItems.at(0).second))));
    }

    void google() {
        FakeBrowser browser;
        GoogleOAuthService service(&m_network, browser.opener(), googleOptions());
        std::optional<SignInIdentity> result;
        QCOMPARE(outcome(service.signIn(SignInCancelToken()), result), QString());
        QCOMPARE(browser.nonLoopbackListeners, QStringList());
        QCOMPARE(browser.listenersChecked, 1);
        QTRY_COMPARE(browser.finalStatus, 200);

        const QUrlQuery query(browser.opened.first());
        QStringList names;
        for (const auto& item : query.queryItems()) {
            names << item.first;
        }
        QCOMPARE(names, QStringList({"client_id", "redirect_uri", "response_type", "scope", "access_type",
                                     "prompt", "state", "code_challenge", "code_challenge_method"}));
        QCOMPARE(query.queryItemValue("client_id", QUrl::FullyDecoded), QStringLiteral("desk+top&id=1.apps"));
        QCOMPARE(query.queryItemValue("scope", QUrl::FullyDecoded),
                 QStringLiteral("openid https://www.googleapis.com/auth/userinfo.profile "
                                "https://www.googleapis.com/auth/userinfo.email"));
        QCOMPARE(query.queryItemValue("state").size(), 32);
        const quint16 port = FakeBrowser::callbackPort(browser.opened.first());
        QCOMPARE(query.queryItemValue("redirect_uri", QUrl::FullyDecoded),
                 "http://127.0.0.1:" + QString::number(port) + "/oauth/google/callback");
        QVERIFY(!accepts(port));
        QCOMPARE(result->email, std::optional<QString>("ada@example.test"));
        QCOMPARE(result->name, std::optional<QString>("Ada Lovelace"));
        QCOMPARE(result->picture, std::optional<QString>("http://127.0.0.1/standin/picture.png"));
        // The secret's "+", "&" and "=" arrived intact, so the stand-in matched the client.
        const auto token = m_backend.lastRequest("/google/token");
        QVERIFY(QByteArray::fromStdString(token->body).contains("client_secret=s%2Fe%2Bc%3Dr%26t"));
        const auto userInfo = m_backend.lastRequest("/google/oauth2/v3/userinfo");
        QVERIFY(userInfo && userInfo->headers.at("authorization").rfind("Bearer standin-access.", 0) == 0);
    }

    // The token endpoint refuses a verifier that does not match the challenge of the authorization request.
    void googlePkceIsChecked() {
        FakeBrowser browser;
        browser.tamper = [](QUrl& url) {
            QUrlQuery query(url);
            query.removeQueryItem("code_challenge");
            query.addQueryItem("code_challenge", OAuthSupport::sha256Base64URL("an attacker's verifier"));
            url.setQuery(query);
        };
        GoogleOAuthService service(&m_network, browser.opener(), googleOptions());
        std::optional<SignInIdentity> result;
        const QString message = outcome(service.signIn(SignInCancelToken()), result);
        QVERIFY2(message.startsWith("Google token exchange failed: {") &&
                     message.contains("PKCE verification failed"),
                 qPrintable(message));
    }

    void googleTokenAnswers_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("email");
        const QByteArray claims =
            QByteArray(R"({"email":"c@d.test","name":"From Claims"})")
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        QTest::newRow("token refused") << "/google/token" << 400 << QByteArray(R"({"error":"invalid_grant"})")
                                       << R"(Google token exchange failed: {"error":"invalid_grant"})"
                                       << "";
        QTest::newRow("empty id_token")
            << "/google/token" << 200 << QByteArray(R"({"id_token":"","access_token":"a"})")
            << "Google did not return an ID token."
            << "";
        QTest::newRow("no access token: claims")
            << "/google/token" << 200 << QByteArray(R"({"id_token":"h.)" + claims + R"(.s"})") << ""
            << "c@d.test";
        QTest::newRow("userinfo refused: identity token alone")
            << "/google/oauth2/v3/userinfo" << 401 << QByteArray(R"({"error":"invalid_request"})") << ""
            << "ada@example.test";
    }
    void googleTokenAnswers() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        QFETCH(QString, email);
        m_backend.scriptNext(path.toStdString(), {status, body.toStdString()});
        FakeBrowser browser;
        GoogleOAuthService service(&m_network, browser.opener(), googleOptions());
        std::optional<SignInIdentity> result;
        QCOMPARE(outcome(service.signIn(SignInCancelToken()), result), error);
        if (error.isEmpty()) {
            QCOMPARE(show(result->email), email);
            QCOMPARE(result->picture, std::nullopt);
        }
    }

    void microsoft() {
        FakeBrowser browser;
        browser.choices = {{"standin_name", "Grace Hopper"}};
        MicrosoftOAuthService service(&m_network, browser.opener(), microsoftOptions());
        std::optional<SignInIdentity> result;
        QCOMPARE(outcome(service.signIn(SignInCancelToken()), result), QString());
        QVERIFY(tokenRequested("/microsoft/common/oauth2/v2.0/token"));
        QCOMPARE(browser.listenersChecked, 1);
        QCOMPARE(browser.nonLoopbackListeners, QStringList());
        const QUrl redirect(qEnvironmentVariable("MICROSOFT_REDIRECT_URI"));
        QVERIFY(!accepts(quint16(redirect.port())));

        const QUrlQuery query(browser.opened.first());
        QStringList names;
        for (const auto& item : query.queryItems()) {
            names << item.first;
        }
        QCOMPARE(names, QStringList({"client_id", "response_type", "redirect_uri", "response_mode", "scope",
                                     "code_challenge", "code_challenge_method", "prompt", "state"}));
        QCOMPARE(browser.opened.first().path(), QStringLiteral("/microsoft/common/oauth2/v2.0/authorize"));
        QCOMPARE(query.queryItemValue("redirect_uri", QUrl::FullyDecoded), redirect.toString());
        QCOMPARE(result->email, std::optional<QString>("ada@example.test"));
        QCOMPARE(result->name, std::optional<QString>("Grace Hopper"));
    }

    void microsoftTokenRefused() {
        m_backend.scriptNext("/microsoft/common/oauth2/v2.0/token",
                             {400, R"({"error":"invalid_grant","error_description":"AADSTS70008"})"});
        FakeBrowser browser;
        MicrosoftOAuthService service(&m_network, browser.opener(), microsoftOptions());
        std::optional<SignInIdentity> result;
        QCOMPARE(
            outcome(service.signIn(SignInCancelToken()), result),
            QStringLiteral(
                R"(Microsoft token exchange failed: {"error":"invalid_grant","error_description":"AADSTS70008"})"));
        const auto token = m_backend.lastRequest("/microsoft/common/oauth2/v2.0/token");
        QVERIFY(token && token->body.find("code_verifier=") != std::string::npos);
    }

    // The fixed Microsoft port is free again as soon as an attempt is cancelled: a new attempt started
    // right away (as the app does when the user clicks again) can listen on it.
    void microsoftRetryRightAfterCancel() {
        FakeBrowser abandoned;
        abandoned.idle = true;
        FakeBrowser browser;
        MicrosoftOAuthService first(&m_network, abandoned.opener(), microsoftOptions());
        MicrosoftOAuthService second(&m_network, browser.opener(), microsoftOptions());
        SignInCancelToken cancel;
        std::optional<SignInIdentity> firstResult;
        auto attempt = first.signIn(cancel);
        QTRY_COMPARE(abandoned.opened.size(), 1);
        cancel.cancel();
        std::optional<SignInIdentity> result;
        QCOMPARE(outcome(second.signIn(SignInCancelToken()), result), QString());
        QCOMPARE(result->email, std::optional<QString>("ada@example.test"));
        QCOMPARE(outcome(std::move(attempt), firstResult), QStringLiteral("<cancelled>"));
    }

    // Requests that reach the listener before the browser does (a forged callback from another process or
    // a web page, one without a state, a page icon, idle connections held open) are turned away, and the
    // browser's own callback completes the sign-in.
    void strayRequestsDoNotEndTheSignIn_data() {
        QTest::addColumn<QString>("provider");
        QTest::newRow("apple") << "apple";
        QTest::newRow("google") << "google";
        QTest::newRow("microsoft") << "microsoft";
    }
    void strayRequestsDoNotEndTheSignIn() {
        QFETCH(QString, provider);
        FakeBrowser browser;
        QList<int> strayStatuses;
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        int idleWhenTheBrowserCame = 0;
        browser.beforeCallback = [&](const QUrl& callback) {
            const quint16 port = quint16(callback.port());
            const QByteArray path = callback.path().toUtf8();
            const QByteArray credential = provider == "apple" ? "id_token" : "code";
            for (const QByteArray& target : {path + "?" + credential + "=evil&state=forged",
                                             path + "?" + credential + "=evil", QByteArray("/favicon.ico")}) {
                auto stray = RawHttpClient::send(port, {"GET " + target + " HTTP/1.1\r\n\r\n"});
                strayStatuses << RawHttpClient::statusOf(RawHttpClient::finish(stray).answer);
            }
            idle = RawHttpClient::holdOpen(port, 16, {});
            idleWhenTheBrowserCame = RawHttpClient::stillConnected(idle);
        };
        QCOMPARE(signIn(provider, browser, 20s), QString());
        QCOMPARE(strayStatuses, (QList<int>{400, 400, 404}));
        QCOMPARE(idleWhenTheBrowserCame, 16);
        QTRY_COMPARE(browser.finalStatus, 200);
        QVERIFY2(browser.finalBody.contains("sign-in completed"), browser.finalBody);
    }

    // Every way a sign-in fails, and the one text the sign-in status shows for it: the orchestration puts
    // "<Provider> sign-in failed: " before the error's text, so that text never repeats it.
    void failureCauses_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("shown"); // "{port}": the port another program holds
        QTest::addColumn<bool>("opensBrowser");
        QTest::addColumn<int>("browserStatus"); // the listener's answer to the browser; 0: none
        QTest::addColumn<QByteArray>("page");

        const QString tooLong = "It took too long to hear back from the browser. Try again.";
        for (const QString provider : {"Apple", "Google", "Microsoft"}) {
            const QString key = provider.toLower();
            const QString failed = provider + " sign-in failed: ";
            QTest::addRow("%s, refused at the provider", qPrintable(key))
                << key << "deny"
                << failed + provider + " refused the sign-in: The user cancelled the sign-in." << true << 200
                << QByteArray("did not complete");
            QTest::addRow("%s, browser never comes back", qPrintable(key))
                << key << "idle" << failed + tooLong << true << 0 << QByteArray();
            // A forged state is turned away and is no ending: the attempt waits on until its time runs out.
            QTest::addRow("%s, only a forged state comes back", qPrintable(key))
                << key << "forged" << failed + tooLong << true << 400 << QByteArray(foreignStatePage);
        }
        QTest::newRow("microsoft, port held by another program")
            << "microsoft"
            << "port taken"
            << "Microsoft sign-in failed: Port {port} is already used by another program, so Quillvane "
               "cannot "
               "receive the browser's answer. Close that program and try again."
            << false << 0 << QByteArray();
        QTest::newRow("microsoft, no client id")
            << "microsoft"
            << "no client id"
            << "Microsoft sign-in failed: MICROSOFT_CLIENT_ID is not configured." << false << 0
            << QByteArray();
        QTest::newRow("microsoft, redirect beyond this machine")
            << "microsoft"
            << "redirect elsewhere"
            << "Microsoft sign-in failed: MICROSOFT_REDIRECT_URI is invalid." << false << 0 << QByteArray();
        QTest::newRow("microsoft, tenant unusable in a path")
            << "microsoft"
            << "tenant"
            << "Microsoft sign-in failed: MICROSOFT_TENANT_ID is invalid." << false << 0 << QByteArray();
    }
    void failureCauses() {
        QFETCH(QString, provider);
        QFETCH(QString, cause);
        QFETCH(QString, shown);
        QFETCH(bool, opensBrowser);
        QFETCH(int, browserStatus);
        QFETCH(QByteArray, page);

        FakeBrowser browser;
        browser.idle = cause == "idle";
        if (cause == "deny" || cause == "forged") {
            browser.choices = {{"standin_action", cause == "deny" ? "deny" : "wrong_state"}};
        }
        QTcpServer holder;
        if (cause == "port taken") {
            QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
            qputenv("MICROSOFT_REDIRECT_URI",
                    "http://127.0.0.1:" + QByteArray::number(holder.serverPort()) + "/cb");
            shown.replace("{port}", QString::number(holder.serverPort()));
        } else if (cause == "no client id") {
            qputenv("MICROSOFT_CLIENT_ID", " \n");
        } else if (cause == "redirect elsewhere") {
            qputenv("MICROSOFT_REDIRECT_URI", "http://10.0.0.1:50061/cb");
        } else if (cause == "tenant") {
            qputenv("MICROSOFT_TENANT_ID", "a b[]");
        }
        // Long enough for the forged answer to arrive, short for a test.
        const auto wait = cause == "idle" ? 300ms : cause == "forged" ? 1500ms : 20s;
        const QString message = signIn(provider, browser, wait);
        QVERIFY2(!message.contains("sign-in failed"), qPrintable(message));
        const QString label = provider == "apple" ? "Apple" : provider == "google" ? "Google" : "Microsoft";
        QCOMPARE(label + " sign-in failed: " + message, shown);

        QCOMPARE(browser.opened.size(), opensBrowser ? 1 : 0);
        if (browserStatus != 0) {
            QTRY_COMPARE(browser.finalStatus, browserStatus);
            QVERIFY2(browser.finalBody.contains(page), browser.finalBody);
        }
        QVERIFY(!tokenRequested("/google/token"));
        QVERIFY(!tokenRequested("/microsoft/common/oauth2/v2.0/token"));
        if (opensBrowser) {
            QVERIFY(!accepts(FakeBrowser::callbackPort(browser.opened.first())));
        } else if (cause == "tenant") {
            QVERIFY(!accepts(quint16(QUrl(qEnvironmentVariable("MICROSOFT_REDIRECT_URI")).port())));
        }
    }

    // Cancelling ends the attempt at once whichever wait it is in, and the listener is gone with it.
    void cancellation_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>(
            "during"); // "callback": the user never returns; "token": a slow token endpoint
        QTest::newRow("apple, waiting for the browser") << "apple"
                                                        << "callback";
        QTest::newRow("apple, waiting for the backend") << "apple"
                                                        << "start";
        QTest::newRow("google, waiting for the browser") << "google"
                                                         << "callback";
        QTest::newRow("google, waiting for the token") << "google"
                                                       << "token";
        QTest::newRow("microsoft, waiting for the browser") << "microsoft"
                                                            << "callback";
        QTest::newRow("microsoft, waiting for the token") << "microsoft"
                                                          << "token";
    }
    void cancellation() {
        QFETCH(QString, provider);
        QFETCH(QString, during);
        FakeBrowser browser;
        browser.idle = during == "callback";
        m_backend.setDelay("/google/token", during == "token" ? 20s : 0s);
        m_backend.setDelay("/microsoft/common/oauth2/v2.0/token", during == "token" ? 20s : 0s);
        m_backend.setDelay("/api/auth/apple/start", during == "start" ? 20s : 0s);
        SignInCancelToken cancel;
        // Cancel once the attempt is in the wait of this row.
        QTimer poll;
        poll.callOnTimeout([&] {
            const bool waiting = during == "callback" ? !browser.opened.isEmpty()
                                 : during == "start"
                                     ? m_backend.lastRequest("/api/auth/apple/start").has_value()
                                     : m_backend.received().size() >= 2;
            if (waiting) {
                cancel.cancel();
            }
        });
        poll.start(20);
        AppleOAuthService apple(*m_client, browser.opener());
        GoogleOAuthService google(&m_network, browser.opener(), googleOptions());
        MicrosoftOAuthService microsoft(&m_network, browser.opener(), microsoftOptions());
        QElapsedTimer timer;
        timer.start();
        QString message;
        if (provider == "apple") {
            std::optional<SignInIdentity> result;
            message = outcome(apple.signIn(cancel), result);
        } else if (provider == "google") {
            std::optional<SignInIdentity> result;
            message = outcome(google.signIn(cancel), result);
        } else {
            std::optional<SignInIdentity> result;
            message = outcome(microsoft.signIn(cancel), result);
        }
        QCOMPARE(message, QStringLiteral("<cancelled>"));
        QVERIFY2(timer.elapsed() < 10000, "the attempt outlived its cancellation");
        if (!browser.opened.isEmpty()) {
            QVERIFY(!accepts(FakeBrowser::callbackPort(browser.opened.first())));
        }
        m_backend.reset();
    }
};

QTEST_GUILESS_MAIN(TestSignInFlows)
#include "tst_signin_flows.moc"
