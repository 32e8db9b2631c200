#include "X11KeyGrabber.h"

#include "X11Display.h"

#include <X11/XKBlib.h>

#include <vector>

static_assert(GlobalKeyGrabber::noSuchKeyStatus == BadValue && GlobalKeyGrabber::takenStatus == BadAccess);

std::unique_ptr<X11KeyGrabber> X11KeyGrabber::open() {
    auto display = X11Display::open();
    if (!display) {
        return nullptr;
    }
    return std::unique_ptr<X11KeyGrabber>(new X11KeyGrabber(std::move(display)));
}

X11KeyGrabber::X11KeyGrabber(std::unique_ptr<X11Display> display) : m_display(std::move(display)) {
    Display* dpy = m_display->display();
    // A held key then repeats as presses without the release in between.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy, True, &supported);
    m_masks = X11KeyMapping::ModifierMasks::read(dpy);
    m_listenerId = m_display->addEventListener([this](XEvent& event) { handleEvent(event); });
}

X11KeyGrabber::~X11KeyGrabber() {
    ungrabAll();
    m_display->removeEventListener(m_listenerId);
}

std::array<unsigned int, 4> X11KeyGrabber::lockVariants() const {
    return {0u, m_masks.capsLock, m_masks.numLock, m_masks.capsLock | m_masks.numLock};
}

int X11KeyGrabber::grab(std::uint32_t id, std::uint16_t keyCode, std::uint32_t carbonModifiers) {
    ungrab(id);
    Display* dpy = m_display->display();
    m_masks = X11KeyMapping::ModifierMasks::read(dpy); // the modifier map may have changed since
    const KeyCode keycode = X11KeyMapping::keycodeForKeyCode(dpy, keyCode);
    if (keycode == 0) {
        return noSuchKeyStatus;
    }
    const Grab chord{keycode, m_masks.fromCarbon(carbonModifiers)};
    int status = Success;
    {
        X11Display::ErrorTrap trap(*m_display);
        for (unsigned int variant : lockVariants()) {
            // Keyboard frozen on a press until handleEvent() takes the key or hands it on.
            XGrabKey(dpy, chord.keycode, chord.modifiers | variant, m_display->root(), False, GrabModeAsync,
                     GrabModeSync);
        }
        status = trap.finish();
    }
    if (status != Success) {
        ungrabChord(chord); // removes the variants that were granted; another client's grab stays
        return status;
    }
    m_grabs[id] = chord;
    return Success;
}

void X11KeyGrabber::ungrabChord(const Grab& grab) {
    Display* dpy = m_display->display();
    X11Display::ErrorTrap trap(*m_display);
    for (unsigned int variant : lockVariants()) {
        XUngrabKey(dpy, grab.keycode, grab.modifiers | variant, m_display->root());
    }
    trap.finish();
}

void X11KeyGrabber::ungrab(std::uint32_t id) {
    if (auto it = m_grabs.find(id); it != m_grabs.end()) {
        const Grab grab = it->second;
        m_grabs.erase(it);
        // Another id may share the chord (two entries with the same key and modifiers).
        for (const auto& [otherId, other] : m_grabs) {
            if (other.keycode == grab.keycode && other.modifiers == grab.modifiers) {
                return;
            }
        }
        ungrabChord(grab);
    }
}

void X11KeyGrabber::ungrabAll() {
    while (!m_grabs.empty()) {
        ungrab(m_grabs.begin()->first);
    }
}

void X11KeyGrabber::handleEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    if (event.type != KeyPress && event.type != KeyRelease) {
        return;
    }
    const XKeyEvent& key = event.xkey;
    std::vector<std::uint32_t> ids;
    for (const auto& [id, grab] : m_grabs) {
        if (grab.keycode != key.keycode) {
            continue;
        }
        if (event.type == KeyPress && (key.state & m_masks.relevant()) != grab.modifiers) {
            continue;
        }
        ids.push_back(id);
    }
    if (event.type == KeyPress) {
        // Only the chords we take keep the key; a press no chord takes (or one whose grab was just
        // dropped) goes on to the focused application. Either way the keyboard thaws now.
        std::erase_if(ids, [this](std::uint32_t id) { return acceptPress && !acceptPress(id); });
        XAllowEvents(m_display->display(), ids.empty() ? ReplayKeyboard : AsyncKeyboard, key.time);
        XFlush(m_display->display());
    }
    for (std::uint32_t id : ids) {
        if (onHotKey) {
            onHotKey(id, event.type == KeyPress);
        }
    }
}
