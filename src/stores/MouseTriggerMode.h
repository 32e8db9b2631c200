#pragma once

#include <QString>

#include <optional>

// What holding the middle mouse button starts. The settings keep it as its raw text
// ("quillvane.mouse_shortcut_mode").
enum class MouseTriggerMode { Off, Dictation, Vdi, AiRefinement };

// "off", "dictation", "vdi", "ai_refinement".
inline QString toRaw(MouseTriggerMode mode) {
    switch (mode) {
    case MouseTriggerMode::Off:
        return QStringLiteral("off");
    case MouseTriggerMode::Dictation:
        return QStringLiteral("dictation");
    case MouseTriggerMode::Vdi:
        return QStringLiteral("vdi");
    case MouseTriggerMode::AiRefinement:
        return QStringLiteral("ai_refinement");
    }
    return QStringLiteral("off");
}

// Raw text to an enumeration case: `fromRaw<MouseTriggerMode>(text)`.
template <class Enum> std::optional<Enum> fromRaw(const QString& raw);

// Exactly the four raw texts (case-sensitive); nothing for any other text.
template <> inline std::optional<MouseTriggerMode> fromRaw<MouseTriggerMode>(const QString& raw) {
    for (const MouseTriggerMode mode : {MouseTriggerMode::Off, MouseTriggerMode::Dictation,
                                        MouseTriggerMode::Vdi, MouseTriggerMode::AiRefinement}) {
        if (raw == toRaw(mode)) {
            return mode;
        }
    }
    return std::nullopt;
}
