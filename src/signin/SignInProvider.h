#pragma once

#include "SignInCancellation.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// Who the user turned out to be at the end of a provider's browser flow: the identity token the backend
// exchanges for a session, and what the provider said of the user (a picture only where it gives one).
struct SignInIdentity {
    QString idToken;
    std::optional<QString> email;
    std::optional<QString> name;
    std::optional<QString> picture;
};

// One provider's sign-in in the browser, from opening its page to the identity it vouches for.
class SignInProvider {
public:
    virtual ~SignInProvider() = default;

    // Throws the provider's UserFacingError, a transport error, or SignInCancelled once `cancel` fires.
    virtual QCoro::Task<SignInIdentity> signIn(SignInCancelToken cancel) = 0;
};
