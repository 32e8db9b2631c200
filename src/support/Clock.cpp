#include "Clock.h"

#include <atomic>

namespace {
std::atomic<Clock*> g_override{nullptr};
}

Clock& Clock::current() {
    static SystemClock system;
    Clock* clock = g_override.load();
    return clock ? *clock : system;
}

void Clock::setCurrent(Clock* clock) {
    g_override.store(clock);
}

std::chrono::nanoseconds SystemClock::monotonic() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

ManualClock::ManualClock(QDateTime start) : m_wallBase(m_monotonic), m_wallStart(start.toUTC()) {}

QDateTime ManualClock::now() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_monotonic - m_wallBase);
    return m_wallStart.addMSecs(elapsed.count());
}

void ManualClock::setNow(const QDateTime& wall) {
    m_wallStart = wall.toUTC();
    m_wallBase = m_monotonic;
}
