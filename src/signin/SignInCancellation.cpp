#include "SignInCancellation.h"

#include <vector>

struct SignInCancelToken::Subscription::State {
    bool cancelled = false;
    quint64 nextId = 1;
    std::map<quint64, std::function<void()>> callbacks;
};

SignInCancelToken::Subscription::Subscription(Subscription&& other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0)) {}

SignInCancelToken::Subscription& SignInCancelToken::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        if (auto state = m_state.lock()) {
            state->callbacks.erase(m_id);
        }
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

SignInCancelToken::Subscription::~Subscription() {
    if (auto state = m_state.lock()) {
        state->callbacks.erase(m_id);
    }
}

SignInCancelToken::SignInCancelToken() : m_state(std::make_shared<Subscription::State>()) {}

void SignInCancelToken::cancel() {
    if (m_state->cancelled) {
        return;
    }
    m_state->cancelled = true;
    // A callback may drop other subscriptions: take each one out before running it.
    while (!m_state->callbacks.empty()) {
        auto node = m_state->callbacks.extract(m_state->callbacks.begin());
        node.mapped()();
    }
}

bool SignInCancelToken::isCancelled() const {
    return m_state->cancelled;
}

void SignInCancelToken::throwIfCancelled() const {
    if (m_state->cancelled) {
        throw SignInCancelled();
    }
}

SignInCancelToken::Subscription SignInCancelToken::onCancel(std::function<void()> callback) const {
    if (m_state->cancelled) {
        callback();
        return {};
    }
    const quint64 id = m_state->nextId++;
    m_state->callbacks.emplace(id, std::move(callback));
    return Subscription(m_state, id);
}
