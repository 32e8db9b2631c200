#pragma once

#include "DashboardHotkeyCaptureIntent.h"
#include "DashboardServices.h"
#include "SettingsRow.h"

class DashboardState;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

// The "Shortcuts & Triggers" card of the settings page: the three shortcuts, the typing delay, silence
// sensitivity, toggle mode, the middle mouse button and the status line. Every control shows AppSettings
// as it is stored and writes only when the user acts.
class ShortcutSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    ShortcutSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

private:
    QWidget* shortcutButtons(DashboardHotkeyCaptureIntent intent, QAbstractButton** switchButton);
    QWidget* typingModeAccessory();
    QWidget* silenceAccessory();
    void startCapture(DashboardHotkeyCaptureIntent intent);
    void switchMode(DashboardHotkeyCaptureIntent intent);
    void pickTypingDelay(int index);
    void moveSilenceSlider();

    void syncShortcuts();
    void syncTypingDelay();
    void syncSilence();
    void syncToggleMode();
    void syncMiddleMouse();

    DashboardState& m_state;
    DashboardServices m_services;
    SettingsRow* m_dictationRow = nullptr;
    SettingsRow* m_aiModeRow = nullptr;
    SettingsRow* m_typingModeRow = nullptr;
    QAbstractButton* m_aiModeSwitch = nullptr;
    QAbstractButton* m_typingModeSwitch = nullptr;
    QComboBox* m_typingDelay = nullptr;
    QSlider* m_silence = nullptr;
    QLabel* m_silenceValue = nullptr;
    QCheckBox* m_toggleMode = nullptr;
    QComboBox* m_middleMouse = nullptr;
    QLabel* m_status = nullptr;
};
