#include "AccountRules.h"

#include "AuthStore.h"
#include "SessionCoordinator.h"
#include "TextUtilities.h"

namespace {
const QString kApple = QStringLiteral("apple");

std::optional<QString> trimmedNonEmpty(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    const QString trimmed = Text::trimmed(*text);
    return trimmed.isEmpty() ? std::nullopt : std::optional<QString>(trimmed);
}

std::optional<QString> profileField(const AccountIdentity& identity,
                                    std::optional<QString> UserProfileDTO::*field) {
    return identity.profile ? (*identity.profile).*field : std::nullopt;
}
} // namespace

AccountIdentity AccountIdentity::from(const AuthStore& auth, const SessionCoordinator& session) {
    return {auth.provider(), auth.email(), auth.displayName(), session.activeSessionToken(),
            session.profile()};
}

namespace AccountRules {

bool isRelayAddress(const QString& address) {
    return address.toLower().endsWith(QStringLiteral("@privaterelay.appleid.com"));
}

bool isUsingAppleRelayEmail(const AccountIdentity& identity) {
    if (identity.provider != kApple) {
        return false;
    }
    if (const auto profileEmail = trimmedNonEmpty(profileField(identity, &UserProfileDTO::email));
        profileEmail && isRelayAddress(*profileEmail)) {
        return true;
    }
    const auto storedEmail = trimmedNonEmpty(identity.email);
    return storedEmail && isRelayAddress(*storedEmail);
}

QString accountLabel(const AccountIdentity& identity) {
    if (const auto name = trimmedNonEmpty(profileField(identity, &UserProfileDTO::name))) {
        return *name;
    }
    if (identity.provider == kApple && isUsingAppleRelayEmail(identity)) {
        return QStringLiteral("Signed in with Apple");
    }
    if (identity.displayName && !identity.displayName->isEmpty()) {
        return *identity.displayName;
    }
    if (const auto profileEmail = trimmedNonEmpty(profileField(identity, &UserProfileDTO::email));
        profileEmail && !isRelayAddress(*profileEmail)) {
        return *profileEmail;
    }
    if (identity.email && !identity.email->isEmpty() && !isRelayAddress(*identity.email)) {
        return *identity.email;
    }
    if (identity.provider && !identity.provider->isEmpty()) {
        return QStringLiteral("Signed in with ") + AuthStore::capitalized(*identity.provider);
    }
    return identity.sessionToken ? QStringLiteral("Signed in") : QStringLiteral("Not signed in");
}

std::optional<QString> sidebarEmailLine(const AccountIdentity& identity) {
    if (isUsingAppleRelayEmail(identity)) {
        return std::nullopt;
    }
    if (const auto profileEmail = trimmedNonEmpty(profileField(identity, &UserProfileDTO::email))) {
        return profileEmail;
    }
    return trimmedNonEmpty(identity.email);
}

bool showsSignOut(const AccountIdentity& identity) {
    return identity.provider.has_value() || identity.sessionToken.has_value();
}

} // namespace AccountRules
