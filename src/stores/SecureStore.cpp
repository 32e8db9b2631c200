#include "SecureStore.h"

#include "AppLogger.h"

#include <QStringDecoder>

namespace {
QString statusTail(const SecretBackend::Status& status) {
    QString tail = QStringLiteral(" status=") + QString::number(status.code);
    if (!status.reason.isEmpty()) {
        tail += QStringLiteral(" reason=") + status.reason;
    }
    return tail;
}

// The token the bytes spell, or nothing when they are not UTF-8.
std::optional<QString> decodeToken(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString token = utf8.decode(bytes);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    return token;
}
} // namespace

SecureStore::SecureStore(std::shared_ptr<SecretBackend> backend, QString service, QString sessionTokenAccount)
    : m_backend(std::move(backend)), m_service(std::move(service)),
      m_sessionTokenAccount(std::move(sessionTokenAccount)) {}

SecureStore::~SecureStore() {
    m_closing = true;
    // The waiting coroutines are told now rather than left suspended for ever; none of them touches
    // this store once resumed.
    if (const std::shared_ptr<ReadHandoff> read = std::exchange(m_runningRead, {})) {
        read->deliver(std::nullopt);
    }
    const std::deque<Operation> dropped = std::exchange(m_queue, {});
    for (const Operation& operation : dropped) {
        if (operation.read) {
            operation.read->deliver(std::nullopt);
        }
        if (operation.settled) {
            operation.settled->deliver(true);
        }
    }
}

void SecureStore::writeSessionToken(const QString& token) {
    Operation operation{Kind::Write, token, nullptr, nullptr};
    enqueue(std::move(operation));
}

QCoro::Task<std::optional<QString>> SecureStore::readSessionToken() {
    const auto handoff = std::make_shared<ReadHandoff>();
    Operation operation{Kind::Read, QString(), handoff, nullptr};
    enqueue(std::move(operation));
    HandoffAwaiter<std::optional<QString>> answer{handoff};
    co_return co_await answer;
}

void SecureStore::deleteSessionToken() {
    Operation operation{Kind::Delete, QString(), nullptr, nullptr};
    enqueue(std::move(operation));
}

QCoro::Task<> SecureStore::settled() {
    const auto handoff = std::make_shared<SettledHandoff>();
    Operation operation{Kind::Settled, QString(), nullptr, handoff};
    enqueue(std::move(operation));
    HandoffAwaiter<bool> done{handoff};
    co_await done;
}

void SecureStore::enqueue(Operation operation) {
    if (m_closing) {
        if (operation.read) {
            operation.read->deliver(std::nullopt);
        }
        if (operation.settled) {
            operation.settled->deliver(true);
        }
        return;
    }
    m_queue.push_back(std::move(operation));
    runQueue();
}

// Starts the next operation whenever none is with the backend. A backend that answers before its call
// returns re-enters here through the finish functions; the loop below then carries on.
void SecureStore::runQueue() {
    if (m_inRunQueue) {
        return;
    }
    m_inRunQueue = true;
    const std::weak_ptr<const bool> alive = m_alive;
    while (!m_running && !m_queue.empty()) {
        const Operation operation = std::move(m_queue.front());
        m_queue.pop_front();
        begin(operation);
        if (alive.expired()) {
            return; // a resumed reader let the store go
        }
    }
    m_inRunQueue = false;
}

void SecureStore::begin(const Operation& operation) {
    const std::weak_ptr<const bool> alive = m_alive;
    switch (operation.kind) {
    case Kind::Write:
        if (m_knowledge == Knowledge::Token && m_knownToken == operation.token) {
            return; // the item holds it already
        }
        m_running = true;
        m_backend->replace(m_service, m_sessionTokenAccount, operation.token.toUtf8(),
                           [this, alive, token = operation.token](const SecretBackend::Status& status) {
                               if (!alive.expired()) {
                                   finishWrite(token, status);
                               }
                           });
        return;
    case Kind::Read:
        m_running = true;
        m_runningRead = operation.read;
        m_backend->read(m_service, m_sessionTokenAccount,
                        [this, alive, handoff = operation.read](const SecretBackend::ReadResult& result) {
                            if (!alive.expired()) {
                                finishRead(handoff, result);
                            }
                        });
        return;
    case Kind::Delete:
        m_running = true;
        m_backend->remove(m_service, m_sessionTokenAccount,
                          [this, alive](const SecretBackend::Status& status) {
                              if (!alive.expired()) {
                                  finishDelete(status);
                              }
                          });
        return;
    case Kind::Settled:
        operation.settled->deliver(true);
        return;
    }
}

void SecureStore::finishWrite(const QString& token, const SecretBackend::Status& status) {
    m_running = false;
    if (status.ok()) {
        know(Knowledge::Token, token);
        AppLogger::info(QStringLiteral("Stored session token in the Secret Service"));
    } else {
        // The item may or may not have changed: the next write of any token goes to the backend again.
        know(Knowledge::Unknown);
        AppLogger::error(QStringLiteral("Failed to store session token in the Secret Service") +
                         statusTail(status));
    }
    runQueue();
}

void SecureStore::finishRead(const std::shared_ptr<ReadHandoff>& handoff,
                             const SecretBackend::ReadResult& result) {
    m_running = false;
    m_runningRead.reset();
    std::optional<QString> token;
    if (!result.status.ok()) {
        know(Knowledge::Unknown);
        AppLogger::error(QStringLiteral("Failed to load session token from the Secret Service") +
                         statusTail(result.status));
    } else if (!result.data) {
        know(Knowledge::Absent); // no item: silent
    } else if ((token = decodeToken(*result.data))) {
        know(Knowledge::Token, *token);
        if (!token->isEmpty()) {
            AppLogger::info(QStringLiteral("Loaded session token from the Secret Service"));
        }
    } else {
        know(Knowledge::Unknown); // something that is no token of ours: written over at the next write
    }
    const std::weak_ptr<const bool> alive = m_alive;
    handoff->deliver(std::move(token));
    if (!alive.expired()) {
        runQueue();
    }
}

void SecureStore::finishDelete(const SecretBackend::Status& status) {
    m_running = false;
    if (status.ok()) {
        know(Knowledge::Absent);
        AppLogger::info(QStringLiteral("Cleared session token from the Secret Service"));
    } else {
        know(Knowledge::Unknown);
        AppLogger::error(QStringLiteral("Failed to clear session token from the Secret Service") +
                         statusTail(status));
    }
    runQueue();
}

void SecureStore::know(Knowledge knowledge, const QString& token) {
    m_knowledge = knowledge;
    m_knownToken = token;
}
