#include "StartupSettingsCard.h"

#include "DashboardLook.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

StartupSettingsCard::StartupSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(QStringLiteral("Startup & Updates"),
                        QStringLiteral("Choose whether Quillvane starts with your session, and look for a "
                                       "newer version."),
                        parent),
      m_services(services) {
    setObjectName(QStringLiteral("startupCard"));
    QVBoxLayout* stack = contentLayout();

    if (LaunchAtLoginControl* launch = m_services.launchAtLogin) {
        auto* toggle = new DashboardSwitch;
        toggle->setObjectName(QStringLiteral("launchAtLoginSwitch"));
        toggle->setAccessibleName(QStringLiteral("Launch at login"));
        m_launchSwitch = toggle;
        m_launchRow = new SettingsRow(state, QStringLiteral("Launch at login"), QString(), std::nullopt,
                                      settingsAccessory(toggle));
        m_launchRow->setObjectName(QStringLiteral("launchAtLoginRow"));
        stack->addWidget(m_launchRow);
        connect(toggle, &QCheckBox::clicked, this, [this, launch](bool on) {
            launch->setEnabled(on);
            sync(); // a write that failed changes nothing: the switch goes back
        });
        connect(launch, &LaunchAtLoginControl::changed, this, &StartupSettingsCard::sync);
    }

    if (m_services.checkForUpdates) {
        auto* check = new DashboardSecondaryButton(QStringLiteral("Check for Updates…"),
                                                   DashboardPalette::accentColor());
        check->setObjectName(QStringLiteral("checkForUpdatesButton"));
        stack->addWidget(new SettingsRow(state, QStringLiteral("Updates"),
                                         QStringLiteral("Quillvane looks for a newer version each time it "
                                                        "starts."),
                                         std::nullopt, settingsAccessory(check)));
        connect(check, &QPushButton::clicked, this, [this] { m_services.checkForUpdates(); });
    }

    if (!m_services.launchAtLogin && !m_services.checkForUpdates) {
        hide();
    }
    sync();
}

void StartupSettingsCard::sync() {
    LaunchAtLoginControl* launch = m_services.launchAtLogin;
    if (!launch) {
        return;
    }
    {
        const QSignalBlocker blocker(m_launchSwitch);
        m_launchSwitch->setChecked(launch->isEnabled());
    }
    const QString target = launch->targetText();
    m_launchRow->setSubtitle(target.isEmpty() ? launch->statusText()
                                              : launch->statusText() + QLatin1Char('\n') + target);
}
