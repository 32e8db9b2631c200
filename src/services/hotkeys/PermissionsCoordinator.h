#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class AudioInputSystem;

// Whether the app can do its work on this desktop: the microphone (the audio server answers and lists an
// input) and "Accessibility" (an X display with XTest and XInput2 answers: global shortcuts, reading the
// selection and synthesized keys need it; a pure Wayland session has none). Drives the one button per
// permission of the onboarding sheet and the settings page, and holds the flag that shows the sheet.
// Main thread only.
class PermissionsCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(PermissionState microphone READ microphone NOTIFY microphoneChanged)
    Q_PROPERTY(PermissionState accessibility READ accessibility NOTIFY accessibilityChanged)
    Q_PROPERTY(bool showOnboarding READ showOnboarding WRITE setShowOnboarding NOTIFY showOnboardingChanged)

public:
    enum class PermissionState { Granted, NotGranted, ReviewInSettings, Unavailable };
    Q_ENUM(PermissionState)
    enum class PermissionKind { Microphone, Accessibility };
    Q_ENUM(PermissionKind)

    // What the coordinator asks the system. The microphone and accessibility checks are required; the
    // program lookup and launch default to PATH and a detached process.
    struct Platform {
        // The microphone's state: Granted when the audio server lists an input, else ReviewInSettings.
        std::function<PermissionState()> microphoneState;
        // True when an X display with XTest and XInput2 answers.
        std::function<bool()> accessibilityTrusted;
        // The full path of a program on PATH, or empty.
        std::function<QString(const QString& program)> findProgram;
        // Starts a program detached; false when it could not be started.
        std::function<bool(const QString& program, const QStringList& arguments)> launch;
    };

    // The checks of a desktop: the microphone through `inputs`, accessibility through `inputAccessGranted`.
    static Platform desktopChecks(std::shared_ptr<AudioInputSystem> inputs,
                                  std::function<bool()> inputAccessGranted);

    explicit PermissionsCoordinator(Platform platform, QObject* parent = nullptr);

    static constexpr std::chrono::milliseconds recheckDelay{700};

    PermissionState microphone() const { return m_microphone; }
    PermissionState accessibility() const { return m_accessibility; }
    bool showOnboarding() const { return m_showOnboarding; }
    void setShowOnboarding(bool show);

    // True unless both permissions are granted.
    bool hasMissingCriticalPermissions() const;

    // Re-reads both permissions; lowers showOnboarding when neither is missing (never raises it).
    void refresh();
    // "Ready", "Grant Access" or "Open Settings" for the kind in its current state.
    QString primaryActionTitle(PermissionKind kind) const;
    // Asks again, or opens the desktop's settings, by the kind's current state.
    void performPrimaryAction(PermissionKind kind);
    // Refreshes once, 0.7 s from now.
    void refreshAfterDelay();

signals:
    void microphoneChanged();
    void accessibilityChanged();
    void showOnboardingChanged();

private:
    void requestMicrophone();
    void requestAccessibility();
    void openSystemSettings(PermissionKind kind);
    void setMicrophone(PermissionState state);
    void setAccessibility(PermissionState state);

    Platform m_platform;
    PermissionState m_microphone = PermissionState::NotGranted;
    PermissionState m_accessibility = PermissionState::NotGranted;
    bool m_showOnboarding = false;
};
