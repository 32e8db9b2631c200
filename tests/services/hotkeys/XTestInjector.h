#pragma once

// Include after the Qt headers: Xlib's macros clash with Qt.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <set>

// Synthesizes keys and pointer buttons on the session's X server through XTest, on a connection of its
// own, pressing exactly the keycode of each keysym (tools that type by keysym also press whatever
// modifier they think the keysym needs). Releases whatever it still holds and restores the auto-repeat
// rate when it goes.
class XTestInjector {
public:
    XTestInjector() : m_display(XOpenDisplay(nullptr)) {
        if (m_display) {
            XkbGetAutoRepeatRate(m_display, XkbUseCoreKbd, &m_repeatDelay, &m_repeatInterval);
        }
    }
    ~XTestInjector() {
        if (!m_display) {
            return;
        }
        for (KeyCode keycode : std::set<KeyCode>(m_held)) {
            XTestFakeKeyEvent(m_display, keycode, False, CurrentTime);
        }
        for (int button : std::set<int>(m_buttons)) {
            XTestFakeButtonEvent(m_display, button, False, CurrentTime);
        }
        XkbSetAutoRepeatRate(m_display, XkbUseCoreKbd, m_repeatDelay, m_repeatInterval);
        XSync(m_display, False);
        XCloseDisplay(m_display);
    }
    XTestInjector(const XTestInjector&) = delete;
    XTestInjector& operator=(const XTestInjector&) = delete;

    bool isOpen() const { return m_display != nullptr; }
    Display* display() const { return m_display; }
    KeyCode keycode(KeySym keysym) const { return XKeysymToKeycode(m_display, keysym); }

    void press(KeySym keysym) { key(keysym, true); }
    void release(KeySym keysym) { key(keysym, false); }
    void tap(KeySym keysym) {
        press(keysym);
        release(keysym);
    }

    void moveTo(int x, int y) {
        XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
        XSync(m_display, False);
    }
    void button(int number, bool down) {
        XTestFakeButtonEvent(m_display, number, down, CurrentTime);
        if (down) {
            m_buttons.insert(number);
        } else {
            m_buttons.erase(number);
        }
        XSync(m_display, False);
    }

    // Makes a held key repeat soon and often (restored when the injector goes).
    void setFastAutoRepeat(unsigned int delayMs = 40, unsigned int intervalMs = 15) {
        XkbSetAutoRepeatRate(m_display, XkbUseCoreKbd, delayMs, intervalMs);
        XSync(m_display, False);
    }

private:
    void key(KeySym keysym, bool down) {
        const KeyCode code = keycode(keysym);
        XTestFakeKeyEvent(m_display, code, down, CurrentTime);
        if (down) {
            m_held.insert(code);
        } else {
            m_held.erase(code);
        }
        XSync(m_display, False);
    }

    Display* m_display;
    std::set<KeyCode> m_held;
    std::set<int> m_buttons;
    unsigned int m_repeatDelay = 660;
    unsigned int m_repeatInterval = 40;
};
