#pragma once

#include <cstdint>

// One keyboard event seen system-wide, in the stored shortcut terms: virtual key codes and event modifier
// flags (ModifierFlag bits, derived from the modifier keys held at that moment). Keys no shortcut can use
// never become one of these.
struct GlobalKeyEvent {
    enum class Kind { KeyDown, KeyUp, FlagsChanged };
    Kind kind = Kind::KeyDown;
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
    bool isRepeat = false; // a key-down of a key that is already held

    friend bool operator==(const GlobalKeyEvent&, const GlobalKeyEvent&) = default;
};
