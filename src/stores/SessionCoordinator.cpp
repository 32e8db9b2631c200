#include "SessionCoordinator.h"

#include "AppLogger.h"
#include "BackendClient.h"
#include "Clock.h"
#include "SecureStore.h"

#include <QPointer>

namespace {
const QString kClientPlatform = QStringLiteral("linux");
const QString kSignedInSentence = QStringLiteral("Signed in and backend session active.");
const QString kActiveSentence = QStringLiteral("Backend session active.");

// The backend refused the token itself (not a failure on its side or on the way there).
bool isSessionRefusal(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BackendClientError& e) {
        return e.kind() == BackendClientError::Kind::HttpError &&
               (e.statusCode() == 401 || e.statusCode() == 403);
    } catch (...) {
        return false;
    }
}

bool sameProfile(const std::optional<UserProfileDTO>& a, const std::optional<UserProfileDTO>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a || (a->email == b->email && a->name == b->name && a->picture == b->picture);
}

} // namespace

SessionCoordinator::SessionCoordinator(BackendClient& backendClient, SecureStore& secureStore,
                                       QObject* parent)
    : QObject(parent), m_backendClient(backendClient), m_secureStore(secureStore) {}

QString SessionCoordinator::describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const UserFacingError& e) {
        return e.message();
    } catch (const BackendTransportError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

QCoro::Task<> SessionCoordinator::bootstrapFromSecureStore() {
    const quint64 savedTokenChanges = m_savedTokenChanges;
    QPointer<SessionCoordinator> self(this);
    const std::optional<QString> token = co_await m_secureStore.readSessionToken();
    if (!self) {
        co_return;
    }
    if (savedTokenChanges != m_savedTokenChanges) {
        // The keyring answered late (an unlock prompt, a slow service) and a sign-in, an answer or a
        // sign-out has replaced or removed the saved token meanwhile: what was read is older than that.
        AppLogger::info(QStringLiteral("Ignored saved session token: the session changed while it loaded"));
        co_return;
    }
    // An empty token is no session: it would only be sent to the backend to be rejected.
    if (!token || token->isEmpty()) {
        AppLogger::info(QStringLiteral("No saved backend session token found"));
        setStatusText(QStringLiteral("No saved backend session."));
        co_return;
    }
    AppLogger::info(QStringLiteral("Loaded session token from secure store"));
    setActiveSessionToken(token);
    co_await refreshSession(false);
}

QCoro::Task<> SessionCoordinator::refreshSession(bool forceRefresh) {
    if (!m_activeSessionToken) {
        setStatusText(QStringLiteral("No session token is available yet."));
        co_return;
    }
    SessionRequest request;
    request.session_token = m_activeSessionToken;
    request.client_platform = kClientPlatform;
    request.force_refresh = forceRefresh;

    const quint64 generation = m_generation;
    QPointer<SessionCoordinator> self(this);
    std::optional<SessionResponseDTO> answer;
    QString failure;
    bool refused = false;
    try {
        answer = co_await m_backendClient.establishSession(std::move(request));
    } catch (...) {
        failure = describe(std::current_exception());
        refused = isSessionRefusal(std::current_exception());
    }
    if (!self) {
        co_return;
    }
    if (generation != m_generation) {
        logDiscarded(QStringLiteral("refresh"), failure);
        co_return;
    }
    if (!answer) {
        const QString sentence = QStringLiteral("Session refresh failed: ") + failure;
        AppLogger::error(sentence);
        if (refused) {
            // The saved token will never work again: keeping it would show a session that does not exist.
            invalidateSessionDueToAuthenticationFailure(sentence);
        } else {
            setStatusText(sentence);
        }
        co_return;
    }
    adopt(*answer, QStringLiteral("Session refresh succeeded"), kActiveSentence);
}

QCoro::Task<bool> SessionCoordinator::establishSession(QString provider, QString providerLabel,
                                                       QString idToken, std::optional<QString> email,
                                                       std::optional<QString> name,
                                                       std::optional<QString> picture) {
    SessionRequest request;
    request.id_token = std::move(idToken);
    request.auth_provider = provider;
    request.client_platform = kClientPlatform;
    request.profile = UserProfileDTO{std::move(email), std::move(name), std::move(picture)};
    request.force_refresh = false;

    const quint64 generation = m_generation;
    QPointer<SessionCoordinator> self(this);
    std::optional<SessionResponseDTO> answer;
    QString failure;
    try {
        answer = co_await m_backendClient.establishSession(std::move(request));
    } catch (...) {
        failure = describe(std::current_exception());
    }
    if (!self) {
        co_return false;
    }
    if (generation != m_generation) {
        logDiscarded(provider, failure);
        co_return false;
    }
    if (!answer) {
        AppLogger::error(providerLabel + QStringLiteral("-backed session establish failed: ") + failure);
        setStatusText(providerLabel + QStringLiteral(" sign-in succeeded, but backend session failed: ") +
                      failure);
        co_return false;
    }
    adopt(*answer, providerLabel + QStringLiteral("-backed session established"), kSignedInSentence);
    co_return true;
}

void SessionCoordinator::applySessionSnapshot(const SessionResponseDTO& snapshot,
                                              std::optional<quint64> requestGeneration) {
    if (requestGeneration && *requestGeneration != m_generation) {
        logDiscarded(QStringLiteral("snapshot"), {});
        return;
    }
    adopt(snapshot, QStringLiteral("Applied session snapshot"), kActiveSentence);
}

void SessionCoordinator::adopt(const SessionResponseDTO& answer, const QString& logLead,
                               const QString& successSentence) {
    if (answer.session_token && !answer.session_token->isEmpty()) {
        // The saved token first: its write is queued before anything can end the session, so a later
        // sign-out's delete always runs after it. Writing the token saved already asks the keyring nothing.
        ++m_savedTokenChanges;
        m_secureStore.writeSessionToken(*answer.session_token);
        setActiveSessionToken(answer.session_token);
    } else if (answer.session_token) {
        AppLogger::info(QStringLiteral("Ignored empty session token in session answer"));
    }
    setTotalWords(answer.total_words);
    setTotalMinutes(answer.total_minutes);
    setProfile(answer.profile);
    m_lastRefreshAt = Clock::current().now();
    AppLogger::info(logLead + QStringLiteral(" words=") + QString::number(answer.total_words));
    setStatusText(successSentence);
}

void SessionCoordinator::invalidateSessionDueToAuthenticationFailure(const QString& message) {
    forgetSession();
    AppLogger::error(QStringLiteral("Backend session invalidated after authentication failure: ") + message);
    setStatusText(message);
    emit sessionRejected();
}

void SessionCoordinator::clearSavedSession() {
    forgetSession();
    AppLogger::info(QStringLiteral("Saved session token cleared"));
    setStatusText(QStringLiteral("Saved session cleared."));
}

void SessionCoordinator::forgetSession() {
    ++m_generation; // answers to requests sent before this point are stale from now on
    ++m_savedTokenChanges;
    m_secureStore.deleteSessionToken();
    setActiveSessionToken(std::nullopt);
    setTotalWords(0);
    setTotalMinutes(0.0);
    setProfile(std::nullopt);
    m_lastRefreshAt.reset();
}

void SessionCoordinator::logDiscarded(const QString& source, const QString& failure) const {
    QString line =
        QStringLiteral("Discarded session answer from before sign-out or invalidation source=") + source;
    if (!failure.isEmpty()) {
        line += QStringLiteral(" error=") + failure;
    }
    AppLogger::info(line);
}

bool SessionCoordinator::shouldRefreshOnForeground(double maxAgeSeconds) const {
    if (!m_activeSessionToken) {
        return false;
    }
    if (!m_lastRefreshAt) {
        return true;
    }
    const double age = static_cast<double>(m_lastRefreshAt->msecsTo(Clock::current().now())) / 1000.0;
    return age >= 0.0 && age >= maxAgeSeconds;
}

void SessionCoordinator::setStatusText(const QString& value) {
    if (m_statusText != value) {
        m_statusText = value;
        emit statusTextChanged();
    }
}

void SessionCoordinator::setTotalWords(qint64 value) {
    if (m_totalWords != value) {
        m_totalWords = value;
        emit totalWordsChanged();
    }
}

void SessionCoordinator::setTotalMinutes(double value) {
    if (m_totalMinutes != value) {
        m_totalMinutes = value;
        emit totalMinutesChanged();
    }
}

void SessionCoordinator::setActiveSessionToken(const std::optional<QString>& value) {
    if (m_activeSessionToken != value) {
        m_activeSessionToken = value;
        emit activeSessionTokenChanged();
    }
}

void SessionCoordinator::setProfile(const std::optional<UserProfileDTO>& value) {
    if (!sameProfile(m_profile, value)) {
        m_profile = value;
        emit profileChanged();
    }
}
