#pragma once

#include <QString>

#include <optional>

// What the identity provider's redirect brought back to the loopback listener. A field is absent when its
// key was missing or (in a query) written without "=".
struct OAuthCallback {
    std::optional<QString> state;            // "state"
    std::optional<QString> code;             // "code"
    std::optional<QString> idToken;          // "id_token"
    std::optional<QString> userJSON;         // "user"
    std::optional<QString> error;            // "error"
    std::optional<QString> errorDescription; // "error_description"

    // A request counts as the callback only when it carries one of these; anything else (a page icon,
    // a preconnect, a stray local request) is not the provider's redirect.
    bool isCallback() const { return state || code || idToken || error; }
    bool hasError() const { return error && !error->isEmpty(); }
};
