#pragma once

#include "GlobalKeyEvent.h"

#include <QObject>

// After Qt: Xlib's macros clash with Qt headers.
#include <X11/Xlib.h>

#include <functional>
#include <memory>

class X11Display;
class X11KeyboardState;

// Watches every key and/or pointer button of the desktop, whichever application is in front, through
// XInput2 raw events on the root window of a connection of its own. Passive: nothing is grabbed or
// swallowed, every event still reaches its application. Raw events reach us even while another client
// (our key grabber included) holds a grab, so no release is missed.
class X11RawInputMonitor : public QObject {
    Q_OBJECT

public:
    enum Source { Keys = 0x1, Buttons = 0x2 };

    // Nothing when no X server answers or it lacks XInput 2.
    static std::unique_ptr<X11RawInputMonitor> open(int sources);
    ~X11RawInputMonitor() override;

    // Key events in stored terms; keys no shortcut can use are dropped before this is called.
    std::function<void(const GlobalKeyEvent&)> onKeyEvent;
    // Physical pointer button numbers (1 left, 2 middle, 3 right, 4-7 wheel).
    std::function<void(int button, bool down)> onButtonEvent;

    // The modifier flags held right now, as far as this monitor has seen.
    std::uint64_t modifierFlags() const;
    // The same after reading every event the server sent so far (their handlers run first): what was
    // held when an event that another connection just received happened.
    std::uint64_t currentModifierFlags();

private:
    X11RawInputMonitor(std::unique_ptr<X11Display> display, int sources);
    void handleEvent(XEvent& event);

    std::unique_ptr<X11Display> m_display;
    std::unique_ptr<X11KeyboardState> m_keyboard;
    int m_listenerId = 0;
};
