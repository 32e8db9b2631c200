#pragma once

#include "RouteTable.h"

// The stand-in identity providers: Google's authorization, token and userinfo endpoints under "/google",
// Microsoft's v2.0 endpoints under the authority "/microsoft/", and the Apple authorization page that the
// stand-in's "/api/auth/apple/start" names. They keep no state: an authorization code carries what the
// token endpoint checks (client, redirect address, PKCE challenge, identity), and an access token carries
// the profile that userinfo answers.
//
// An authorization page answers at once as if the user had signed in, by redirecting the browser to the
// loopback redirect address. The query item "standin_action" plays the user's choice:
//   (absent) or "approve"  code (Google, Microsoft) or state, id_token and user (Apple) in the query;
//   "form"                 Apple only: an HTML page whose form posts the same fields to the callback;
//   "deny"                 error "access_denied" (Apple: "user_cancelled_authorize") with a description;
//   "wrong_state"          the callback carries another state than the one asked for.
// "standin_email" and "standin_name" set the identity (default "ada@example.test", "Ada Lovelace");
// "standin_user=omit" leaves out Apple's user JSON.
namespace standin {

void addIdentityProviderRoutes(RouteTable& routes, BackendState& state);

// Where the Apple start answer sends the browser: the stand-in's own Apple page on `host` (the request's
// Host header, "127.0.0.1:<port>").
std::string appleAuthorizationUrl(const std::string& host, const std::string& state, int returnPort);

} // namespace standin
