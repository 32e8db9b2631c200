#pragma once

#include "OAuthSupport.h"
#include "SignInCancellation.h"
#include "SignInProvider.h"
#include "UserFacingError.h"

#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class MicrosoftOAuthError : public UserFacingError {
public:
    enum class Kind {
        TokenExchangeFailed,
        MissingClientID,
        InvalidRedirectURI,
        AuthCodeMissing,
        IdTokenMissing,
        AuthorizationFailed,
        ListenerFailed,
        TimedOut,
        InvalidTenant
    };

    static MicrosoftOAuthError tokenExchangeFailed(const QString& message) {
        return {Kind::TokenExchangeFailed, QStringLiteral("Microsoft token exchange failed: ") + message};
    }
    static MicrosoftOAuthError missingClientID() {
        return {Kind::MissingClientID, QStringLiteral("MICROSOFT_CLIENT_ID is not configured.")};
    }
    static MicrosoftOAuthError invalidRedirectURI() {
        return {Kind::InvalidRedirectURI, QStringLiteral("MICROSOFT_REDIRECT_URI is invalid.")};
    }
    static MicrosoftOAuthError authCodeMissing() {
        return {Kind::AuthCodeMissing,
                QStringLiteral("Microsoft sign-in completed without an authorization code.")};
    }
    static MicrosoftOAuthError idTokenMissing() {
        return {Kind::IdTokenMissing, QStringLiteral("Microsoft did not return an ID token.")};
    }
    // The provider sent the browser back with an error (the user cancelled, consent was refused).
    static MicrosoftOAuthError authorizationFailed(const OAuthCallback& callback) {
        return {Kind::AuthorizationFailed,
                OAuthSupport::refusedMessage(QStringLiteral("Microsoft"), callback)};
    }
    // The redirect address's port could not be bound (another program holds it, typically).
    static MicrosoftOAuthError listenerFailed(quint16 port, QAbstractSocket::SocketError error,
                                              const QString& reason) {
        return {Kind::ListenerFailed, OAuthSupport::listenFailedMessage(port, error, reason)};
    }
    // The browser did not come back before the wait ran out.
    static MicrosoftOAuthError timedOut() { return {Kind::TimedOut, OAuthSupport::timedOutMessage()}; }
    // The tenant makes no usable endpoint address.
    static MicrosoftOAuthError invalidTenant() {
        return {Kind::InvalidTenant, QStringLiteral("MICROSOFT_TENANT_ID is invalid.")};
    }

    Kind kind() const { return m_kind; }

private:
    MicrosoftOAuthError(Kind kind, QString message) : UserFacingError(std::move(message)), m_kind(kind) {}
    Kind m_kind;
};

struct MicrosoftSignInOptions {
    // The identity platform's authority; the tenant follows it directly.
    QUrl authority{QStringLiteral("https://login.microsoftonline.com/")};
    std::chrono::milliseconds callbackTimeout{120000};
    std::chrono::milliseconds requestTimeout{60000};
};

// Microsoft sign-in by the authorization-code flow with PKCE (S256) against the identity platform's v2.0
// endpoints, with the redirect received on a loopback listener at the redirect address's port.
// Configuration comes from the environment at each sign-in: "MICROSOFT_CLIENT_ID" (required),
// "MICROSOFT_TENANT_ID" (default "common"), "MICROSOFT_REDIRECT_URI" (default below).
class MicrosoftOAuthService final : public SignInProvider {
public:
    static inline const QString defaultRedirectURI =
        QStringLiteral("http://127.0.0.1:50061/oauth/microsoft/callback");
    static inline const QString scope = QStringLiteral("openid profile email offline_access");

    using Options = MicrosoftSignInOptions;

    struct TokenResponse {
        std::optional<QString> id_token;

        template <class IO> void serialize(IO& io) { io.optional("id_token", id_token); }
    };

    MicrosoftOAuthService(QNetworkAccessManager* network, UrlOpener openUrl = systemUrlOpener(),
                          Options options = {});

    // Throws MicrosoftOAuthError, the token request's transport error (BackendTransportError), a
    // DecodingError of the token answer, or SignInCancelled. Microsoft gives no picture here.
    QCoro::Task<SignInIdentity> signIn(SignInCancelToken cancel) override;

    // The redirect address of the environment: "http", a loopback host and an explicit port, else
    // invalidRedirectURI.
    static QUrl resolveRedirectURI();

private:
    QCoro::Task<TokenResponse> exchangeCodeForToken(QString code, QString redirectURI, QString clientID,
                                                    QString tenantID, QString codeVerifier,
                                                    SignInCancelToken cancel);
    QUrl endpoint(const QString& tenantID, const QString& path) const;

    QNetworkAccessManager* m_network;
    UrlOpener m_openUrl;
    Options m_options;
};
