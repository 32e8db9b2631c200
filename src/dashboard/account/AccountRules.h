#pragma once

#include "APIModels.h"

#include <QString>

#include <optional>

class AuthStore;
class SessionCoordinator;

// What the sidebar and the home page know of the signed-in user at one moment.
struct AccountIdentity {
    std::optional<QString> provider;
    std::optional<QString> email;
    std::optional<QString> displayName;
    std::optional<QString> sessionToken;
    std::optional<UserProfileDTO> profile;

    static AccountIdentity from(const AuthStore& auth, const SessionCoordinator& session);
};

// The account card's texts, as pure rules over an identity.
namespace AccountRules {
// Whether `address` (any case) belongs to the hidden-address relay of Apple's sign-in.
bool isRelayAddress(const QString& address);
bool isUsingAppleRelayEmail(const AccountIdentity& identity);
// The card's main line: a name, an address, "Signed in with <Provider>", "Signed in" or "Not signed in".
QString accountLabel(const AccountIdentity& identity);
// The e-mail line under it; none for a relay address or when no address is known.
std::optional<QString> sidebarEmailLine(const AccountIdentity& identity);
// Whether the card shows "Sign Out" (a provider, even empty, or a session) rather than the sign-in block.
bool showsSignOut(const AccountIdentity& identity);
} // namespace AccountRules
