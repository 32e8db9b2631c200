#pragma once

#include "HotkeyIntent.h"
#include "MouseTriggerService.h"
#include "OAuthSupport.h"
#include "PermissionsCoordinator.h"
#include "PlatformServices.h"
#include "SignInProviders.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class ActiveAppContextService;
class AppSettings;
class AudioCaptureService;
class AudioInputDeviceStore;
class AuthStore;
class BackendClient;
class ConfigSyncCoordinator;
class DictationCoordinator;
class DictationPipeline;
class GlobalHotkeyService;
class KnowledgeBaseStore;
class MediaControlService;
class NotesStore;
class PromptComposer;
class PromptSettingsStore;
class RecordingOverlayController;
class Scheduler;
class SecureStore;
class SelectedTextService;
class SessionCoordinator;
class SignInAttempts;
class SoundFeedbackService;
class SystemDictationServices;
class TextInsertionService;
class TranscriptionHistoryStore;
class UserDefaults;

// What the container takes from the process besides the desktop's facilities (PlatformServices). Every
// member left empty means the real thing, so the app builds a container from `ContainerPlatform{}` and a
// test fills in what it fakes.
struct ContainerPlatform {
    UserDefaults* userDefaults = nullptr; // settings, prompt settings, identity
    QString dataFolder;                   // the knowledge base, notes and history files
    UrlOpener urlOpener;                  // opens the providers' sign-in pages
    Scheduler* scheduler = nullptr;       // the cloud push debounce

    // The permission checks and the settings launcher; empty: the desktop's checks, PATH and a process.
    std::optional<PermissionsCoordinator::Platform> permissions;

    // Browser flows that replace the providers' own in the provider table; a provider not named here
    // signs in with its own service.
    SignInProviderReplacements signInProviders;

    // Applies the launch-at-login state at start-up (the launch-at-login manager plugs in here).
    std::function<void()> refreshLaunchAtLogin;
    // The pipelines the coordinator hands finished recordings to; empty: the transcription pipelines.
    std::function<std::unique_ptr<DictationPipeline>(BackendClient&)> makePipeline;
};

// The composition root: creates every service, store and coordinator once, in a fixed order, owns them
// for the life of the process, and connects the producers' change callbacks to their consumers (each
// callback does nothing once its consumer is gone). Runs the start-up bootstrap and the refresh when the
// application becomes active. Main thread only.
class DependencyContainer final : public QObject {
    Q_OBJECT

public:
    static constexpr double kForegroundRefreshMaxAge = 45.0; // seconds

    // `desktop` is the desktop's facilities (PlatformServices::forThisDesktop(), or fakes), each handed to
    // the services that use it.
    explicit DependencyContainer(PlatformServices desktop, ContainerPlatform platform = {},
                                 QObject* parent = nullptr);
    ~DependencyContainer() override;

    // True when "MICROSOFT_CLIENT_ID" is set to something other than white space; read on every call.
    static bool microsoftSignInAvailable();

    // Starts everything that touches the desktop, the Secret Service and the backend; the first call
    // only (a later one logs and does nothing).
    QCoro::Task<> bootstrap();
    // Permissions re-read; with a session whose last refresh is at least 45 s old, a forced refresh.
    // Runs on every activation of the application.
    QCoro::Task<> handleAppDidBecomeActive();

    // The shortcut list of the current settings: dictation, then AI Mode and Typing Mode when enabled.
    QList<HotkeyBinding> configuredHotkeys() const;
    // While suspended no global shortcut is grabbed or watched (a shortcut capture is showing); a settings
    // change in the meantime is applied when the suspension ends.
    void setGlobalShortcutsSuspended(bool suspended);
    bool globalShortcutsSuspended() const { return m_shortcutsSuspended; }

    // The desktop's facilities the container was built with.
    const PlatformServices& desktop() const { return m_desktop; }

    // The services, for the application object and the views (the update prober comes with the app).
    AppSettings& appSettings() const { return *m_appSettings; }
    SecureStore& secureStore() const { return *m_secureStore; }
    AuthStore& authStore() const { return *m_authStore; }
    PromptSettingsStore& promptSettingsStore() const { return *m_promptSettingsStore; }
    KnowledgeBaseStore& knowledgeBaseStore() const { return *m_knowledgeBaseStore; }
    TranscriptionHistoryStore& transcriptionHistoryStore() const { return *m_transcriptionHistoryStore; }
    NotesStore& notesStore() const { return *m_notesStore; }
    BackendClient& backendClient() const { return *m_backendClient; }
    SessionCoordinator& sessionCoordinator() const { return *m_sessionCoordinator; }
    ConfigSyncCoordinator& configSyncCoordinator() const { return *m_configSyncCoordinator; }
    SignInAttempts& signInAttempts() const { return *m_signInAttempts; }
    AudioCaptureService& audioCaptureService() const { return *m_audioCaptureService; }
    AudioInputDeviceStore& audioInputDeviceStore() const { return *m_audioInputDeviceStore; }
    GlobalHotkeyService& globalHotkeyService() const { return *m_globalHotkeyService; }
    MouseTriggerService& mouseTriggerService() const { return *m_mouseTriggerService; }
    TextInsertionService& textInsertionService() const { return *m_textInsertionService; }
    SelectedTextService& selectedTextService() const { return *m_selectedTextService; }
    MediaControlService& mediaControlService() const { return *m_mediaControlService; }
    RecordingOverlayController& recordingOverlayController() const { return *m_recordingOverlayController; }
    SoundFeedbackService& soundFeedbackService() const { return *m_soundFeedbackService; }
    PermissionsCoordinator& permissionsCoordinator() const { return *m_permissionsCoordinator; }
    ActiveAppContextService& activeAppContextService() const { return *m_activeAppContextService; }
    PromptComposer& promptComposer() const { return *m_promptComposer; }
    DictationCoordinator& dictationCoordinator() const { return *m_dictationCoordinator; }

private:
    void installWiring();
    void reregisterHotkeys();
    void applyMouseShortcutMode(const QString& rawValue);
    void installMouseTriggerHandler();

    PlatformServices m_desktop;
    ContainerPlatform m_platform;
    QNetworkAccessManager m_oauthNetwork;

    std::unique_ptr<AppSettings> m_appSettings;
    std::unique_ptr<SecureStore> m_secureStore;
    std::unique_ptr<AuthStore> m_authStore;
    std::unique_ptr<PromptSettingsStore> m_promptSettingsStore;
    std::unique_ptr<KnowledgeBaseStore> m_knowledgeBaseStore;
    std::unique_ptr<TranscriptionHistoryStore> m_transcriptionHistoryStore;
    std::unique_ptr<NotesStore> m_notesStore;
    int m_notesFlush = 0; // OrderlyExit flush of the notes typed and not yet on disk
    std::unique_ptr<BackendClient> m_backendClient;
    std::unique_ptr<SessionCoordinator> m_sessionCoordinator;
    std::unique_ptr<ConfigSyncCoordinator> m_configSyncCoordinator;
    std::unique_ptr<SignInAttempts> m_signInAttempts;
    std::unique_ptr<AudioCaptureService> m_audioCaptureService;
    std::unique_ptr<AudioInputDeviceStore> m_audioInputDeviceStore;
    std::unique_ptr<GlobalHotkeyService> m_globalHotkeyService;
    std::unique_ptr<MouseTriggerService> m_mouseTriggerService;
    std::unique_ptr<TextInsertionService> m_textInsertionService;
    std::unique_ptr<SelectedTextService> m_selectedTextService;
    std::unique_ptr<MediaControlService> m_mediaControlService;
    std::unique_ptr<RecordingOverlayController> m_recordingOverlayController;
    std::unique_ptr<SoundFeedbackService> m_soundFeedbackService;
    std::unique_ptr<PermissionsCoordinator> m_permissionsCoordinator;
    std::unique_ptr<ActiveAppContextService> m_activeAppContextService;
    std::unique_ptr<SystemDictationServices> m_dictationServices;
    std::unique_ptr<PromptComposer> m_promptComposer;
    std::unique_ptr<DictationPipeline> m_dictationPipeline;
    std::unique_ptr<DictationCoordinator> m_dictationCoordinator;

    bool m_bootstrapStarted = false;
    bool m_shortcutsSuspended = false;
};
