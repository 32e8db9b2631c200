#pragma once

#include "OAuthSupport.h"
#include "SignInProvider.h"

#include <QString>

#include <array>
#include <map>
#include <memory>

class BackendClient;
class QNetworkAccessManager;

enum class SignInProviderId { Apple, Google, Microsoft };

// What the providers' own browser flows are made with; each must outlive the flows.
struct SignInProviderContext {
    BackendClient& backendClient;   // starts Apple's sign-in
    QNetworkAccessManager* network; // Google's and Microsoft's token and profile requests
    UrlOpener openUrl;              // shows a provider's page in the browser
};

// A flow to run in place of the provider's own (a test answers for the provider this way).
using SignInProviderReplacements = std::map<SignInProviderId, std::shared_ptr<SignInProvider>>;

// The providers the app signs in with, in the order the sign-in buttons offer them: one row each (its key,
// its name in the texts, how its browser flow is made), and one flow instance each.
class SignInProviders {
public:
    struct Row {
        SignInProviderId id;
        QString key;   // stored with the signed-in identity; the backend's "auth_provider"
        QString label; // the provider's name in the status texts: "Opening Apple sign-in..."
        // Makes the provider's own browser flow.
        std::shared_ptr<SignInProvider> (*makeFlow)(const SignInProviderContext& context);
    };

    static const std::array<Row, 3>& table();
    static const Row& row(SignInProviderId id);

    // One flow per row: the replacement named for it, else the row's own.
    SignInProviders(const SignInProviderContext& context,
                    const SignInProviderReplacements& replacements = {});

    SignInProvider& flow(SignInProviderId id) const;

private:
    std::array<std::shared_ptr<SignInProvider>, 3> m_flows;
};
