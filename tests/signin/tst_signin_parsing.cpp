// The pure parts of the sign-ins: reading a callback request, the provider-specific field rules, PKCE,
// token payloads, form bodies, the Apple profile, the Google client-secret search and the Microsoft
// redirect address.
#include "AppleOAuthService.h"
#include "CallbackRequestParser.h"
#include "GoogleOAuthService.h"
#include "JsonDecoding.h"
#include "MicrosoftOAuthService.h"
#include "OAuthSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using Status = CallbackReadResult::Status;
using Fields = QMap<QString, QString>; // key → value; "<absent>" for a key without value

Q_DECLARE_METATYPE(CallbackReadResult::Status)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

QString show(const std::optional<QString>& value) {
    return value ? *value : QStringLiteral("<absent>");
}

// The callback fields that are present, for comparing against a table.
Fields present(const OAuthCallback& c) {
    Fields out;
    const std::pair<const char*, const std::optional<QString>*> all[] = {
        {"state", &c.state},   {"code", &c.code},   {"id_token", &c.idToken},
        {"user", &c.userJSON}, {"error", &c.error}, {"error_description", &c.errorDescription}};
    for (const auto& [key, value] : all) {
        if (*value) {
            out.insert(QLatin1String(key), **value);
        }
    }
    return out;
}

QByteArray post(const QByteArray& target, const QByteArray& body,
                const QByteArray& type = "application/x-www-form-urlencoded") {
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray get(const QByteArray& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray secretJson(const char* id) {
    return QByteArray(R"({"installed":{"client_id":")") + id +
           R"(","client_secret":"s","redirect_uris":["x"]}})";
}

} // namespace

class TestSignInParsing : public QObject {
    Q_OBJECT

private slots:
    void readsRequestsToTheirEnd_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<CallbackReadResult::Status>("status");
        QTest::addColumn<QByteArray>("body");

        const QByteArray form = post("/cb", "state=s&id_token=t");
        QTest::newRow("whole GET") << get("/cb?code=1") << Status::Complete << QByteArray();
        QTest::newRow("head not finished")
            << QByteArray("GET /cb?code=1 HTTP/1.1\r\nHost: x\r\n") << Status::Incomplete << QByteArray();
        QTest::newRow("request line only in part")
            << QByteArray("GET /oauth/goo") << Status::Incomplete << QByteArray();
        QTest::newRow("POST head without its body")
            << form.left(form.indexOf("\r\n\r\n") + 4) << Status::Incomplete << QByteArray();
        QTest::newRow("POST body in part") << form.chopped(3) << Status::Incomplete << QByteArray();
        QTest::newRow("POST whole") << form << Status::Complete << QByteArray("state=s&id_token=t");
        QTest::newRow("form type with charset")
            << post("/cb", "a=b", "Application/X-WWW-Form-Urlencoded; charset=UTF-8") << Status::Complete
            << QByteArray("a=b");
        QTest::newRow("other body read and dropped")
            << post("/cb", "{}", "application/json") << Status::Complete << QByteArray();
        QTest::newRow("no target") << QByteArray("GET\r\n\r\n") << Status::Malformed << QByteArray();
        QTest::newRow("head not UTF-8")
            << QByteArray("GET /cb?state=\xff\xfe HTTP/1.1\r\n\r\n") << Status::Malformed << QByteArray();
        QTest::newRow("bad length") << QByteArray("POST /cb HTTP/1.1\r\nContent-Length: -4\r\n\r\n")
                                    << Status::Malformed << QByteArray();
        QTest::newRow("chunked") << QByteArray(
                                        "POST /cb HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                                 << Status::Malformed << QByteArray();
        QTest::newRow("length over the cap")
            << QByteArray("POST /cb HTTP/1.1\r\nContent-Length: 70000\r\n\r\n") << Status::TooLarge
            << QByteArray();
        QTest::newRow("endless head")
            << QByteArray("GET /cb?x=" + QByteArray(70000, 'a')) << Status::TooLarge << QByteArray();
    }
    void readsRequestsToTheirEnd() {
        QFETCH(QByteArray, received);
        QFETCH(CallbackReadResult::Status, status);
        QFETCH(QByteArray, body);
        const CallbackReadResult result = CallbackRequestParser::read(received);
        QCOMPARE(result.status, status);
        QCOMPARE(result.request.body, body);
    }

    void readsTheRequestLineLoosely() {
        const CallbackReadResult result =
            CallbackRequestParser::read("post   /cb?code=1    HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
        QCOMPARE(result.status, Status::Complete);
        QCOMPARE(result.request.method, QByteArray("POST"));
        QCOMPARE(result.request.target, QByteArray("/cb?code=1"));
    }

    // Which requests end the wait, with which fields and which page, per provider. The attempt's state is
    // "s" unless the row says otherwise; a request that is not the callback gets its status and changes
    // nothing.
    void interpretsRequestsPerProvider_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("expectedState");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("page"); // "success", "error", or the refusal's text
        QTest::addColumn<Fields>("fields");   // of the callback; none when it is not one

        const auto row = [](const char* name, const char* provider, const QByteArray& request, int status,
                            const QByteArray& page, const Fields& fields = {}, const QString& state = "s") {
            QTest::newRow(name) << QString::fromLatin1(provider) << request << state << status << page
                                << fields;
        };
        const QByteArray notFound(notFoundPage);
        const QByteArray foreign(foreignStatePage);

        row("apple GET any path", "apple", get("/whatever?state=s&id_token=t%2Bx+y"), 200, "success",
            {{"state", "s"}, {"id_token", "t+x+y"}});
        row("apple POST form: plus is blank, escapes decoded", "apple",
            post("/", "state=s&user=%7B%7D&id_token=a+b%20c"), 200, "success",
            {{"state", "s"}, {"user", "{}"}, {"id_token", "a b c"}});
        row("apple POST: the query is not read", "apple", post("/?state=q", "state=s&id_token=t"), 200,
            "success", {{"state", "s"}, {"id_token", "t"}});
        row("apple form pairs without '=' and with two", "apple", post("/", "user&=v&error=a=b&state=s"), 200,
            "error", {{"state", "s"}, {"user", ""}, {"error", "a=b"}});
        row("apple malformed escape kept with its plus", "apple", post("/", "state=s&user=%zz+1%"), 200,
            "error", {{"state", "s"}, {"user", "%zz+1%"}});
        row("apple escape that is not UTF-8 kept as sent", "apple", get("/?state=s&id_token=%FF%FE"), 200,
            "success", {{"state", "s"}, {"id_token", "%FF%FE"}});
        row("apple duplicate keys: last wins", "apple", post("/", "state=a&state=s&id_token=t"), 200,
            "success", {{"state", "s"}, {"id_token", "t"}});
        row("apple error gets the error page", "apple", get("/?state=s&error=user_cancelled"), 200, "error",
            {{"state", "s"}, {"error", "user_cancelled"}});
        row("apple empty token gets the error page", "apple", get("/?state=s&id_token="), 200, "error",
            {{"state", "s"}, {"id_token", ""}});
        row("apple page icon", "apple", get("/favicon.ico"), 404, notFound);
        row("apple fields it does not know", "apple", get("/?foo=1&scope=x"), 404, notFound);
        row("apple empty form body", "apple", post("/", ""), 404, notFound);
        row("apple token without state", "apple", get("/?id_token=t"), 400, foreign);
        row("apple state differing in case", "apple", get("/?state=S&id_token=t"), 400, foreign);
        row("apple forged state in a form", "apple", post("/", "state=s2&id_token=t"), 400, foreign);
        row("apple before the state is known", "apple", get("/?state=&id_token=t"), 400, foreign, {}, "");

        row("google callback", "google", get("/oauth/google/callback?code=4%2F0Ab&scope=x&state=s"), 200,
            "success", {{"code", "4/0Ab"}, {"state", "s"}});
        row("google other path", "google", get("/favicon.ico?code=1&state=s"), 404, notFound);
        row("google path prefix is not the path", "google", get("/oauth/google/callbackx?code=1&state=s"),
            404, notFound);
        row("google code without '='", "google", get("/oauth/google/callback?code&x=1"), 404, notFound);
        row("google code without '=' beside state", "google", get("/oauth/google/callback?code&state=s"), 200,
            "error", {{"state", "s"}});
        row("google empty code", "google", get("/oauth/google/callback?code=&state=s"), 200, "error",
            {{"code", ""}, {"state", "s"}});
        row("google POST reads the query, not a form", "google",
            post("/oauth/google/callback?code=q&state=s", "code=f"), 200, "success",
            {{"code", "q"}, {"state", "s"}});
        row("google query duplicates: last wins", "google",
            get("/oauth/google/callback?code=a&code=b&state=s"), 200, "success",
            {{"code", "b"}, {"state", "s"}});
        row("google code without state", "google", get("/oauth/google/callback?code=c"), 400, foreign);
        row("google code with another state", "google", get("/oauth/google/callback?code=c&state=x"), 400,
            foreign);

        row("microsoft callback, plus stays", "microsoft",
            get("/oauth/microsoft/callback?code=a+b%2Bc&state=s"), 200, "success",
            {{"code", "a+b+c"}, {"state", "s"}});
        row("microsoft cancel redirect", "microsoft",
            get("/oauth/microsoft/"
                "callback?error=access_denied&error_description=The+user+cancelled.&state=s"),
            200, "error",
            {{"error", "access_denied"}, {"error_description", "The+user+cancelled."}, {"state", "s"}});
        row("microsoft forged refusal", "microsoft",
            get("/oauth/microsoft/callback?error=access_denied&state=x"), 400, foreign);
        row("microsoft right state on another path", "microsoft", get("/?code=c&state=s"), 404, notFound);
        row("microsoft page icon", "microsoft", get("/favicon.ico"), 404, notFound);
    }
    void interpretsRequestsPerProvider() {
        QFETCH(QString, provider);
        QFETCH(QByteArray, request);
        QFETCH(QString, expectedState);
        QFETCH(int, status);
        QFETCH(QByteArray, page);
        QFETCH(Fields, fields);

        const CallbackProfile profile = provider == "apple" ? CallbackProfile::apple()
                                        : provider == "google"
                                            ? CallbackProfile::google()
                                            : CallbackProfile::microsoft("/oauth/microsoft/callback");
        const CallbackReadResult read = CallbackRequestParser::read(request);
        QCOMPARE(read.status, Status::Complete);
        const CallbackVerdict verdict =
            CallbackRequestParser::interpret(read.request, profile, expectedState);
        QCOMPARE(verdict.httpStatus, status);
        QCOMPARE(verdict.callback.has_value(), status == 200);
        QCOMPARE(verdict.page, page == "success" ? profile.successPage
                               : page == "error" ? profile.errorPage
                                                 : page);
        if (verdict.callback) {
            QCOMPARE(present(*verdict.callback), fields);
        }
    }

    void pagesSayWhatHappened() {
        for (const CallbackProfile& profile :
             {CallbackProfile::apple(), CallbackProfile::google(), CallbackProfile::microsoft("/")}) {
            QVERIFY(profile.successPage.contains("completed"));
            QVERIFY(profile.errorPage.contains("did not complete"));
            QVERIFY(!profile.errorPage.contains("completed."));
        }
    }

    void pkceChallengeIsRfc7636() {
        QCOMPARE(OAuthSupport::sha256Base64URL("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                 QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
    }

    void randomStringsUseTheUnreservedAlphabet() {
        const QString alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~";
        QSet<QChar> seen;
        for (int i = 0; i < 200; ++i) {
            const QString s = OAuthSupport::randomURLSafeString(64);
            QCOMPARE(s.size(), 64);
            for (QChar c : s) {
                QVERIFY2(alphabet.contains(c), qPrintable(s));
                seen.insert(c);
            }
        }
        QCOMPARE(seen.size(), alphabet.size()); // 12800 draws reach every one of the 66
        QVERIFY(OAuthSupport::randomURLSafeString(0).isEmpty());
        QVERIFY(OAuthSupport::randomURLSafeString(32) != OAuthSupport::randomURLSafeString(32));
    }

    void formBodiesEscapeEverythingButUnreserved() {
        const QByteArray body = OAuthSupport::formEncode(
            {{"code", "a+b&c=d/e f~"}, {"redirect_uri", "http://127.0.0.1:1/x?y"}, {"é", "ü"}});
        QCOMPARE(
            body,
            QByteArray(
                "code=a%2Bb%26c%3Dd%2Fe%20f~&redirect_uri=http%3A%2F%2F127.0.0.1%3A1%2Fx%3Fy&%C3%A9=%C3%BC"));
    }

    void tokenClaims_data() {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("email");
        const auto piece = [](const QByteArray& json) {
            return QString::fromLatin1(
                json.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        };
        QTest::newRow("needs no padding (4k)") << "h." + piece(R"({"email":"ab"})") + ".s"
                                               << "ab"; // 20 chars
        QTest::newRow("needs '==' (4k+2)") << "h." + piece(R"({"email":"abcd"})") + ".s"
                                           << "abcd"; // 22 chars
        QTest::newRow("needs '=' (4k+3)") << "h." + piece(R"({"email":"abcde"})") + ".s"
                                          << "abcde"; // 23 chars
        QTest::newRow("url alphabet") << "h." + piece(R"({"email":"?>>"})") + "."
                                      << "?>>";
        QTest::newRow("4k+1 cannot be decoded") << "h." + piece(R"({"email":"ab"})") + "A.s"
                                                << "<none>";
        QTest::newRow("one piece") << piece(R"({"email":"ab"})") << "<none>";
        QTest::newRow("empty pieces dropped") << ".." + piece(R"({"email":"x"})") + "..y"
                                              << "<none>";
        QTest::newRow("payload not JSON") << "h." + piece("not json") + ".s"
                                          << "<none>";
        QTest::newRow("payload an array") << "h." + piece("[1]") + ".s"
                                          << "<none>";
    }
    void tokenClaims() {
        QFETCH(QString, token);
        QFETCH(QString, email);
        const QJsonObject claims = OAuthSupport::jwtClaims(token);
        QCOMPARE(claims.isEmpty() ? QStringLiteral("<none>") : claims.value("email").toString(), email);
    }

    void appleProfileFromUserJson_data() {
        QTest::addColumn<std::optional<QString>>("user");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("name");
        QTest::newRow("absent") << std::optional<QString>() << "<absent>"
                                << "<absent>";
        QTest::newRow("full") << std::optional<QString>(
                                     R"({"email":"a@b","name":{"firstName":"Ada","lastName":"L"}})")
                              << "a@b"
                              << "Ada L";
        QTest::newRow("blank first name around a word, empty last")
            << std::optional<QString>(R"({"name":{"firstName":"  Ada \n","lastName":""}})") << "<absent>"
            << "Ada";
        QTest::newRow("both blank") << std::optional<QString>(R"({"name":{"firstName":" ","lastName":"\t"}})")
                                    << "<absent>"
                                    << "<absent>";
        QTest::newRow("empty e-mail stays") << std::optional<QString>(R"({"email":""})") << ""
                                            << "<absent>";
        QTest::newRow("e-mail not a string")
            << std::optional<QString>(R"({"email":5,"name":"Ada"})") << "<absent>"
            << "<absent>";
        QTest::newRow("not JSON") << std::optional<QString>("{") << "<absent>"
                                  << "<absent>";
        QTest::newRow("not an object") << std::optional<QString>("[]") << "<absent>"
                                       << "<absent>";
    }
    void appleProfileFromUserJson() {
        QFETCH(std::optional<QString>, user);
        QFETCH(QString, email);
        QFETCH(QString, name);
        const auto [gotEmail, gotName] = AppleOAuthService::parseUserProfile(user);
        QCOMPARE(show(gotEmail), email);
        QCOMPARE(show(gotName), name);
    }

    void appleNameClaimFallsBackToGivenName() {
        const auto token = [](const QByteArray& json) {
            return "h." + QString::fromLatin1(json.toBase64(QByteArray::Base64UrlEncoding)) + ".s";
        };
        QCOMPARE(show(AppleOAuthService::nameFromIdentityToken(token(R"({"name":"","given_name":"Ada"})"))),
                 QStringLiteral("Ada"));
        QCOMPARE(show(AppleOAuthService::nameFromIdentityToken(token(R"({"name":7})"))),
                 QStringLiteral("<absent>"));
        QCOMPARE(show(AppleOAuthService::emailFromIdentityToken(token(R"({"email":""})"))), QString());
    }

    // The first existing candidate decides, in the documented order.
    void googleClientSecretSearch() {
        QTemporaryDir root;
        const QString data = root.filePath("data/quillvane"), exe = root.filePath("bin");
        const QString work = root.filePath("work/sub"), home = root.filePath("home");
        QDir().mkpath(work);
        GoogleClientSecretSearch search{{data, exe}, "  ../named.json \n", work, home};
        QCOMPARE(search.candidates(),
                 QStringList({data + "/google_client_secret.json", exe + "/google_client_secret.json",
                              root.filePath("work/named.json"), work + "/google_client_secret.json",
                              root.filePath("work/google_client_secret.json"),
                              home + "/Documents/vocalyard/google_client_secret.json"}));

        QVERIFY_THROWS_EXCEPTION(GoogleOAuthError, GoogleOAuthService::loadClientSecret(search));
        writeFile(home + "/Documents/vocalyard/google_client_secret.json", secretJson("home"));
        QCOMPARE(GoogleOAuthService::loadClientSecret(search).client_id, QStringLiteral("home"));
        writeFile(root.filePath("work/named.json"), secretJson("named"));
        QCOMPARE(GoogleOAuthService::loadClientSecret(search).client_id, QStringLiteral("named"));
        // Blanks only: as if the variable were not set.
        search.environmentValue = " \t";
        QCOMPARE(GoogleOAuthService::loadClientSecret(search).client_id, QStringLiteral("home"));
        writeFile(exe + "/google_client_secret.json", secretJson("exe"));
        QCOMPARE(GoogleOAuthService::loadClientSecret(search).client_id, QStringLiteral("exe"));
        // A malformed first candidate is an error even though a later one is valid.
        writeFile(data + "/google_client_secret.json", R"({"installed":{"client_id":"x"}})");
        QVERIFY_THROWS_EXCEPTION(DecodingError, GoogleOAuthService::loadClientSecret(search));
        writeFile(data + "/google_client_secret.json", "{");
        QVERIFY_THROWS_EXCEPTION(DecodingError, GoogleOAuthService::loadClientSecret(search));
    }

    void microsoftRedirectAddress_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("resolved"); // empty: refused
        QTest::newRow("unset") << QByteArray() << "http://127.0.0.1:50061/oauth/microsoft/callback";
        QTest::newRow("blanks") << QByteArray("  ") << "http://127.0.0.1:50061/oauth/microsoft/callback";
        QTest::newRow("no path") << QByteArray("http://127.0.0.1:4000") << "http://127.0.0.1:4000";
        QTest::newRow("localhost") << QByteArray(" http://localhost:4000/cb\n") << "http://localhost:4000/cb";
        QTest::newRow("IPv6 loopback") << QByteArray("http://[::1]:4000/cb") << "http://[::1]:4000/cb";
        QTest::newRow("https") << QByteArray("https://127.0.0.1:4000/cb") << "";
        QTest::newRow("no port") << QByteArray("http://127.0.0.1/cb") << "";
        QTest::newRow("port too large") << QByteArray("http://127.0.0.1:70000/cb") << "";
        QTest::newRow("not loopback") << QByteArray("http://192.168.1.2:4000/cb") << "";
        QTest::newRow("a name") << QByteArray("http://example.test:4000/cb") << "";
        QTest::newRow("any address") << QByteArray("http://0.0.0.0:4000/cb") << "";
        QTest::newRow("not a URL") << QByteArray("http://[:4000") << "";
    }
    void microsoftRedirectAddress() {
        QFETCH(QByteArray, value);
        QFETCH(QString, resolved);
        if (value.isNull()) {
            qunsetenv("MICROSOFT_REDIRECT_URI");
        } else {
            qputenv("MICROSOFT_REDIRECT_URI", value);
        }
        if (resolved.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(MicrosoftOAuthError, MicrosoftOAuthService::resolveRedirectURI());
        } else {
            QCOMPARE(MicrosoftOAuthService::resolveRedirectURI().toString(), resolved);
        }
        qunsetenv("MICROSOFT_REDIRECT_URI");
    }
};

QTEST_GUILESS_MAIN(TestSignInParsing)
#include "tst_signin_parsing.moc"
