#pragma once

#include "DesktopStateGuard.h"
#include "KeySynthesizer.h"
#include "X11Typist.h"

#include <memory>

class X11Display;

// Synthesizes keys with XTest on an X connection of ours: the copy and paste chords, typing (X11Typist),
// and the wait for the user's modifier keys to be released (read with XQueryKeymap). Modifiers still held
// after that wait are let go for the time of the synthesized keys and pressed again after
// (X11HeldModifiers), so Shift held never turns Ctrl+V into Ctrl+Shift+V.
class X11KeyInjector : public KeySynthesizer {
public:
    static constexpr std::chrono::milliseconds modifierPollInterval{15};

    // Uses `display` (not owned; null: unavailable).
    explicit X11KeyInjector(X11Display* display);
    // Opens and owns a connection to $DISPLAY (unavailable when there is none).
    X11KeyInjector();
    ~X11KeyInjector() override;

    bool isTrusted() const override;
    bool isAvailable() const override;
    QCoro::Task<bool> waitForModifiersReleased(std::chrono::milliseconds limit) override;
    bool sendChord(const EditChord& chord) override;
    QCoro::Task<> typeText(QString text, std::chrono::milliseconds delay) override;

    // Empties the spare keys typing left mapped (they are emptied a moment after typing anyway), locks
    // Caps Lock again if typing switched it off, and lets go of the keys held for the user.
    void restoreKeyboardNow() override;

    // Whether any key bound to a modifier is down now.
    bool modifiersHeld() const;

private:
    std::unique_ptr<X11Display> m_owned;
    X11Display* m_display = nullptr;
    std::unique_ptr<X11Typist> m_typist;
    // Puts the keyboard back on any exit while the typist lives (declared after it: released first).
    DesktopStateGuard::Hold m_exitHold;

    void holdForExit();
};
