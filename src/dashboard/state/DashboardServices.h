#pragma once

#include "APIModels.h"

#include <QImage>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

class AppSettings;
class AudioInputDeviceStore;
class AuthStore;
class CloudSyncFailures;
class DictationCoordinator;
class KnowledgeBaseStore;
class LaunchAtLoginControl;
class NotesStore;
class PermissionsCoordinator;
class PromptSettingsStore;
class QWidget;
class SessionCoordinator;
class TranscriptionHistoryStore;

// The account actions of the composition root that the sidebar starts. Each sign-in returns at once; the
// attempt runs on its own and reports through AuthStore.
class DashboardAccountActions {
public:
    virtual ~DashboardAccountActions() = default;
    virtual void signInWithApple() = 0;
    virtual void signInWithGoogle() = 0;
    virtual void signInWithMicrosoft() = 0;
    // True when the Microsoft client is configured.
    virtual bool microsoftSignInAvailable() const = 0;
    // Puts the cloud sync's status back to "Knowledge Base sync idle." (a step of signing out).
    virtual void showSyncIdle() = 0;
};

// Everything the dashboard shows and changes, owned by the composition root and outliving the dashboard.
struct DashboardServices {
    AuthStore& authStore;
    SessionCoordinator& sessionCoordinator;
    AppSettings& appSettings;
    PromptSettingsStore& promptSettingsStore;
    TranscriptionHistoryStore& historyStore;
    KnowledgeBaseStore& knowledgeBaseStore;
    NotesStore& notesStore;
    DictationCoordinator& dictationCoordinator;
    PermissionsCoordinator& permissionsCoordinator;
    AudioInputDeviceStore& audioInputDeviceStore;
    DashboardAccountActions& account;
    // Re-reads the launch-at-login state (every time the dashboard is shown, and after a reset).
    std::function<void()> refreshLaunchAtLogin;
    // The permissions onboarding view, shown while PermissionsCoordinator::showOnboarding is true; a
    // placeholder when empty.
    std::function<QWidget*()> makeOnboardingView;
    // The sidebar's mark; the built-in symbol when none.
    std::optional<QImage> sidebarIcon;
    // Fetches the tutorials from the backend (GET /api/tutorials); empty: the load fails as unreachable.
    std::function<QCoro::Task<TutorialsResponseDTO>()> loadTutorials = {};
    // Opens a link in the default browser; empty: QDesktopServices.
    std::function<void(const QUrl&)> openURL = {};
    // Suspends (true) and restores (false) the global shortcuts, so a shortcut capture sees the keys that
    // are grabbed now; empty: nothing to suspend.
    std::function<void(bool)> suspendGlobalShortcuts = {};
    // The version this build shows ("1.4.2") and its build number ("57"); none: unknown.
    std::optional<QString> shortVersion = {};
    std::optional<QString> buildNumber = {};
    // A failed cloud sync, shown on the dictionary, snippets and settings pages; none: never shown.
    CloudSyncFailures* syncFailures = nullptr;
    // The launch-at-login switch of the settings page; none: no switch.
    LaunchAtLoginControl* launchAtLogin = nullptr;
    // Runs the update check on demand; empty when this build does not check for updates.
    std::function<void()> checkForUpdates = {};
};
