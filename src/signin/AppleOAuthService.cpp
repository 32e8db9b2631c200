#include "AppleOAuthService.h"

#include "AppLogger.h"
#include "BackendClient.h"
#include "LoopbackCallbackServer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

AppleOAuthService::AppleOAuthService(BackendClient& backendClient, UrlOpener openUrl, Options options)
    : m_backendClient(backendClient), m_openUrl(std::move(openUrl)), m_options(options) {}

QCoro::Task<SignInIdentity> AppleOAuthService::signIn(SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    // The listener lives exactly as long as this attempt, whichever way it ends.
    auto server = std::make_unique<LoopbackCallbackServer>(CallbackProfile::apple());
    if (!server->listen()) {
        AppLogger::error(QStringLiteral("Apple OAuth callback listener failed: ") + server->errorString());
        throw AppleOAuthError::callbackFailed(QStringLiteral("Failed to start the Apple callback listener."));
    }
    // A cancelled attempt lets go of its port at once, so that the next attempt can listen on it.
    const auto stopOnCancel = cancel.onCancel([listener = server.get()] { listener->stop(); });

    const AppleAuthStartResponseDTO start =
        co_await awaitUnlessCancelled(m_backendClient.createAppleAuthStart(server->port()), cancel);

    const QUrl authURL(start.auth_url, QUrl::StrictMode);
    // Only a web address goes to the browser: anything else the answer might name (a file, an
    // application's own scheme) is refused.
    const QString scheme = authURL.scheme();
    if (!authURL.isValid() || authURL.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        throw AppleOAuthError::invalidStartURL();
    }
    // Only the browser that went through Apple comes back with this state.
    server->expectState(start.state);
    AppLogger::info(QStringLiteral("Opening Apple OAuth web flow"));
    m_openUrl(authURL);

    const std::optional<OAuthCallback> callback =
        co_await server->waitForCallback(m_options.callbackTimeout, cancel);
    server->stop();
    if (!callback) {
        throw AppleOAuthError::authCancelled();
    }
    // The listener hands over only a callback that carries start.state.
    if (callback->hasError()) {
        throw AppleOAuthError::refused(*callback);
    }
    if (!callback->idToken || callback->idToken->isEmpty()) {
        throw AppleOAuthError::idTokenMissing();
    }
    const QString idToken = *callback->idToken;
    auto [email, name] = parseUserProfile(callback->userJSON);
    if (!email) {
        email = emailFromIdentityToken(idToken);
    }
    if (!name) {
        name = nameFromIdentityToken(idToken);
    }
    co_return SignInIdentity{idToken, email, name, std::nullopt};
}

std::pair<std::optional<QString>, std::optional<QString>>
AppleOAuthService::parseUserProfile(const std::optional<QString>& userJSON) {
    if (!userJSON) {
        return {};
    }
    const QJsonDocument document = QJsonDocument::fromJson(userJSON->toUtf8());
    if (!document.isObject()) {
        return {};
    }
    const QJsonObject user = document.object();
    std::optional<QString> email;
    if (user.value(QLatin1String("email")).isString()) {
        email = user.value(QLatin1String("email")).toString();
    }
    std::optional<QString> name;
    if (user.value(QLatin1String("name")).isObject()) {
        const QJsonObject parts = user.value(QLatin1String("name")).toObject();
        QStringList present;
        for (const char* key : {"firstName", "lastName"}) {
            const QJsonValue part = parts.value(QLatin1String(key));
            if (part.isString() && !part.toString().trimmed().isEmpty()) {
                present << part.toString().trimmed();
            }
        }
        if (!present.isEmpty()) {
            name = present.join(QLatin1Char(' '));
        }
    }
    return {email, name};
}

std::optional<QString> AppleOAuthService::emailFromIdentityToken(const QString& idToken) {
    const QJsonValue email = OAuthSupport::jwtClaims(idToken).value(QLatin1String("email"));
    return email.isString() ? std::optional<QString>(email.toString()) : std::nullopt;
}

std::optional<QString> AppleOAuthService::nameFromIdentityToken(const QString& idToken) {
    const QJsonObject claims = OAuthSupport::jwtClaims(idToken);
    for (const char* key : {"name", "given_name"}) {
        const QJsonValue value = claims.value(QLatin1String(key));
        if (value.isString() && !value.toString().isEmpty()) {
            return value.toString();
        }
    }
    return std::nullopt;
}
