#pragma once

#include "EditChord.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <stdexcept>

// A key-synthesis failure (the platform could not produce or deliver the key events).
class KeySynthesisError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Synthesizes key events into whatever window has the keyboard focus.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;

    // Whether the desktop lets this process watch and synthesize input (the Accessibility trust's place):
    // an X display with XTest and XInput2.
    virtual bool isTrusted() const = 0;
    // Whether events can be synthesized at all (the event source).
    virtual bool isAvailable() const = 0;
    // Waits until no modifier key is held (the user's shortcut), at most `limit`. False when still held.
    virtual QCoro::Task<bool> waitForModifiersReleased(std::chrono::milliseconds limit) = 0;
    // Presses and releases the chord. False when its keys could not be produced; nothing was sent then.
    virtual bool sendChord(const EditChord& chord) = 0;
    // Types `text`, one key press per Unicode scalar, waiting `delay` after each. Throws KeySynthesisError
    // when a character cannot be typed (the characters before it stay typed).
    virtual QCoro::Task<> typeText(QString text, std::chrono::milliseconds delay) = 0;
    // Puts back at once, synchronously and without the event loop, whatever synthesizing changed on the
    // desktop's keyboard: remapped keys, Caps Lock, keys held down (exit paths).
    virtual void restoreKeyboardNow() {}
};
