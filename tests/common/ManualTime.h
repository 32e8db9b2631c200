#pragma once

#include "Clock.h"
#include "ManualScheduler.h"
#include "Scheduler.h"

// Installs a manual clock and scheduler for one test: nothing scheduled runs until the test advances
// the clock.
struct ManualTime {
    ManualClock clock;
    ManualScheduler scheduler{clock};
    ManualTime() {
        Clock::setCurrent(&clock);
        Scheduler::setCurrent(&scheduler);
    }
    ~ManualTime() {
        Scheduler::setCurrent(nullptr);
        Clock::setCurrent(nullptr);
    }
    ManualTime(const ManualTime&) = delete;
    ManualTime& operator=(const ManualTime&) = delete;
};
