#pragma once

#include <QDateTime>
#include <chrono>

// The source of "now" for the whole program. Monotonic time measures durations; wall time stamps records.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::nanoseconds monotonic() const = 0;
    virtual QDateTime now() const = 0; // UTC

    double monotonicSeconds() const { return std::chrono::duration<double>(monotonic()).count(); }

    // The process-wide clock: the system clock unless a test installed another one.
    static Clock& current();
    static void setCurrent(Clock* clock); // nullptr restores the system clock
};

class SystemClock final : public Clock {
public:
    std::chrono::nanoseconds monotonic() const override;
    QDateTime now() const override;
};

// A clock that only moves when told to. Wall time advances together with monotonic time.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC));
    std::chrono::nanoseconds monotonic() const override { return m_monotonic; }
    QDateTime now() const override;
    void advance(std::chrono::nanoseconds by) { m_monotonic += by; }
    void setNow(const QDateTime& wall);

private:
    std::chrono::nanoseconds m_monotonic{std::chrono::seconds(1000)};
    std::chrono::nanoseconds m_wallBase{};
    QDateTime m_wallStart;
};
