// Qt-based headers before Xlib ones: Xlib's macros clash with Qt.
#include "HotkeyDefinition.h"

#include "X11KeyMapping.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <array>
#include <utility>

namespace X11KeyMapping {
namespace {

// Stored key code → keysym, for every key a shortcut may use (letters by their lower-case keysym).
constexpr std::array<std::pair<std::uint16_t, KeySym>, 74> kKeys{{
    {0, XK_a},
    {11, XK_b},
    {8, XK_c},
    {2, XK_d},
    {14, XK_e},
    {3, XK_f},
    {5, XK_g},
    {4, XK_h},
    {34, XK_i},
    {38, XK_j},
    {40, XK_k},
    {37, XK_l},
    {46, XK_m},
    {45, XK_n},
    {31, XK_o},
    {35, XK_p},
    {12, XK_q},
    {15, XK_r},
    {1, XK_s},
    {17, XK_t},
    {32, XK_u},
    {9, XK_v},
    {13, XK_w},
    {7, XK_x},
    {16, XK_y},
    {6, XK_z},
    {29, XK_0},
    {18, XK_1},
    {19, XK_2},
    {20, XK_3},
    {21, XK_4},
    {23, XK_5},
    {22, XK_6},
    {26, XK_7},
    {28, XK_8},
    {25, XK_9},
    {49, XK_space},
    {36, XK_Return},
    {48, XK_Tab},
    {51, XK_BackSpace},
    {53, XK_Escape},
    {123, XK_Left},
    {124, XK_Right},
    {126, XK_Up},
    {125, XK_Down},
    {122, XK_F1},
    {120, XK_F2},
    {99, XK_F3},
    {118, XK_F4},
    {96, XK_F5},
    {97, XK_F6},
    {98, XK_F7},
    {100, XK_F8},
    {101, XK_F9},
    {109, XK_F10},
    {103, XK_F11},
    {111, XK_F12},
    {105, XK_F13},
    {107, XK_F14},
    {113, XK_F15},
    {106, XK_F16},
    {64, XK_F17},
    {79, XK_F18},
    {80, XK_F19},
    {90, XK_F20},
    {43, XK_comma},
    {47, XK_period},
    {44, XK_slash},
    {41, XK_semicolon},
    {39, XK_apostrophe},
    {33, XK_bracketleft},
    {30, XK_bracketright},
    {27, XK_minus},
    {24, XK_equal},
}};

} // namespace

KeySym keysymForKeyCode(std::uint16_t keyCode) {
    for (const auto& [code, keysym] : kKeys) {
        if (code == keyCode) {
            return keysym;
        }
    }
    return NoSymbol;
}

std::optional<std::uint16_t> keyCodeForKeysym(KeySym keysym) {
    KeySym lower = 0, upper = 0;
    XConvertCase(keysym, &lower, &upper);
    for (const auto& [code, sym] : kKeys) {
        if (sym == lower) {
            return code;
        }
    }
    return std::nullopt;
}

std::optional<ModifierKey> modifierKeyForKeysym(KeySym keysym) {
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
    case XK_Control_R:
        return ModifierKey{ModifierFlag::Function, ModifierKeyCode::Function};
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
