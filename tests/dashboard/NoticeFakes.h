#pragma once
// Stand-ins for the cloud sync's failure and the launch-at-login manager, as the dashboard sees them.

#include "StartupSettingsCard.h"
#include "SyncFailureNotice.h"

#include <QList>

class FakeSyncFailures final : public CloudSyncFailures {
public:
    QString text, advice;
    bool retryable = true;
    int retries = 0;

    void set(const QString& failure, const QString& what, bool canRetryIt) {
        text = failure;
        advice = what;
        retryable = canRetryIt;
        emit failureChanged();
    }
    QString failureText() const override { return text; }
    QString failureAdvice() const override { return advice; }
    bool canRetry() const override { return retryable; }
    void retryNow() override { ++retries; }
};

class FakeLaunchAtLogin final : public LaunchAtLoginControl {
public:
    bool enabled = false;
    QString target;
    bool writesFail = false;
    QList<bool> requests;

    bool isEnabled() const override { return enabled; }
    QString statusText() const override {
        return enabled ? QStringLiteral("Quillvane opens automatically after you sign in.")
                       : QStringLiteral("Launch Quillvane automatically when you sign in to your computer.");
    }
    QString targetText() const override { return target; }
    void setEnabled(bool on) override {
        requests << on;
        if (!writesFail) {
            enabled = on;
            emit changed();
        }
    }
    void pointAt(const QString& where) {
        target = where;
        emit changed();
    }
};
