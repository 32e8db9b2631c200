#pragma once

#include "ShortcutKeys.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

// A platform-neutral key event: a key going down, or the set of held modifiers changing. Key codes are
// the stored virtual key codes (the X11 layer translates), flags the ModifierFlag bits.
struct HotkeyKeyEvent {
    enum class Kind { KeyDown, FlagsChanged };
    Kind kind = Kind::KeyDown;
    std::uint16_t keyCode = 0;
    std::uint64_t modifierFlags = 0;
};

// The stored form of one global shortcut. Ids: 1 dictation, 2 AI Mode, 3 Typing Mode.
// Key code 0 with Fn always means a modifier-only Fn shortcut.
struct HotkeyDefinition {
    std::uint32_t id = 0;
    std::uint32_t keyCode = 0;
    std::uint32_t carbonModifiers = 0;
    bool includesFunctionKey = false;
    bool isModifierOnly = false;

    friend bool operator==(const HotkeyDefinition&, const HotkeyDefinition&) = default;

    static constexpr std::uint16_t functionKeyCode = ShortcutKeys::functionKeyCode;

    // The keys to press, as this desktop names them, joined by " + ": "Super", "Shift", "Alt", "Ctrl" (in
    // that order), "Right Ctrl" for Fn, then the key's name ("Key 117" for a code outside the table).
    QString displayString() const;
    static QString displayString(std::uint32_t keyCode, std::uint32_t carbonModifiers,
                                 bool includesFunctionKey, bool isModifierOnly);
    // Carbon modifier bits of event modifier flags (Fn and every other flag are ignored).
    static std::uint32_t carbonModifiersFrom(std::uint64_t modifierFlags);
    static std::optional<HotkeyDefinition> captured(std::uint32_t id, const HotkeyKeyEvent& event);

    // The 75 keys a shortcut may use (the Fn role is played by Right Ctrl here), in one table.
    static std::span<const ShortcutKey> shortcutKeys();
    // The same table by key code: every key's name, and the 20 (F1-F20) that may be used without modifier.
    static const QMap<std::uint16_t, QString>& supportedKeyNames();
    static const QMap<std::uint16_t, QString>& standaloneSafeKeyNames();

    // JSON form: {"id","keyCode","carbonModifiers","includesFunctionKey","isModifierOnly"}.
    QJsonObject toJson() const;
    QByteArray toJsonText() const;
    // Nothing when "id", "keyCode" or "carbonModifiers" is missing or not an unsigned 32-bit integer,
    // when "keyCode" exceeds the 16-bit range of virtual key codes, or when a flag is present with
    // another kind than a Boolean (absent or null flags read as false). Other keys are ignored.
    static std::optional<HotkeyDefinition> fromJson(const QJsonValue& json);
    static std::optional<HotkeyDefinition> fromJsonText(const QByteArray& text);
};
