#pragma once

#include "HotkeyDefinition.h"

#include <QString>

// What a global shortcut starts: plain dictation, AI Mode or Typing Mode.
enum class HotkeyIntent { Dictation, SmartEdit, Vdi };

// The two edges of a shortcut.
enum class HotkeyEvent { Pressed, Released };

// The name log lines print: "dictation", "smartEdit", "vdi".
inline QString hotkeyIntentName(HotkeyIntent intent) {
    switch (intent) {
    case HotkeyIntent::Dictation:
        return QStringLiteral("dictation");
    case HotkeyIntent::SmartEdit:
        return QStringLiteral("smartEdit");
    case HotkeyIntent::Vdi:
        return QStringLiteral("vdi");
    }
    return QStringLiteral("dictation");
}

// One configured shortcut and what it starts. The list order is the delivery order.
struct HotkeyBinding {
    HotkeyIntent intent = HotkeyIntent::Dictation;
    HotkeyDefinition definition;

    friend bool operator==(const HotkeyBinding&, const HotkeyBinding&) = default;
};
