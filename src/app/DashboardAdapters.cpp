#include "DashboardAdapters.h"

#include "ConfigSyncCoordinator.h"
#include "LaunchAtLoginManager.h"

SyncCoordinatorFailures::SyncCoordinatorFailures(ConfigSyncCoordinator& sync, QObject* parent)
    : CloudSyncFailures(parent), m_sync(sync) {
    connect(&m_sync, &ConfigSyncCoordinator::failureChanged, this, &CloudSyncFailures::failureChanged);
}

QString SyncCoordinatorFailures::failureText() const {
    return m_sync.failureText();
}

QString SyncCoordinatorFailures::failureAdvice() const {
    return m_sync.failureAdvice();
}

bool SyncCoordinatorFailures::canRetry() const {
    return m_sync.failureRetryable();
}

void SyncCoordinatorFailures::retryNow() {
    m_sync.retryNow();
}

LaunchAtLoginSwitch::LaunchAtLoginSwitch(LaunchAtLoginManager& manager, QObject* parent)
    : LaunchAtLoginControl(parent), m_manager(manager) {
    connect(&m_manager, &LaunchAtLoginManager::isEnabledChanged, this, &LaunchAtLoginControl::changed);
    connect(&m_manager, &LaunchAtLoginManager::statusTextChanged, this, &LaunchAtLoginControl::changed);
    connect(&m_manager, &LaunchAtLoginManager::targetTextChanged, this, &LaunchAtLoginControl::changed);
}

bool LaunchAtLoginSwitch::isEnabled() const {
    return m_manager.isEnabled();
}

QString LaunchAtLoginSwitch::statusText() const {
    return m_manager.statusText();
}

QString LaunchAtLoginSwitch::targetText() const {
    return m_manager.targetText();
}

void LaunchAtLoginSwitch::setEnabled(bool enabled) {
    m_manager.setEnabled(enabled);
}
