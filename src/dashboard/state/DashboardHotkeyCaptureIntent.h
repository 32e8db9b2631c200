#pragma once

#include <QString>

#include <optional>

// Which of the three global shortcuts a capture edits: dictation, AI Mode or Typing Mode.
enum class DashboardHotkeyCaptureIntent { Dictation, SmartEdit, Vdi };

namespace DashboardHotkeyCaptureIntents {

// The intent's identity as text: "dictation", "smartEdit", "vdi".
inline QString rawValue(DashboardHotkeyCaptureIntent intent) {
    switch (intent) {
    case DashboardHotkeyCaptureIntent::Dictation:
        return QStringLiteral("dictation");
    case DashboardHotkeyCaptureIntent::SmartEdit:
        return QStringLiteral("smartEdit");
    case DashboardHotkeyCaptureIntent::Vdi:
        return QStringLiteral("vdi");
    }
    return {};
}

// The intent whose raw value is exactly `text`; nothing for any other text.
inline std::optional<DashboardHotkeyCaptureIntent> fromRawValue(const QString& text) {
    for (const auto intent : {DashboardHotkeyCaptureIntent::Dictation,
                              DashboardHotkeyCaptureIntent::SmartEdit, DashboardHotkeyCaptureIntent::Vdi}) {
        if (rawValue(intent) == text) {
            return intent;
        }
    }
    return std::nullopt;
}

// The mode as the status sentences name it: "Dictation", "AI Mode", "Typing Mode".
inline QString modeName(DashboardHotkeyCaptureIntent intent) {
    switch (intent) {
    case DashboardHotkeyCaptureIntent::Dictation:
        return QStringLiteral("Dictation");
    case DashboardHotkeyCaptureIntent::SmartEdit:
        return QStringLiteral("AI Mode");
    case DashboardHotkeyCaptureIntent::Vdi:
        return QStringLiteral("Typing Mode");
    }
    return {};
}

// The capture sheet's heading: "Capture Dictation Shortcut", "Capture AI Mode Shortcut", ...
inline QString sheetTitle(DashboardHotkeyCaptureIntent intent) {
    return QStringLiteral("Capture %1 Shortcut").arg(modeName(intent));
}

} // namespace DashboardHotkeyCaptureIntents
