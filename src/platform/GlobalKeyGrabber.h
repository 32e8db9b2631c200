#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

// System-wide key chords: each grabbed chord reaches us, and only us, whichever application is in front.
// A held chord gives presses (the first and its repeats) and one release; the release is matched by the
// key alone, so letting go of the modifiers first still releases it. Lock keys (Caps Lock, Num Lock) never
// stop a chord. Main thread only.
class GlobalKeyGrabber : public QObject {
    Q_OBJECT

public:
    // The status of a stored key code that has no key on this keyboard (the X server's BadValue).
    static constexpr int noSuchKeyStatus = 2;
    // The status of a chord another program already holds (the X server's BadAccess).
    static constexpr int takenStatus = 10;

    // Grabs the stored key code with the Carbon modifier bits under `id`. Returns 0, takenStatus,
    // noSuchKeyStatus, or another window-system error code. A refused chord is left without any part
    // of it grabbed.
    virtual int grab(std::uint32_t id, std::uint16_t keyCode, std::uint32_t carbonModifiers) = 0;
    virtual void ungrab(std::uint32_t id) = 0;
    virtual void ungrabAll() = 0;

    // (id, pressed) for every press of a grabbed chord, repeats included, and (id, released) on every
    // release of its key.
    std::function<void(std::uint32_t id, bool pressed)> onHotKey;
    // Asked on every press of a grabbed chord (repeats included) before onHotKey; false gives the key
    // to the focused application instead. Unset: every press is taken.
    std::function<bool(std::uint32_t id)> acceptPress;
};
