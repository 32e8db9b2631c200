#include "InputSettingsCard.h"

#include "AppLogger.h"
#include "AppSettings.h"
#include "AudioInputDeviceStore.h"
#include "PageBits.h"
#include "PermissionsCoordinator.h"
#include "PromptSettingsStore.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace SettingsRules;

InputSettingsCard::InputSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(QStringLiteral("Input & Language"),
                        QStringLiteral("Choose the microphone and the general dictation "
                                       "context before you fine-tune output."),
                        parent),
      m_services(services) {
    setObjectName(QStringLiteral("inputAndLanguageCard"));
    QVBoxLayout* stack = contentLayout();

    auto* microphone = new QWidget;
    auto* microphoneLayout = new QVBoxLayout(microphone);
    microphoneLayout->setContentsMargins(0, 0, 0, 0);
    m_microphone = new QComboBox;
    m_microphone->setObjectName(QStringLiteral("microphonePicker"));
    m_microphone->setFixedWidth(240);
    m_microphoneError = PageBits::label(QString(), PageBits::font(12), QColor(0xB4, 0x23, 0x18));
    m_microphoneError->setObjectName(QStringLiteral("microphoneError"));
    m_microphoneError->setWordWrap(true);
    m_microphoneError->setMaximumWidth(240);
    m_microphoneError->hide();
    microphoneLayout->addWidget(m_microphone);
    microphoneLayout->addWidget(m_microphoneError);
    m_microphoneRow = new SettingsRow(state, QStringLiteral("Microphone"), QString(), std::nullopt,
                                      settingsAccessory(microphone));
    stack->addWidget(m_microphoneRow);
    connect(m_microphone, &QComboBox::activated, this, &InputSettingsCard::pickMicrophone);

    m_domain = new QComboBox;
    m_domain->setObjectName(QStringLiteral("domainPicker"));
    m_domain->setFixedWidth(180);
    for (const Option& option : workDomainOptions())
        m_domain->addItem(option.label, option.value);
    stack->addWidget(new SettingsRow(state, QStringLiteral("Domain"),
                                     QStringLiteral("Tune Quillvane for the work you do."), std::nullopt,
                                     settingsAccessory(m_domain)));
    connect(m_domain, &QComboBox::activated, this, [this](int index) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.workDomainSelection = workDomainOptions().at(index).value;
        m_services.promptSettingsStore.setSettings(settings);
    });

    m_customDomain = new QLineEdit;
    m_customDomain->setObjectName(QStringLiteral("customDomainField"));
    m_customDomain->setPlaceholderText(QStringLiteral("Custom Domain"));
    stack->addWidget(m_customDomain);
    connect(m_customDomain, &QLineEdit::textEdited, this, [this](const QString& text) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.workDomainCustom = text;
        m_services.promptSettingsStore.setSettings(settings);
    });

    m_language = new QButtonGroup(this);
    QWidget* segments =
        settingsSegments(QStringLiteral("languageSegments"), languageSegments(), 220, m_language);
    stack->addWidget(
        new SettingsRow(state, QStringLiteral("Language"),
                        QStringLiteral("Keep transcription flexible or constrain it to English."),
                        std::nullopt, settingsAccessory(segments)));
    connect(m_language, &QButtonGroup::idClicked, this, [this](int id) {
        PromptSettings settings = m_services.promptSettingsStore.settings();
        settings.transcriptionLanguageMode = languageSegments().at(id).value;
        m_services.promptSettingsStore.setSettings(settings);
    });

    auto* review = new QPushButton(QStringLiteral("Review"));
    review->setObjectName(QStringLiteral("permissionsReviewButton"));
    stack->addWidget(
        new SettingsRow(state, QStringLiteral("Permissions Setup"),
                        QStringLiteral("Review microphone and accessibility permissions."),
                        QStringLiteral("Use this if Quillvane cannot hear you, react to global "
                                       "hotkeys, or interact with other apps the way you expect."),
                        settingsAccessory(review)));
    connect(review, &QPushButton::clicked, this, [this] {
        m_services.permissionsCoordinator.refresh();
        m_services.permissionsCoordinator.setShowOnboarding(true);
    });

    connect(&m_services.audioInputDeviceStore, &AudioInputDeviceStore::devicesChanged, this,
            &InputSettingsCard::syncMicrophone);
    connect(&m_services.audioInputDeviceStore, &AudioInputDeviceStore::statusTextChanged, this,
            &InputSettingsCard::syncMicrophone);
    connect(&m_services.appSettings, &AppSettings::selectedInputDeviceUIDChanged, this,
            &InputSettingsCard::syncMicrophone);
    connect(&m_services.promptSettingsStore, &PromptSettingsStore::settingsChanged, this,
            &InputSettingsCard::syncPromptSettings);
    syncMicrophone();
    syncPromptSettings();
}

void InputSettingsCard::syncMicrophone() {
    const QSignalBlocker blocker(m_microphone);
    m_microphoneOptions = microphoneOptions(m_services.audioInputDeviceStore.devices());
    m_microphone->clear();
    for (const Option& option : m_microphoneOptions)
        m_microphone->addItem(option.label, option.value);
    m_microphone->setCurrentIndex(int(
        indexOfValue(m_microphoneOptions, microphoneValue(m_services.appSettings.selectedInputDeviceUID()))));
    m_microphoneRow->setSubtitle(m_services.audioInputDeviceStore.statusText());
}

void InputSettingsCard::pickMicrophone(int index) {
    const std::optional<QString> uid = pickedDeviceUID(m_microphoneOptions.at(index).value);
    try {
        m_services.audioInputDeviceStore.selectDevice(uid);
    } catch (const AudioInputDeviceError& error) {
        // The stored choice stays; say why the switch did not happen instead of snapping back silently.
        AppLogger::error(QStringLiteral("Microphone switch failed: ") + error.message());
        m_microphoneError->setText(error.message());
        m_microphoneError->show();
        syncMicrophone();
        return;
    }
    m_microphoneError->hide();
    m_services.appSettings.setSelectedInputDeviceUID(uid);
    syncMicrophone();
}

void InputSettingsCard::syncPromptSettings() {
    const PromptSettings settings = m_services.promptSettingsStore.settings();
    {
        const QSignalBlocker blocker(m_domain);
        m_domain->setCurrentIndex(int(indexOfValue(workDomainOptions(), settings.workDomainSelection)));
    }
    m_customDomain->setVisible(customDomainFieldVisible(settings.workDomainSelection));
    if (m_customDomain->text() != settings.workDomainCustom)
        m_customDomain->setText(settings.workDomainCustom);
    const qsizetype language = indexOfValue(languageSegments(), settings.transcriptionLanguageMode);
    for (QAbstractButton* button : m_language->buttons()) {
        const QSignalBlocker blocker(button);
        button->setChecked(m_language->id(button) == language);
    }
}
