#include "ManualScheduler.h"

#include <algorithm>

TimerHandle ManualScheduler::singleShot(Duration delay, std::function<void()> action) {
    return add(delay, Duration(0), std::move(action));
}

TimerHandle ManualScheduler::repeating(Duration interval, std::function<void()> action) {
    return add(interval, std::max(interval, Duration(1)), std::move(action));
}

TimerHandle ManualScheduler::add(Duration delay, Duration interval, std::function<void()> action) {
    auto state = std::make_shared<TimerHandle::State>();
    m_entries.push_back(Entry{m_nextSequence++, m_clock.monotonic() + std::max(delay, Duration(0)), interval,
                              std::move(action), state});
    return TimerHandle(state);
}

void ManualScheduler::advance(std::chrono::nanoseconds by) {
    const auto target = m_clock.monotonic() + std::max(by, std::chrono::nanoseconds(0));
    for (;;) {
        std::erase_if(m_entries, [](const Entry& e) { return !e.state->active; });
        auto next = std::min_element(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
        });
        if (next == m_entries.end() || next->due > target) {
            break;
        }
        m_clock.advance(next->due - m_clock.monotonic());
        auto action = next->action;
        auto state = next->state;
        if (next->interval.count() == 0) {
            state->active = false;
            m_entries.erase(next);
        } else {
            next->due += next->interval;
            next->sequence = m_nextSequence++;
        }
        action();
    }
    m_clock.advance(target - m_clock.monotonic());
}

int ManualScheduler::pendingCount() const {
    return static_cast<int>(
        std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return e.state->active; }));
}
