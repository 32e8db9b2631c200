#include "HotkeyCaptureMachine.h"

#include <bit>

namespace {

constexpr std::uint16_t escapeKeyCode = 53;

bool isShiftOnly(std::uint64_t maskedFlags) {
    return maskedFlags == ModifierFlag::Shift;
}

} // namespace

const QString HotkeyCaptureMachine::initialStatusText = QStringLiteral(
    "Hold the shortcut you want, then release to save it. Single modifiers except Shift, modifier combos, "
    "Right Ctrl-based shortcuts, and standalone F-keys are supported.");

const QString HotkeyCaptureMachine::unsupportedKeyText =
    QStringLiteral("Shortcut must be a supported key or modifier. Single modifiers except Shift, Right "
                   "Ctrl-based shortcuts, "
                   "and standalone F-keys are allowed.");

HotkeyCaptureMachine::HotkeyCaptureMachine(const HotkeyDefinition& currentHotkey)
    : m_currentHotkey(currentHotkey) {}

int HotkeyCaptureMachine::modifierCount(std::uint64_t modifierFlags) {
    return std::popcount(modifierFlags & ModifierFlag::ShortcutMask);
}

void HotkeyCaptureMachine::reset() {
    m_pendingModifierCapture.reset();
    m_lastCaptureModifierCount = 0;
}

void HotkeyCaptureMachine::startOver() {
    reset();
    m_statusText = initialStatusText;
}

HotkeyCaptureMachine::Outcome HotkeyCaptureMachine::finish(Outcome outcome) {
    reset();
    return outcome;
}

HotkeyCaptureMachine::Outcome HotkeyCaptureMachine::holdChord(std::uint64_t maskedFlags, int count) {
    const HotkeyDefinition chord{m_currentHotkey.id, 0, HotkeyDefinition::carbonModifiersFrom(maskedFlags),
                                 (maskedFlags & ModifierFlag::Function) != 0, true};
    m_pendingModifierCapture = chord;
    m_lastCaptureModifierCount = count;
    m_statusText = QStringLiteral("Release the keys to save %1.").arg(chord.displayString());
    return {Outcome::Kind::StatusChanged, std::nullopt};
}

HotkeyCaptureMachine::Outcome HotkeyCaptureMachine::handle(const HotkeyKeyEvent& event) {
    // Escape comes first, so it cancels with or without modifiers and can never become a shortcut.
    if (event.keyCode == escapeKeyCode) {
        return finish({Outcome::Kind::Cancelled, std::nullopt});
    }

    const std::uint64_t masked = event.modifierFlags & ModifierFlag::ShortcutMask;
    const int count = modifierCount(masked);

    if (event.kind == HotkeyKeyEvent::Kind::KeyDown && event.keyCode == HotkeyDefinition::functionKeyCode) {
        // The Right Ctrl (Fn) key itself going down: a chord, never a key shortcut.
        if (masked == 0 || isShiftOnly(masked) || count < m_lastCaptureModifierCount) {
            return {};
        }
        return holdChord(masked, count);
    }

    if (event.kind == HotkeyKeyEvent::Kind::KeyDown) {
        const auto captured = HotkeyDefinition::captured(m_currentHotkey.id, event);
        if (!captured) {
            // The chord held so far was not what the user was reaching for: releasing the modifiers
            // afterwards saves nothing. The modifiers still held count as already seen, so only a modifier
            // pressed from here on starts a new chord.
            m_pendingModifierCapture.reset();
            m_lastCaptureModifierCount = count;
            m_statusText = unsupportedKeyText;
            return {Outcome::Kind::StatusChanged, std::nullopt};
        }
        return finish({Outcome::Kind::Captured, captured});
    }

    // The set of held modifiers changed.
    if (count > 0) {
        const int before = m_lastCaptureModifierCount;
        m_lastCaptureModifierCount = count;
        if (count >= before && !isShiftOnly(masked)) {
            return holdChord(masked, count);
        }
        return {};
    }
    if (!m_pendingModifierCapture) {
        m_lastCaptureModifierCount = 0;
        return {};
    }
    const HotkeyDefinition chord = *m_pendingModifierCapture;
    return finish({Outcome::Kind::Captured, chord});
}
