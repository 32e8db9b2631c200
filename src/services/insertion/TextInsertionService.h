#pragma once

#include "FrontmostWindowSource.h"
#include "KeySynthesizer.h"
#include "UserFacingError.h"
#include "WindowRaise.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ClipboardRestorer;

class TextInsertionError : public UserFacingError {
public:
    enum class Kind { AccessibilityPermissionRequired, ClipboardWriteFailed, EventCreationFailed };

    explicit TextInsertionError(Kind kind);
    Kind kind() const { return m_kind; }
    friend bool operator==(const TextInsertionError& a, const TextInsertionError& b) {
        return a.m_kind == b.m_kind;
    }

private:
    Kind m_kind;
};

// Puts finished text into the frontmost application, by paste or by typing.
//
// Paste: our text goes on the clipboard, then Ctrl+V (Ctrl+Shift+V in terminals). The user's clipboard,
// every format of it, comes back once the target has fetched our text (see ClipboardRestorer); when the
// paste fails it comes back at once. The permission and the event source are checked before the clipboard
// is touched.
//
// Typing: one key press per Unicode scalar, whatever the layout (X11Typist); the coroutine waits on the
// Scheduler between characters, so the main thread keeps running.
//
// Both wait (at most `modifierReleaseLimit`) for the user to let go of the shortcut's modifier keys, which
// would otherwise combine with ours.
class TextInsertionService {
public:
    static constexpr std::chrono::milliseconds modifierReleaseLimit{1000};

    TextInsertionService(std::shared_ptr<KeySynthesizer> keys, std::shared_ptr<FrontmostWindowSource> windows,
                         ClipboardRestorer* restorer = nullptr);

    // The Accessibility trust's place; defaults to the key synthesizer's (X display with XTest and XInput2).
    std::function<bool()> isAccessibilityTrusted;

    // Returns once the paste chord has been sent. Throws TextInsertionError.
    QCoro::Task<> pasteText(QString text);
    // Returns once every character has been sent; `delay` seconds after each. Throws TextInsertionError.
    QCoro::Task<> typeText(QString text, double delay);

    // Makes `window` (owned by process `processId` when known) the active window again, through the
    // window manager, and waits (at most `activationLimit`) until it is.
    QCoro::Task<WindowRaise> bringToFront(quint64 window, std::optional<qint64> processId);
    static constexpr std::chrono::milliseconds activationLimit{1500};
    static constexpr std::chrono::milliseconds activationPoll{20};

    // Leaves `text` on the clipboard for the user to paste (a restore that still waits is called off).
    // False when the clipboard did not take it.
    bool copyToClipboard(const QString& text);

private:
    ClipboardRestorer& restorer();

    std::shared_ptr<KeySynthesizer> m_keys;
    std::shared_ptr<FrontmostWindowSource> m_windows;
    ClipboardRestorer* m_restorer;
};
