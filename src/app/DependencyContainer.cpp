#include "DependencyContainer.h"

#include "ActiveAppContextService.h"
#include "AppLogger.h"
#include "AppSettings.h"
#include "AudioCaptureService.h"
#include "AudioInputDeviceStore.h"
#include "AudioInputSystem.h"
#include "AuthStore.h"
#include "BackendClient.h"
#include "ConfigSyncCoordinator.h"
#include "DictationCoordinator.h"
#include "DictationPipelines.h"
#include "DictationServiceAdapters.h"
#include "GlobalHotkeyService.h"
#include "KnowledgeBaseStore.h"
#include "MediaControlService.h"
#include "NotesStore.h"
#include "OrderlyExit.h"
#include "PromptComposer.h"
#include "PromptSettingsStore.h"
#include "RecordingOverlayController.h"
#include "Scheduler.h"
#include "SecureStore.h"
#include "SelectedTextService.h"
#include "SessionCoordinator.h"
#include "SignInAttempts.h"
#include "SoundFeedbackService.h"
#include "TextInsertionService.h"
#include "TranscriptionHistoryStore.h"
#include "UserDefaults.h"

#include <QGuiApplication>
#include <QPointer>

DependencyContainer::DependencyContainer(PlatformServices desktop, ContainerPlatform platform,
                                         QObject* parent)
    : QObject(parent), m_desktop(std::move(desktop)), m_platform(std::move(platform)) {
    UserDefaults& defaults = m_platform.userDefaults ? *m_platform.userDefaults : UserDefaults::standard();
    const UrlOpener opener = m_platform.urlOpener ? m_platform.urlOpener : systemUrlOpener();
    Scheduler& scheduler = m_platform.scheduler ? *m_platform.scheduler : Scheduler::current();
    const std::shared_ptr<AudioInputSystem>& audioInputs = m_desktop.audioInputs;

    m_appSettings = std::make_unique<AppSettings>(defaults);
    m_secureStore = std::make_unique<SecureStore>(m_desktop.secrets);
    m_authStore = std::make_unique<AuthStore>(defaults);
    m_promptSettingsStore = std::make_unique<PromptSettingsStore>(defaults);
    m_knowledgeBaseStore = std::make_unique<KnowledgeBaseStore>(m_platform.dataFolder);
    m_transcriptionHistoryStore = std::make_unique<TranscriptionHistoryStore>(m_platform.dataFolder);
    m_notesStore = std::make_unique<NotesStore>(m_platform.dataFolder, &scheduler);
    m_notesFlush = OrderlyExit::addFlush([notes = m_notesStore.get()] { notes->flush(); });
    m_backendClient = std::make_unique<BackendClient>(m_appSettings->backendBaseURL());
    m_sessionCoordinator = std::make_unique<SessionCoordinator>(*m_backendClient, *m_secureStore);
    m_configSyncCoordinator = std::make_unique<ConfigSyncCoordinator>(
        *m_backendClient, *m_appSettings, *m_sessionCoordinator, *m_promptSettingsStore,
        *m_knowledgeBaseStore, scheduler, m_platform.dataFolder);
    const SignInProviderContext signInContext{*m_backendClient, &m_oauthNetwork, opener};
    m_signInAttempts =
        std::make_unique<SignInAttempts>(SignInProviders(signInContext, m_platform.signInProviders),
                                         *m_authStore, *m_sessionCoordinator, *m_configSyncCoordinator);
    m_audioCaptureService = std::make_unique<AudioCaptureService>(audioInputs);
    m_audioInputDeviceStore = std::make_unique<AudioInputDeviceStore>(audioInputs);
    m_globalHotkeyService =
        std::make_unique<GlobalHotkeyService>(m_desktop.openKeyGrabber, m_desktop.openInputMonitor);
    m_mouseTriggerService = std::make_unique<MouseTriggerService>(
        MouseTriggerService::buttonMonitors(m_desktop.openInputMonitor));
    m_textInsertionService = std::make_unique<TextInsertionService>(m_desktop.keys, m_desktop.windows);
    m_selectedTextService = std::make_unique<SelectedTextService>(m_desktop.keys, m_desktop.windows,
                                                                  m_desktop.accessibleSelection);
    m_mediaControlService = std::make_unique<MediaControlService>(m_desktop.openOutputMute);
    m_mediaControlService->restoreLeftoverMutes(); // what a crashed run left muted
    m_recordingOverlayController =
        std::make_unique<RecordingOverlayController>(Scheduler::current(), m_desktop.windows);
    m_recordingOverlayController->observe(*m_audioCaptureService);
    m_soundFeedbackService = std::make_unique<SoundFeedbackService>();
    m_permissionsCoordinator = std::make_unique<PermissionsCoordinator>(
        m_platform.permissions
            ? *m_platform.permissions
            : PermissionsCoordinator::desktopChecks(audioInputs, m_desktop.inputAccessGranted));
    m_activeAppContextService = std::make_unique<ActiveAppContextService>(m_desktop.windows);

    m_dictationServices = std::make_unique<SystemDictationServices>(SystemServiceRefs{
        *m_audioCaptureService, *m_globalHotkeyService, *m_recordingOverlayController,
        *m_soundFeedbackService, *m_mediaControlService, *m_activeAppContextService, *m_selectedTextService,
        *m_textInsertionService, *m_appSettings, *m_promptSettingsStore, *m_sessionCoordinator,
        *m_knowledgeBaseStore, *m_transcriptionHistoryStore, *m_notesStore});
    const DictationServices services = m_dictationServices->services();
    m_promptComposer = std::make_unique<PromptComposer>(services.context, services.knowledgeBase);
    m_dictationPipeline = m_platform.makePipeline ? m_platform.makePipeline(*m_backendClient)
                                                  : std::make_unique<DictationPipelines>(*m_backendClient);
    m_dictationCoordinator = std::make_unique<DictationCoordinator>(services, *m_promptComposer);
    m_dictationCoordinator->setPipeline(m_dictationPipeline.get());

    installWiring();
}

DependencyContainer::~DependencyContainer() {
    OrderlyExit::removeFlush(m_notesFlush); // the store flushes itself when it goes
    // Nothing may call into a half-destroyed graph: some members run a nested event loop while they
    // go (Qt's audio sink does), which would deliver a queued activation to services already deleted.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->disconnect(this);
    }
    QCoreApplication::removePostedEvents(this);
    m_appSettings->onBackendURLChanged = nullptr;
    m_appSettings->onHotkeysChanged = nullptr;
    m_appSettings->onChange = nullptr;
    m_appSettings->onMouseShortcutModeChanged = nullptr;
    m_promptSettingsStore->onChange = nullptr;
    m_knowledgeBaseStore->onChange = nullptr;
    m_mouseTriggerService->eventHandler = nullptr;
    m_signInAttempts->cancel();
}

bool DependencyContainer::microsoftSignInAvailable() {
    return !qEnvironmentVariable("MICROSOFT_CLIENT_ID").trimmed().isEmpty();
}

// ---- Wiring --------------------------------------------------------------------------------------------

void DependencyContainer::installWiring() {
    QPointer<DependencyContainer> self(this);
    QPointer<BackendClient> backend(m_backendClient.get());
    QPointer<ConfigSyncCoordinator> sync(m_configSyncCoordinator.get());
    const auto schedulePush = [sync] {
        if (sync) {
            sync->schedulePush();
        }
    };

    m_appSettings->onBackendURLChanged = [backend](const QUrl& url) {
        if (backend) {
            backend->updateBaseURL(url);
        }
    };
    m_appSettings->onHotkeysChanged = [self] {
        if (self) {
            self->reregisterHotkeys();
        }
    };
    m_appSettings->onChange = schedulePush;
    m_appSettings->onMouseShortcutModeChanged = [self](const QString& rawValue) {
        if (self) {
            self->applyMouseShortcutMode(rawValue);
        }
    };
    m_promptSettingsStore->onChange = schedulePush;
    m_knowledgeBaseStore->onChange = schedulePush;

    // A recording that broke off (the microphone gone, its file full) ends at once with its failure, rather
    // than when the user lets go. Queued: the recorder reports from inside the audio source's delivery.
    connect(
        m_audioCaptureService.get(), &AudioCaptureService::recordingInterrupted, m_dictationCoordinator.get(),
        [coordinator = m_dictationCoordinator.get()] {
            QCoro::Task<> stop = coordinator->stopRecording();
            Q_UNUSED(stop);
        },
        Qt::QueuedConnection);

    // A session the backend refused ends like a sign-out (the coordinator has already removed the saved
    // token), so the sidebar offers the sign-in buttons again and says why.
    connect(m_sessionCoordinator.get(), &SessionCoordinator::sessionRejected, this, [this] {
        AppLogger::info(QStringLiteral("Signed out after the backend refused the session"));
        m_configSyncCoordinator->showIdle();
        m_authStore->endRejectedSession(AuthStore::kSessionEndedNotice);
    });

    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // Queued: the refresh starts after the notification has been delivered, never inside it.
        connect(
            application, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    QCoro::Task<> task = handleAppDidBecomeActive();
                    Q_UNUSED(task); // runs on by itself
                }
            },
            Qt::QueuedConnection);
    }
}

QList<HotkeyBinding> DependencyContainer::configuredHotkeys() const {
    QList<HotkeyBinding> hotkeys{HotkeyBinding{HotkeyIntent::Dictation, m_appSettings->hotkey()}};
    if (m_appSettings->smartEditHotkeyEnabled()) {
        hotkeys.append(HotkeyBinding{HotkeyIntent::SmartEdit, m_appSettings->smartEditHotkey()});
    }
    if (m_appSettings->vdiHotkeyEnabled()) {
        hotkeys.append(HotkeyBinding{HotkeyIntent::Vdi, m_appSettings->vdiHotkey()});
    }
    return hotkeys;
}

void DependencyContainer::setGlobalShortcutsSuspended(bool suspended) {
    if (m_shortcutsSuspended == suspended) {
        return;
    }
    m_shortcutsSuspended = suspended;
    AppLogger::info(suspended ? QStringLiteral("Global hotkeys suspended for shortcut capture")
                              : QStringLiteral("Global hotkeys restored after shortcut capture"));
    reregisterHotkeys();
}

void DependencyContainer::reregisterHotkeys() {
    m_globalHotkeyService->setHotkeys(m_shortcutsSuspended ? QList<HotkeyBinding>{} : configuredHotkeys());
    try {
        m_globalHotkeyService->installHandlerIfNeeded();
        m_globalHotkeyService->registerHotkey();
    } catch (...) {
        AppLogger::error(QStringLiteral("Failed to re-register global hotkeys: ") +
                         SessionCoordinator::describe(std::current_exception()));
        return;
    }
    m_globalHotkeyService->installFunctionKeyMonitors();
    AppLogger::info(QStringLiteral("Global hotkeys re-registered from settings update"));
}

void DependencyContainer::applyMouseShortcutMode(const QString& rawValue) {
    // setMode restarts the trigger, an unchanged mode included.
    m_mouseTriggerService->setMode(fromRaw<MouseTriggerMode>(rawValue).value_or(MouseTriggerMode::Off));
}

void DependencyContainer::installMouseTriggerHandler() {
    QPointer<DictationCoordinator> coordinator(m_dictationCoordinator.get());
    m_mouseTriggerService->eventHandler = [coordinator](const MouseTriggerEvent& event) {
        if (!coordinator) {
            return;
        }
        // Each event runs as its own task; the next one does not wait for it.
        QCoro::Task<> task = event.kind == MouseTriggerEvent::Kind::Pressed
                                 ? coordinator->startMouseTrigger(event.mode)
                                 : coordinator->stopRecording();
        Q_UNUSED(task);
    };
}

// ---- Start-up and foreground ----------------------------------------------------------------------------

QCoro::Task<> DependencyContainer::bootstrap() {
    if (m_bootstrapStarted) {
        AppLogger::info(QStringLiteral("Bootstrap already ran; the repeated call does nothing"));
        co_return;
    }
    m_bootstrapStarted = true;
    AppLogger::info(QStringLiteral("Bootstrapping app container"));

    if (m_platform.refreshLaunchAtLogin) {
        m_platform.refreshLaunchAtLogin();
    }
    m_permissionsCoordinator->refresh();
    m_permissionsCoordinator->setShowOnboarding(m_permissionsCoordinator->hasMissingCriticalPermissions());
    // The overlay is built and placed now; its animation timer runs only while it is shown.
    m_recordingOverlayController->prepare();
    m_audioInputDeviceStore->refresh(m_appSettings->selectedInputDeviceUID());
    m_authStore->restoreIfAvailable();
    m_globalHotkeyService->setHotkeys(configuredHotkeys());
    applyMouseShortcutMode(m_appSettings->mouseShortcutMode());
    installMouseTriggerHandler();
    m_dictationCoordinator->start();

    QPointer<DependencyContainer> self(this);
    co_await m_sessionCoordinator->bootstrapFromSecureStore();
    if (!self || !m_sessionCoordinator->activeSessionToken()) {
        co_return;
    }
    co_await m_configSyncCoordinator->pullAndMerge();
}

QCoro::Task<> DependencyContainer::handleAppDidBecomeActive() {
    m_permissionsCoordinator->refresh();
    m_configSyncCoordinator->retryIfPending(); // a sync that failed (offline at start-up) runs again
    if (!m_sessionCoordinator->activeSessionToken() ||
        !m_sessionCoordinator->shouldRefreshOnForeground(kForegroundRefreshMaxAge)) {
        co_return;
    }
    AppLogger::info(QStringLiteral("App became active. Refreshing session snapshot."));
    co_await m_sessionCoordinator->refreshSession(true);
}
