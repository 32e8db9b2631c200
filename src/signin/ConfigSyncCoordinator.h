#pragma once

#include "APIModels.h"
#include "PendingConfigEdits.h"
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
// Rules that keep the user's data safe:
// - What the user changed since the cloud last took it (edited settings keys, deleted snippets and
//   dictionary terms; see PendingConfigEdits) survives a merge: the cloud's value of an edited key is not
//   applied and a deleted entry is not brought back. A successful push settles those changes.
// - Until a pull has succeeded in the current session (a rotated token is the same session), a scheduled
//   push pulls and merges first (and pushes after the merge): a push of the local state alone would delete
//   what other devices added.
// - Pulls and pushes run one at a time, in the order they were asked for; a scheduled push that finds
//   another one already waiting its turn is folded into it (that one sends the state of its own moment).
// - After a failed pull or push the sync is retried: when the application becomes active
//   (retryIfPending()), when any later backend request succeeds, and on a back-off timer that stops after a
//   few attempts. With nothing failed, no timer runs.
//
// - A failed pull or push is also published as a failure (its status sentence and what the user can do
//   about it) that stays until a later push succeeds or the user signs out, so a page can show it while
//   the status moves on to "Syncing..." for a retry.
//
// Tokens are credentials: no log line of this class carries one. Main thread only; nothing throws.
class ConfigSyncCoordinator final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString failureText READ failureText NOTIFY failureChanged)

public:
    static constexpr std::chrono::milliseconds kPushDebounce{1000};
    // Timed retries after a failed sync: the first this long after the failure, each later one twice as
    // long after the one before, at most kRetryDelayMax; none after kTimedRetries failures in a row.
    static constexpr std::chrono::milliseconds kRetryDelayFirst{5000};
    static constexpr std::chrono::milliseconds kRetryDelayMax{300000};
    static constexpr int kTimedRetries = 8;

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

    // What the user can do about a failed sync, by its cause.
    static inline const QString kOfflineAdvice =
        QStringLiteral("Check your internet connection. Your changes are kept on this computer and sync "
                       "once Quillvane reaches the server again.");
    static inline const QString kTimedOutAdvice =
        QStringLiteral("The server took too long to answer. Your changes are kept on this computer; "
                       "Quillvane tries again shortly.");
    static inline const QString kSignInAdvice =
        QStringLiteral("Sign in to sync. Your changes are kept on this computer until then.");
    static inline const QString kServiceAdvice =
        QStringLiteral("The sync service is not available right now. Your changes are kept on this "
                       "computer; Quillvane tries again shortly.");
    static inline const QString kAddressAdvice =
        QStringLiteral("The server address Quillvane is set up with (QUILLVANE_BACKEND_URL) is not valid. "
                       "Correct it and restart Quillvane.");
    static inline const QString kOtherAdvice =
        QStringLiteral("Your changes are kept on this computer. Quillvane tries again shortly, or choose "
                       "Try Again.");

    // Keeps references to every collaborator; all must outlive the coordinator. Reads the pending edits an
    // earlier run left in `dataFolder` (empty: the app's data folder).
    ConfigSyncCoordinator(BackendClient& backendClient, AppSettings& appSettings,
                          SessionCoordinator& sessionCoordinator, PromptSettingsStore& promptSettingsStore,
                          KnowledgeBaseStore& knowledgeBaseStore, Scheduler& scheduler = Scheduler::current(),
                          const QString& dataFolder = {}, QObject* parent = nullptr);
    ~ConfigSyncCoordinator() override;

    const QString& statusText() const { return m_statusText; }
    // Puts the status back to kIdleText and forgets a failure (signing out does this; the next sync
    // writes its own texts).
    void showIdle();

    // The status sentence of the last failed pull or push ("Knowledge Base sync failed: ..."); empty when
    // none failed since the last successful push.
    const QString& failureText() const { return m_failureText; }
    // What the user can do about that failure (one of the advice texts above); empty without a failure.
    const QString& failureAdvice() const { return m_failureAdvice; }
    // Whether trying again now can help: false when it failed for want of a session.
    bool failureRetryable() const { return m_failureRetryable; }
    static QString adviceFor(std::exception_ptr error);
    // Pulls and merges now, when someone is signed in and no pull is under way (the user's "Try Again").
    void retryNow();

    // Pulls the cloud configuration, merges it into the stores and pushes the merged state back.
    QCoro::Task<> pullAndMerge();
    // Records what the user changed and pushes the local configuration one second after the last call
    // (a newer call restarts the wait). The stores' change callbacks call it.
    void schedulePush();
    // Pulls and merges now when a failed pull or push waits for its retry and no pull is under way;
    // otherwise does nothing. Called when the application becomes active.
    void retryIfPending();
    // Whether a pull or push failed and no pull has succeeded since.
    bool retryPending() const { return m_retryPending; }
    const PendingConfigEdits& pendingEdits() const { return m_pendingEdits; }

    // The configuration a push sends now: the settings of both stores (the prompt settings win on a shared
    // key), the snippets and the dictionary.
    CloudConfigDTO localConfig() const;
    // One settings map of the application settings and the prompt settings; the prompt settings' value
    // wins where both have a key.
    static JSONValue::Object mergedSettings(const JSONValue::Object& appSettings,
                                            const JSONValue::Object& promptSettings);

signals:
    void statusTextChanged();
    void failureChanged();

private:
    class TurnAwaiter;
    class Turn;
    class PullUnderway;

    TurnAwaiter nextTurn();
    void releaseTurn();
    std::optional<QString> usableToken() const;
    bool pulledInThisSession() const;
    PendingConfigEdits::State localState() const;
    QCoro::Task<> runScheduledPush();
    // The pull and merge, with its status texts (a failure shown with `failurePrefix`); the caller holds
    // the turn.
    QCoro::Task<> pullAndMergeInTurn(QString failurePrefix);
    // Merges the cloud copy into the stores, leaving the pending edits alone; true when anything changed.
    bool mergeRemote(const JSONValue::Object& settings, const QList<SnippetDTO>& snippets,
                     const QList<DictionaryEntryDTO>& dictionary);
    void backendRequestSucceeded();
    void syncFailed();
    void stopRetrying();
    // Throws the 401 "No session token" error without a usable token, else the backend's error.
    QCoro::Task<ConfigResponseDTO> pushLocalConfig(QString status);
    void reportFailure(std::exception_ptr error, const QString& logPrefix, const QString& statusPrefix);
    void setStatusText(const QString& text);
    void setFailure(const QString& text, const QString& advice);

    BackendClient& m_backendClient;
    AppSettings& m_appSettings;
    SessionCoordinator& m_sessionCoordinator;
    PromptSettingsStore& m_promptSettingsStore;
    KnowledgeBaseStore& m_knowledgeBaseStore;
    Scheduler& m_scheduler;

    QString m_statusText = kIdleText;
    QString m_failureText;
    QString m_failureAdvice;
    bool m_failureRetryable = false;
    TimerHandle m_scheduledPush;
    PendingConfigEdits m_pendingEdits;
    // True while a merge writes the cloud's values into the stores: their change callbacks are not edits.
    bool m_applyingRemote = false;
    // The session generation in which a pull last succeeded.
    std::optional<quint64> m_pulledGeneration;
    // Pulls asked for (waiting for their turn or running) and not finished.
    int m_pullsUnderway = 0;
    bool m_retryPending = false;
    int m_failuresInARow = 0;
    TimerHandle m_retryTimer;
    bool m_busy = false;
    bool m_pushWaiting = false;
    std::deque<std::coroutine_handle<>> m_waiters;
};
