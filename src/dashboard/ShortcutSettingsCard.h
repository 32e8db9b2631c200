#pragma once

#include "DashboardServices.h"

#include <QFrame>

class DashboardState;

// The "Shortcuts & Triggers" card of the settings page: the three shortcuts, the typing delay, silence
// sensitivity, toggle mode, the middle mouse button and the status line.
class ShortcutSettingsCard : public QFrame {
    Q_OBJECT

public:
    ShortcutSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

private:
    DashboardState& m_state;
    DashboardServices m_services;
};
