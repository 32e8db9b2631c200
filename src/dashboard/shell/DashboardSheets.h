#pragma once

#include "DictationCoordinator.h"

#include <QString>
#include <QWidget>

#include <functional>

// The contents of the dashboard's presentations (PresentationHost shows them over the window).

// The sign-in prompt: the prompt's title and message as given, a close symbol and "Got It". Both buttons
// run `dismiss` and nothing else. 460 px wide; a long message makes it taller, never wider.
QWidget* makeSignInPromptSheet(const UpgradePrompt& prompt, std::function<void()> dismiss);

// "Reset settings to defaults?" with "Cancel" and "Reset".
QWidget* makeResetConfirmation(std::function<void()> cancel, std::function<void()> reset);

class DashboardState;
class PromptSettingsStore;

// The custom system prompt editor, 620 x 420: the editor shows and edits the state's draft. "Clear" empties
// the draft, "Cancel" closes keeping it, "Save" stores the draft trimmed and closes.
QWidget* makeCustomPromptSheet(DashboardState& state, PromptSettingsStore& store);

// A stand-in for a sheet whose content is not part of this window yet: its title and a "Close" button.
QWidget* makePlaceholderSheet(const QString& title, std::function<void()> close);
