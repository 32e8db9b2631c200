#pragma once

#include "StartupSettingsCard.h"
#include "SyncFailureNotice.h"

class ConfigSyncCoordinator;
class LaunchAtLoginManager;

// The cloud sync coordinator's failure, as the dashboard's notices show it.
class SyncCoordinatorFailures final : public CloudSyncFailures {
    Q_OBJECT

public:
    explicit SyncCoordinatorFailures(ConfigSyncCoordinator& sync, QObject* parent = nullptr);

    QString failureText() const override;
    QString failureAdvice() const override;
    bool canRetry() const override;
    void retryNow() override;

private:
    ConfigSyncCoordinator& m_sync;
};

// The launch-at-login manager behind the settings page's switch.
class LaunchAtLoginSwitch final : public LaunchAtLoginControl {
    Q_OBJECT

public:
    explicit LaunchAtLoginSwitch(LaunchAtLoginManager& manager, QObject* parent = nullptr);

    bool isEnabled() const override;
    QString statusText() const override;
    QString targetText() const override;
    void setEnabled(bool enabled) override;

private:
    LaunchAtLoginManager& m_manager;
};
