#include "SignInAttempts.h"

#include "AppLogger.h"
#include "AuthStore.h"
#include "ConfigSyncCoordinator.h"
#include "SessionCoordinator.h"

#include <QPointer>

SignInAttempts::SignInAttempts(SignInProviders providers, AuthStore& authStore,
                               SessionCoordinator& sessionCoordinator,
                               ConfigSyncCoordinator& configSyncCoordinator, QObject* parent)
    : QObject(parent), m_providers(std::move(providers)), m_authStore(authStore),
      m_sessionCoordinator(sessionCoordinator), m_configSyncCoordinator(configSyncCoordinator) {}

SignInAttempts::~SignInAttempts() {
    cancel();
}

void SignInAttempts::cancel() {
    if (m_activeCancel) {
        m_activeCancel->cancel();
    }
}

void SignInAttempts::start(SignInProviderId provider) {
    const QString& label = SignInProviders::row(provider).label;
    if (m_authStore.isAuthenticating()) {
        AppLogger::info(QStringLiteral("Restarting ") + label +
                        QStringLiteral(" sign-in after cancelling previous auth attempt"));
        cancel();
        if (m_sessionExchangeAttempt && m_sessionExchangeAttempt == m_activeAttemptID) {
            // The superseded attempt's session answer must not replace the newer attempt's session.
            m_sessionCoordinator.discardPendingAnswers();
        }
        const std::optional<QString>& previous = m_authStore.activeProviderLabel();
        m_authStore.fail((previous && !previous->isEmpty() ? *previous : QStringLiteral("Previous")) +
                         QStringLiteral(" sign-in cancelled. Starting ") + label +
                         QStringLiteral(" sign-in..."));
    }
    const QUuid attempt = QUuid::createUuid();
    m_activeAttemptID = attempt;
    m_authStore.beginAuth(label);
    AppLogger::info(label + QStringLiteral(" sign-in requested"));

    SignInCancelToken cancel;
    m_activeCancel = cancel;
    QCoro::Task<> task = run(attempt, provider, cancel);
    Q_UNUSED(task); // runs on by itself
}

QCoro::Task<> SignInAttempts::run(QUuid attempt, SignInProviderId provider, SignInCancelToken cancel) {
    const SignInProviders::Row& row = SignInProviders::row(provider);
    QPointer<SignInAttempts> self(this);
    const auto finish = [&] {
        if (self && isCurrent(attempt)) {
            m_activeCancel.reset();
        }
    };

    std::optional<SignInIdentity> identity;
    try {
        identity = co_await m_providers.flow(provider).signIn(cancel);
    } catch (const SignInCancelled&) {
        if (self && isCurrent(attempt)) {
            AppLogger::info(row.label + QStringLiteral(" sign-in cancelled"));
            m_authStore.fail(row.label + QStringLiteral(" sign-in cancelled. Try again."));
        }
    } catch (...) {
        if (self && isCurrent(attempt)) {
            // Some provider errors already begin with these words; the user reads them once.
            const QString prefix = row.label + QStringLiteral(" sign-in failed: ");
            const QString description = SessionCoordinator::describe(std::current_exception());
            const QString message = description.startsWith(prefix) ? description : prefix + description;
            AppLogger::error(message);
            m_authStore.fail(message);
        }
    }
    if (!identity || !self || !isCurrent(attempt) || cancel.isCancelled()) {
        finish();
        co_return;
    }

    m_sessionExchangeAttempt = attempt;
    const bool established = co_await m_sessionCoordinator.establishSession(
        row.key, row.label, identity->idToken, identity->email, identity->name, identity->picture);
    if (!self) {
        co_return;
    }
    if (m_sessionExchangeAttempt == attempt) {
        m_sessionExchangeAttempt.reset();
    }
    if (!isCurrent(attempt) || cancel.isCancelled()) {
        co_return;
    }
    if (established) {
        m_authStore.completeAuth(row.key, identity->email, identity->name);
        co_await m_configSyncCoordinator.pullAndMerge();
    } else {
        m_authStore.fail(m_sessionCoordinator.statusText());
    }
    finish();
}
