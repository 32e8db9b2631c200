#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Where a secret item is kept: one item per (service, account) pair, readable by this user only.
// The real backend is the desktop's Secret Service; tests put an in-memory one in its place.
//
// Every call returns at once and reports its outcome through `done`, exactly once, on the thread that
// made the call (the main thread): later from the event loop, or before the call returns when the
// backend needs no waiting. A backend never blocks the caller, whatever the service behind it does.
class SecretBackend {
public:
    // The outcome of one call. `code` is 0 on success; a failure always carries a non-zero code (the
    // backend's own error number) and a short reason for the log.
    struct Status {
        int code = 0;
        QString reason;

        bool ok() const { return code == 0; }
        static Status success() { return {}; }
    };

    struct ReadResult {
        Status status;
        std::optional<QByteArray> data; // absent when no item exists (or the read failed)
    };

    using StatusCallback = std::function<void(Status)>;
    using ReadCallback = std::function<void(ReadResult)>;

    virtual ~SecretBackend() = default;

    // Stores `data` as the item of (service, account), replacing an item that exists. A failure leaves
    // the existing item as it was.
    virtual void replace(const QString& service, const QString& account, const QByteArray& data,
                         StatusCallback done) = 0;
    // The item's bytes; no data and a successful status when there is no such item.
    virtual void read(const QString& service, const QString& account, ReadCallback done) = 0;
    // Removes every item of (service, account). Removing an item that does not exist succeeds.
    virtual void remove(const QString& service, const QString& account, StatusCallback done) = 0;
};
