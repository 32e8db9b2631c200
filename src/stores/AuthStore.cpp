#include "AuthStore.h"

namespace {
// Publishes a field: assigns and notifies when the value changes.
template <class T> void assign(AuthStore* owner, T& field, const T& value, void (AuthStore::*changed)()) {
    if (field == value) {
        return;
    }
    field = value;
    (owner->*changed)();
}
} // namespace

AuthStore::AuthStore(UserDefaults& defaults, QObject* parent) : QObject(parent), m_defaults(defaults) {
    restoreIfAvailable();
}

void AuthStore::restoreIfAvailable() {
    setProvider(m_defaults.stringValue(kProviderKey));
    setEmail(m_defaults.stringValue(kEmailKey));
    setDisplayName(m_defaults.stringValue(kDisplayNameKey));
    if (m_provider || m_email || m_displayName) {
        setStatusText(m_email ? *m_email : m_displayName ? *m_displayName : QStringLiteral("Signed in"));
    }
}

void AuthStore::beginAuth(const QString& providerLabel) {
    setIsAuthenticating(true);
    setActiveProviderLabel(providerLabel);
    setStatusText(QStringLiteral("Opening ") + providerLabel + QStringLiteral(" sign-in..."));
    setSignInNotice(m_statusText);
}

void AuthStore::completeAuth(const QString& provider, const std::optional<QString>& email,
                             const std::optional<QString>& name) {
    setProvider(provider);
    setEmail(email);
    setDisplayName(name);
    m_defaults.setString(kProviderKey, provider);
    storeOrRemove(kEmailKey, email);
    storeOrRemove(kDisplayNameKey, name);
    setIsAuthenticating(false);
    setActiveProviderLabel(std::nullopt);
    setStatusText(email ? *email : name ? *name : QStringLiteral("Signed in with ") + capitalized(provider));
    setSignInNotice(QString());
}

void AuthStore::fail(const QString& message) {
    setIsAuthenticating(false);
    setActiveProviderLabel(std::nullopt);
    setStatusText(message);
    setSignInNotice(message);
}

void AuthStore::signOut() {
    forgetIdentity();
    setIsAuthenticating(false);
    setActiveProviderLabel(std::nullopt);
    setStatusText(QStringLiteral("Signed out"));
    setSignInNotice(QString());
}

void AuthStore::endRejectedSession(const QString& notice) {
    forgetIdentity();
    if (m_isAuthenticating) {
        return; // the attempt's progress stays what the buttons say; its outcome replaces it
    }
    setStatusText(QStringLiteral("Signed out"));
    setSignInNotice(notice);
}

void AuthStore::forgetIdentity() {
    setProvider(std::nullopt);
    setEmail(std::nullopt);
    setDisplayName(std::nullopt);
    m_defaults.remove(kProviderKey);
    m_defaults.remove(kEmailKey);
    m_defaults.remove(kDisplayNameKey);
}

QString AuthStore::capitalized(const QString& text) {
    QList<uint> codePoints = text.toUcs4();
    bool atWordStart = true;
    for (uint& c : codePoints) {
        if (QChar::isSpace(c)) {
            atWordStart = true;
        } else {
            c = atWordStart ? QChar::toUpper(c) : QChar::toLower(c);
            atWordStart = false;
        }
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()), codePoints.size());
}

void AuthStore::storeOrRemove(const QString& key, const std::optional<QString>& value) {
    if (value) {
        m_defaults.setString(key, *value);
    } else {
        m_defaults.remove(key);
    }
}

void AuthStore::setProvider(const std::optional<QString>& value) {
    assign(this, m_provider, value, &AuthStore::providerChanged);
}

void AuthStore::setEmail(const std::optional<QString>& value) {
    assign(this, m_email, value, &AuthStore::emailChanged);
}

void AuthStore::setDisplayName(const std::optional<QString>& value) {
    assign(this, m_displayName, value, &AuthStore::displayNameChanged);
}

void AuthStore::setIsAuthenticating(bool value) {
    assign(this, m_isAuthenticating, value, &AuthStore::isAuthenticatingChanged);
}

void AuthStore::setStatusText(const QString& value) {
    assign(this, m_statusText, value, &AuthStore::statusTextChanged);
}

void AuthStore::setActiveProviderLabel(const std::optional<QString>& value) {
    assign(this, m_activeProviderLabel, value, &AuthStore::activeProviderLabelChanged);
}

void AuthStore::setSignInNotice(const QString& value) {
    assign(this, m_signInNotice, value, &AuthStore::signInNoticeChanged);
}
