#include "Scheduler.h"

#include <QPointer>
#include <QTimer>

#include <atomic>

void TimerHandle::cancel() {
    if (!m_state || !m_state->active) {
        return;
    }
    m_state->active = false;
    if (auto hook = std::move(m_state->onCancel)) {
        m_state->onCancel = nullptr;
        hook();
    }
}

namespace {
std::atomic<Scheduler*> g_override{nullptr};

TimerHandle startTimer(std::chrono::milliseconds interval, bool singleShot, std::function<void()> action) {
    auto state = std::make_shared<TimerHandle::State>();
    auto* timer = new QTimer();
    timer->setSingleShot(singleShot);
    timer->setTimerType(Qt::PreciseTimer);
    QPointer<QTimer> guard(timer);
    state->onCancel = [guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    };
    QObject::connect(timer, &QTimer::timeout, timer, [state, timer, singleShot, action = std::move(action)] {
        if (!state->active) {
            return;
        }
        if (singleShot) {
            state->active = false;
            state->onCancel = nullptr;
            timer->deleteLater();
        }
        action();
    });
    timer->start(interval);
    return TimerHandle(state);
}
} // namespace

Scheduler& Scheduler::current() {
    static QtScheduler qt;
    Scheduler* scheduler = g_override.load();
    return scheduler ? *scheduler : qt;
}

void Scheduler::setCurrent(Scheduler* scheduler) {
    g_override.store(scheduler);
}

TimerHandle QtScheduler::singleShot(Duration delay, std::function<void()> action) {
    return startTimer(delay, true, std::move(action));
}

TimerHandle QtScheduler::repeating(Duration interval, std::function<void()> action) {
    return startTimer(interval, false, std::move(action));
}
