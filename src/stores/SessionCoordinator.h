#pragma once

#include "APIModels.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

class BackendClient;
class SecureStore;

// Owns the application's backend session: the session token every backend request carries, the usage
// figures and profile the backend reports with it, and one status sentence. Loads the saved token at
// launch and refreshes it, exchanges identity tokens for a session, adopts the session snapshots other
// answers carry, and forgets the session on sign-out or when the backend rejects it. The only writer of
// the saved token. Main thread only; no operation throws.
//
// Every sign-out or invalidation starts a new session generation. An answer to a request sent in an
// earlier generation is discarded (and logged), so a late answer can never bring back a session the user
// or the backend just ended.
class SessionCoordinator final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(qint64 totalWords READ totalWords NOTIFY totalWordsChanged)
    Q_PROPERTY(double totalMinutes READ totalMinutes NOTIFY totalMinutesChanged)
    Q_PROPERTY(
        std::optional<QString> activeSessionToken READ activeSessionToken NOTIFY activeSessionTokenChanged)
    Q_PROPERTY(std::optional<UserProfileDTO> profile READ profile NOTIFY profileChanged)

public:
    // Keeps references to both collaborators, which must outlive the coordinator. No I/O.
    SessionCoordinator(BackendClient& backendClient, SecureStore& secureStore, QObject* parent = nullptr);

    const QString& statusText() const { return m_statusText; }
    qint64 totalWords() const { return m_totalWords; }
    double totalMinutes() const { return m_totalMinutes; }
    const std::optional<QString>& activeSessionToken() const { return m_activeSessionToken; }
    const std::optional<UserProfileDTO>& profile() const { return m_profile; }
    // When the last session answer was adopted (wall time of Clock::current()).
    const std::optional<QDateTime>& lastRefreshAt() const { return m_lastRefreshAt; }

    // The current session generation; it changes on every sign-out and invalidation. A caller whose own
    // request carries the session (a transcription) takes it before sending and hands it back with the
    // answer's snapshot.
    quint64 sessionGeneration() const { return m_generation; }
    // Starts a new generation without ending the session: answers to requests sent so far are discarded
    // (a newer sign-in attempt supersedes an older one whose exchange is still in flight).
    void discardPendingAnswers() { ++m_generation; }

    // Loads the saved token; with one, publishes it and refreshes the session (awaited). A token that
    // loads only after the session was adopted or ended meanwhile is ignored.
    QCoro::Task<> bootstrapFromSecureStore();
    // Posts the current token to the backend and adopts the answer. A failure keeps the session, except
    // the backend's refusal of the token (401 or 403), which ends it as an authentication failure does.
    QCoro::Task<> refreshSession(bool forceRefresh);
    // Exchanges an identity token that `provider` vouches for ("google", sent as "auth_provider"; its
    // name in the texts is `providerLabel`, "Google") for a session: true when the backend answered (and
    // the answer was adopted).
    QCoro::Task<bool> establishSession(QString provider, QString providerLabel, QString idToken,
                                       std::optional<QString> email, std::optional<QString> name,
                                       std::optional<QString> picture);
    // Adopts the snapshot another backend answer carried. With `requestGeneration` (the generation taken
    // when that request was sent), a snapshot from before a sign-out or invalidation is discarded.
    void applySessionSnapshot(const SessionResponseDTO& snapshot,
                              std::optional<quint64> requestGeneration = std::nullopt);
    // Forgets the session after the backend rejected the token, as a sign-out does (token, figures and
    // profile); shows `message` and announces sessionRejected().
    void invalidateSessionDueToAuthenticationFailure(const QString& message);
    // Forgets the session and the profile on the user's sign-out.
    void clearSavedSession();
    // Whether a foreground refresh is due: a token exists and it was never refreshed in this run or its
    // last refresh is at least `maxAgeSeconds` old. No side effects.
    bool shouldRefreshOnForeground(double maxAgeSeconds) const;

    // The text of a failure the backend client threw, as shown to the user.
    static QString describe(std::exception_ptr error);

signals:
    void statusTextChanged();
    void totalWordsChanged();
    void totalMinutesChanged();
    void activeSessionTokenChanged();
    void profileChanged();
    // The backend refused the session and it was forgotten (the saved token is gone): whoever shows the
    // signed-in identity forgets it too.
    void sessionRejected();

private:
    void adopt(const SessionResponseDTO& answer, const QString& logLead, const QString& successSentence);
    void forgetSession();
    void logDiscarded(const QString& source, const QString& failure) const;

    void setStatusText(const QString& value);
    void setTotalWords(qint64 value);
    void setTotalMinutes(double value);
    void setActiveSessionToken(const std::optional<QString>& value);
    void setProfile(const std::optional<UserProfileDTO>& value);

    BackendClient& m_backendClient;
    SecureStore& m_secureStore;
    QString m_statusText = QStringLiteral("No active backend session.");
    qint64 m_totalWords = 0;
    double m_totalMinutes = 0.0;
    std::optional<QString> m_activeSessionToken;
    std::optional<UserProfileDTO> m_profile;
    std::optional<QDateTime> m_lastRefreshAt;
    quint64 m_generation = 0;
    quint64 m_savedTokenChanges = 0; // writes and deletes of the saved token asked for so far
};
