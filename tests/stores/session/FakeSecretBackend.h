#pragma once

#include "SecretBackend.h"

#include <QStringList>

#include <map>
#include <optional>
#include <utility>

// An in-memory secret backend: one item per (service, account), every call recorded, and each operation
// can be told to fail with a status.
class FakeSecretBackend final : public SecretBackend {
public:
    std::map<std::pair<QString, QString>, QByteArray> items;
    QStringList calls; // "replace", "read", "remove" in call order
    std::optional<Status> replaceFailure;
    std::optional<Status> readFailure;
    std::optional<Status> removeFailure;

    Status replace(const QString& service, const QString& account, const QByteArray& data) override {
        calls << QStringLiteral("replace");
        if (replaceFailure) {
            return *replaceFailure;
        }
        items[{service, account}] = data;
        return Status::success();
    }

    ReadResult read(const QString& service, const QString& account) override {
        calls << QStringLiteral("read");
        if (readFailure) {
            return {*readFailure, std::nullopt};
        }
        const auto it = items.find({service, account});
        if (it == items.end()) {
            return {Status::success(), std::nullopt};
        }
        return {Status::success(), it->second};
    }

    Status remove(const QString& service, const QString& account) override {
        calls << QStringLiteral("remove");
        if (removeFailure) {
            return *removeFailure;
        }
        items.erase({service, account});
        return Status::success();
    }

    std::optional<QByteArray> item(const QString& service, const QString& account) const {
        const auto it = items.find({service, account});
        return it == items.end() ? std::nullopt : std::optional<QByteArray>(it->second);
    }
};
