#pragma once

#include "HotkeyDefinition.h"

#include <QString>

#include <optional>

// What the shortcut capture sheet decides for each key event, without any widget: it recognises a key
// shortcut (saved on the key's press), a Right Ctrl (Fn) based shortcut or a modifier-only chord (saved
// when the last modifier is released), and Escape, which always cancels. Every captured definition keeps
// the id of the definition it replaces. Main thread only.
class HotkeyCaptureMachine {
public:
    struct Outcome {
        enum class Kind {
            None,          // nothing the sheet shows changed
            StatusChanged, // statusText() has a new sentence
            Captured,      // `definition` is the new shortcut; the capture is over
            Cancelled,     // Escape; the capture is over
        };
        Kind kind = Kind::None;
        std::optional<HotkeyDefinition> definition;
    };

    static const QString initialStatusText;
    static const QString unsupportedKeyText;

    explicit HotkeyCaptureMachine(const HotkeyDefinition& currentHotkey);

    Outcome handle(const HotkeyKeyEvent& event);

    // Drops the pending chord and the modifier count (what closing the sheet does).
    void reset();
    // Drops the pending chord and the count and shows the first guidance again: the keys held so far
    // were released where the capture could not see it.
    void startOver();

    const HotkeyDefinition& currentHotkey() const { return m_currentHotkey; }
    const QString& statusText() const { return m_statusText; }
    const std::optional<HotkeyDefinition>& pendingModifierCapture() const { return m_pendingModifierCapture; }
    int lastCaptureModifierCount() const { return m_lastCaptureModifierCount; }

    // How many of the five capture modifiers (Command, Option, Control, Shift, Fn) the flags hold.
    static int modifierCount(std::uint64_t modifierFlags);

private:
    // The chord held right now becomes the pending one.
    Outcome holdChord(std::uint64_t maskedFlags, int count);
    Outcome finish(Outcome outcome);

    HotkeyDefinition m_currentHotkey;
    QString m_statusText = initialStatusText;
    std::optional<HotkeyDefinition> m_pendingModifierCapture;
    int m_lastCaptureModifierCount = 0;
};
