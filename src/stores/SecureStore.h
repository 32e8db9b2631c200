#pragma once

#include "SecretBackend.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <deque>
#include <memory>
#include <optional>

// Keeps the backend session token across launches as one secret item, identified by `service` and
// `sessionTokenAccount`. Write, read and delete never fail towards the caller: every failure of the
// secret backend is logged (with the backend's status code) and otherwise swallowed.
//
// Nothing here waits for the secret backend: the operations are queued and run one after the other, in
// the order they were asked for, while the caller goes on (a read is awaited). A write of the token the
// item is known to hold already (read, written or written over by this store) asks the backend nothing.
// Main thread only.
class SecureStore final {
public:
    static inline const QString kDefaultService = QStringLiteral("app.quillvane.desktop");
    static inline const QString kDefaultSessionTokenAccount = QStringLiteral("backend-session-token");

    // A store on `backend` (the desktop's Secret Service in the application, an in-memory one in tests),
    // under the application's attributes unless others are given.
    explicit SecureStore(std::shared_ptr<SecretBackend> backend, QString service = kDefaultService,
                         QString sessionTokenAccount = kDefaultSessionTokenAccount);
    // Operations still queued are dropped and a read still waiting answers "absent"; a call the backend
    // is running finishes there unreported.
    ~SecureStore();
    SecureStore(const SecureStore&) = delete;
    SecureStore& operator=(const SecureStore&) = delete;

    // Stores `token` (UTF-8, no framing) in place of the item's content. The item is written over, never
    // deleted first: when the write fails, the token stored before stays.
    void writeSessionToken(const QString& token);
    // The stored token once the operations asked for before have run; absent when there is none, when
    // the read failed or when the bytes are not UTF-8.
    QCoro::Task<std::optional<QString>> readSessionToken();
    // Removes the item; a missing item counts as removed.
    void deleteSessionToken();
    // Completes once every operation asked for before has finished.
    QCoro::Task<> settled();

    const QString& service() const { return m_service; }
    const QString& sessionTokenAccount() const { return m_sessionTokenAccount; }

private:
    // A value handed from the queue to the one coroutine that waits for it.
    template <class T> struct Handoff {
        std::optional<T> value;
        std::coroutine_handle<> waiter;

        void deliver(T result) {
            value = std::move(result);
            if (const std::coroutine_handle<> resumed = std::exchange(waiter, {})) {
                resumed.resume();
            }
        }
    };
    template <class T> struct HandoffAwaiter {
        std::shared_ptr<Handoff<T>> handoff;
        bool await_ready() const noexcept { return handoff->value.has_value(); }
        void await_suspend(std::coroutine_handle<> handle) noexcept { handoff->waiter = handle; }
        T await_resume() { return std::move(*handoff->value); }
    };
    using ReadHandoff = Handoff<std::optional<QString>>;
    using SettledHandoff = Handoff<bool>;

    enum class Kind { Write, Read, Delete, Settled };
    struct Operation {
        Kind kind;
        QString token;                           // Write
        std::shared_ptr<ReadHandoff> read;       // Read
        std::shared_ptr<SettledHandoff> settled; // Settled
    };
    // What the item holds as far as this store knows.
    enum class Knowledge { Unknown, Absent, Token };

    void enqueue(Operation operation);
    void runQueue();
    void begin(const Operation& operation);
    void finishWrite(const QString& token, const SecretBackend::Status& status);
    void finishRead(const std::shared_ptr<ReadHandoff>& handoff, const SecretBackend::ReadResult& result);
    void finishDelete(const SecretBackend::Status& status);
    void know(Knowledge knowledge, const QString& token = {});

    std::shared_ptr<SecretBackend> m_backend;
    const QString m_service;
    const QString m_sessionTokenAccount;
    std::deque<Operation> m_queue;
    std::shared_ptr<ReadHandoff> m_runningRead; // the read the backend is answering, if any
    bool m_running = false;                     // an operation is with the backend
    bool m_inRunQueue = false;
    bool m_closing = false;
    Knowledge m_knowledge = Knowledge::Unknown;
    QString m_knownToken;
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};
