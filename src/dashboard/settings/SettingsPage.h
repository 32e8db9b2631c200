#pragma once

#include "DashboardServices.h"

#include <QWidget>

class DashboardState;
class SettingsHelpBubble;

// The settings page: header, intro, and the cards of the setting groups. The open help bubble floats in
// one layer above the cards, below its row, and lets every click through to what lies beneath.
class SettingsPage : public QWidget {
    Q_OBJECT

public:
    SettingsPage(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

    // The help bubble layer: hidden while no row's help is open.
    QWidget* helpBubble() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncHelpBubble();

    DashboardState& m_state;
    DashboardServices m_services;
    SettingsHelpBubble* m_helpBubble = nullptr;
};
