#pragma once

#include "SecretBackend.h"

#include <QString>

#include <memory>
#include <optional>

// Keeps the backend session token across launches as one secret item, identified by `service` and
// `sessionTokenAccount`. Write, read and delete never fail towards the caller: every failure of the
// secret backend is logged (with the backend's status code) and otherwise swallowed. Synchronous; the
// calls may block while the Secret Service answers.
class SecureStore final {
public:
    static inline const QString kDefaultService = QStringLiteral("app.quillvane.desktop");
    static inline const QString kDefaultSessionTokenAccount = QStringLiteral("backend-session-token");

    // The application's store: the desktop's Secret Service (libsecret).
    SecureStore();
    // A store on another backend (tests) or under other attributes.
    explicit SecureStore(std::shared_ptr<SecretBackend> backend, QString service = kDefaultService,
                         QString sessionTokenAccount = kDefaultSessionTokenAccount);

    // Replaces the item with one holding `token` (UTF-8, no framing).
    void writeSessionToken(const QString& token);
    // The stored token; absent when there is none, when the read failed or when the bytes are not UTF-8.
    std::optional<QString> readSessionToken();
    // Removes the item; a missing item counts as removed.
    void deleteSessionToken();

    const QString& service() const { return m_service; }
    const QString& sessionTokenAccount() const { return m_sessionTokenAccount; }

private:
    std::shared_ptr<SecretBackend> m_backend;
    const QString m_service;
    const QString m_sessionTokenAccount;
};
