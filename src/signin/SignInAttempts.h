#pragma once

#include "SignInCancellation.h"
#include "SignInProviders.h"

#include <QObject>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <optional>

class AuthStore;
class ConfigSyncCoordinator;
class SessionCoordinator;

// The user's sign-in attempts, one at a time. An attempt runs the provider's browser flow, exchanges the
// identity it brings back for a backend session, then records the identity and pulls the cloud
// configuration; AuthStore shows each step and how it ended. Starting an attempt while one runs cancels
// that one (its flow ends at once, and a session answer it still waits for is discarded): whatever the
// superseded attempt still hears later changes nothing. Main thread only.
class SignInAttempts final : public QObject {
    Q_OBJECT

public:
    // Keeps references to the stores and coordinators, which must outlive it.
    SignInAttempts(SignInProviders providers, AuthStore& authStore, SessionCoordinator& sessionCoordinator,
                   ConfigSyncCoordinator& configSyncCoordinator, QObject* parent = nullptr);
    // Cancels the running attempt.
    ~SignInAttempts() override;

    // Starts an attempt with `provider` and returns at once; the attempt runs on by itself.
    void start(SignInProviderId provider);
    // Calls off the running attempt, if any: its flow ends at once and it ends as cancelled.
    void cancel();

    // The id of the newest attempt; none before the first.
    std::optional<QUuid> activeAttemptID() const { return m_activeAttemptID; }
    // True while the newest attempt runs.
    bool hasActiveAttempt() const { return m_activeCancel.has_value(); }

private:
    bool isCurrent(const QUuid& attempt) const { return m_activeAttemptID == attempt; }
    QCoro::Task<> run(QUuid attempt, SignInProviderId provider, SignInCancelToken cancel);

    SignInProviders m_providers;
    AuthStore& m_authStore;
    SessionCoordinator& m_sessionCoordinator;
    ConfigSyncCoordinator& m_configSyncCoordinator;

    std::optional<QUuid> m_activeAttemptID;
    std::optional<SignInCancelToken> m_activeCancel; // the running attempt's token
    std::optional<QUuid> m_sessionExchangeAttempt;   // the attempt whose session exchange is in flight
};
