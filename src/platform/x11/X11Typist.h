#pragma once

#include "X11HeldModifiers.h"
#include "X11TypingLayout.h"

#include "Scheduler.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class X11Display;
union _XEvent;

// Types text with XTest key events, one key press per Unicode scalar.
//
// Characters the layout has (with or without Shift) are typed on their own keys. The others are typed on
// spare key codes (keys without any symbol) that carry the character's keysym on both levels. The spares
// are remapped for a whole run of text at once (remapping one character at a time loses characters), and
// typing waits `remapSettleTime` after remapping.
//
// A client reads the new keymap from the server only when it gets to the mapping notification, which on a
// busy machine can be long after we sent the keys; had we emptied the spares by then, it would read them
// empty and drop the characters. So the spares keep their symbols until `restoreDelay` after the last
// typing (a later typing finds them still mapped and uses them as they are, or gives them other symbols),
// and a key typed with one of our symbols gets another symbol only `keyReuseDelay` after that.
// Caps Lock is switched off while typing and back on afterwards, so letters keep their case, and the
// modifier keys the user still holds are let go for the time of the typing (X11HeldModifiers).
//
// The keyboard mapping may change under us (a layout switch, a new keyboard, another program's remap):
// before every key press the typist reads what the server has sent; after a mapping change it forgets
// the spare keys that no longer carry its symbols (they are not ours to empty any more) and plans the
// rest of the text on the new layout, so no character is lost or typed as another.
class X11Typist {
public:
    static constexpr std::chrono::milliseconds remapSettleTime{60};
    static constexpr std::chrono::milliseconds keyReuseDelay{500};
    static constexpr std::chrono::milliseconds restoreDelay{2000};

    // What typing a text takes: runs of key strokes, each run preceded by the spare keys it remaps.
    struct Plan {
        struct Run {
            std::vector<std::pair<unsigned int, X11TypingLayout::KeySym>>
                remaps;             // key -> keysym, before the run
            bool reassigns = false; // some of those keys carried another symbol of ours
            std::vector<X11TypingLayout::Stroke> strokes;
            std::vector<qsizetype> sources; // per stroke: the index (in scalars) of its character
        };
        std::vector<Run> runs;
        // Index (in scalars) of the first character that cannot be typed at all (no spare key code).
        std::optional<qsizetype> untypableAt;

        // `owned`: keys that still carry a symbol of ours (not in `layout`), least recently used first.
        static Plan make(const QList<char32_t>& scalars, const X11TypingLayout& layout,
                         const std::vector<std::pair<unsigned int, X11TypingLayout::KeySym>>& owned = {});
    };

    explicit X11Typist(X11Display& display);
    // Empties the spares still mapped at once.
    ~X11Typist();
    X11Typist(const X11Typist&) = delete;
    X11Typist& operator=(const X11Typist&) = delete;

    // Throws KeySynthesisError when a character cannot be typed; the characters before it are typed.
    // Destroying the coroutine midway puts Caps Lock back and schedules the spares' restore as well.
    QCoro::Task<> type(QString text, std::chrono::milliseconds delay);

    // Puts the keyboard back at once, synchronously, without the event loop (the application quits, or
    // is being stopped): the spare keys that still carry our symbols are emptied, Caps Lock is locked
    // again if a typing switched it off, and the keys held for the user are let go. Calling it again
    // does nothing more.
    //
    // Once the desktop state guard says the process is leaving, a typing under way stops at its next
    // step (it throws KeySynthesisError) without touching the keyboard again, and a new one does not start.
    void restoreKeymapNow();

    // The user's held modifiers, let go while we type (and, through the injector, for chords).
    X11HeldModifiers& heldModifiers() { return m_heldModifiers; }

private:
    static bool leaving();
    static void stopIfLeaving();
    bool remap(const std::vector<std::pair<unsigned int, X11TypingLayout::KeySym>>& remaps);
    void markUsed(unsigned int keycode);
    void scheduleRestore();
    void restoreSpares();
    void switchCapsLockOff();
    void relockCapsLock();
    void handleEvent(const _XEvent& event);
    // Reads every event the server sent so far; true when the keyboard mapping changed since the last
    // call (the spares that lost our symbols are forgotten then).
    bool keymapChanged();
    void forgetLostSpares();
    std::vector<std::pair<unsigned int, X11TypingLayout::KeySym>> ownedInUseOrder() const;

    X11Display& m_display;
    X11HeldModifiers m_heldModifiers;
    int m_xkbEventBase = -1;
    int m_listenerId = 0;
    bool m_mappingChanged = false;
    bool m_relockCapsLock = false;
    std::map<unsigned int, X11TypingLayout::KeySym> m_remapped;
    std::vector<unsigned int> m_useOrder; // the keys of m_remapped, least recently used first
    std::chrono::nanoseconds m_lastStroke{-3600'000'000'000LL};
    TimerHandle m_restoreTimer;
};
