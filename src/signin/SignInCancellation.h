#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>

// The attempt was called off through its SignInCancelToken. Every wait of a sign-in ends with it at once.
class SignInCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "sign-in cancelled"; }
};

// The cancellation token of one sign-in attempt. Copies share the same state; cancelling any copy
// cancels them all. Callbacks registered with onCancel() run once, on the thread that cancels.
class SignInCancelToken {
public:
    // Unregisters its callback when destroyed.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription();

    private:
        friend class SignInCancelToken;
        struct State;
        Subscription(std::weak_ptr<State> state, quint64 id) : m_state(std::move(state)), m_id(id) {}
        std::weak_ptr<State> m_state;
        quint64 m_id = 0;
    };

    SignInCancelToken();

    void cancel();
    bool isCancelled() const;
    void throwIfCancelled() const;

    // Runs `callback` when the token is cancelled (right away when it already is) unless the returned
    // subscription is gone by then.
    [[nodiscard]] Subscription onCancel(std::function<void()> callback) const;

private:
    std::shared_ptr<Subscription::State> m_state;
};

// A value that arrives later, awaited by at most one coroutine. The first resolve() or fail() decides;
// later ones are ignored. The waiter is resumed from the event loop, never from inside resolve() or fail(),
// so whoever settles it may go on touching its own objects.
template <class T> class PendingValue {
    struct State {
        std::optional<T> value;
        std::exception_ptr error;
        std::coroutine_handle<> waiter;
        bool settled = false;
        bool resumePosted = false;
    };

public:
    PendingValue() : m_state(std::make_shared<State>()) {}

    bool isSettled() const { return m_state->settled; }

    void resolve(T value) {
        if (m_state->settled) {
            return;
        }
        m_state->value.emplace(std::move(value));
        settle();
    }

    void fail(std::exception_ptr error) {
        if (m_state->settled) {
            return;
        }
        m_state->error = std::move(error);
        settle();
    }

    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;
        ~Awaiter() {
            // The awaiting coroutine was destroyed while it waited: nobody is to be resumed any more.
            if (m_suspended && m_state->waiter == m_handle) {
                m_state->waiter = nullptr;
            }
        }
        bool await_ready() const noexcept { return m_state->settled; }
        void await_suspend(std::coroutine_handle<> handle) {
            m_handle = handle;
            m_suspended = true;
            m_state->waiter = handle;
        }
        T await_resume() {
            m_suspended = false;
            if (m_state->error) {
                std::rethrow_exception(m_state->error);
            }
            return std::move(*m_state->value);
        }

    private:
        std::shared_ptr<State> m_state;
        std::coroutine_handle<> m_handle;
        bool m_suspended = false;
    };

    Awaiter operator co_await() const { return Awaiter(m_state); }

private:
    void settle() {
        m_state->settled = true;
        if (m_state->resumePosted) {
            return;
        }
        m_state->resumePosted = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [state = m_state] {
                if (auto waiter = std::exchange(state->waiter, nullptr)) {
                    waiter.resume();
                }
            },
            Qt::QueuedConnection);
    }

    std::shared_ptr<State> m_state;
};

namespace SignInDetail {
template <class T> QCoro::Task<> settleWith(QCoro::Task<T> task, PendingValue<T> pending) {
    try {
        T value = co_await task;
        pending.resolve(std::move(value));
    } catch (...) {
        pending.fail(std::current_exception());
    }
}
} // namespace SignInDetail

// Awaits `task` unless `cancel` fires first, in which case SignInCancelled is thrown at once and the task
// runs on to its end unobserved.
template <class T> QCoro::Task<T> awaitUnlessCancelled(QCoro::Task<T> task, SignInCancelToken cancel) {
    cancel.throwIfCancelled();
    PendingValue<T> pending;
    SignInDetail::settleWith(std::move(task), pending);
    const auto subscription =
        cancel.onCancel([pending]() mutable { pending.fail(std::make_exception_ptr(SignInCancelled())); });
    co_return co_await pending;
}
