// Qt-based headers before Xlib ones: Xlib's macros clash with Qt.
#include "ShortcutKeys.h"

#include "X11KeyboardState.h"

X11KeyboardState::X11KeyboardState(Display* display) : m_display(display) {}

const X11KeyMapping::KeyMeaning& X11KeyboardState::meaning(KeyCode keycode) {
    auto& slot = m_meanings[keycode];
    if (!slot) {
        slot = X11KeyMapping::meaningOfKeycode(m_display, keycode);
    }
    return *slot;
}

std::uint64_t X11KeyboardState::modifierFlags() const {
    std::uint64_t flags = 0;
    for (std::size_t keycode = 0; keycode < m_held.size(); ++keycode) {
        if (m_held.test(keycode)) {
            if (const auto& known = m_meanings[keycode]; known && known->modifier) {
                flags |= known->modifier->flag;
            }
        }
    }
    // Caps lock is a lock, not a held modifier: it never counts as a flag here.
    return flags & ModifierFlag::ShortcutMask;
}

std::optional<GlobalKeyEvent> X11KeyboardState::handle(KeyCode keycode, bool down) {
    const X11KeyMapping::KeyMeaning& key = meaning(keycode);
    const bool wasHeld = m_held.test(keycode);
    m_held.set(keycode, down);

    if (key.modifier) {
        if (key.modifier->flag == X11KeyMapping::CapsLockFlag) {
            // A caps lock toggle changes no shortcut flag; it is reported once, on the press.
            if (!down || wasHeld) {
                return std::nullopt;
            }
        } else if (down == wasHeld) {
            return std::nullopt; // a repeat of a held modifier, or a release we never saw pressed
        }
        return GlobalKeyEvent{GlobalKeyEvent::Kind::FlagsChanged, key.modifier->keyCode, modifierFlags(),
                              false};
    }
    if (!key.keyCode) {
        return std::nullopt;
    }
    if (down) {
        return GlobalKeyEvent{GlobalKeyEvent::Kind::KeyDown, *key.keyCode, modifierFlags(), wasHeld};
    }
    return GlobalKeyEvent{GlobalKeyEvent::Kind::KeyUp, *key.keyCode, modifierFlags(), false};
}

void X11KeyboardState::seedFromServer() {
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    for (int keycode = 0; keycode < 256; ++keycode) {
        const bool down = keys[keycode / 8] & (1 << (keycode % 8));
        m_held.set(keycode, down);
        if (down) {
            meaning(static_cast<KeyCode>(keycode));
        }
    }
}

void X11KeyboardState::forgetKeyMeanings() {
    for (std::size_t keycode = 0; keycode < m_meanings.size(); ++keycode) {
        m_meanings[keycode].reset();
        if (m_held.test(keycode)) {
            meaning(static_cast<KeyCode>(keycode)); // held keys keep counting in the flags
        }
    }
}
