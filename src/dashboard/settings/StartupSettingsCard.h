#pragma once

#include "DashboardServices.h"
#include "SettingsRow.h"

#include <QObject>
#include <QString>

class QCheckBox;
class QPushButton;

// Launch at login as the settings page shows and changes it. The composition root adapts its
// launch-at-login manager to this.
class LaunchAtLoginControl : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool isEnabled() const = 0;
    virtual QString statusText() const = 0;
    // Which program starts at login, when that is worth saying (it is not the installed Quillvane);
    // empty otherwise.
    virtual QString targetText() const = 0;
    // The user's switch: registers (true) or removes (false) the entry.
    virtual void setEnabled(bool enabled) = 0;

signals:
    void changed();
};

// The "Startup & Updates" card of the settings page: the launch-at-login switch with its status (and
// where the entry points, when not at the installed program), and "Check for Updates…" when the build
// checks for updates. Hidden when it has neither. Object names: "startupCard", "launchAtLoginSwitch",
// "launchAtLoginRow", "checkForUpdatesButton".
class StartupSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    StartupSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

    SettingsRow* launchAtLoginRow() const { return m_launchRow; }

private:
    void sync();

    DashboardServices m_services;
    SettingsRow* m_launchRow = nullptr;
    QCheckBox* m_launchSwitch = nullptr;
};
