#pragma once

#include <QMap>
#include <QString>

#include <cstdint>
#include <span>

// The shortcut key vocabulary shared by the stored shortcut form and the desktop layer: event modifier
// flags, the stored modifier bits, and the table of keys a shortcut may use with their names.

// Event modifier-flag bits, as the stored shortcut format and the key monitors use them.
namespace ModifierFlag {
constexpr std::uint64_t Shift = 0x20000;
constexpr std::uint64_t Control = 0x40000;
constexpr std::uint64_t Option = 0x80000;
constexpr std::uint64_t Command = 0x100000;
constexpr std::uint64_t Function = 0x800000;
constexpr std::uint64_t ShortcutMask = 0x9E0000; // Command, Shift, Option, Control, Fn
} // namespace ModifierFlag

// Modifier bits of a stored shortcut. Fn has no bit here.
namespace CarbonModifier {
constexpr std::uint32_t Command = 0x100;
constexpr std::uint32_t Shift = 0x200;
constexpr std::uint32_t Option = 0x800;
constexpr std::uint32_t Control = 0x1000;
} // namespace CarbonModifier

// One key a shortcut may use: its stored (virtual) key code, the name shown for it, and the keysym of the
// key that plays its part on this desktop (keysym numbers are shared by X11 and xkbcommon). The X11 layer
// translates stored key codes through this same table.
struct ShortcutKey {
    std::uint16_t keyCode = 0;
    const char* name = "";
    std::uint32_t keysym = 0;
    bool standaloneSafe = false; // may form a shortcut without any modifier (F1-F20)
};

namespace ShortcutKeys {

// The stored key code of the Fn key (played by Right Ctrl here).
constexpr std::uint16_t functionKeyCode = 63;

// The 75 keys a shortcut may use (the Fn role is played by Right Ctrl here), in one table.
std::span<const ShortcutKey> all();
// The same table by key code: every key's name, and the 20 (F1-F20) that may be used without modifier.
const QMap<std::uint16_t, QString>& names();
const QMap<std::uint16_t, QString>& standaloneSafeNames();

} // namespace ShortcutKeys
