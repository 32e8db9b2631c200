#pragma once

#include "RawInputMonitor.h"

// After Qt: Xlib's macros clash with Qt headers.
#include <X11/Xlib.h>

#include <memory>

class X11Display;
class X11KeyboardState;

// Watches every key and/or pointer button of the desktop, whichever application is in front, through
// XInput2 raw events on the root window of a connection of its own. Passive: nothing is grabbed or
// swallowed, every event still reaches its application. Raw events reach us even while another client
// (our key grabber included) holds a grab, so no release is missed.
class X11RawInputMonitor : public RawInputMonitor {
    Q_OBJECT

public:
    // Nothing when no X server answers or it lacks XInput 2.
    static std::unique_ptr<X11RawInputMonitor> open(int sources);
    ~X11RawInputMonitor() override;

    std::uint64_t modifierFlags() const override;
    std::uint64_t currentModifierFlags() override;

private:
    X11RawInputMonitor(std::unique_ptr<X11Display> display, int sources);
    void handleEvent(XEvent& event);

    std::unique_ptr<X11Display> m_display;
    std::unique_ptr<X11KeyboardState> m_keyboard;
    int m_listenerId = 0;
};
