#pragma once

#include "Scheduler.h"

#include <vector>

class X11Display;

// Keeps the modifier keys the user still holds out of the keys we synthesize: a Shift held down would
// turn Ctrl+V into Ctrl+Shift+V and typed letters into capitals.
//
// release() lets go of every modifier key that is down (lock keys excepted) through XTest; restore() puts
// the logical state back by pressing again the keys still held, by one of the user's keyboards or by
// XTest (another program's synthesized press) as before. A key pressed again for one of the user's
// keyboards stays down in XTest's own device after that keyboard lets go; it is let go through XTest
// as soon as a poll sees the keyboard release it, so no key stays stuck. Once the process is leaving
// (DesktopStateGuard::isLeaving()), restore() presses nothing again: no poll would let the keys go.
//
// Which device holds a key comes from XInput (per-device key state); without it nothing is pressed again.
class X11HeldModifiers {
public:
    static constexpr std::chrono::milliseconds releasePollInterval{50};

    explicit X11HeldModifiers(X11Display& display);
    // Lets go of the keys still held for the user.
    ~X11HeldModifiers();
    X11HeldModifiers(const X11HeldModifiers&) = delete;
    X11HeldModifiers& operator=(const X11HeldModifiers&) = delete;

    // Nested pairs share the outermost one.
    void release();
    void restore();

    // Lets go at once, through XTest, of every key pressed again for the user (exit paths). Synchronous.
    void releaseHeldKeysNow();

    // Releases on construction, restores on destruction.
    class Scope {
    public:
        explicit Scope(X11HeldModifiers& modifiers) : m_modifiers(modifiers) { m_modifiers.release(); }
        ~Scope() { m_modifiers.restore(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        X11HeldModifiers& m_modifiers;
    };

private:
    struct Released {
        unsigned int keycode = 0;
        bool heldBySynthesis = false; // XTest's device held it (another program's synthesized press)
    };

    void pollUserReleases();

    X11Display& m_display;
    int m_depth = 0;
    std::vector<Released> m_released;
    std::vector<unsigned int> m_heldForUser; // pressed again in XTest's device for a user's keyboard
    TimerHandle m_poll;
};
