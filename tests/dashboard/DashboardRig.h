#pragma once
// The dashboard over real stores in a temporary folder, the real coordinator over the dictation fakes,
// and recording fakes for the account actions, the launch-at-login refresh and the sound server.

#include "AppSettings.h"
#include "AudioInputDeviceStore.h"
#include "AudioInputSystem.h"
#include "AuthStore.h"
#include "BackendClient.h"
#include "DashboardServices.h"
#include "DashboardView.h"
#include "DictationFakes.h"
#include "FakeSecretBackend.h"
#include "KnowledgeBaseStore.h"
#include "NotesStore.h"
#include "PermissionsCoordinator.h"
#include "PromptSettingsStore.h"
#include "SecureStore.h"
#include "SessionCoordinator.h"
#include "TranscriptionHistoryStore.h"
#include "UserDefaults.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Every call lands in one shared log, so tests can check the order across objects.
struct CallLog {
    QStringList calls;
};

class FakeAccountActions final : public DashboardAccountActions {
public:
    explicit FakeAccountActions(CallLog& log) : m_log(log) {}
    bool microsoftAvailable = true;
    void signInWithApple() override { m_log.calls << QStringLiteral("signInWithApple"); }
    void signInWithGoogle() override { m_log.calls << QStringLiteral("signInWithGoogle"); }
    void signInWithMicrosoft() override { m_log.calls << QStringLiteral("signInWithMicrosoft"); }
    bool microsoftSignInAvailable() const override { return microsoftAvailable; }
    void showSyncIdle() override {
        m_log.calls << QStringLiteral("showSyncIdle");
        if (onSyncIdle) {
            onSyncIdle();
        }
    }
    std::function<void()> onSyncIdle;

private:
    CallLog& m_log;
};

class FakeAudioInputs final : public AudioInputSystem {
public:
    explicit FakeAudioInputs(CallLog& log) : m_log(log) {}
    std::optional<QString> defaultInputId() override { return QStringLiteral("mic"); }
    QList<Input> inputs() override {
        m_log.calls << QStringLiteral("audioInputs.refresh");
        return {{QStringLiteral("mic"), QStringLiteral("Built-in Microphone")}};
    }
    bool deviceExists(const QString& id) override { return id == QLatin1String("mic"); }
    int setDefaultInput(const QString&) override { return 0; }
    std::unique_ptr<QAudioSource> openCapture(const QString&, const QAudioFormat&) override { return {}; }
    QString lastErrorText() const override { return {}; }

private:
    CallLog& m_log;
};

struct DashboardRig {
    CallLog log;
    fakes::Harness dictation;
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("settings.json"))};
    AppSettings appSettings{defaults};
    PromptSettingsStore promptSettings{defaults};
    AuthStore auth{defaults};
    BackendClient backend{QUrl(QStringLiteral("http://127.0.0.1:9"))};
    SecureStore secureStore{std::make_shared<FakeSecretBackend>()};
    SessionCoordinator session{backend, secureStore};
    TranscriptionHistoryStore history{dir.path()};
    KnowledgeBaseStore knowledgeBase{dir.path()};
    NotesStore notes{dir.path()};
    PermissionsCoordinator permissions{PermissionsCoordinator::Platform{
        [] { return PermissionsCoordinator::PermissionState::Granted; }, [] { return true; },
        [](const QString&) { return QString(); }, [](const QString&, const QStringList&) { return false; }}};
    AudioInputDeviceStore audioInputs{std::make_shared<FakeAudioInputs>(log)};
    FakeAccountActions account{log};
    DashboardServices services{auth,        session,
                               appSettings, promptSettings,
                               history,     knowledgeBase,
                               notes,       dictation.coordinator,
                               permissions, audioInputs,
                               account,     [this] { log.calls << QStringLiteral("refreshLaunchAtLogin"); },
                               {},          std::nullopt};
    std::unique_ptr<DashboardView> view;

    DashboardRig() : dictation(true) {}

    DashboardView& makeView(QSize size = {1100, 760}) {
        view = std::make_unique<DashboardView>(services);
        view->resize(size);
        return *view;
    }

    // Signs in as a backend session with a profile and usage figures.
    void signIn(const QString& provider, std::optional<QString> name, std::optional<QString> email,
                qint64 words = 0, double minutes = 0) {
        auth.completeAuth(provider, email, name);
        SessionResponseDTO snapshot;
        snapshot.session_token = QStringLiteral("token");
        snapshot.total_words = words;
        snapshot.total_minutes = minutes;
        snapshot.profile = UserProfileDTO{email, name, std::nullopt};
        session.applySessionSnapshot(snapshot);
    }

    void publishPrompt() {
        dictation.coordinator.setUpgradePrompt(UpgradePrompt{
            QUuid::createUuid(), QStringLiteral("Sign in to use Quillvane"),
            QStringLiteral(
                "You must sign in to use Quillvane. Sign in from the bottom-left corner of the app, "
                "then try again.")});
    }

    template <class T> T* find(const QString& name) const { return view->findChild<T*>(name); }
};
