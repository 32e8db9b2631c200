#include "StandinIdentityProvider.h"

#include "TextUtil.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <variant>

namespace standin {
namespace {

using Fields = std::map<std::string, std::string>;

std::string qsToStd(const QString& s) {
    return s.toStdString();
}

QString stdToQs(const std::string& s) {
    return QString::fromStdString(s);
}

Fields queryOf(const ReceivedRequest& rec) {
    Fields fields;
    for (const auto& [name, value] : rec.queryItems)
        fields[name] = value;
    return fields;
}

Fields formOf(const ReceivedRequest& rec) {
    Fields fields;
    for (const auto& [name, value] : parseQuery(rec.body))
        fields[name] = value;
    return fields;
}

std::string field(const Fields& fields, const std::string& name, const std::string& fallback = {}) {
    const auto it = fields.find(name);
    return it == fields.end() ? fallback : it->second;
}

std::string base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

std::optional<QJsonObject> fromBase64UrlJson(const std::string& text) {
    const auto bytes = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                      QByteArray::Base64UrlEncoding |
                                                          QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

std::string compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

// An unsigned token in the JWT shape: the clients only read its payload.
std::string jwt(const QJsonObject& claims) {
    const QJsonObject header{{"alg", "none"}, {"typ", "JWT"}};
    return base64Url(QByteArray::fromStdString(compact(header))) + "." +
           base64Url(QByteArray::fromStdString(compact(claims))) + ".standin-signature";
}

std::string s256(const std::string& verifier) {
    return base64Url(
        QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256));
}

std::string encode(const std::string& value) {
    return QByteArray::fromStdString(value).toPercentEncoding().toStdString();
}

std::string withQuery(const std::string& address,
                      const std::vector<std::pair<std::string, std::string>>& items) {
    std::string out = address;
    char separator = address.find('?') == std::string::npos ? '?' : '&';
    for (const auto& [name, value] : items) {
        out += separator + encode(name) + "=" + encode(value);
        separator = '&';
    }
    return out;
}

std::string htmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

HttpResponse redirectTo(const std::string& location) {
    HttpResponse res = HttpResponse::text(302, "Redirecting to " + location);
    res.headers.emplace_back("Location", location);
    return res;
}

HttpResponse oauthError(int status, const std::string& error, const std::string& description) {
    const QJsonObject o{{"error", stdToQs(error)}, {"error_description", stdToQs(description)}};
    return HttpResponse{status, "application/json", compact(o), {}};
}

HttpResponse jsonAnswer(const QJsonObject& o) {
    HttpResponse res{200, "application/json", compact(o), {}};
    res.headers.emplace_back("Cache-Control", "no-store");
    return res;
}

struct Identity {
    std::string email;
    std::string name;
};

Identity identityOf(const Fields& query) {
    return {field(query, "standin_email", "ada@example.test"), field(query, "standin_name", "Ada Lovelace")};
}

std::string givenName(const std::string& name) {
    return name.substr(0, name.find(' '));
}

// The state the callback carries: the one asked for, or another one when the test plays a forged answer.
std::string answeredState(const Fields& query, const std::string& state) {
    return field(query, "standin_action") == "wrong_state" ? state + "-forged" : state;
}

// A code that names everything the token endpoint checks.
std::string issueCode(const std::string& provider, const Fields& query, const Identity& who) {
    const QJsonObject grant{{"provider", stdToQs(provider)},
                            {"client_id", stdToQs(field(query, "client_id"))},
                            {"redirect_uri", stdToQs(field(query, "redirect_uri"))},
                            {"code_challenge", stdToQs(field(query, "code_challenge"))},
                            {"email", stdToQs(who.email)},
                            {"name", stdToQs(who.name)}};
    return "standin-code." + base64Url(QByteArray::fromStdString(compact(grant)));
}

// Checks a token request against its code; the grant on success, otherwise the OAuth error answer.
std::variant<QJsonObject, HttpResponse> redeem(const std::string& provider, const Fields& form) {
    if (field(form, "grant_type") != "authorization_code")
        return oauthError(400, "unsupported_grant_type", "grant_type must be authorization_code");
    const std::string code = field(form, "code");
    const std::string prefix = "standin-code.";
    std::optional<QJsonObject> grant;
    if (code.rfind(prefix, 0) == 0)
        grant = fromBase64UrlJson(code.substr(prefix.size()));
    if (!grant || grant->value("provider").toString() != stdToQs(provider))
        return oauthError(400, "invalid_grant", "the authorization code is not valid");
    if (grant->value("client_id").toString() != stdToQs(field(form, "client_id")))
        return oauthError(400, "invalid_client", "client_id does not match the authorization request");
    if (grant->value("redirect_uri").toString() != stdToQs(field(form, "redirect_uri")))
        return oauthError(400, "invalid_grant", "redirect_uri does not match the authorization request");
    const std::string challenge = qsToStd(grant->value("code_challenge").toString());
    if (!challenge.empty() && s256(field(form, "code_verifier")) != challenge)
        return oauthError(400, "invalid_grant", "PKCE verification failed: code_verifier does not match");
    return *grant;
}

// The parts of an authorization request both code flows check.
std::optional<HttpResponse> checkAuthorizationRequest(const Fields& query) {
    const std::string redirect = field(query, "redirect_uri");
    if (field(query, "client_id").empty())
        return HttpResponse::text(400, "missing client_id");
    if (field(query, "response_type") != "code")
        return HttpResponse::text(400, "response_type must be code");
    if (redirect.rfind("http://127.0.0.1:", 0) != 0 && redirect.rfind("http://localhost:", 0) != 0 &&
        redirect.rfind("http://[::1]:", 0) != 0)
        return HttpResponse::text(400, "redirect_uri must be a loopback address");
    if (field(query, "state").empty())
        return HttpResponse::text(400, "missing state");
    if (field(query, "code_challenge_method") != "S256" || field(query, "code_challenge").size() != 43)
        return HttpResponse::text(400, "a PKCE S256 code_challenge is required");
    return std::nullopt;
}

HttpResponse authorizeCodeFlow(const std::string& provider, const Incoming& in) {
    const Fields query = queryOf(in.rec);
    if (auto refused = checkAuthorizationRequest(query))
        return *refused;
    const std::string redirect = field(query, "redirect_uri");
    const std::string state = answeredState(query, field(query, "state"));
    if (field(query, "standin_action") == "deny")
        return redirectTo(withQuery(redirect, {{"error", "access_denied"},
                                               {"error_description", "The user cancelled the sign-in."},
                                               {"state", state}}));
    return redirectTo(
        withQuery(redirect, {{"code", issueCode(provider, query, identityOf(query))}, {"state", state}}));
}

// Google -------------------------------------------------------------------------------------------

HttpResponse googleToken(const Incoming& in) {
    const Fields form = formOf(in.rec);
    if (field(form, "client_secret").empty())
        return oauthError(401, "invalid_client", "missing client_secret");
    auto redeemed = redeem("google", form);
    if (auto* refused = std::get_if<HttpResponse>(&redeemed))
        return *refused;
    const QJsonObject grant = std::get<QJsonObject>(redeemed);
    const QJsonObject claims{{"iss", "https://accounts.google.com"},
                             {"aud", stdToQs(field(form, "client_id"))},
                             {"sub", "standin-google-user"},
                             {"email", grant.value("email")},
                             {"email_verified", true},
                             {"name", grant.value("name")}};
    const QJsonObject profile{{"email", grant.value("email")},
                              {"name", grant.value("name")},
                              {"picture", "http://127.0.0.1/standin/picture.png"}};
    return jsonAnswer({{"access_token",
                        stdToQs("standin-access." + base64Url(QByteArray::fromStdString(compact(profile))))},
                       {"expires_in", 3599},
                       {"token_type", "Bearer"},
                       {"scope", "openid https://www.googleapis.com/auth/userinfo.profile "
                                 "https://www.googleapis.com/auth/userinfo.email"},
                       {"id_token", stdToQs(jwt(claims))}});
}

// Like the real endpoint, only an access token opens the profile; an ID token is refused.
HttpResponse googleUserInfo(const Incoming& in) {
    const auto header = in.rec.headers.find("authorization");
    const std::string bearer = "Bearer standin-access.";
    std::optional<QJsonObject> profile;
    if (header != in.rec.headers.end() && header->second.rfind(bearer, 0) == 0)
        profile = fromBase64UrlJson(header->second.substr(bearer.size()));
    if (!profile) {
        HttpResponse res = oauthError(401, "invalid_request", "Invalid Credentials");
        res.headers.emplace_back("WWW-Authenticate", "Bearer error=\"invalid_token\"");
        return res;
    }
    QJsonObject answer = *profile;
    answer.insert("sub", "standin-google-user");
    answer.insert("email_verified", true);
    return jsonAnswer(answer);
}

// Microsoft: "/microsoft/{tenant}/oauth2/v2.0/authorize" and ".../token" --------------------------

HttpResponse microsoftEndpoint(const std::string& method, const Incoming& in) {
    const std::string prefix = "/microsoft/";
    const std::string rest = in.rec.path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    const std::string tenant = slash == std::string::npos ? std::string() : rest.substr(0, slash);
    const std::string endpoint = slash == std::string::npos ? rest : rest.substr(slash);
    if (tenant.empty())
        return HttpResponse::text(404, "no tenant in the path");
    if (endpoint == "/oauth2/v2.0/authorize" && method == "GET")
        return authorizeCodeFlow("microsoft", in);
    if (endpoint != "/oauth2/v2.0/token" || method != "POST")
        return HttpResponse::text(404, "no such endpoint");
    const Fields form = formOf(in.rec);
    if (field(form, "code_verifier").empty())
        return oauthError(400, "invalid_request", "AADSTS50148: the code_verifier is missing");
    auto redeemed = redeem("microsoft", form);
    if (auto* refused = std::get_if<HttpResponse>(&redeemed))
        return *refused;
    const QJsonObject grant = std::get<QJsonObject>(redeemed);
    const std::string name = qsToStd(grant.value("name").toString());
    const QJsonObject claims{{"iss", stdToQs("https://login.microsoftonline.com/" + tenant + "/v2.0")},
                             {"aud", stdToQs(field(form, "client_id"))},
                             {"tid", stdToQs(tenant)},
                             {"oid", "standin-microsoft-user"},
                             {"preferred_username", grant.value("email")},
                             {"email", grant.value("email")},
                             {"name", stdToQs(name)},
                             {"given_name", stdToQs(givenName(name))}};
    return jsonAnswer({{"token_type", "Bearer"},
                       {"scope", "openid profile email offline_access"},
                       {"expires_in", 3599},
                       {"access_token", "standin-microsoft-access"},
                       {"refresh_token", "standin-microsoft-refresh"},
                       {"id_token", stdToQs(jwt(claims))}});
}

// Apple ----------------------------------------------------------------------------------------------

HttpResponse appleAuthorize(const Incoming& in) {
    const Fields query = queryOf(in.rec);
    const std::string port = field(query, "return_port");
    const bool digits = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535 || field(query, "state").empty())
        return HttpResponse::text(400, "the Apple page needs state and return_port");
    const std::string callback = "http://127.0.0.1:" + port + "/apple/callback";
    const std::string state = answeredState(query, field(query, "state"));
    const std::string action = field(query, "standin_action");
    const Identity who = identityOf(query);
    std::vector<std::pair<std::string, std::string>> fields;
    if (action == "deny") {
        fields = {{"state", state},
                  {"error", "user_cancelled_authorize"},
                  {"error_description", "The user cancelled the sign-in."}};
    } else {
        const QJsonObject claims{{"iss", "https://appleid.apple.com"},
                                 {"sub", "standin-apple-user"},
                                 {"email", stdToQs(who.email)}};
        fields = {{"state", state}, {"id_token", jwt(claims)}};
        if (field(query, "standin_user") != "omit") {
            const std::string first = givenName(who.name);
            const std::string last = who.name.size() > first.size() ? who.name.substr(first.size() + 1) : "";
            const QJsonObject user{
                {"email", stdToQs(who.email)},
                {"name", QJsonObject{{"firstName", stdToQs(first)}, {"lastName", stdToQs(last)}}}};
            fields.emplace_back("user", compact(user));
        }
    }
    if (action != "form")
        return redirectTo(withQuery(callback, fields));
    // Apple's form_post: the page posts the fields to the callback as soon as it loads.
    std::string page = "<html><body onload=\"document.forms[0].submit()\">\n<form method=\"post\" action=\"" +
                       htmlEscaped(callback) + "\">\n";
    for (const auto& [name, value] : fields)
        page += "<input type=\"hidden\" name=\"" + htmlEscaped(name) + "\" value=\"" + htmlEscaped(value) +
                "\">\n";
    page += "</form>\n</body></html>";
    return HttpResponse{200, "text/html; charset=utf-8", page, {}};
}

} // namespace

std::string appleAuthorizationUrl(const std::string& host, const std::string& state, int returnPort) {
    return withQuery("http://" + host + "/apple/authorize",
                     {{"state", state}, {"return_port", std::to_string(returnPort)}});
}

void addIdentityProviderRoutes(RouteTable& routes, BackendState&) {
    routes.add("GET", "/google/o/oauth2/v2/auth",
               [](const Incoming& in) { return authorizeCodeFlow("google", in); });
    routes.add("POST", "/google/token", googleToken);
    routes.add("GET", "/google/oauth2/v3/userinfo", googleUserInfo);
    routes.add("GET", "/microsoft/*", [](const Incoming& in) { return microsoftEndpoint("GET", in); });
    routes.add("POST", "/microsoft/*", [](const Incoming& in) { return microsoftEndpoint("POST", in); });
    routes.add("GET", "/apple/authorize", appleAuthorize);
}

} // namespace standin
