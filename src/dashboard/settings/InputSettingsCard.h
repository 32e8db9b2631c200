#pragma once

#include "DashboardServices.h"
#include "SettingsRow.h"

class DashboardState;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;

// Input & Language: the microphone (with the store's status and why a switch failed), the work domain
// with its custom field, the transcription language, and the way back to the permissions setup. It shows
// the audio input store, the app settings and the prompt settings, and writes only on the user's actions.
class InputSettingsCard : public SettingsGroupCard {
    Q_OBJECT

public:
    InputSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent = nullptr);

private:
    void syncMicrophone();
    void syncPromptSettings();
    void pickMicrophone(int index);

    DashboardServices m_services;
    QComboBox* m_microphone = nullptr;
    QLabel* m_microphoneError = nullptr;
    SettingsRow* m_microphoneRow = nullptr;
    QComboBox* m_domain = nullptr;
    QLineEdit* m_customDomain = nullptr;
    QButtonGroup* m_language = nullptr;
    QList<SettingsRules::Option> m_microphoneOptions;
};
