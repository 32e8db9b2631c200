#pragma once

#include "SecretBackend.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

// An in-memory secret backend: one item per (service, account), every call recorded, and each operation
// can be told to fail with a status. It answers before the call returns, unless `holdAnswers` is set:
// then each call waits in `held` until released, and the items change only when it is.
class FakeSecretBackend final : public SecretBackend {
public:
    std::map<std::pair<QString, QString>, QByteArray> items;
    QStringList calls; // "replace", "read", "remove" in call order
    std::optional<Status> replaceFailure;
    std::optional<Status> readFailure;
    std::optional<Status> removeFailure;
    bool holdAnswers = false;
    std::deque<std::function<void()>> held;

    void replace(const QString& service, const QString& account, const QByteArray& data,
                 StatusCallback done) override {
        calls << QStringLiteral("replace");
        answer([=, this] {
            if (replaceFailure) {
                done(*replaceFailure);
                return;
            }
            items[{service, account}] = data;
            done(Status::success());
        });
    }

    void read(const QString& service, const QString& account, ReadCallback done) override {
        calls << QStringLiteral("read");
        answer([=, this] {
            if (readFailure) {
                done({*readFailure, std::nullopt});
                return;
            }
            done({Status::success(), item(service, account)});
        });
    }

    void remove(const QString& service, const QString& account, StatusCallback done) override {
        calls << QStringLiteral("remove");
        answer([=, this] {
            if (removeFailure) {
                done(*removeFailure);
                return;
            }
            items.erase({service, account});
            done(Status::success());
        });
    }

    // Answers the oldest held call; false when none is held.
    bool releaseOne() {
        if (held.empty()) {
            return false;
        }
        const std::function<void()> next = std::move(held.front());
        held.pop_front();
        next();
        return true;
    }

    std::optional<QByteArray> item(const QString& service, const QString& account) const {
        const auto it = items.find({service, account});
        return it == items.end() ? std::nullopt : std::optional<QByteArray>(it->second);
    }

private:
    void answer(std::function<void()> outcome) {
        if (holdAnswers) {
            held.push_back(std::move(outcome));
        } else {
            outcome();
        }
    }
};
