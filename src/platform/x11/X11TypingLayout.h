#pragma once

#include <QList>

#include <map>
#include <optional>

// The keyboard layout as the X server has it now, seen from the key events we can synthesize: which key
// (with Shift or without) gives a character in the active group, which key codes carry no symbol at all
// (spares we may remap), and which keys are modifiers.
//
// Only the levels reached with no modifier or with Shift alone are used; a character that needs AltGr or a
// dead key is typed on a spare key instead. Caps Lock is left out: typing switches it off while it runs.
struct _XDisplay;

class X11TypingLayout {
public:
    using KeySym = unsigned long; // Xlib's KeySym, without pulling Xlib's macros into Qt code
    struct Stroke {
        unsigned int keycode = 0;
        bool shift = false;
        friend bool operator==(const Stroke&, const Stroke&) = default;
    };

    X11TypingLayout() = default;
    // Reads the layout of the core keyboard's active group, leaving out `ignoredKeycodes` altogether.
    static X11TypingLayout read(_XDisplay* display, const QList<unsigned int>& ignoredKeycodes = {});

    // The key that types `character` (line breaks give Return, tabs Tab).
    std::optional<Stroke> strokeFor(char32_t character) const;
    std::optional<Stroke> strokeForKeysym(KeySym keysym) const;
    const QList<unsigned int>& spareKeycodes() const { return m_spare; }

    unsigned int shiftKeycode() const { return m_shiftKeycode; }
    unsigned int controlKeycode() const { return m_controlKeycode; }
    const QList<unsigned int>& modifierKeycodes() const { return m_modifierKeycodes; }
    bool capsLockOn() const { return m_capsLockOn; }

    // Building a layout by hand (tests). The first key added for a keysym wins.
    void addKey(unsigned int keycode, KeySym keysym, bool shift);
    void addSpareKeycode(unsigned int keycode) { m_spare.append(keycode); }
    void setModifierKeys(unsigned int shiftKeycode, unsigned int controlKeycode);

    // The keysym a key must carry to type `character`: Latin-1 keysyms for Latin-1, Unicode keysyms
    // (0x01000000 + code point) for everything else, Return and Tab for line breaks and tabs.
    static KeySym keysymForCharacter(char32_t character);
    // The character a keysym types, for Latin-1 and Unicode keysyms.
    static std::optional<char32_t> characterForKeysym(KeySym keysym);

private:
    std::map<KeySym, Stroke> m_byKeysym;
    std::map<char32_t, Stroke> m_byCharacter;
    QList<unsigned int> m_spare;
    QList<unsigned int> m_modifierKeycodes;
    unsigned int m_shiftKeycode = 0;
    unsigned int m_controlKeycode = 0;
    bool m_capsLockOn = false;
};
