#pragma once

#include "GlobalKeyGrabber.h"

// After Qt: Xlib's macros clash with Qt headers.
#include "X11KeyMapping.h"

#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>

class X11Display;

// System-wide key chords through passive key grabs on the root window (XGrabKey), on a connection of
// its own. Each chord is grabbed with every NumLock/CapsLock variant, so those locks never stop it.
// With detectable auto-repeat a held chord gives presses (the first and its repeats) and one release;
// the release is matched by the key alone, so letting go of the modifiers first still releases it.
//
// The grabs freeze the keyboard on a press until we decide: X matches a grab by modifier mask only, so a
// chord with Control also matches when Right Ctrl (the Fn key here) is the Control key held. A press that
// `acceptPress` turns down is handed on to the focused application as if nothing had grabbed it.
class X11KeyGrabber : public GlobalKeyGrabber {
    Q_OBJECT

public:
    // Nothing when no X server answers.
    static std::unique_ptr<X11KeyGrabber> open();
    ~X11KeyGrabber() override;

    // Returns Success (0), the X error code when the server refuses (BadAccess: another client holds the
    // chord), or noSuchKeyStatus (a key code with no key on this keyboard map, as the server answers a
    // grab of a keycode outside the keyboard).
    int grab(std::uint32_t id, std::uint16_t keyCode, std::uint32_t carbonModifiers) override;
    void ungrab(std::uint32_t id) override;
    void ungrabAll() override;

private:
    struct Grab {
        KeyCode keycode = 0;
        unsigned int modifiers = 0;
    };

    explicit X11KeyGrabber(std::unique_ptr<X11Display> display);
    void handleEvent(XEvent& event);
    void ungrabChord(const Grab& grab);
    std::array<unsigned int, 4> lockVariants() const;

    std::unique_ptr<X11Display> m_display;
    X11KeyMapping::ModifierMasks m_masks;
    std::map<std::uint32_t, Grab> m_grabs;
    int m_listenerId = 0;
};
