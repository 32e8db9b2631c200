#include "SignInProviders.h"

#include "AppleOAuthService.h"
#include "GoogleOAuthService.h"
#include "MicrosoftOAuthService.h"

namespace {

std::size_t indexOf(SignInProviderId id) {
    return static_cast<std::size_t>(id);
}

} // namespace

const std::array<SignInProviders::Row, 3>& SignInProviders::table() {
    // In the order of SignInProviderId: a row's index is its id.
    static const std::array<Row, 3> rows{
        Row{SignInProviderId::Apple, QStringLiteral("apple"), QStringLiteral("Apple"),
            [](const SignInProviderContext& context) -> std::shared_ptr<SignInProvider> {
                return std::make_shared<AppleOAuthService>(context.backendClient, context.openUrl);
            }},
        Row{SignInProviderId::Google, QStringLiteral("google"), QStringLiteral("Google"),
            [](const SignInProviderContext& context) -> std::shared_ptr<SignInProvider> {
                return std::make_shared<GoogleOAuthService>(context.network, context.openUrl);
            }},
        Row{SignInProviderId::Microsoft, QStringLiteral("microsoft"), QStringLiteral("Microsoft"),
            [](const SignInProviderContext& context) -> std::shared_ptr<SignInProvider> {
                return std::make_shared<MicrosoftOAuthService>(context.network, context.openUrl);
            }},
    };
    return rows;
}

const SignInProviders::Row& SignInProviders::row(SignInProviderId id) {
    return table()[indexOf(id)];
}

SignInProviders::SignInProviders(const SignInProviderContext& context,
                                 const SignInProviderReplacements& replacements) {
    for (const Row& row : table()) {
        const auto replacement = replacements.find(row.id);
        m_flows[indexOf(row.id)] = replacement != replacements.end() && replacement->second
                                       ? replacement->second
                                       : row.makeFlow(context);
    }
}

SignInProvider& SignInProviders::flow(SignInProviderId id) const {
    return *m_flows[indexOf(id)];
}
