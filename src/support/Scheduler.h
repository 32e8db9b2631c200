#pragma once

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>

// A scheduled action. Copies share the same timer; cancelling any of them cancels it.
// Cancelling an action that already ran (or was cancelled) does nothing.
class TimerHandle {
public:
    struct State {
        bool active = true;
        std::function<void()> onCancel;
    };

    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    void cancel();
    bool isActive() const { return m_state && m_state->active; }

private:
    std::shared_ptr<State> m_state;
};

// Every timer, debounce and poll of the program goes through a Scheduler, so that tests can move
// time forward instead of sleeping. All actions run on the thread that owns the scheduler (the main thread).
class Scheduler {
public:
    using Duration = std::chrono::milliseconds;

    virtual ~Scheduler() = default;

    virtual TimerHandle singleShot(Duration delay, std::function<void()> action) = 0;
    virtual TimerHandle repeating(Duration interval, std::function<void()> action) = 0;

    // `co_await scheduler.delay(40ms);` suspends the calling coroutine for the given time.
    // If the coroutine is destroyed while it waits, the timer is cancelled with it.
    class DelayAwaiter {
    public:
        DelayAwaiter(Scheduler& scheduler, Duration delay) : m_scheduler(scheduler), m_delay(delay) {}
        DelayAwaiter(const DelayAwaiter&) = delete;
        DelayAwaiter& operator=(const DelayAwaiter&) = delete;
        DelayAwaiter(DelayAwaiter&& other) noexcept
            : m_scheduler(other.m_scheduler), m_delay(other.m_delay), m_timer(std::move(other.m_timer)) {}
        ~DelayAwaiter() { m_timer.cancel(); }

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) {
            m_timer = m_scheduler.singleShot(m_delay, [handle] { handle.resume(); });
        }
        void await_resume() const noexcept {}

    private:
        Scheduler& m_scheduler;
        Duration m_delay;
        TimerHandle m_timer;
    };

    DelayAwaiter delay(Duration delay) { return DelayAwaiter(*this, delay); }

    // The process-wide scheduler: Qt timers on the main thread unless a test installed another one.
    static Scheduler& current();
    static void setCurrent(Scheduler* scheduler); // nullptr restores the Qt scheduler
};

// The real scheduler: one QTimer per action, on the calling thread's event loop.
class QtScheduler final : public Scheduler {
public:
    TimerHandle singleShot(Duration delay, std::function<void()> action) override;
    TimerHandle repeating(Duration interval, std::function<void()> action) override;
};
