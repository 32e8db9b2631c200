#pragma once

#include <cstdint>
#include <optional>

// What one key of this desktop is to a shortcut: a modifier key (its event flag and its stored key code),
// another key a shortcut may use (its stored key code), or a key no shortcut may use (no key code).
struct DesktopKey {
    std::uint64_t modifierFlag = 0; // a ModifierFlag bit, or the Caps Lock flag for lock keys; 0 otherwise
    std::optional<std::uint16_t> keyCode;
};

namespace KeyboardMap {

// The key of a key event of this application's windows, as the window system's keyboard map names it.
// On X11 the key is read from the keyboard map by its keycode (the unshifted symbol, so Shift never
// changes which key it is); without a connection to the X server by its keysym, and for events that carry
// no native data (synthesized ones) by the Qt key, where plain Control is the left Control key. Super is
// Command, Alt is Option, Right Ctrl is Fn; Num Lock and Scroll Lock count as Caps Lock. Main thread only.
DesktopKey keyOfEvent(std::uint32_t nativeScanCode, std::uint32_t nativeVirtualKey, int qtKey);

} // namespace KeyboardMap
