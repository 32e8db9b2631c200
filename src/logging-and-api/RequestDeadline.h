#pragma once

#include "Scheduler.h"

#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

class QNetworkReply;

// The overall deadline of one network request. A transfer time-out only sees silence, so an answer that
// keeps trickling in (a byte a second) would never end; this aborts the reply once `deadline` has passed
// since it was armed, on the Scheduler. Cancelled when it goes (the request ended, or the coroutine
// waiting for it was destroyed).
class RequestDeadline {
public:
    RequestDeadline(QNetworkReply* reply, std::chrono::milliseconds deadline);
    ~RequestDeadline();
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    void cancel();
    // Whether the deadline passed and aborted the reply (which then reports a cancellation).
    bool expired() const { return *m_expired; }
    // The sentence for a request the deadline ended.
    QString message() const;

private:
    std::chrono::milliseconds m_deadline;
    std::shared_ptr<bool> m_expired = std::make_shared<bool>(false);
    TimerHandle m_timer;
};
