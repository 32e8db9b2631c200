#include "HotkeyCaptureApply.h"

#include "AppSettings.h"
#include "DashboardState.h"

#include <array>

using Intent = DashboardHotkeyCaptureIntent;

namespace {

bool sameShortcut(const HotkeyDefinition& a, const HotkeyDefinition& b) {
    return a.keyCode == b.keyCode && a.carbonModifiers == b.carbonModifiers &&
           a.includesFunctionKey == b.includesFunctionKey && a.isModifierOnly == b.isModifierOnly;
}

// The other two modes, in the order their shortcuts are checked for a clash.
std::array<Intent, 2> otherModes(Intent intent) {
    switch (intent) {
    case Intent::Dictation:
        return {Intent::SmartEdit, Intent::Vdi};
    case Intent::SmartEdit:
        return {Intent::Dictation, Intent::Vdi};
    case Intent::Vdi:
        break;
    }
    return {Intent::Dictation, Intent::SmartEdit};
}

} // namespace

HotkeyDefinition currentHotkey(Intent intent, const AppSettings& settings) {
    switch (intent) {
    case Intent::Dictation:
        return settings.hotkey();
    case Intent::SmartEdit:
        return settings.smartEditHotkey();
    case Intent::Vdi:
        break;
    }
    return settings.vdiHotkey();
}

void applyCapturedHotkey(const HotkeyDefinition& captured, Intent intent, AppSettings& settings,
                         DashboardState& state) {
    const QString keys = captured.displayString();
    for (const Intent other : otherModes(intent)) {
        if (sameShortcut(captured, currentHotkey(other, settings))) {
            state.setHotkeyStatusText(
                QStringLiteral("%1 is already assigned to %2. Choose a different shortcut.")
                    .arg(keys, DashboardHotkeyCaptureIntents::modeName(other)));
            state.setCaptureIntent(std::nullopt);
            return;
        }
    }

    // The setters store and announce even an unchanged value, so the hot-key registration always hears
    // of a capture, and capturing for a switched-off mode switches it on.
    switch (intent) {
    case Intent::Dictation:
        settings.setHotkey(captured);
        break;
    case Intent::SmartEdit:
        settings.setSmartEditHotkey(captured);
        settings.setSmartEditHotkeyEnabled(true);
        break;
    case Intent::Vdi:
        settings.setVdiHotkey(captured);
        settings.setVdiHotkeyEnabled(true);
        break;
    }
    state.setHotkeyStatusText(QStringLiteral("Updated %1 shortcut to %2.")
                                  .arg(DashboardHotkeyCaptureIntents::modeName(intent), keys));
    state.setCaptureIntent(std::nullopt);
}
