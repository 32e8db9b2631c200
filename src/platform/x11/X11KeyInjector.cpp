#include "X11KeyInjector.h"

#include <QCoreApplication>

#include "Clock.h"
#include "Scheduler.h"
#include "X11Display.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

X11KeyInjector::X11KeyInjector(X11Display* display) : m_display(display) {
    if (m_display) {
        m_typist = std::make_unique<X11Typist>(*m_display);
        holdForExit();
    }
}

X11KeyInjector::X11KeyInjector() : X11KeyInjector(nullptr) {
    m_owned = X11Display::open();
    m_display = m_owned.get();
    if (m_display) {
        m_typist = std::make_unique<X11Typist>(*m_display);
        holdForExit();
    }
}

void X11KeyInjector::holdForExit() {
    m_exitHold = DesktopStateGuard::instance().hold(QStringLiteral("keyboard mapping"),
                                                    DesktopStateGuard::Needs::Display,
                                                    [this] { restoreKeyboardNow(); });
}

X11KeyInjector::~X11KeyInjector() = default;

bool X11KeyInjector::isTrusted() const {
    return m_display && m_display->hasXTest() && m_display->xinput2Opcode().has_value();
}

bool X11KeyInjector::isAvailable() const {
    return m_display && m_display->hasXTest();
}

bool X11KeyInjector::modifiersHeld() const {
    if (!m_display) {
        return false;
    }
    char keys[32] = {};
    XQueryKeymap(m_display->display(), keys);
    XModifierKeymap* modifiers = XGetModifierMapping(m_display->display());
    if (!modifiers) {
        return false;
    }
    bool held = false;
    for (int i = 0; i < 8 * modifiers->max_keypermod && !held; ++i) {
        const unsigned int keycode = modifiers->modifiermap[i];
        held = keycode != 0 && (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    }
    XFreeModifiermap(modifiers);
    return held;
}

QCoro::Task<bool> X11KeyInjector::waitForModifiersReleased(std::chrono::milliseconds limit) {
    const auto deadline = Clock::current().monotonic() + limit;
    while (modifiersHeld()) {
        if (Clock::current().monotonic() >= deadline) {
            co_return false;
        }
        co_await Scheduler::current().delay(modifierPollInterval);
    }
    co_return true;
}

bool X11KeyInjector::sendChord(const EditChord& chord) {
    if (!isAvailable()) {
        return false;
    }
    Display* display = m_display->display();
    const X11TypingLayout keymap = X11TypingLayout::read(display);
    const KeySym letter = chord.action == EditAction::Copy ? XK_c : XK_v;
    unsigned int letterKeycode = 0;
    if (const auto stroke = keymap.strokeForKeysym(letter)) {
        letterKeycode = stroke->keycode;
    } else {
        // Not in the active group (a non-Latin layout): applications match shortcuts in the Latin group.
        letterKeycode = XKeysymToKeycode(display, letter);
    }
    const unsigned int control = keymap.controlKeycode();
    const unsigned int shift = keymap.shiftKeycode();
    if (letterKeycode == 0 || control == 0 || (chord.shift && shift == 0)) {
        return false;
    }
    X11HeldModifiers::Scope userModifiersReleased(m_typist->heldModifiers());
    X11Display::ErrorTrap trap(*m_display);
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    if (chord.shift) {
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    }
    XTestFakeKeyEvent(display, letterKeycode, True, CurrentTime);
    XTestFakeKeyEvent(display, letterKeycode, False, CurrentTime);
    if (chord.shift) {
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
    }
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    return trap.finish() == Success;
}

void X11KeyInjector::restoreKeyboardNow() {
    if (m_typist) {
        m_typist->restoreKeymapNow();
    }
}

QCoro::Task<> X11KeyInjector::typeText(QString text, std::chrono::milliseconds delay) {
    if (!m_typist) {
        throw KeySynthesisError("no X display");
    }
    co_await m_typist->type(std::move(text), delay);
}
