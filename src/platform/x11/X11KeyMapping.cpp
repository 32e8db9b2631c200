// Qt-based headers before Xlib ones: Xlib's macros clash with Qt.
#include "ShortcutKeys.h"

#include "X11KeyMapping.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace X11KeyMapping {
namespace {

// The keys of the shared shortcut table that are ordinary keys here: every one but the Fn role, which is
// a modifier key (Right Ctrl) and handled as one.
bool isOrdinaryKey(const ShortcutKey& key) {
    return key.keyCode != ModifierKeyCode::Function;
}

// The key that plays the Fn role, from the same table that names it.
KeySym functionRoleKeysym() {
    for (const ShortcutKey& key : ShortcutKeys::all()) {
        if (!isOrdinaryKey(key)) {
            return key.keysym;
        }
    }
    return NoSymbol;
}

} // namespace

KeySym keysymForKeyCode(std::uint16_t keyCode) {
    for (const ShortcutKey& key : ShortcutKeys::all()) {
        if (key.keyCode == keyCode && isOrdinaryKey(key)) {
            return key.keysym;
        }
    }
    return NoSymbol;
}

std::optional<std::uint16_t> keyCodeForKeysym(KeySym keysym) {
    KeySym lower = 0, upper = 0;
    XConvertCase(keysym, &lower, &upper);
    for (const ShortcutKey& key : ShortcutKeys::all()) {
        if (key.keysym == lower && isOrdinaryKey(key)) {
            return key.keyCode;
        }
    }
    return std::nullopt;
}

std::optional<ModifierKey> modifierKeyForKeysym(KeySym keysym) {
    static const KeySym functionRole = functionRoleKeysym();
    if (keysym == functionRole) {
        return ModifierKey{ModifierFlag::Function, ModifierKeyCode::Function};
    }
    switch (keysym) {
    case XK_Super_L:
        return ModifierKey{ModifierFlag::Command, ModifierKeyCode::Command};
    case XK_Super_R:
        return ModifierKey{ModifierFlag::Command, ModifierKeyCode::RightCommand};
    case XK_Shift_L:
        return ModifierKey{ModifierFlag::Shift, ModifierKeyCode::Shift};
    case XK_Shift_R:
        return ModifierKey{ModifierFlag::Shift, ModifierKeyCode::RightShift};
    case XK_Alt_L:
    case XK_Meta_L:
        return ModifierKey{ModifierFlag::Option, ModifierKeyCode::Option};
    case XK_Alt_R:
    case XK_Meta_R:
        return ModifierKey{ModifierFlag::Option, ModifierKeyCode::RightOption};
    case XK_Control_L:
        return ModifierKey{ModifierFlag::Control, ModifierKeyCode::Control};
    case XK_Caps_Lock:
        return ModifierKey{CapsLockFlag, ModifierKeyCode::CapsLock};
    default:
        return std::nullopt;
    }
}

KeyMeaning meaningOfKeycode(Display* display, KeyCode keycode) {
    KeyMeaning meaning;
    // The unshifted keysym of the first group; other groups (a second layout) only when the first has
    // no key a shortcut may use.
    for (int group = 0; group < XkbNumKbdGroups; ++group) {
        const KeySym keysym = XkbKeycodeToKeysym(display, keycode, group, 0);
        if (keysym == NoSymbol) {
            continue;
        }
        if (group == 0) {
            if (auto modifier = modifierKeyForKeysym(keysym)) {
                meaning.modifier = modifier;
                return meaning;
            }
        }
        if (auto code = keyCodeForKeysym(keysym)) {
            meaning.keyCode = code;
            return meaning;
        }
    }
    return meaning;
}

KeyCode keycodeForKeyCode(Display* display, std::uint16_t keyCode) {
    const KeySym keysym = keysymForKeyCode(keyCode);
    return keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
}

ModifierMasks ModifierMasks::read(Display* display) {
    ModifierMasks masks;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) {
        return masks;
    }
    auto maskOf = [&](KeySym keysym) -> unsigned int {
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        if (keycode == 0) {
            return 0;
        }
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < map->max_keypermod; ++i) {
                if (map->modifiermap[modifier * map->max_keypermod + i] == keycode) {
                    return 1u << modifier;
                }
            }
        }
        return 0;
    };
    if (unsigned int alt = maskOf(XK_Alt_L)) {
        masks.alt = alt;
    }
    if (unsigned int super = maskOf(XK_Super_L)) {
        masks.super = super;
    }
    if (unsigned int numLock = maskOf(XK_Num_Lock)) {
        masks.numLock = numLock;
    }
    XFreeModifiermap(map);
    return masks;
}

unsigned int ModifierMasks::fromCarbon(std::uint32_t carbonModifiers) const {
    unsigned int mask = 0;
    if (carbonModifiers & CarbonModifier::Command) {
        mask |= super;
    }
    if (carbonModifiers & CarbonModifier::Shift) {
        mask |= shift;
    }
    if (carbonModifiers & CarbonModifier::Option) {
        mask |= alt;
    }
    if (carbonModifiers & CarbonModifier::Control) {
        mask |= control;
    }
    return mask;
}

} // namespace X11KeyMapping
