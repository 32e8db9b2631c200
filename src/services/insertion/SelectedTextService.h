#pragma once

#include "AccessibleSelectionReader.h"
#include "FrontmostWindowSource.h"
#include "KeySynthesizer.h"
#include "UserFacingError.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class ClipboardRestorer;

class SelectedTextError : public UserFacingError {
public:
    enum class Kind {
        AccessibilityPermissionRequired,
        ClipboardReadFailed,
        CopyCommandFailed,
        NoSelectionCaptured
    };

    explicit SelectedTextError(Kind kind);
    Kind kind() const { return m_kind; }
    friend bool operator==(const SelectedTextError& a, const SelectedTextError& b) {
        return a.m_kind == b.m_kind;
    }

private:
    Kind m_kind;
};

// The capture was called off by its caller (see captureSelectedText); the clipboard is back as it was.
class SelectedTextCaptureCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "selected text capture cancelled"; }
};

// Gets the text the user has selected in the frontmost application: first through the accessibility bus
// (AT-SPI), else by sending the copy chord (Ctrl+C, Ctrl+Shift+C in terminals) and reading the clipboard,
// which is put back exactly as it was (every format) however the capture ends, cancellation included.
class SelectedTextService {
public:
    static constexpr int clipboardPollCount = 8;
    static constexpr std::chrono::milliseconds clipboardPollInterval{40};
    // How long we wait for the user to let go of the shortcut's modifier keys before sending the chord.
    static constexpr std::chrono::milliseconds modifierReleaseLimit{1000};

    SelectedTextService(std::shared_ptr<KeySynthesizer> keys, std::shared_ptr<FrontmostWindowSource> windows,
                        std::shared_ptr<AccessibleSelectionReader> accessibility,
                        ClipboardRestorer* restorer = nullptr);
    ~SelectedTextService();

    // The Accessibility trust's place; defaults to the key synthesizer's (X display with XTest and XInput2).
    std::function<bool()> isAccessibilityTrusted;

    // The selected text, never empty or blank. Throws SelectedTextError. `isCancelled` (the caller's
    // cancellation token) is checked after every wait; once it answers true the capture puts the clipboard
    // back and throws SelectedTextCaptureCancelled.
    QCoro::Task<QString> captureSelectedText(std::function<bool()> isCancelled = {});

private:
    QCoro::Task<std::optional<QString>>
    readSelectedTextViaAccessibility(std::optional<FrontmostWindow> front);
    QCoro::Task<QString> captureSelectedTextViaClipboard(std::optional<FrontmostWindow> front,
                                                         std::function<bool()> isCancelled);
    ClipboardRestorer& restorer();

    std::shared_ptr<KeySynthesizer> m_keys;
    std::shared_ptr<FrontmostWindowSource> m_windows;
    std::shared_ptr<AccessibleSelectionReader> m_accessibility;
    ClipboardRestorer* m_restorer;
};
