#include "RequestDeadline.h"

#include <QNetworkReply>

RequestDeadline::RequestDeadline(QNetworkReply* reply, std::chrono::milliseconds deadline)
    : m_deadline(deadline) {
    m_timer = Scheduler::current().singleShot(deadline,
                                              [reply = QPointer<QNetworkReply>(reply), expired = m_expired] {
                                                  if (reply && reply->isRunning()) {
                                                      *expired = true;
                                                      reply->abort();
                                                  }
                                              });
}

RequestDeadline::~RequestDeadline() {
    cancel();
}

void RequestDeadline::cancel() {
    m_timer.cancel();
}

QString RequestDeadline::message() const {
    const auto seconds = (m_deadline.count() + 999) / 1000;
    return QStringLiteral("The request was stopped: no whole answer within %1 s.").arg(seconds);
}
