#pragma once

#include "Clock.h"
#include "Scheduler.h"

#include <cstdint>
#include <vector>

// A scheduler for tests: nothing runs until `advance` moves its clock past an action's due time.
// Actions run in due order (ties in the order they were scheduled), each with the clock set to its
// due time, so an action that schedules another one sees consistent time.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock) : m_clock(clock) {}

    TimerHandle singleShot(Duration delay, std::function<void()> action) override;
    TimerHandle repeating(Duration interval, std::function<void()> action) override;

    // Moves time forward by `by`, running every action that falls due on the way.
    void advance(std::chrono::nanoseconds by);
    // Runs whatever is due now without moving time.
    void runDue() { advance(std::chrono::nanoseconds(0)); }
    // Number of actions still waiting.
    int pendingCount() const;

    ManualClock& clock() { return m_clock; }

private:
    struct Entry {
        std::uint64_t sequence;
        std::chrono::nanoseconds due;
        std::chrono::nanoseconds interval; // zero for single-shot
        std::function<void()> action;
        std::shared_ptr<TimerHandle::State> state;
    };

    TimerHandle add(Duration delay, Duration interval, std::function<void()> action);

    ManualClock& m_clock;
    std::vector<Entry> m_entries;
    std::uint64_t m_nextSequence = 0;
};
