#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>

// The one translation table between the stored shortcut form (macOS virtual key codes, Carbon modifier
// bits, event modifier flags) and X11 (keysyms, keycodes, modifier masks).
//
// Modifiers: Command = Super, Option = Alt, Control = Control, Shift = Shift. Fn = the Right Ctrl key:
// most keyboards show Linux no Fn key, so the stored Fn shortcuts are held with Right Ctrl, and Control
// means the other (left) Control key.
namespace X11KeyMapping {

// Key codes of the modifier keys as the flags-changed events carry them.
namespace ModifierKeyCode {
constexpr std::uint16_t Command = 55;
constexpr std::uint16_t RightCommand = 54;
constexpr std::uint16_t Shift = 56;
constexpr std::uint16_t RightShift = 60;
constexpr std::uint16_t Option = 58;
constexpr std::uint16_t RightOption = 61;
constexpr std::uint16_t Control = 59;
constexpr std::uint16_t CapsLock = 57;
constexpr std::uint16_t Function = 63;
} // namespace ModifierKeyCode

constexpr std::uint64_t CapsLockFlag = 0x10000;

// The keysym of a stored key code (NoSymbol when the key has none here).
KeySym keysymForKeyCode(std::uint16_t keyCode);
// The stored key code of a keysym, letters in either case (nothing for keys no shortcut can use).
std::optional<std::uint16_t> keyCodeForKeysym(KeySym keysym);

// A modifier key: its event flag (ModifierFlag::…, or CapsLockFlag) and its stored key code.
struct ModifierKey {
    std::uint64_t flag = 0;
    std::uint16_t keyCode = 0;
};
std::optional<ModifierKey> modifierKeyForKeysym(KeySym keysym);

// What one X keycode means on the current keyboard map.
struct KeyMeaning {
    std::optional<ModifierKey> modifier;  // set for modifier keys
    std::optional<std::uint16_t> keyCode; // the stored key code of any other key a shortcut may use
};
KeyMeaning meaningOfKeycode(Display* display, KeyCode keycode);

// The stored key code's X keycode on the current keyboard map (0 when the map has no such key).
KeyCode keycodeForKeyCode(Display* display, std::uint16_t keyCode);

// The core modifier masks on this server (Alt and Super are read from the modifier map).
struct ModifierMasks {
    unsigned int shift = ShiftMask;
    unsigned int control = ControlMask;
    unsigned int alt = Mod1Mask;
    unsigned int super = Mod4Mask;
    unsigned int numLock = Mod2Mask;
    unsigned int capsLock = LockMask;

    static ModifierMasks read(Display* display);
    // The core modifier mask of Carbon modifier bits.
    unsigned int fromCarbon(std::uint32_t carbonModifiers) const;
    // The masks that take part in matching a chord (NumLock, CapsLock and the rest are ignored).
    unsigned int relevant() const { return shift | control | alt | super; }
};

} // namespace X11KeyMapping
