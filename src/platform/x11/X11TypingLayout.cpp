#include "X11TypingLayout.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

X11TypingLayout X11TypingLayout::read(_XDisplay* display, const QList<unsigned int>& ignoredKeycodes) {
    X11TypingLayout keymap;
    int minKeycode = 0, maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);

    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    keymap.m_capsLockOn = (state.locked_mods & LockMask) != 0;
    // Locked modifiers other than Caps Lock (Num Lock) stay as they are while we type.
    const unsigned int lockedMods = state.locked_mods & ~LockMask;

    if (XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)) {
        for (unsigned int mods : {0u, static_cast<unsigned int>(ShiftMask)}) {
            for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
                if (ignoredKeycodes.contains(static_cast<unsigned int>(keycode))) {
                    continue;
                }
                KeySym keysym = NoSymbol;
                unsigned int consumed = 0;
                const unsigned int coreState = XkbBuildCoreState(mods | lockedMods, state.group);
                if (!XkbTranslateKeyCode(xkb, static_cast<KeyCode>(keycode), coreState, &consumed, &keysym) ||
                    keysym == NoSymbol || IsKeypadKey(keysym)) {
                    continue;
                }
                keymap.addKey(static_cast<unsigned int>(keycode), keysym, mods != 0);
            }
        }
        for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
            if (ignoredKeycodes.contains(static_cast<unsigned int>(keycode))) {
                continue;
            }
            bool hasSymbol = false;
            const int count = XkbKeyNumSyms(xkb, keycode);
            const KeySym* syms = XkbKeySymsPtr(xkb, keycode);
            for (int i = 0; i < count && !hasSymbol; ++i) {
                hasSymbol = syms[i] != NoSymbol;
            }
            if (!hasSymbol) {
                keymap.m_spare.append(static_cast<unsigned int>(keycode));
            }
        }
        XkbFreeKeyboard(xkb, 0, True);
    }

    if (XModifierKeymap* modifiers = XGetModifierMapping(display)) {
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < modifiers->max_keypermod; ++i) {
                const unsigned int keycode = modifiers->modifiermap[modifier * modifiers->max_keypermod + i];
                if (keycode == 0) {
                    continue;
                }
                keymap.m_modifierKeycodes.append(keycode);
                if (modifier == ShiftMapIndex && keymap.m_shiftKeycode == 0) {
                    keymap.m_shiftKeycode = keycode;
                }
                if (modifier == ControlMapIndex && keymap.m_controlKeycode == 0) {
                    keymap.m_controlKeycode = keycode;
                }
            }
        }
        XFreeModifiermap(modifiers);
    }
    return keymap;
}

void X11TypingLayout::addKey(unsigned int keycode, KeySym keysym, bool shift) {
    const Stroke stroke{keycode, shift};
    m_byKeysym.try_emplace(keysym, stroke);
    if (const auto character = characterForKeysym(keysym)) {
        m_byCharacter.try_emplace(*character, stroke);
    }
}

void X11TypingLayout::setModifierKeys(unsigned int shiftKeycode, unsigned int controlKeycode) {
    m_shiftKeycode = shiftKeycode;
    m_controlKeycode = controlKeycode;
    m_modifierKeycodes = {shiftKeycode, controlKeycode};
}

std::optional<X11TypingLayout::Stroke> X11TypingLayout::strokeFor(char32_t character) const {
    if (character == U'\n' || character == U'\r' || character == U'\t') {
        return strokeForKeysym(keysymForCharacter(character));
    }
    if (auto it = m_byCharacter.find(character); it != m_byCharacter.end()) {
        return it->second;
    }
    return std::nullopt;
}

std::optional<X11TypingLayout::Stroke> X11TypingLayout::strokeForKeysym(KeySym keysym) const {
    if (auto it = m_byKeysym.find(keysym); it != m_byKeysym.end()) {
        return it->second;
    }
    return std::nullopt;
}

KeySym X11TypingLayout::keysymForCharacter(char32_t character) {
    if (character == U'\n' || character == U'\r') {
        return XK_Return;
    }
    if (character == U'\t') {
        return XK_Tab;
    }
    if ((character >= 0x20 && character <= 0x7e) || (character >= 0xa0 && character <= 0xff)) {
        return character;
    }
    return 0x01000000 | character;
}

std::optional<char32_t> X11TypingLayout::characterForKeysym(KeySym keysym) {
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff)) {
        return static_cast<char32_t>(keysym);
    }
    if (keysym >= 0x01000100 && keysym <= 0x0110ffff) {
        return static_cast<char32_t>(keysym - 0x01000000);
    }
    return std::nullopt;
}
