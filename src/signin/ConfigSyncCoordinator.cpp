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

ConfigSyncCoordinator::ConfigSyncCoordinator(BackendClient& backendClient, AppSettings& appSettings,
                                             SessionCoordinator& sessionCoordinator,
                                             PromptSettingsStore& promptSettingsStore,
                                             KnowledgeBaseStore& knowledgeBaseStore, Scheduler& scheduler,
                                             QObject* parent)
    : QObject(parent), m_backendClient(backendClient), m_appSettings(appSettings),
      m_sessionCoordinator(sessionCoordinator), m_promptSettingsStore(promptSettingsStore),
      m_knowledgeBaseStore(knowledgeBaseStore), m_scheduler(scheduler) {}

ConfigSyncCoordinator::~ConfigSyncCoordinator() {
    m_scheduledPush.cancel();
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
    QPointer<ConfigSyncCoordinator> self(this);
    co_await nextTurn();
    if (!self) {
        co_return;
    }
    Turn turn(*this);
    co_await pullAndMergeInTurn();
}

QCoro::Task<> ConfigSyncCoordinator::pullAndMergeInTurn() {
    const std::optional<QString> token = usableToken();
    if (!token) {
        setStatusText(kNeedsSessionText);
        co_return;
    }
    setStatusText(kSyncingText);
    AppLogger::info(QStringLiteral("Knowledge base sync pull requested"));

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
            // All three always run: each store takes its own part.
            const bool settingsChanged = m_appSettings.applyRemoteSettings(settings);
            const bool promptChanged = m_promptSettingsStore.applyRemoteSettings(settings);
            const bool knowledgeChanged = m_knowledgeBaseStore.mergeRemote(snippets, dictionary);
            status = (settingsChanged || promptChanged || knowledgeChanged) ? kUpdatedText : kCompleteText;
        }
        // The cloud's entries are part of the local state now: a push can no longer delete them.
        m_pulledToken = token;
        co_await pushLocalConfig(status);
    } catch (...) {
        if (self) {
            reportFailure(std::current_exception(), QStringLiteral("Knowledge base sync pull failed: "),
                          kSyncFailedPrefix);
        }
    }
}

QCoro::Task<ConfigResponseDTO> ConfigSyncCoordinator::pushLocalConfig(QString status) {
    const std::optional<QString> token = usableToken();
    if (!token) {
        setStatusText(kNeedsSessionText);
        throw BackendClientError::httpError(401, QStringLiteral("No session token"));
    }
    ConfigEnvelopeDTO envelope;
    envelope.session_token = token;
    envelope.config = localConfig();
    AppLogger::info(QStringLiteral("Knowledge base sync push snippets=") +
                    QString::number(m_knowledgeBaseStore.snippets().size()) + QStringLiteral(" dictionary=") +
                    QString::number(m_knowledgeBaseStore.dictionaryTerms().size()));

    QPointer<ConfigSyncCoordinator> self(this);
    ConfigResponseDTO response = co_await m_backendClient.updateUserConfig(std::move(envelope));
    if (self) {
        setStatusText(status);
    }
    co_return response;
}

void ConfigSyncCoordinator::schedulePush() {
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

    const std::optional<QString> token = usableToken();
    if (token && m_pulledToken != token) {
        AppLogger::info(QStringLiteral("Knowledge base sync push needs a pull first; pulling and merging"));
        co_await pullAndMergeInTurn();
        co_return;
    }
    try {
        co_await pushLocalConfig(kSavedText);
    } catch (...) {
        if (self) {
            reportFailure(std::current_exception(), QStringLiteral("Knowledge base sync push failed: "),
                          kSaveFailedPrefix);
        }
    }
}

void ConfigSyncCoordinator::reportFailure(std::exception_ptr error, const QString& logPrefix,
                                          const QString& statusPrefix) {
    const QString description = SessionCoordinator::describe(error);
    AppLogger::error(logPrefix + description);
    setStatusText(statusPrefix + description);
}

void ConfigSyncCoordinator::showIdle() {
    setStatusText(kIdleText);
}

void ConfigSyncCoordinator::setStatusText(const QString& text) {
    if (m_statusText != text) {
        m_statusText = text;
        emit statusTextChanged();
    }
}
