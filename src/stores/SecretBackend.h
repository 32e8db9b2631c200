#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Where a secret item is kept: one item per (service, account) pair, readable by this user only.
// The real backend is the desktop's Secret Service; tests put an in-memory one in its place.
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

    virtual ~SecretBackend() = default;

    // Stores `data` as the item of (service, account), replacing an item that exists.
    virtual Status replace(const QString& service, const QString& account, const QByteArray& data) = 0;
    // The item's bytes; no data and a successful status when there is no such item.
    virtual ReadResult read(const QString& service, const QString& account) = 0;
    // Removes every item of (service, account). Removing an item that does not exist succeeds.
    virtual Status remove(const QString& service, const QString& account) = 0;
};
