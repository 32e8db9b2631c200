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

// A stand-in for a sheet whose content is not part of this window yet: its title and a "Close" button.
QWidget* makePlaceholderSheet(const QString& title, std::function<void()> close);
