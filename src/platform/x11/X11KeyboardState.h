#pragma once

#include "GlobalKeyEvent.h"
#include "X11KeyMapping.h"

#include <X11/Xlib.h>

#include <array>
#include <bitset>
#include <optional>

// Turns raw X key presses and releases into GlobalKeyEvents: modifier keys become flags changes, the
// flags come from the modifier keys held, a press of a key already held is a repeat, and keys that no
// shortcut can use are dropped here (they never leave this class).
class X11KeyboardState {
public:
    explicit X11KeyboardState(Display* display);

    std::optional<GlobalKeyEvent> handle(KeyCode keycode, bool down);

    // Takes the keys held right now as the starting state (no events).
    void seedFromServer();
    // The keyboard map changed: look the keycodes up again.
    void forgetKeyMeanings();

    std::uint64_t modifierFlags() const;

private:
    const X11KeyMapping::KeyMeaning& meaning(KeyCode keycode);

    Display* m_display;
    std::bitset<256> m_held;
    std::array<std::optional<X11KeyMapping::KeyMeaning>, 256> m_meanings;
};
