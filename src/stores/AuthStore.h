#pragma once

#include "UserDefaults.h"

#include <QObject>
#include <QString>

#include <optional>

// The signed-in identity the user interface shows (provider, e-mail, display name), whether a sign-in
// attempt is running and for which provider, and one status sentence. The identity survives restarts in
// the user defaults; the attempt and the sentences do not. Holds no token and talks to no server.
//
// Beside the status, a sign-in notice: the sentence the sign-in buttons show under them. It is the running
// attempt's progress, the last attempt's failure or cancellation, or why the session ended; it is empty
// when there is nothing to tell (nothing tried yet, signed in, or signed out by the user).
class AuthStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> provider READ provider NOTIFY providerChanged)
    Q_PROPERTY(std::optional<QString> email READ email NOTIFY emailChanged)
    Q_PROPERTY(std::optional<QString> displayName READ displayName NOTIFY displayNameChanged)
    Q_PROPERTY(bool isAuthenticating READ isAuthenticating NOTIFY isAuthenticatingChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(
        std::optional<QString> activeProviderLabel READ activeProviderLabel NOTIFY activeProviderLabelChanged)
    Q_PROPERTY(QString signInNotice READ signInNotice NOTIFY signInNoticeChanged)

public:
    static inline const QString kProviderKey = QStringLiteral("quillvane.auth.provider");
    static inline const QString kEmailKey = QStringLiteral("quillvane.auth.email");
    static inline const QString kDisplayNameKey = QStringLiteral("quillvane.auth.display_name");
    // The notice after the backend rejected the saved session.
    static inline const QString kSessionEndedNotice = QStringLiteral("Your session ended. Sign in again.");

    // Starts signed out, then restores the identity stored in `defaults`.
    explicit AuthStore(UserDefaults& defaults = UserDefaults::standard(), QObject* parent = nullptr);

    const std::optional<QString>& provider() const { return m_provider; }
    const std::optional<QString>& email() const { return m_email; }
    const std::optional<QString>& displayName() const { return m_displayName; }
    bool isAuthenticating() const { return m_isAuthenticating; }
    const QString& statusText() const { return m_statusText; }
    const std::optional<QString>& activeProviderLabel() const { return m_activeProviderLabel; }
    const QString& signInNotice() const { return m_signInNotice; }

    // Reloads the identity from the user defaults (a missing key clears its field) and, when any part of
    // an identity is present, shows it as the status.
    void restoreIfAvailable();
    void beginAuth(const QString& providerLabel);
    void completeAuth(const QString& provider, const std::optional<QString>& email,
                      const std::optional<QString>& name);
    // Ends the attempt with `message`; an earlier identity stays.
    void fail(const QString& message);
    void signOut();
    // The backend rejected the session: forgets the identity as signOut() does and shows `notice` under
    // the sign-in buttons. A sign-in attempt that is running goes on and keeps its own status.
    void endRejectedSession(const QString& notice);

    // "google" → "Google": the first letter of each whitespace-separated word upper case, the rest lower.
    static QString capitalized(const QString& text);

signals:
    void providerChanged();
    void emailChanged();
    void displayNameChanged();
    void isAuthenticatingChanged();
    void statusTextChanged();
    void activeProviderLabelChanged();
    void signInNoticeChanged();

private:
    void setProvider(const std::optional<QString>& value);
    void setEmail(const std::optional<QString>& value);
    void setDisplayName(const std::optional<QString>& value);
    void setIsAuthenticating(bool value);
    void setStatusText(const QString& value);
    void setActiveProviderLabel(const std::optional<QString>& value);
    void setSignInNotice(const QString& value);
    void forgetIdentity();
    void storeOrRemove(const QString& key, const std::optional<QString>& value);

    UserDefaults& m_defaults;
    std::optional<QString> m_provider;
    std::optional<QString> m_email;
    std::optional<QString> m_displayName;
    bool m_isAuthenticating = false;
    QString m_statusText = QStringLiteral("Signed out");
    std::optional<QString> m_activeProviderLabel;
    QString m_signInNotice;
};
