#pragma once

#include <chrono>

// Gives the clipboard we own to the desktop's clipboard manager, so that its content outlives us.
//
// On X11 the clipboard's content lives in its owner: once the owner is gone, so is the content. A
// clipboard manager (the owner of the CLIPBOARD_MANAGER selection) keeps it when asked: the owner converts
// CLIPBOARD_MANAGER to the SAVE_TARGETS target, the manager fetches every target from the owner (Qt's
// clipboard answers it) and then answers the conversion. Qt does this when its application object is
// destroyed, which our way out (OrderlyExit) never reaches: so we do it ourselves, and, once the
// clipboard holds the user's own content again after a paste, at once as well, so that a crash loses
// nothing either.
//
// Main thread only; nothing happens without an X display, when we do not own the clipboard, or when no
// manager runs.
class X11ClipboardHandOff {
public:
    static constexpr std::chrono::milliseconds exitWaitLimit{1500};

    X11ClipboardHandOff() = delete;

    // Asks the manager to keep the clipboard now and returns at once; the event loop serves its requests.
    static void requestSave();

    // On the way out, after the event loop has ended: asks the manager, then serves its requests (the
    // toolkit's pending events, input excepted) until it answers or `limit` has passed. Returns whether
    // the manager answered.
    static bool handOverBeforeExit(std::chrono::milliseconds limit = exitWaitLimit);
};
