#pragma once

#include "APIModels.h"
#include "Scheduler.h"

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <coroutine>
#include <deque>
#include <exception>
#include <optional>

class AppSettings;
class BackendClient;
class KnowledgeBaseStore;
class PromptSettingsStore;
class SessionCoordinator;

// Keeps the settings, the prompt settings and the knowledge base in step with the user's cloud
// configuration: pulls and merges the cloud copy (after start-up and each sign-in), pushes the whole local
// configuration back after every pull, and pushes again one second after the last local change.
//
// Two rules keep the cloud copy safe:
// - Until a pull has succeeded for the current session token, a scheduled push pulls and merges first
//   (and pushes after the merge): a push of the local state alone would delete what other devices added.
// - Pulls and pushes run one at a time, in the order they were asked for; a scheduled push that finds
//   another one already waiting its turn is folded into it (that one sends the state of its own moment).
//
// Tokens are credentials: no log line of this class carries one. Main thread only; nothing throws.
class ConfigSyncCoordinator final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    static constexpr std::chrono::milliseconds kPushDebounce{1000};

    static inline const QString kIdleText = QStringLiteral("Knowledge Base sync idle.");
    static inline const QString kNeedsSessionText =
        QStringLiteral("Knowledge Base sync requires an active session.");
    static inline const QString kSyncingText = QStringLiteral("Syncing Knowledge Base...");
    static inline const QString kUpdatedText = QStringLiteral("Knowledge Base updated from cloud sync.");
    static inline const QString kCompleteText = QStringLiteral("Knowledge Base sync complete.");
    static inline const QString kUploadedText = QStringLiteral("Configuration synced to cloud.");
    static inline const QString kSavedText = QStringLiteral("Knowledge Base saved to cloud.");
    static inline const QString kSyncFailedPrefix = QStringLiteral("Knowledge Base sync failed: ");
    static inline const QString kSaveFailedPrefix = QStringLiteral("Knowledge Base save failed: ");

    // Keeps references to every collaborator; all must outlive the coordinator. No I/O.
    ConfigSyncCoordinator(BackendClient& backendClient, AppSettings& appSettings,
                          SessionCoordinator& sessionCoordinator, PromptSettingsStore& promptSettingsStore,
                          KnowledgeBaseStore& knowledgeBaseStore, Scheduler& scheduler = Scheduler::current(),
                          QObject* parent = nullptr);
    ~ConfigSyncCoordinator() override;

    const QString& statusText() const { return m_statusText; }
    // Puts the status back to kIdleText (signing out does this; the next sync writes its own texts).
    void showIdle();

    // Pulls the cloud configuration, merges it into the stores and pushes the merged state back.
    QCoro::Task<> pullAndMerge();
    // Pushes the local configuration one second after the last call (a newer call restarts the wait).
    void schedulePush();

    // The configuration a push sends now: the settings of both stores (the prompt settings win on a shared
    // key), the snippets and the dictionary.
    CloudConfigDTO localConfig() const;
    // One settings map of the application settings and the prompt settings; the prompt settings' value
    // wins where both have a key.
    static JSONValue::Object mergedSettings(const JSONValue::Object& appSettings,
                                            const JSONValue::Object& promptSettings);

signals:
    void statusTextChanged();

private:
    class TurnAwaiter;
    class Turn;

    TurnAwaiter nextTurn();
    void releaseTurn();
    std::optional<QString> usableToken() const;
    QCoro::Task<> runScheduledPush();
    // The pull and merge, with its status texts; the caller holds the turn.
    QCoro::Task<> pullAndMergeInTurn();
    // Throws the 401 "No session token" error without a usable token, else the backend's error.
    QCoro::Task<ConfigResponseDTO> pushLocalConfig(QString status);
    void reportFailure(std::exception_ptr error, const QString& logPrefix, const QString& statusPrefix);
    void setStatusText(const QString& text);

    BackendClient& m_backendClient;
    AppSettings& m_appSettings;
    SessionCoordinator& m_sessionCoordinator;
    PromptSettingsStore& m_promptSettingsStore;
    KnowledgeBaseStore& m_knowledgeBaseStore;
    Scheduler& m_scheduler;

    QString m_statusText = kIdleText;
    TimerHandle m_scheduledPush;
    // The session token for which a pull last succeeded.
    std::optional<QString> m_pulledToken;
    bool m_busy = false;
    bool m_pushWaiting = false;
    std::deque<std::coroutine_handle<>> m_waiters;
};
