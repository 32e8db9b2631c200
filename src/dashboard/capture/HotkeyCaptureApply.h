#pragma once

#include "DashboardHotkeyCaptureIntent.h"
#include "HotkeyDefinition.h"

class AppSettings;
class DashboardState;

// The stored shortcut the intent edits: the dictation, AI Mode or Typing Mode shortcut.
HotkeyDefinition currentHotkey(DashboardHotkeyCaptureIntent intent, const AppSettings& settings);

// Stores a captured shortcut for the intent, unless another mode already uses it (enabled or not; the id
// plays no part in the comparison). A stored AI Mode or Typing Mode shortcut also switches its mode on. The
// outcome sentence goes to the state's hotkeyStatusText, and the capture intent is cleared in every case.
void applyCapturedHotkey(const HotkeyDefinition& captured, DashboardHotkeyCaptureIntent intent,
                         AppSettings& settings, DashboardState& state);
