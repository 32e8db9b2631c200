#include "PermissionsCoordinator.h"

#include "AppLogger.h"
#include "AudioInputSystem.h"
#include "Scheduler.h"

#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

namespace {

using PermissionState = PermissionsCoordinator::PermissionState;
using PermissionKind = PermissionsCoordinator::PermissionKind;

struct SettingsCommand {
    const char* program;
    QStringList arguments;
};

// The desktops' own settings pages, in order of preference. No settings page grants X input access.
QList<SettingsCommand> settingsCommands(PermissionKind kind) {
    if (kind == PermissionKind::Microphone) {
        return {{"gnome-control-center", {QStringLiteral("sound")}},
                {"systemsettings", {QStringLiteral("kcm_pulseaudio")}},
                {"pavucontrol", {QStringLiteral("--tab=4")}}};
    }
    return {};
}

QString kindName(PermissionKind kind) {
    return kind == PermissionKind::Microphone ? QStringLiteral("microphone")
                                              : QStringLiteral("accessibility");
}

PermissionsCoordinator::Platform withDefaults(PermissionsCoordinator::Platform platform) {
    if (!platform.findProgram) {
        platform.findProgram = [](const QString& program) { return QStandardPaths::findExecutable(program); };
    }
    if (!platform.launch) {
        platform.launch = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
    return platform;
}

} // namespace

PermissionsCoordinator::Platform
PermissionsCoordinator::desktopChecks(std::shared_ptr<AudioInputSystem> inputs,
                                      std::function<bool()> inputAccessGranted) {
    Platform platform;
    platform.microphoneState = [inputs = std::move(inputs)] {
        return inputs->defaultInputId() && !inputs->inputs().isEmpty() ? PermissionState::Granted
                                                                       : PermissionState::ReviewInSettings;
    };
    platform.accessibilityTrusted = std::move(inputAccessGranted);
    return platform;
}

PermissionsCoordinator::PermissionsCoordinator(Platform platform, QObject* parent)
    : QObject(parent), m_platform(withDefaults(std::move(platform))) {}

void PermissionsCoordinator::setShowOnboarding(bool show) {
    if (m_showOnboarding != show) {
        m_showOnboarding = show;
        emit showOnboardingChanged();
    }
}

void PermissionsCoordinator::setMicrophone(PermissionState state) {
    if (m_microphone != state) {
        m_microphone = state;
        emit microphoneChanged();
    }
}

void PermissionsCoordinator::setAccessibility(PermissionState state) {
    if (m_accessibility != state) {
        m_accessibility = state;
        emit accessibilityChanged();
    }
}

bool PermissionsCoordinator::hasMissingCriticalPermissions() const {
    return m_microphone != PermissionState::Granted || m_accessibility != PermissionState::Granted;
}

void PermissionsCoordinator::refresh() {
    setMicrophone(m_platform.microphoneState());
    setAccessibility(m_platform.accessibilityTrusted() ? PermissionState::Granted
                                                       : PermissionState::NotGranted);
    if (!hasMissingCriticalPermissions()) {
        setShowOnboarding(false);
    }
}

QString PermissionsCoordinator::primaryActionTitle(PermissionKind kind) const {
    const PermissionState state = kind == PermissionKind::Microphone ? m_microphone : m_accessibility;
    switch (state) {
    case PermissionState::Granted:
        return QStringLiteral("Ready");
    case PermissionState::NotGranted:
        return QStringLiteral("Grant Access");
    case PermissionState::ReviewInSettings:
        return kind == PermissionKind::Microphone ? QStringLiteral("Open Settings")
                                                  : QStringLiteral("Grant Access");
    case PermissionState::Unavailable:
        return QStringLiteral("Open Settings");
    }
    return QStringLiteral("Grant Access");
}

void PermissionsCoordinator::performPrimaryAction(PermissionKind kind) {
    if (kind == PermissionKind::Microphone) {
        switch (m_microphone) {
        case PermissionState::Granted:
            return;
        case PermissionState::NotGranted:
            requestMicrophone();
            return;
        case PermissionState::ReviewInSettings:
        case PermissionState::Unavailable:
            openSystemSettings(PermissionKind::Microphone);
            return;
        }
        return;
    }
    switch (m_accessibility) {
    case PermissionState::Granted:
        return;
    case PermissionState::NotGranted:
    case PermissionState::ReviewInSettings:
        requestAccessibility();
        return;
    case PermissionState::Unavailable:
        openSystemSettings(PermissionKind::Accessibility);
        return;
    }
}

void PermissionsCoordinator::requestMicrophone() {
    // The audio server asks no question: look again, and send the user to the settings when it still
    // lists no input.
    refresh();
    if (m_microphone == PermissionState::ReviewInSettings) {
        openSystemSettings(PermissionKind::Microphone);
    }
}

void PermissionsCoordinator::requestAccessibility() {
    // Nothing to prompt for on X11: the access comes with the display. Look again shortly.
    refreshAfterDelay();
}

void PermissionsCoordinator::refreshAfterDelay() {
    QPointer<PermissionsCoordinator> self(this);
    Scheduler::current().singleShot(recheckDelay, [self] {
        if (self) {
            self->refresh();
        }
    });
}

void PermissionsCoordinator::openSystemSettings(PermissionKind kind) {
    for (const SettingsCommand& command : settingsCommands(kind)) {
        const QString path = m_platform.findProgram(QString::fromLatin1(command.program));
        if (path.isEmpty()) {
            continue;
        }
        if (m_platform.launch(path, command.arguments)) {
            AppLogger::info(QStringLiteral("Opened system settings kind=%1 program=%2")
                                .arg(kindName(kind), QString::fromLatin1(command.program)));
            return;
        }
    }
    AppLogger::info(QStringLiteral("Cannot open system settings kind=%1: no settings application found")
                        .arg(kindName(kind)));
}
