#pragma once

#include "GlobalKeyEvent.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

// Watches every key and/or pointer button of the desktop, whichever application is in front. Passive:
// nothing is grabbed or swallowed, every event still reaches its application, and events still arrive
// while a key grab (ours included) is active, so no release is missed. Main thread only; destroying the
// monitor stops it.
class RawInputMonitor : public QObject {
    Q_OBJECT

public:
    enum Source { Keys = 0x1, Buttons = 0x2 };

    // Key events in stored terms; keys no shortcut can use are dropped before this is called.
    std::function<void(const GlobalKeyEvent&)> onKeyEvent;
    // Physical pointer button numbers (1 left, 2 middle, 3 right, 4-7 wheel).
    std::function<void(int button, bool down)> onButtonEvent;

    // The modifier flags held right now, as far as this monitor has seen.
    virtual std::uint64_t modifierFlags() const = 0;
    // The same after reading every event the window system sent so far (their handlers run first): what
    // was held when an event that another connection just received happened.
    virtual std::uint64_t currentModifierFlags() = 0;
};
