#pragma once

#include "DashboardHotkeyCaptureIntent.h"
#include "HotkeyDefinition.h"
#include "SettingsRules.h"

#include <QList>
#include <QString>

// The rules of the Shortcuts & Triggers card that need no widget: the row texts and status sentences, the
// middle-mouse options, the typing-delay menu and the silence slider's mapping.
namespace ShortcutSettingsRules {

using SettingsRules::Option;

// A shortcut row's subtitle: the keys of the stored shortcut, or "Disabled" while its mode is off (the
// keys of a disabled shortcut are not shown).
QString shortcutSubtitle(const HotkeyDefinition& hotkey, bool enabled);
// The label of a mode's switch button: "Disable" while the mode is on, "Enable" while it is off.
QString enableButtonLabel(bool enabled);
// The status sentence of "Change": "Press the new shortcut for AI Mode."
QString captureSentence(DashboardHotkeyCaptureIntent intent);
// The status sentence after switching a mode, from the flag as stored afterwards:
// "Typing Mode shortcut enabled." An intent without a switch (dictation) says the same of Dictation.
QString switchedSentence(DashboardHotkeyCaptureIntent intent, bool enabled);

// The middle mouse button's options in menu order; each value is the stored mouse mode.
const QList<Option>& middleMouseOptions();

// The five typing-delay presets in menu order: label "0.010s", value (the tag) "0.010".
const QList<Option>& typingDelayPresets();
// The tag of the preset nearest to `delay`; on equal distance the smaller preset, for NaN "0.005".
QString typingDelayPresetLabel(double delay);
// The delay a picked tag stands for; 0.01 when the tag is no number.
double typingDelayForTag(const QString& tag);

// The typing-delay menu for a stored delay: the presets, and when the delay is none of them one more
// item, "Custom (0.013s)", that shows the delay Typing Mode really uses. `selected` is the index shown.
struct TypingDelayMenu {
    QList<Option> options;
    int selected = -1;
};
TypingDelayMenu typingDelayMenu(double delay);

// The silence slider: 150 to 450 in steps of 10.
inline constexpr int silenceSliderMinimum = 150;
inline constexpr int silenceSliderMaximum = 450;
inline constexpr int silenceSliderStep = 10;
// Where the knob shows a stored threshold: the threshold itself, or the nearer end of the track.
int silenceSliderPosition(int threshold);
// The threshold a knob position stands for: the nearest step (halves away from zero) on the track.
int silenceThresholdForPosition(int position);
// The number shown beside the slider: the stored threshold, even when the knob cannot show it.
QString silenceThresholdLabel(int threshold);

} // namespace ShortcutSettingsRules
