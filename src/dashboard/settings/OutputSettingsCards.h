#pragma once

#include "DashboardServices.h"
#include "SettingsRow.h"

class DashboardState;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QVBoxLayout;

// The "Output & Formatting" card of the settings page: auto space, the verbatim style, e-mail formatting
// (shown as on while it is not disabled), muting while dictating and lower-casing. Each control shows
// AppSettings as stored and writes only when the user changes it.
class OutputSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    OutputSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

    SettingsRow* verbatimRow() const { return m_verbatimRow; }

private:
    // A row whose control is a switch named after the row; the switch is returned to be connected.
    QCheckBox* toggleRow(QVBoxLayout* stack, const QString& title, const QString& subtitle,
                         const std::optional<QString>& helpText);
    void sync();

    DashboardState& m_state;
    DashboardServices m_services;
    QCheckBox* m_autoSpace = nullptr;
    QCheckBox* m_emailFormatting = nullptr;
    QCheckBox* m_mute = nullptr;
    QCheckBox* m_lowercase = nullptr;
    QButtonGroup* m_verbatim = nullptr;
    SettingsRow* m_verbatimRow = nullptr;
};

// The "Reset" card: the button that asks to confirm a reset of every setting, and the version line.
class ResetSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    ResetSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);
};
