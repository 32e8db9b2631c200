#include "ConfigSyncCoordinator.h"

#include "AppLogger.h"
#include "AppSettings.h"
#include "BackendClient.h"
#include "KnowledgeBaseStore.h"
#include "PromptSettingsStore.h"
#include "SessionCoordinator.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <utility>

// Waits until no other pull or push runs. A waiter is resumed from the event loop by releaseTurn(), which
// hands the turn over without freeing it in between.
class ConfigSyncCoordinator::TurnAwaiter {
public:
    explicit TurnAwaiter(ConfigSyncCoordinator& owner) : m_owner(&owner) {}
    TurnAwaiter(TurnAwaiter&& other) noexcept
        : m_owner(other.m_owner), m_handle(std::exchange(other.m_handle, nullptr)) {}
    TurnAwaiter& operator=(TurnAwaiter&&) = delete;
    ~TurnAwaiter() {
        // The waiting coroutine was destroyed before its turn came: take it out of the line.
        if (m_handle && m_owner) {
            auto& waiters = m_owner->m_waiters;
            waiters.erase(std::remove(waiters.begin(), waiters.end(), m_handle), waiters.end());
        }
    }

    bool await_ready() {
        if (m_owner->m_busy) {
            return false;
        }
        m_owner->m_busy = true;
        return true;
    }
    void await_suspend(std::coroutine_handle<> handle) {
        m_handle = handle;
        m_owner->m_waiters.push_back(handle);
    }
    void await_resume() { m_handle = nullptr; }

private:
    QPointer<ConfigSyncCoordinator> m_owner;
    std::coroutine_handle<> m_handle;
};

// Holds the turn for the scope of one pull or push.
class ConfigSyncCoordinator::Turn {
public:
    explicit Turn(ConfigSyncCoordinator& owner) : m_owner(&owner) {}
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    ~Turn() {
        if (m_owner) {
            m_owner->releaseTurn();
        }
    }

private:
    QPointer<ConfigSyncCoordinator> m_owner;
};

// Counts one pull from the moment it is asked for until it ends, however it ends.
class ConfigSyncCoordinator::PullUnderway {
public:
    explicit PullUnderway(ConfigSyncCoordinator& owner) : m_owner(&owner) { ++owner.m_pullsUnderway; }
    PullUnderway(const PullUnderway&) = delete;
    PullUnderway& operator=(const PullUnderway&) = delete;
    ~PullUnderway() {
        if (m_owner) {
            --m_owner->m_pullsUnderway;
        }
    }

private:
    QPointer<ConfigSyncCoordinator> m_owner;
};

ConfigSyncCoordinator::ConfigSyncCoordinator(BackendClient& backendClient, AppSettings& appSettings,
                                             SessionCoordinator& sessionCoordinator,
                                             PromptSettingsStore& promptSettingsStore,
                                             KnowledgeBaseStore& knowledgeBaseStore, Scheduler& scheduler,
                                             const QString& dataFolder, QObject* parent)
    : QObject(parent), m_backendClient(backendClient), m_appSettings(appSettings),
      m_sessionCoordinator(sessionCoordinator), m_promptSettingsStore(promptSettingsStore),
      m_knowledgeBaseStore(knowledgeBaseStore), m_scheduler(scheduler), m_pendingEdits(dataFolder) {
    m_pendingEdits.rebase(localState());
    // Direct: whether a pull is under way is read at the moment the answer arrives, so the answers of the
    // retried pull itself never ask for another one.
    connect(&m_backendClient, &BackendClient::requestSucceeded, this,
            &ConfigSyncCoordinator::backendRequestSucceeded);
}

ConfigSyncCoordinator::~ConfigSyncCoordinator() {
    m_scheduledPush.cancel();
    m_retryTimer.cancel();
}

ConfigSyncCoordinator::TurnAwaiter ConfigSyncCoordinator::nextTurn() {
    return TurnAwaiter(*this);
}

void ConfigSyncCoordinator::releaseTurn() {
    if (m_waiters.empty()) {
        m_busy = false;
        return;
    }
    const std::coroutine_handle<> next = m_waiters.front();
    m_waiters.pop_front();
    // The turn passes straight to the next waiter; it resumes on the next turn of the event loop, outside
    // the finishing coroutine.
    QMetaObject::invokeMethod(
        this, [next] { next.resume(); }, Qt::QueuedConnection);
}

bool ConfigSyncCoordinator::pulledInThisSession() const {
    return m_pulledGeneration == m_sessionCoordinator.sessionGeneration();
}

PendingConfigEdits::State ConfigSyncCoordinator::localState() const {
    PendingConfigEdits::State state;
    state.settings =
        mergedSettings(m_appSettings.cloudSettingsPayload(), m_promptSettingsStore.cloudSettingsPayload());
    for (const KnowledgeSnippet& snippet : m_knowledgeBaseStore.snippets()) {
        state.snippets.append({snippet.id, snippet.title});
    }
    for (const DictionaryTerm& term : m_knowledgeBaseStore.dictionaryTerms()) {
        state.dictionary.append({term.id, term.term});
    }
    return state;
}

std::optional<QString> ConfigSyncCoordinator::usableToken() const {
    const std::optional<QString>& token = m_sessionCoordinator.activeSessionToken();
    if (!token || token->isEmpty()) {
        return std::nullopt;
    }
    return token;
}

JSONValue::Object ConfigSyncCoordinator::mergedSettings(const JSONValue::Object& appSettings,
                                                        const JSONValue::Object& promptSettings) {
    JSONValue::Object settings = appSettings;
    for (const auto& [key, value] : promptSettings) {
        settings[key] = value;
    }
    return settings;
}

CloudConfigDTO ConfigSyncCoordinator::localConfig() const {
    CloudConfigDTO config;
    config.settings =
        mergedSettings(m_appSettings.cloudSettingsPayload(), m_promptSettingsStore.cloudSettingsPayload());
    config.snippets = m_knowledgeBaseStore.snippetDTOs();
    config.dictionary = m_knowledgeBaseStore.dictionaryDTOs();
    return config;
}

QCoro::Task<> ConfigSyncCoordinator::pullAndMerge() {
    PullUnderway underway(*this);
    QPointer<ConfigSyncCoordinator> self(this);
    co_await nextTurn();
    if (!self) {
        co_return;
    }
    Turn turn(*this);
    co_await pullAndMergeInTurn(kSyncFailedPrefix);
}

QCoro::Task<> ConfigSyncCoordinator::pullAndMergeInTurn(QString failurePrefix) {
    const std::optional<QString> token = usableToken();
    if (!token) {
        setStatusText(kNeedsSessionText);
        co_return;
    }
    setStatusText(kSyncingText);
    AppLogger::info(QStringLiteral("Knowledge base sync pull requested"));

    const quint64 generation = m_sessionCoordinator.sessionGeneration();
    QPointer<ConfigSyncCoordinator> self(this);
    try {
        const ConfigResponseDTO response = co_await m_backendClient.getUserConfig(token, std::nullopt);
        if (!self) {
            co_return;
        }
        const JSONValue::Object settings = response.config.settings.value_or(JSONValue::Object{});
        const QList<SnippetDTO> snippets = response.config.snippets.value_or(QList<SnippetDTO>{});
        const QList<DictionaryEntryDTO> dictionary =
            response.config.dictionary.value_or(QList<DictionaryEntryDTO>{});

        QString status = kUploadedText;
        if (!settings.empty() || !snippets.isEmpty() || !dictionary.isEmpty()) {
            status = mergeRemote(settings, snippets, dictionary) ? kUpdatedText : kCompleteText;
        }
        // The cloud's entries are part of the local state now: a push can no longer delete them.
        m_pulledGeneration = generation;
        co_await pushLocalConfig(status);
        if (self) {
            stopRetrying();
        }
    } catch (...) {
        if (self) {
            reportFailure(std::current_exception(), QStringLiteral("Knowledge base sync pull failed: "),
                          failurePrefix);
            syncFailed();
        }
    }
}

bool ConfigSyncCoordinator::mergeRemote(const JSONValue::Object& settings, const QList<SnippetDTO>& snippets,
                                        const QList<DictionaryEntryDTO>& dictionary) {
    // A change the stores made without telling (no change callback set) is still the user's.
    m_pendingEdits.observe(localState());
    const JSONValue::Object kept = AppSettings::withoutCloudKeys(settings, m_pendingEdits.editedSettings());
    QList<SnippetDTO> keptSnippets;
    for (const SnippetDTO& snippet : snippets) {
        if (!m_pendingEdits.isDeletedSnippet(snippet.title)) {
            keptSnippets.append(snippet);
        }
    }
    QList<DictionaryEntryDTO> keptDictionary;
    for (const DictionaryEntryDTO& entry : dictionary) {
        if (!m_pendingEdits.isDeletedTerm(entry.term)) {
            keptDictionary.append(entry);
        }
    }
    if (!m_pendingEdits.isEmpty()) {
        AppLogger::info(
            QStringLiteral("Knowledge base sync keeps local edits settings=%1 deleted_snippets=%2 "
                           "deleted_terms=%3")
                .arg(settings.size() - kept.size())
                .arg(snippets.size() - keptSnippets.size())
                .arg(dictionary.size() - keptDictionary.size()));
    }

    // All three always run: each store takes its own part. Their change callbacks are not the user's.
    m_applyingRemote = true;
    const bool settingsChanged = m_appSettings.applyRemoteSettings(kept);
    const bool promptChanged = m_promptSettingsStore.applyRemoteSettings(kept);
    const bool knowledgeChanged = m_knowledgeBaseStore.mergeRemote(keptSnippets, keptDictionary);
    m_applyingRemote = false;
    m_pendingEdits.rebase(localState());
    return settingsChanged || promptChanged || knowledgeChanged;
}

QCoro::Task<ConfigResponseDTO> ConfigSyncCoordinator::pushLocalConfig(QString status) {
    const std::optional<QString> token = usableToken();
    if (!token) {
        setStatusText(kNeedsSessionText);
        throw BackendClientError::httpError(401, QStringLiteral("No session token"));
    }
    m_pendingEdits.observe(localState());
    const PendingConfigEdits::Ticket carried = m_pendingEdits.ticket();
    ConfigEnvelopeDTO envelope;
    envelope.session_token = token;
    envelope.config = localConfig();
    AppLogger::info(QStringLiteral("Knowledge base sync push snippets=") +
                    QString::number(m_knowledgeBaseStore.snippets().size()) + QStringLiteral(" dictionary=") +
                    QString::number(m_knowledgeBaseStore.dictionaryTerms().size()));

    QPointer<ConfigSyncCoordinator> self(this);
    ConfigResponseDTO response = co_await m_backendClient.updateUserConfig(std::move(envelope));
    if (self) {
        // The cloud holds these changes now.
        m_pendingEdits.settle(carried);
        setStatusText(status);
        setFailure({}, {});
    }
    co_return response;
}

void ConfigSyncCoordinator::schedulePush() {
    if (m_applyingRemote) {
        return; // the merge's own push follows it
    }
    m_pendingEdits.observe(localState());
    m_scheduledPush.cancel();
    QPointer<ConfigSyncCoordinator> self(this);
    m_scheduledPush = m_scheduler.singleShot(kPushDebounce, [self] {
        if (!self) {
            return;
        }
        QCoro::Task<> task = self->runScheduledPush();
        Q_UNUSED(task); // runs on by itself
    });
}

QCoro::Task<> ConfigSyncCoordinator::runScheduledPush() {
    if (m_pushWaiting) {
        co_return; // the push already waiting sends the state of its own moment, this change included
    }
    m_pushWaiting = true;
    QPointer<ConfigSyncCoordinator> self(this);
    co_await nextTurn();
    if (!self) {
        co_return;
    }
    m_pushWaiting = false;
    Turn turn(*this);

    if (usableToken() && !pulledInThisSession()) {
        AppLogger::info(QStringLiteral("Knowledge base sync push needs a pull first; pulling and merging"));
        PullUnderway underway(*this);
        co_await pullAndMergeInTurn(kSaveFailedPrefix);
        co_return;
    }
    try {
        co_await pushLocalConfig(kSavedText);
    } catch (...) {
        if (self) {
            reportFailure(std::current_exception(), QStringLiteral("Knowledge base sync push failed: "),
                          kSaveFailedPrefix);
            syncFailed();
        }
    }
}

void ConfigSyncCoordinator::retryIfPending() {
    if (!m_retryPending || m_pullsUnderway > 0) {
        return;
    }
    if (!usableToken()) {
        stopRetrying(); // signed out: the next sign-in pulls anyway
        return;
    }
    AppLogger::info(QStringLiteral("Knowledge base sync retrying after a failure"));
    QCoro::Task<> task = pullAndMerge();
    Q_UNUSED(task); // runs on by itself
}

void ConfigSyncCoordinator::backendRequestSucceeded() {
    // Only after a failure: a successful answer while nothing failed (one that rotates the session token,
    // say) asks for nothing.
    if (!m_retryPending || m_pullsUnderway > 0) {
        return;
    }
    // The retry starts after the answer has reached its own caller.
    QMetaObject::invokeMethod(this, &ConfigSyncCoordinator::retryIfPending, Qt::QueuedConnection);
}

void ConfigSyncCoordinator::syncFailed() {
    if (!usableToken()) {
        return; // nothing to retry until someone signs in, and signing in pulls
    }
    m_retryPending = true;
    ++m_failuresInARow;
    m_retryTimer.cancel();
    if (m_failuresInARow > kTimedRetries) {
        return;
    }
    const std::chrono::milliseconds delay =
        std::min<std::chrono::milliseconds>(kRetryDelayFirst * (1 << (m_failuresInARow - 1)), kRetryDelayMax);
    QPointer<ConfigSyncCoordinator> self(this);
    m_retryTimer = m_scheduler.singleShot(delay, [self] {
        if (self) {
            self->retryIfPending();
        }
    });
}

void ConfigSyncCoordinator::stopRetrying() {
    m_retryPending = false;
    m_failuresInARow = 0;
    m_retryTimer.cancel();
}

void ConfigSyncCoordinator::reportFailure(std::exception_ptr error, const QString& logPrefix,
                                          const QString& statusPrefix) {
    const QString description = SessionCoordinator::describe(error);
    AppLogger::error(logPrefix + description);
    setStatusText(statusPrefix + description);
    setFailure(statusPrefix + description, adviceFor(error));
}

QString ConfigSyncCoordinator::adviceFor(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BackendTransportError& e) {
        return e.timedOut() ? kTimedOutAdvice : kOfflineAdvice;
    } catch (const BackendClientError& e) {
        if (e.kind() == BackendClientError::Kind::InvalidBaseURL) {
            return kAddressAdvice;
        }
        if (e.kind() == BackendClientError::Kind::HttpError) {
            const qint64 status = e.statusCode();
            if (status == 401 || status == 403) {
                return kSignInAdvice;
            }
            if (status == 408 || status == 429 || status >= 500) {
                return kServiceAdvice;
            }
        }
        return kOtherAdvice;
    } catch (...) {
        return kOtherAdvice;
    }
}

void ConfigSyncCoordinator::retryNow() {
    if (m_pullsUnderway > 0 || !usableToken()) {
        return;
    }
    AppLogger::info(QStringLiteral("Knowledge base sync retrying at the user's request"));
    QCoro::Task<> task = pullAndMerge();
    Q_UNUSED(task); // runs on by itself
}

void ConfigSyncCoordinator::showIdle() {
    setStatusText(kIdleText);
    setFailure({}, {});
}

void ConfigSyncCoordinator::setFailure(const QString& text, const QString& advice) {
    const bool retryable = !text.isEmpty() && advice != kSignInAdvice;
    if (m_failureText == text && m_failureAdvice == advice && m_failureRetryable == retryable) {
        return;
    }
    m_failureText = text;
    m_failureAdvice = advice;
    m_failureRetryable = retryable;
    emit failureChanged();
}

void ConfigSyncCoordinator::setStatusText(const QString& text) {
    if (m_statusText != text) {
        m_statusText = text;
        emit statusTextChanged();
    }
}
