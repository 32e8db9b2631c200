#pragma once

#include "OAuthSupport.h"
#include "SignInCancellation.h"
#include "SignInProvider.h"
#include "UserFacingError.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>
#include <utility>

class BackendClient;

class AppleOAuthError : public UserFacingError {
public:
    enum class Kind { CallbackFailed, BackendNotConfigured, InvalidStartURL, AuthCancelled, IdTokenMissing };

    static AppleOAuthError callbackFailed(const QString& message) { return {Kind::CallbackFailed, message}; }
    // Apple sent the browser back with an error.
    static AppleOAuthError refused(const OAuthCallback& callback) {
        return callbackFailed(OAuthSupport::refusedMessage(QStringLiteral("Apple"), callback));
    }
    static AppleOAuthError backendNotConfigured() {
        return {Kind::BackendNotConfigured, QStringLiteral("Apple web sign-in is not configured yet.")};
    }
    static AppleOAuthError invalidStartURL() {
        return {Kind::InvalidStartURL,
                QStringLiteral("Apple sign-in returned an invalid authorization URL.")};
    }
    // The browser did not come back before the wait ran out.
    static AppleOAuthError authCancelled() { return {Kind::AuthCancelled, OAuthSupport::timedOutMessage()}; }
    static AppleOAuthError idTokenMissing() {
        return {Kind::IdTokenMissing, QStringLiteral("Apple sign-in completed without an identity token.")};
    }

    Kind kind() const { return m_kind; }

private:
    AppleOAuthError(Kind kind, QString message) : UserFacingError(std::move(message)), m_kind(kind) {}
    Kind m_kind;
};

struct AppleSignInOptions {
    std::chrono::milliseconds callbackTimeout{120000};
};

// Apple sign-in as the backend starts it: a loopback listener on a free port, the backend's authorization
// URL opened in the browser, and the identity token that the browser brings back to the listener.
class AppleOAuthService final : public SignInProvider {
public:
    using Options = AppleSignInOptions;

    // Keeps a reference to the backend client, which starts every sign-in and must outlive the service.
    explicit AppleOAuthService(BackendClient& backendClient, UrlOpener openUrl = systemUrlOpener(),
                               Options options = {});

    // Throws AppleOAuthError, the start request's error (BackendClientError, BackendTransportError) or
    // SignInCancelled. Apple gives no picture.
    QCoro::Task<SignInIdentity> signIn(SignInCancelToken cancel) override;

    // The e-mail and name of the callback's "user" JSON ({"email": …, "name": {"firstName", "lastName"}}).
    static std::pair<std::optional<QString>, std::optional<QString>>
    parseUserProfile(const std::optional<QString>& userJSON);
    static std::optional<QString> emailFromIdentityToken(const QString& idToken);
    static std::optional<QString> nameFromIdentityToken(const QString& idToken);

private:
    BackendClient& m_backendClient;
    UrlOpener m_openUrl;
    Options m_options;
};
