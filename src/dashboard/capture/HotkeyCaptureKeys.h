#pragma once

#include <cstdint>

// What one key of this desktop is to a shortcut capture: a modifier key (its event flag and its stored key
// code) or another key (its stored key code, or unknownKeyCode when no shortcut may use it).
struct CaptureKey {
    std::uint64_t modifierFlag = 0; // a ModifierFlag bit, or the Caps Lock flag for lock keys; 0 otherwise
    std::uint16_t keyCode = 0;

    bool isModifier() const { return modifierFlag != 0; }
};

namespace HotkeyCaptureKeys {

// Outside the shortcut key table, so the capture refuses the key.
constexpr std::uint16_t unknownKeyCode = 0xFFFF;

// The key of a key event. On X11 the key is read from the keyboard map by its keycode (the unshifted
// symbol, so Shift never changes which key it is); without a connection to the X server by its keysym,
// and for events that carry no native data (synthesized ones) by the Qt key, where plain Control is the
// left Control key. Super is Command, Alt is Option, Right Ctrl is Fn.
CaptureKey keyOf(std::uint32_t nativeScanCode, std::uint32_t nativeVirtualKey, int qtKey);

} // namespace HotkeyCaptureKeys
