#include "ShortcutSettingsCard.h"

#include "AppSettings.h"
#include "DashboardLook.h"
#include "DashboardState.h"
#include "PageBits.h"
#include "SettingsRow.h"
#include "ShortcutSettingsRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

using namespace ShortcutSettingsRules;
using Intent = DashboardHotkeyCaptureIntent;

ShortcutSettingsCard::ShortcutSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(QStringLiteral("Shortcuts & Triggers"),
                        QStringLiteral("Set the keyboard and mouse controls you use day to day."), parent),
      m_state(state), m_services(services) {
    setObjectName(QStringLiteral("shortcutsCard"));
    QVBoxLayout* stack = contentLayout();

    m_dictationRow =
        new SettingsRow(m_state, QStringLiteral("Dictation Shortcut"), QString(),
                        QStringLiteral("This is your main push-to-talk shortcut for standard dictation."),
                        shortcutButtons(Intent::Dictation, nullptr));
    m_aiModeRow = new SettingsRow(
        m_state, QStringLiteral("AI Mode Shortcut"), QString(),
        QStringLiteral(
            "Use this shortcut when you want Quillvane to rewrite selected text, generate something "
            "new, or follow a spoken instruction."),
        shortcutButtons(Intent::SmartEdit, &m_aiModeSwitch));
    m_typingModeRow = new SettingsRow(
        m_state, QStringLiteral("Typing Mode Shortcut"), QString(),
        QStringLiteral("Typing Mode is for apps that do not handle paste well. Quillvane types the result "
                       "character by character instead."),
        typingModeAccessory());
    stack->addWidget(m_dictationRow);
    stack->addWidget(m_aiModeRow);
    stack->addWidget(m_typingModeRow);

    stack->addWidget(new SettingsRow(
        m_state, QStringLiteral("Silence Sensitivity"),
        QStringLiteral("Higher blocks quiet noise more aggressively before Quillvane sends a clip."),
        QStringLiteral(
            "Raise this if silent or near-silent recordings still hallucinate. Lower it if Quillvane "
            "is missing quiet speech in your environment."),
        silenceAccessory()));

    m_toggleMode = new DashboardSwitch;
    m_toggleMode->setObjectName(QStringLiteral("toggleModeSwitch"));
    m_toggleMode->setAccessibleName(QStringLiteral("Toggle Mode"));
    stack->addWidget(new SettingsRow(
        m_state, QStringLiteral("Toggle Mode"),
        QStringLiteral("Press once to start and press again to stop, instead of hold-to-record."),
        QStringLiteral(
            "Turn this on if you prefer tap-to-start and tap-to-stop. Leave it off if you want the "
            "usual hold-to-record behavior."),
        settingsAccessory(m_toggleMode)));
    connect(m_toggleMode, &QCheckBox::clicked, this,
            [this](bool checked) { m_services.appSettings.setToggleHotkeyMode(checked); });

    m_middleMouse = new QComboBox;
    m_middleMouse->setObjectName(QStringLiteral("middleMousePicker"));
    m_middleMouse->setAccessibleName(QStringLiteral("Middle Mouse"));
    m_middleMouse->setFixedWidth(160);
    for (const Option& option : middleMouseOptions())
        m_middleMouse->addItem(option.label, option.value);
    stack->addWidget(new SettingsRow(
        m_state, QStringLiteral("Middle Mouse"),
        QStringLiteral("Optional mouse trigger for dictation, Typing Mode, or AI Mode."),
        QStringLiteral(
            "You can map the middle mouse button to standard dictation, Typing Mode, or AI Mode if "
            "you prefer mouse-based control."),
        settingsAccessory(m_middleMouse)));
    connect(m_middleMouse, &QComboBox::activated, this, [this](int index) {
        m_services.appSettings.setMouseShortcutMode(middleMouseOptions().at(index).value);
    });

    // Always present, even while the sentence is empty.
    const QFont caption = PageBits::font(11);
    m_status = PageBits::label(m_state.hotkeyStatusText(), caption, PageBits::mutedColor);
    m_status->setObjectName(QStringLiteral("hotkeyStatus"));
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(QFontMetrics(caption).height());
    stack->addWidget(m_status);
    connect(&m_state, &DashboardState::hotkeyStatusTextChanged, this,
            [this] { m_status->setText(m_state.hotkeyStatusText()); });

    AppSettings& settings = m_services.appSettings;
    for (auto signal :
         {&AppSettings::hotkeyChanged, &AppSettings::smartEditHotkeyChanged, &AppSettings::vdiHotkeyChanged})
        connect(&settings, signal, this, &ShortcutSettingsCard::syncShortcuts);
    for (auto signal : {&AppSettings::smartEditHotkeyEnabledChanged, &AppSettings::vdiHotkeyEnabledChanged})
        connect(&settings, signal, this, &ShortcutSettingsCard::syncShortcuts);
    connect(&settings, &AppSettings::vdiTypingDelayChanged, this, &ShortcutSettingsCard::syncTypingDelay);
    connect(&settings, &AppSettings::silenceThresholdChanged, this, &ShortcutSettingsCard::syncSilence);
    connect(&settings, &AppSettings::toggleHotkeyModeChanged, this, &ShortcutSettingsCard::syncToggleMode);
    connect(&settings, &AppSettings::mouseShortcutModeChanged, this, &ShortcutSettingsCard::syncMiddleMouse);
    syncShortcuts();
    syncTypingDelay();
    syncSilence();
    syncToggleMode();
    syncMiddleMouse();
}

QWidget* ShortcutSettingsCard::shortcutButtons(Intent intent, QAbstractButton** switchButton) {
    static const char* const names[] = {"dictation", "aiMode", "typingMode"};
    const QString name = QString::fromLatin1(names[int(intent)]);
    QBoxLayout* layout = nullptr;
    QWidget* box = settingsAccessoryBox(layout, QBoxLayout::LeftToRight, 8);
    auto* change = new QPushButton(QStringLiteral("Change"));
    change->setObjectName(name + QStringLiteral("ChangeButton"));
    layout->addWidget(change);
    connect(change, &QPushButton::clicked, this, [this, intent] { startCapture(intent); });
    if (switchButton) {
        auto* toggle = new QPushButton;
        toggle->setObjectName(name + QStringLiteral("SwitchButton"));
        layout->addWidget(toggle);
        connect(toggle, &QPushButton::clicked, this, [this, intent] { switchMode(intent); });
        *switchButton = toggle;
    }
    return box;
}

QWidget* ShortcutSettingsCard::typingModeAccessory() {
    QBoxLayout* layout = nullptr;
    QWidget* box = settingsAccessoryBox(layout, QBoxLayout::TopToBottom, 10);
    layout->addWidget(shortcutButtons(Intent::Vdi, &m_typingModeSwitch), 0, Qt::AlignRight);

    auto* delay = new QWidget;
    auto* delayLayout = new QHBoxLayout(delay);
    delayLayout->setContentsMargins(0, 0, 0, 0);
    delayLayout->setSpacing(10);
    delayLayout->addWidget(PageBits::label(QStringLiteral("Typing delay"), PageBits::font(12, QFont::Medium),
                                           PageBits::mutedColor));
    m_typingDelay = new QComboBox;
    m_typingDelay->setObjectName(QStringLiteral("typingDelayPicker"));
    m_typingDelay->setAccessibleName(QStringLiteral("Typing delay"));
    m_typingDelay->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    delayLayout->addWidget(m_typingDelay);
    layout->addWidget(delay, 0, Qt::AlignRight);
    connect(m_typingDelay, &QComboBox::activated, this, &ShortcutSettingsCard::pickTypingDelay);
    return box;
}

QWidget* ShortcutSettingsCard::silenceAccessory() {
    QBoxLayout* layout = nullptr;
    QWidget* box = settingsAccessoryBox(layout, QBoxLayout::TopToBottom, 8);
    m_silence = new QSlider(Qt::Horizontal);
    m_silence->setObjectName(QStringLiteral("silenceSlider"));
    m_silence->setAccessibleName(QStringLiteral("Silence Sensitivity"));
    m_silence->setRange(silenceSliderMinimum, silenceSliderMaximum);
    m_silence->setSingleStep(silenceSliderStep);
    m_silence->setPageStep(silenceSliderStep);
    m_silence->setFixedWidth(150);
    layout->addWidget(m_silence, 0, Qt::AlignRight);
    const QFont valueFont = PageBits::font(12, QFont::DemiBold);
    m_silenceValue = PageBits::label(QString(), valueFont, PageBits::mutedColor);
    m_silenceValue->setObjectName(QStringLiteral("silenceValue"));
    m_silenceValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(m_silenceValue, 0, Qt::AlignRight);
    // Every user move of the knob (drag, keys, clicks on the track, wheel) arrives here.
    connect(m_silence, &QSlider::actionTriggered, this, &ShortcutSettingsCard::moveSilenceSlider);
    return box;
}

void ShortcutSettingsCard::startCapture(Intent intent) {
    m_state.setHotkeyStatusText(captureSentence(intent));
    m_state.setCaptureIntent(intent);
}

void ShortcutSettingsCard::switchMode(Intent intent) {
    AppSettings& settings = m_services.appSettings;
    if (intent == Intent::SmartEdit) {
        settings.setSmartEditHotkeyEnabled(!settings.smartEditHotkeyEnabled());
        m_state.setHotkeyStatusText(switchedSentence(intent, settings.smartEditHotkeyEnabled()));
    } else if (intent == Intent::Vdi) {
        settings.setVdiHotkeyEnabled(!settings.vdiHotkeyEnabled());
        m_state.setHotkeyStatusText(switchedSentence(intent, settings.vdiHotkeyEnabled()));
    }
}

void ShortcutSettingsCard::pickTypingDelay(int index) {
    // The custom item only shows the delay in use; choosing it changes nothing.
    if (index < 0 || index >= typingDelayPresets().size())
        return;
    m_services.appSettings.setVdiTypingDelay(typingDelayForTag(typingDelayPresets().at(index).value));
}

void ShortcutSettingsCard::moveSilenceSlider() {
    const int threshold = silenceThresholdForPosition(m_silence->sliderPosition());
    // Moving within one step is no new position: nothing to store or announce.
    if (threshold != m_services.appSettings.silenceThreshold())
        m_services.appSettings.setSilenceThreshold(threshold);
    syncSilence();
}

void ShortcutSettingsCard::syncShortcuts() {
    const AppSettings& settings = m_services.appSettings;
    m_dictationRow->setSubtitle(shortcutSubtitle(settings.hotkey(), true));
    m_aiModeRow->setSubtitle(shortcutSubtitle(settings.smartEditHotkey(), settings.smartEditHotkeyEnabled()));
    m_aiModeSwitch->setText(enableButtonLabel(settings.smartEditHotkeyEnabled()));
    m_typingModeRow->setSubtitle(shortcutSubtitle(settings.vdiHotkey(), settings.vdiHotkeyEnabled()));
    m_typingModeSwitch->setText(enableButtonLabel(settings.vdiHotkeyEnabled()));
}

void ShortcutSettingsCard::syncTypingDelay() {
    const TypingDelayMenu menu = typingDelayMenu(m_services.appSettings.vdiTypingDelay());
    const QSignalBlocker blocker(m_typingDelay);
    QStringList shown;
    for (int i = 0; i < m_typingDelay->count(); ++i)
        shown << m_typingDelay->itemText(i);
    QStringList wanted;
    for (const Option& option : menu.options)
        wanted << option.label;
    if (shown != wanted) {
        m_typingDelay->clear();
        for (const Option& option : menu.options)
            m_typingDelay->addItem(option.label, option.value);
        // 110 wide for the presets; wider while a custom delay needs the room to be read whole.
        m_typingDelay->setFixedWidth(std::max(110, m_typingDelay->sizeHint().width()));
    }
    m_typingDelay->setCurrentIndex(menu.selected);
}

void ShortcutSettingsCard::syncSilence() {
    const int threshold = m_services.appSettings.silenceThreshold();
    const QSignalBlocker blocker(m_silence);
    m_silence->setValue(silenceSliderPosition(threshold));
    m_silenceValue->setText(silenceThresholdLabel(threshold));
}

void ShortcutSettingsCard::syncToggleMode() {
    const QSignalBlocker blocker(m_toggleMode);
    m_toggleMode->setChecked(m_services.appSettings.toggleHotkeyMode());
}

void ShortcutSettingsCard::syncMiddleMouse() {
    const QSignalBlocker blocker(m_middleMouse);
    m_middleMouse->setCurrentIndex(
        int(SettingsRules::indexOfValue(middleMouseOptions(), m_services.appSettings.mouseShortcutMode())));
}
