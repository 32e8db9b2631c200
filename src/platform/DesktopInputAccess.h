#pragma once

#include <QString>

// Whether the desktop lets this process watch and synthesize input system-wide (the Accessibility
// trust's place), asked afresh on every call: on X11, a display that answers, with XTest and XInput 2.
// Cheap enough for a periodic check; never blocks for longer than opening a display connection.
bool desktopInputAccessGranted();

// Why access is missing, in a sentence that says what to do; empty when it is granted.
QString desktopInputAccessProblem();
