#include "X11RawInputMonitor.h"

#include "X11Display.h"
#include "X11KeyboardState.h"

#include <X11/extensions/XInput2.h>

std::unique_ptr<X11RawInputMonitor> X11RawInputMonitor::open(int sources) {
    auto display = X11Display::open();
    if (!display || !display->xinput2Opcode()) {
        return nullptr;
    }
    return std::unique_ptr<X11RawInputMonitor>(new X11RawInputMonitor(std::move(display), sources));
}

X11RawInputMonitor::X11RawInputMonitor(std::unique_ptr<X11Display> display, int sources)
    : m_display(std::move(display)) {
    Display* dpy = m_display->display();
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    if (sources & Keys) {
        XISetMask(mask, XI_RawKeyPress);
        XISetMask(mask, XI_RawKeyRelease);
        m_keyboard = std::make_unique<X11KeyboardState>(dpy);
    }
    if (sources & Buttons) {
        XISetMask(mask, XI_RawButtonPress);
        XISetMask(mask, XI_RawButtonRelease);
    }
    // Master devices only: each physical event arrives once (selecting every device repeats it for the
    // slave device).
    XIEventMask eventMask{XIAllMasterDevices, static_cast<int>(sizeof mask), mask};
    XISelectEvents(dpy, m_display->root(), &eventMask, 1);
    if (m_keyboard) {
        m_keyboard->seedFromServer(); // after selecting, so no change falls between the two
    }
    XSync(dpy, False);
    m_listenerId = m_display->addEventListener([this](XEvent& event) { handleEvent(event); });
    m_display->processEvents();
}

X11RawInputMonitor::~X11RawInputMonitor() {
    m_display->removeEventListener(m_listenerId);
}

std::uint64_t X11RawInputMonitor::modifierFlags() const {
    return m_keyboard ? m_keyboard->modifierFlags() : 0;
}

std::uint64_t X11RawInputMonitor::currentModifierFlags() {
    XSync(m_display->display(), False);
    m_display->processEvents();
    return modifierFlags();
}

void X11RawInputMonitor::handleEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (m_keyboard) {
            m_keyboard->forgetKeyMeanings();
        }
        return;
    }
    if (event.type != GenericEvent || event.xcookie.extension != *m_display->xinput2Opcode() ||
        !event.xcookie.data) {
        return;
    }
    const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
    switch (event.xcookie.evtype) {
    case XI_RawKeyPress:
    case XI_RawKeyRelease:
        if (m_keyboard && raw->detail > 0 && raw->detail < 256) {
            const auto key =
                m_keyboard->handle(static_cast<KeyCode>(raw->detail), event.xcookie.evtype == XI_RawKeyPress);
            if (key && onKeyEvent) {
                onKeyEvent(*key);
            }
        }
        break;
    case XI_RawButtonPress:
    case XI_RawButtonRelease:
        if (onButtonEvent) {
            onButtonEvent(raw->detail, event.xcookie.evtype == XI_RawButtonPress);
        }
        break;
    default:
        break;
    }
}
