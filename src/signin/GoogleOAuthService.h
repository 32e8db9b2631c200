#pragma once

#include "APIModels.h"
#include "OAuthSupport.h"
#include "SignInCancellation.h"
#include "SignInProvider.h"
#include "UserFacingError.h"

#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// The "installed" member of the client-secret file Google issues for a desktop client.
struct GoogleInstalledClientSecret {
    QString client_id;
    QString client_secret;

    template <class IO> void serialize(IO& io) {
        io.required("client_id", client_id);
        io.required("client_secret", client_secret);
    }
};

class GoogleOAuthError : public UserFacingError {
public:
    enum class Kind {
        TokenExchangeFailed,
        MissingClientSecretFile,
        InvalidClientSecretFile,
        CallbackListenerFailed,
        AuthCodeMissing,
        IdTokenMissing,
        AuthorizationFailed,
        TimedOut
    };

    static GoogleOAuthError tokenExchangeFailed(const QString& message) {
        return {Kind::TokenExchangeFailed, QStringLiteral("Google token exchange failed: ") + message};
    }
    static GoogleOAuthError missingClientSecretFile() {
        return {Kind::MissingClientSecretFile,
                QStringLiteral("google_client_secret.json could not be found.")};
    }
    static GoogleOAuthError invalidClientSecretFile() {
        return {Kind::InvalidClientSecretFile, QStringLiteral("google_client_secret.json is invalid.")};
    }
    static GoogleOAuthError callbackListenerFailed() {
        return {Kind::CallbackListenerFailed,
                QStringLiteral("Failed to start the local OAuth callback listener.")};
    }
    static GoogleOAuthError authCodeMissing() {
        return {Kind::AuthCodeMissing,
                QStringLiteral("Google sign-in completed without an authorization code.")};
    }
    static GoogleOAuthError idTokenMissing() {
        return {Kind::IdTokenMissing, QStringLiteral("Google did not return an ID token.")};
    }
    // Google sent the browser back with an error (the user cancelled, consent was refused).
    static GoogleOAuthError authorizationFailed(const OAuthCallback& callback) {
        return {Kind::AuthorizationFailed, OAuthSupport::refusedMessage(QStringLiteral("Google"), callback)};
    }
    // The browser did not come back before the wait ran out.
    static GoogleOAuthError timedOut() { return {Kind::TimedOut, OAuthSupport::timedOutMessage()}; }

    Kind kind() const { return m_kind; }

private:
    GoogleOAuthError(Kind kind, QString message) : UserFacingError(std::move(message)), m_kind(kind) {}
    Kind m_kind;
};

// Where the client-secret file is looked for, in this order: "google_client_secret.json" in each of
// `resourceFolders`; the path named by "GOOGLE_CLIENT_SECRETS_FILE"; the file in the working folder, in its
// parent, and as "Documents/vocalyard/google_client_secret.json" under the home folder.
struct GoogleClientSecretSearch {
    QStringList resourceFolders; // the app's data folder, then the executable's folder
    QString environmentValue;    // "GOOGLE_CLIENT_SECRETS_FILE" as set (untrimmed)
    QString workingDirectory;
    QString homeDirectory;

    // The places of this process, read now.
    static GoogleClientSecretSearch fromProcess();
    QStringList candidates() const;
};

struct GoogleEndpoints {
    QUrl authorization{QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth")};
    QUrl token{QStringLiteral("https://oauth2.googleapis.com/token")};
    QUrl userInfo{QStringLiteral("https://www.googleapis.com/oauth2/v3/userinfo")};
};
struct GoogleSignInOptions {
    GoogleEndpoints endpoints;
    std::chrono::milliseconds callbackTimeout{120000};
    std::chrono::milliseconds requestTimeout{60000};
    // Absent: the places of this process at each sign-in.
    std::optional<GoogleClientSecretSearch> clientSecretSearch;
};

// Google sign-in by the authorization-code flow for installed applications, with a loopback redirect,
// a random state checked exactly and PKCE (S256).
class GoogleOAuthService final : public SignInProvider {
public:
    using Endpoints = GoogleEndpoints;
    using Options = GoogleSignInOptions;

    struct TokenResponse {
        std::optional<QString> id_token;
        std::optional<QString> access_token;

        template <class IO> void serialize(IO& io) {
            io.optional("id_token", id_token);
            io.optional("access_token", access_token);
        }
    };
    using UserInfo = UserProfileDTO;

    GoogleOAuthService(QNetworkAccessManager* network, UrlOpener openUrl = systemUrlOpener(),
                       Options options = {});

    // Throws GoogleOAuthError, the client-secret file's read or decoding error, the token request's
    // transport error (BackendTransportError), a DecodingError of the token answer, or SignInCancelled.
    QCoro::Task<SignInIdentity> signIn(SignInCancelToken cancel) override;

    // Throws missingClientSecretFile, or the first existing candidate's read error (UserFacingError) or
    // DecodingError.
    static GoogleInstalledClientSecret loadClientSecret(const GoogleClientSecretSearch& search);

    static const QStringList& scopes();

private:
    QCoro::Task<TokenResponse> exchangeCodeForToken(QString code, QString redirectURI, QString codeVerifier,
                                                    GoogleInstalledClientSecret credentials,
                                                    SignInCancelToken cancel);
    QCoro::Task<UserInfo> fetchUserInfo(QString accessToken, SignInCancelToken cancel);

    QNetworkAccessManager* m_network;
    UrlOpener m_openUrl;
    Options m_options;
};
