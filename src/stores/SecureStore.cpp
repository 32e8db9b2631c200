#include "SecureStore.h"

#include "AppLogger.h"
#include "LibsecretBackend.h"

#include <QStringDecoder>

namespace {
QString statusTail(const SecretBackend::Status& status) {
    QString tail = QStringLiteral(" status=") + QString::number(status.code);
    if (!status.reason.isEmpty()) {
        tail += QStringLiteral(" reason=") + status.reason;
    }
    return tail;
}
} // namespace

SecureStore::SecureStore() : SecureStore(std::make_shared<LibsecretBackend>()) {}

SecureStore::SecureStore(std::shared_ptr<SecretBackend> backend, QString service, QString sessionTokenAccount)
    : m_backend(std::move(backend)), m_service(std::move(service)),
      m_sessionTokenAccount(std::move(sessionTokenAccount)) {}

void SecureStore::writeSessionToken(const QString& token) {
    const QByteArray bytes = token.toUtf8();
    // Delete, then add: a failed delete is reported and the add is attempted all the same.
    const SecretBackend::Status cleared = m_backend->remove(m_service, m_sessionTokenAccount);
    if (!cleared.ok()) {
        AppLogger::error(QStringLiteral("Failed to clear existing session token from the Secret Service") +
                         statusTail(cleared));
    }
    const SecretBackend::Status stored = m_backend->replace(m_service, m_sessionTokenAccount, bytes);
    if (!stored.ok()) {
        AppLogger::error(QStringLiteral("Failed to store session token in the Secret Service") +
                         statusTail(stored));
        return;
    }
    AppLogger::info(QStringLiteral("Stored session token in the Secret Service"));
}

std::optional<QString> SecureStore::readSessionToken() {
    const SecretBackend::ReadResult result = m_backend->read(m_service, m_sessionTokenAccount);
    if (!result.status.ok()) {
        AppLogger::error(QStringLiteral("Failed to load session token from the Secret Service") +
                         statusTail(result.status));
        return std::nullopt;
    }
    if (!result.data) {
        return std::nullopt; // no item: silent
    }
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString token = utf8.decode(*result.data);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    if (!token.isEmpty()) {
        AppLogger::info(QStringLiteral("Loaded session token from the Secret Service"));
    }
    return token;
}

void SecureStore::deleteSessionToken() {
    const SecretBackend::Status status = m_backend->remove(m_service, m_sessionTokenAccount);
    if (!status.ok()) {
        AppLogger::error(QStringLiteral("Failed to clear session token from the Secret Service") +
                         statusTail(status));
        return;
    }
    AppLogger::info(QStringLiteral("Cleared session token from the Secret Service"));
}
