#pragma once

#include "SignInProvider.h"

#include <functional>
#include <utility>

// A provider whose browser flow the test plays: every sign-in runs `flow`.
class FakeSignInProvider final : public SignInProvider {
public:
    using Flow = std::function<QCoro::Task<SignInIdentity>(SignInCancelToken)>;

    explicit FakeSignInProvider(Flow flow) : m_flow(std::move(flow)) {}

    QCoro::Task<SignInIdentity> signIn(SignInCancelToken cancel) override {
        return m_flow(std::move(cancel));
    }

private:
    Flow m_flow;
};
