#include "AppleSignInButton.h"

#include "AuthStore.h"
#include "SymbolIcons.h"

#include <QGraphicsOpacityEffect>
#include <QIcon>

AppleSignInButton::AppleSignInButton(AuthStore& authStore, bool compact, QWidget* parent)
    : QPushButton(parent), m_authStore(authStore), m_compact(compact),
      m_opacity(new QGraphicsOpacityEffect(this)) {
    setObjectName(QStringLiteral("appleSignInButton"));
    setCursor(Qt::PointingHandCursor);
    setFlat(true);
    const int glyph = compact ? 14 : 15;
    const int text = compact ? 13 : 14;
    setIcon(QIcon(SymbolIcons::pixmap(QStringLiteral("apple.logo"), QSize(glyph, glyph), Qt::white, 2.0)));
    setIconSize(QSize(glyph, glyph));
    setFixedHeight(compact ? 34 : 36);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setStyleSheet(
        QStringLiteral(
            "QPushButton { color: white; background: black; border: 1px solid rgba(255, 255, 255, 56);"
            " border-radius: 8px;"
            " font-weight: 600; font-size: %1px; padding: 0 12px; }"
            "QPushButton:pressed { background: #222; }")
            .arg(text));
    setGraphicsEffect(m_opacity);
    connect(&m_authStore, &AuthStore::isAuthenticatingChanged, this, &AppleSignInButton::sync);
    sync();
}

double AppleSignInButton::opacity() const {
    return m_opacity->opacity();
}

void AppleSignInButton::sync() {
    const bool busy = m_authStore.isAuthenticating();
    setText(busy ? kRetryText : kSignInText);
    m_opacity->setOpacity(busy ? kBusyOpacity : 1.0);
}
