#include "MicrosoftOAuthService.h"

#include "AppLogger.h"
#include "JsonDecoding.h"
#include "LoopbackCallbackServer.h"

#include <QHostAddress>
#include <QJsonObject>

#include <memory>

namespace {

std::optional<QString> firstStringClaim(const QJsonObject& claims, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const QJsonValue value = claims.value(QLatin1String(key));
        if (value.isString()) {
            return value.toString();
        }
    }
    return std::nullopt;
}

// The address to bind for a loopback redirect host: the host itself when it is a loopback IP address,
// 127.0.0.1 for "localhost"; none for anything else.
std::optional<QHostAddress> loopbackAddressOf(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    const QHostAddress address(host);
    if (address.isNull() || !address.isLoopback()) {
        return std::nullopt;
    }
    return address;
}

} // namespace

MicrosoftOAuthService::MicrosoftOAuthService(QNetworkAccessManager* network, UrlOpener openUrl,
                                             Options options)
    : m_network(network), m_openUrl(std::move(openUrl)), m_options(std::move(options)) {}

QUrl MicrosoftOAuthService::resolveRedirectURI() {
    QString text = qEnvironmentVariable("MICROSOFT_REDIRECT_URI").trimmed();
    if (text.isEmpty()) {
        text = defaultRedirectURI;
    }
    const QUrl url(text, QUrl::StrictMode);
    // The listener serves plain HTTP on this machine only: an address the browser would send elsewhere, or
    // one without a port to listen on, cannot work.
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty() || url.port() < 1 ||
        url.port() > 65535 || !loopbackAddressOf(url.host())) {
        throw MicrosoftOAuthError::invalidRedirectURI();
    }
    return url;
}

QUrl MicrosoftOAuthService::endpoint(const QString& tenantID, const QString& path) const {
    QString base = m_options.authority.toString();
    if (!base.endsWith(QLatin1Char('/'))) {
        base += QLatin1Char('/');
    }
    return QUrl(base + tenantID + path, QUrl::StrictMode);
}

QCoro::Task<SignInIdentity> MicrosoftOAuthService::signIn(SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    const QString clientID = qEnvironmentVariable("MICROSOFT_CLIENT_ID").trimmed();
    const QString tenantID = qEnvironmentVariableIsSet("MICROSOFT_TENANT_ID")
                                 ? qEnvironmentVariable("MICROSOFT_TENANT_ID").trimmed()
                                 : QStringLiteral("common");
    if (clientID.isEmpty()) {
        throw MicrosoftOAuthError::missingClientID();
    }
    const QUrl redirect = resolveRedirectURI();
    const QString redirectURI = redirect.toString(QUrl::FullyEncoded);

    auto server = std::make_unique<LoopbackCallbackServer>(CallbackProfile::microsoft(redirect.path()));
    if (!server->listen(*loopbackAddressOf(redirect.host()), quint16(redirect.port()))) {
        AppLogger::error(QStringLiteral("Microsoft OAuth callback listener could not listen on port ") +
                         QString::number(redirect.port()) + QStringLiteral(": ") + server->errorString());
        throw MicrosoftOAuthError::listenerFailed(quint16(redirect.port()), server->serverError(),
                                                  server->errorString());
    }
    // A cancelled attempt lets go of its port at once, so that the next attempt can listen on it.
    const auto stopOnCancel = cancel.onCancel([listener = server.get()] { listener->stop(); });

    const QString codeVerifier = OAuthSupport::randomURLSafeString(64);
    const QString codeChallenge = OAuthSupport::sha256Base64URL(codeVerifier);
    const QString state = OAuthSupport::randomURLSafeString(32);

    QUrl authorization = endpoint(tenantID, QStringLiteral("/oauth2/v2.0/authorize"));
    if (!authorization.isValid()) {
        throw MicrosoftOAuthError::invalidTenant();
    }
    authorization.setQuery(QString::fromLatin1(OAuthSupport::formEncode({
                               {QStringLiteral("client_id"), clientID},
                               {QStringLiteral("response_type"), QStringLiteral("code")},
                               {QStringLiteral("redirect_uri"), redirectURI},
                               {QStringLiteral("response_mode"), QStringLiteral("query")},
                               {QStringLiteral("scope"), scope},
                               {QStringLiteral("code_challenge"), codeChallenge},
                               {QStringLiteral("code_challenge_method"), QStringLiteral("S256")},
                               {QStringLiteral("prompt"), QStringLiteral("select_account")},
                               {QStringLiteral("state"), state},
                           })),
                           QUrl::StrictMode);
    server->expectState(state);
    AppLogger::info(QStringLiteral("Opening Microsoft OAuth flow"));
    m_openUrl(authorization);

    const std::optional<OAuthCallback> callback =
        co_await server->waitForCallback(m_options.callbackTimeout, cancel);
    server->stop();
    if (!callback) {
        throw MicrosoftOAuthError::timedOut();
    }
    // The listener hands over only a callback that carries this attempt's state.
    if (callback->hasError()) {
        throw MicrosoftOAuthError::authorizationFailed(*callback);
    }
    if (!callback->code) {
        throw MicrosoftOAuthError::authCodeMissing();
    }

    const TokenResponse token =
        co_await exchangeCodeForToken(*callback->code, redirectURI, clientID, tenantID, codeVerifier, cancel);
    if (!token.id_token || token.id_token->isEmpty()) {
        throw MicrosoftOAuthError::idTokenMissing();
    }
    const QJsonObject claims = OAuthSupport::jwtClaims(*token.id_token);
    co_return SignInIdentity{*token.id_token, firstStringClaim(claims, {"preferred_username", "email"}),
                             firstStringClaim(claims, {"name", "given_name"}), std::nullopt};
}

QCoro::Task<MicrosoftOAuthService::TokenResponse>
MicrosoftOAuthService::exchangeCodeForToken(QString code, QString redirectURI, QString clientID,
                                            QString tenantID, QString codeVerifier,
                                            SignInCancelToken cancel) {
    const QUrl url = endpoint(tenantID, QStringLiteral("/oauth2/v2.0/token"));
    if (!url.isValid()) {
        throw MicrosoftOAuthError::invalidTenant();
    }
    const QList<std::pair<QString, QString>> fields{
        {QStringLiteral("client_id"), clientID},
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), redirectURI},
        {QStringLiteral("code_verifier"), codeVerifier},
    };
    const OAuthSupport::HttpAnswer answer =
        co_await OAuthSupport::postForm(*m_network, url, fields, m_options.requestTimeout, cancel);
    if (const auto failure = OAuthSupport::tokenFailure(answer)) {
        throw MicrosoftOAuthError::tokenExchangeFailed(*failure);
    }
    co_return fromJsonText<TokenResponse>(answer.body);
}
