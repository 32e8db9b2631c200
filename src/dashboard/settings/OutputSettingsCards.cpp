#include "OutputSettingsCards.h"

#include "AppSettings.h"
#include "DashboardLook.h"
#include "DashboardState.h"
#include "PageBits.h"
#include "SettingsRow.h"
#include "SettingsRules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using namespace SettingsRules;

OutputSettingsCard::OutputSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(QStringLiteral("Output & Formatting"),
                        QStringLiteral("Control how Quillvane shapes text after transcription."), parent),
      m_state(state), m_services(services) {
    setObjectName(QStringLiteral("outputCard"));
    QVBoxLayout* stack = contentLayout();
    AppSettings& settings = m_services.appSettings;

    m_autoSpace = toggleRow(stack, QStringLiteral("Auto-add space"),
                            QStringLiteral("Append a trailing space after punctuation when appropriate."),
                            std::nullopt);
    connect(m_autoSpace, &QCheckBox::clicked, &settings, &AppSettings::setAutoSpaceEnabled);

    m_verbatim = new QButtonGroup(this);
    QWidget* segments =
        settingsSegments(QStringLiteral("verbatimSegments"), verbatimStyles(), 200, m_verbatim);
    m_verbatimRow = new SettingsRow(
        m_state, QStringLiteral("Verbatim Mode"), QString(),
        QStringLiteral(
            "Off disables verbatim processing. Assisted keeps your wording literal while the model "
            "auto-formats punctuation. Strict requires you to speak punctuation commands (\"comma\", "
            "\"period\") for full manual control. Does not apply to AI Mode."),
        settingsAccessory(segments));
    stack->addWidget(m_verbatimRow);
    connect(m_verbatim, &QButtonGroup::idClicked, this,
            [this](int id) { m_services.appSettings.setVerbatimModeStyle(verbatimStyles().at(id).value); });

    m_emailFormatting = toggleRow(
        stack, QStringLiteral("Email Formatting"),
        QStringLiteral("Automatically shape dictation like an email in message contexts."),
        QStringLiteral("When Quillvane detects an email-writing context, it can automatically format your "
                       "dictation more like a polished email."));
    // Shown as "formatting on", stored as "formatting disabled".
    connect(m_emailFormatting, &QCheckBox::clicked, this,
            [this](bool on) { m_services.appSettings.setDisableEmailFormatting(!on); });

    m_mute = toggleRow(
        stack, QStringLiteral("Mute audio while dictating"),
        QStringLiteral("Temporarily mute system output so background audio does not interfere."),
        QStringLiteral(
            "Temporarily mutes your computer's sound output while you dictate so background media or "
            "call audio does not compete with your microphone."));
    connect(m_mute, &QCheckBox::clicked, &settings, &AppSettings::setAutoPauseMedia);

    m_lowercase = toggleRow(
        stack, QStringLiteral("Force lowercase output"),
        QStringLiteral("Lowercase the final pasted output before insertion."),
        QStringLiteral("Useful for workflows where you always want plain lowercase text regardless of normal "
                       "capitalization."));
    connect(m_lowercase, &QCheckBox::clicked, &settings, &AppSettings::setForceLowercaseOutput);

    connect(&settings, &AppSettings::autoSpaceEnabledChanged, this, &OutputSettingsCard::sync);
    connect(&settings, &AppSettings::verbatimModeStyleChanged, this, &OutputSettingsCard::sync);
    connect(&settings, &AppSettings::disableEmailFormattingChanged, this, &OutputSettingsCard::sync);
    connect(&settings, &AppSettings::autoPauseMediaChanged, this, &OutputSettingsCard::sync);
    connect(&settings, &AppSettings::forceLowercaseOutputChanged, this, &OutputSettingsCard::sync);
    sync();
}

QCheckBox* OutputSettingsCard::toggleRow(QVBoxLayout* stack, const QString& title, const QString& subtitle,
                                         const std::optional<QString>& helpText) {
    auto* box = new DashboardSwitch;
    box->setAccessibleName(title);
    box->setObjectName(title);
    stack->addWidget(new SettingsRow(m_state, title, subtitle, helpText, settingsAccessory(box)));
    return box;
}

void OutputSettingsCard::sync() {
    const AppSettings& settings = m_services.appSettings;
    const std::pair<QCheckBox*, bool> toggles[] = {
        {m_autoSpace, settings.autoSpaceEnabled()},
        {m_emailFormatting, !settings.disableEmailFormatting()},
        {m_mute, settings.autoPauseMedia()},
        {m_lowercase, settings.forceLowercaseOutput()},
    };
    for (const auto& [box, on] : toggles) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
    }
    const QString style = settings.verbatimModeStyle();
    const qsizetype selected = indexOfValue(verbatimStyles(), style);
    for (QAbstractButton* button : m_verbatim->buttons()) {
        const QSignalBlocker blocker(button);
        button->setChecked(m_verbatim->id(button) == selected);
    }
    m_verbatimRow->setSubtitle(verbatimSubtitle(style));
}

ResetSettingsCard::ResetSettingsCard(DashboardState& state, DashboardServices services, QWidget* parent)
    : SettingsGroupCard(
          QStringLiteral("Reset"),
          QStringLiteral("Restore the default Quillvane behavior without reinstalling the app."), parent) {
    setObjectName(QStringLiteral("resetCard"));
    QVBoxLayout* stack = contentLayout();
    auto* reset = new DashboardPrimaryButton(QStringLiteral("Reset Settings"));
    reset->setObjectName(QStringLiteral("resetSettingsButton"));
    reset->setDestructive(true);
    reset->setTint(QColor(0xD7, 0x2C, 0x20));
    stack->addWidget(new SettingsRow(
        state, QStringLiteral("Reset to Defaults"),
        QStringLiteral("Restore shortcuts, prompts, model preferences, microphone selection, and advanced "
                       "options."),
        QStringLiteral(
            "This also restores the default custom system prompt and pushes the updated settings back "
            "to your cloud config."),
        settingsAccessory(reset)));
    // Only asks: the confirmation does the reset.
    connect(reset, &QPushButton::clicked, this, [&state] { state.setShowResetConfirmation(true); });

    QLabel* version =
        PageBits::label(appVersionDisplay(services.shortVersion, services.buildNumber),
                        QFontDatabase::systemFont(QFontDatabase::FixedFont), PageBits::mutedColor);
    QFont font = version->font();
    font.setPixelSize(11);
    version->setFont(font);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* line = new QHBoxLayout;
    line->addStretch(1);
    line->addWidget(version);
    stack->addLayout(line);
}
