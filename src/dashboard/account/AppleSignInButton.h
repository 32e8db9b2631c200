#pragma once

#include <QPushButton>

class AuthStore;
class QGraphicsOpacityEffect;

// "Sign in with Apple": a black button with a faint light edge (it sits on dark and light backgrounds),
// white text and a plain glyph of ours, filling the width it is given. While any sign-in attempt runs it
// reads "Retry Apple Sign-In" and dims to 92 %; it is never disabled, so a press starts a new attempt (which
// cancels the running one).
class AppleSignInButton final : public QPushButton {
    Q_OBJECT

public:
    static inline const QString kSignInText = QStringLiteral("Sign in with Apple");
    static inline const QString kRetryText = QStringLiteral("Retry Apple Sign-In");
    static constexpr double kBusyOpacity = 0.92;

    AppleSignInButton(AuthStore& authStore, bool compact, QWidget* parent = nullptr);

    double opacity() const;
    bool isCompact() const { return m_compact; }

private:
    void sync();

    AuthStore& m_authStore;
    bool m_compact;
    QGraphicsOpacityEffect* m_opacity;
};
