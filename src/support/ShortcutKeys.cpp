#include "ShortcutKeys.h"

namespace {

// Every key a shortcut may use. Keysyms are the X11 / xkbcommon numbers.
constexpr ShortcutKey kShortcutKeys[] = {
    // Letters (the keysym of the lower-case letter)
    {0, "A", 0x61},
    {11, "B", 0x62},
    {8, "C", 0x63},
    {2, "D", 0x64},
    {14, "E", 0x65},
    {3, "F", 0x66},
    {5, "G", 0x67},
    {4, "H", 0x68},
    {34, "I", 0x69},
    {38, "J", 0x6a},
    {40, "K", 0x6b},
    {37, "L", 0x6c},
    {46, "M", 0x6d},
    {45, "N", 0x6e},
    {31, "O", 0x6f},
    {35, "P", 0x70},
    {12, "Q", 0x71},
    {15, "R", 0x72},
    {1, "S", 0x73},
    {17, "T", 0x74},
    {32, "U", 0x75},
    {9, "V", 0x76},
    {13, "W", 0x77},
    {7, "X", 0x78},
    {16, "Y", 0x79},
    {6, "Z", 0x7a},
    // Digits
    {29, "0", 0x30},
    {18, "1", 0x31},
    {19, "2", 0x32},
    {20, "3", 0x33},
    {21, "4", 0x34},
    {23, "5", 0x35},
    {22, "6", 0x36},
    {26, "7", 0x37},
    {28, "8", 0x38},
    {25, "9", 0x39},
    // Named keys
    {49, "Space", 0x0020},        // space
    {36, "Return", 0xff0d},       // Return
    {48, "Tab", 0xff09},          // Tab
    {51, "Backspace", 0xff08},    // BackSpace
    {53, "Escape", 0xff1b},       // Escape
    {123, "Left Arrow", 0xff51},  // Left
    {124, "Right Arrow", 0xff53}, // Right
    {126, "Up Arrow", 0xff52},    // Up
    {125, "Down Arrow", 0xff54},  // Down
    // Function keys (F1 = 0xffbe, the rest follow in order)
    {122, "F1", 0xffbe, true},
    {120, "F2", 0xffbf, true},
    {99, "F3", 0xffc0, true},
    {118, "F4", 0xffc1, true},
    {96, "F5", 0xffc2, true},
    {97, "F6", 0xffc3, true},
    {98, "F7", 0xffc4, true},
    {100, "F8", 0xffc5, true},
    {101, "F9", 0xffc6, true},
    {109, "F10", 0xffc7, true},
    {103, "F11", 0xffc8, true},
    {111, "F12", 0xffc9, true},
    {105, "F13", 0xffca, true},
    {107, "F14", 0xffcb, true},
    {113, "F15", 0xffcc, true},
    {106, "F16", 0xffcd, true},
    {64, "F17", 0xffce, true},
    {79, "F18", 0xffcf, true},
    {80, "F19", 0xffd0, true},
    {90, "F20", 0xffd1, true},
    // The Fn role: Right Ctrl (most keyboards show Linux no Fn key)
    {ShortcutKeys::functionKeyCode, "Right Ctrl", 0xffe4}, // Control_R
    // Punctuation
    {43, ",", 0x2c},
    {47, ".", 0x2e},
    {44, "/", 0x2f},
    {41, ";", 0x3b},
    {39, "'", 0x27},
    {33, "[", 0x5b},
    {30, "]", 0x5d},
    {27, "-", 0x2d},
    {24, "=", 0x3d},
};

QMap<std::uint16_t, QString> namesOf(bool standaloneOnly) {
    QMap<std::uint16_t, QString> names;
    for (const ShortcutKey& key : kShortcutKeys) {
        if (!standaloneOnly || key.standaloneSafe) {
            names.insert(key.keyCode, QString::fromUtf8(key.name));
        }
    }
    return names;
}

} // namespace

namespace ShortcutKeys {

std::span<const ShortcutKey> all() {
    return kShortcutKeys;
}

const QMap<std::uint16_t, QString>& names() {
    static const QMap<std::uint16_t, QString> names = namesOf(false);
    return names;
}

const QMap<std::uint16_t, QString>& standaloneSafeNames() {
    static const QMap<std::uint16_t, QString> names = namesOf(true);
    return names;
}

} // namespace ShortcutKeys
