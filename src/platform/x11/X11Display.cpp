#include "X11Display.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_registryMutex;
std::map<Display*, X11Display*> g_registry;
std::atomic<X11Display::ConnectionLostHandler> g_connectionLost{nullptr};
} // namespace

void X11Display::setConnectionLostHandler(ConnectionLostHandler handler) {
    g_connectionLost.store(handler);
}

std::unique_ptr<X11Display> X11Display::open(const QByteArray& name) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        XSetErrorHandler(&X11Display::handleError);
        // Process-wide: it also covers the toolkit's own Xlib connection.
        XSetIOErrorHandler(&X11Display::handleIOError);
    });
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!display) {
        return nullptr;
    }
    // Per connection, and kept even if a library replaces the process-wide I/O error handler later:
    // Xlib calls it when that handler returns.
    XSetIOErrorExitHandler(display, &X11Display::handleIOErrorExit, nullptr);
    return std::unique_ptr<X11Display>(new X11Display(display));
}

X11Display::X11Display(Display* display) : m_display(display) {
    {
        std::lock_guard lock(g_registryMutex);
        g_registry[display] = this;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    m_hasXTest = XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor);
    int opcode = 0;
    if (XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase)) {
        // The first version a connection announces sticks. Ask for 2.2: from 2.1 on, raw events reach
        // every client that selected them even while another client holds a grab (with 2.0 the raw
        // releases during someone else's grab are lost: seen here).
        int xiMajor = 2, xiMinor = 2;
        if (XIQueryVersion(display, &xiMajor, &xiMinor) == Success && xiMajor >= 2) {
            m_xinputOpcode = opcode;
        }
    }
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11Display::processEvents);
    // Xlib may read events into its queue while it waits for a reply (XSync, property reads); the socket
    // is then quiet although events wait. Drain the queue before the event loop sleeps.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (XEventsQueued(m_display, QueuedAlready) > 0) {
                processEvents();
            }
        });
    }
}

X11Display::~X11Display() {
    delete m_notifier;
    {
        std::lock_guard lock(g_registryMutex);
        g_registry.erase(m_display);
    }
    XCloseDisplay(m_display);
}

Window X11Display::root() const {
    return DefaultRootWindow(m_display);
}

Atom X11Display::atom(const char* name) {
    const QByteArray key(name);
    auto it = m_atoms.find(key);
    if (it == m_atoms.end()) {
        it = m_atoms.emplace(key, XInternAtom(m_display, name, False)).first;
    }
    return it->second;
}

int X11Display::addEventListener(EventListener listener) {
    const int id = m_nextListenerId++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void X11Display::removeEventListener(int id) {
    m_listeners.erase(id);
}

void X11Display::processEvents() {
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        const bool cookie = event.type == GenericEvent && XGetEventData(m_display, &event.xcookie);
        // A listener may remove itself or others while we iterate: walk a snapshot of the ids.
        std::vector<int> ids;
        for (const auto& [id, listener] : m_listeners) {
            ids.push_back(id);
        }
        for (int id : ids) {
            if (auto it = m_listeners.find(id); it != m_listeners.end()) {
                auto listener = it->second;
                listener(event);
            }
        }
        if (cookie) {
            XFreeEventData(m_display, &event.xcookie);
        }
    }
}

int X11Display::handleError(Display* display, XErrorEvent* event) {
    X11Display* owner = nullptr;
    {
        std::lock_guard lock(g_registryMutex);
        if (auto it = g_registry.find(display); it != g_registry.end()) {
            owner = it->second;
        }
    }
    if (owner && owner->m_trapDepth > 0) {
        if (owner->m_trappedError == Success) {
            owner->m_trappedError = event->error_code;
        }
        return 0;
    }
    char text[256] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    qWarning("X error %d (%s) on request %d.%d", event->error_code, text, event->request_code,
             event->minor_code);
    return 0;
}

int X11Display::handleIOError(Display* display) {
    connectionLost(display);
}

void X11Display::handleIOErrorExit(Display* display, void*) {
    connectionLost(display);
}

void X11Display::connectionLost(Display* display) {
    std::fprintf(stderr, "Lost the connection to the X server %s\n", DisplayString(display));
    bool ours = false;
    {
        std::lock_guard lock(g_registryMutex);
        ours = g_registry.find(display) != g_registry.end();
    }
    // Another library's connection (the toolkit's) can die while ours still works: then the plain exit
    // below takes the orderly way out, which can still put back what needs our connection.
    if (const ConnectionLostHandler handler = g_connectionLost.load(); handler && ours) {
        handler();
    }
    std::fflush(nullptr);
    std::exit(1); // what Xlib does without a handler of ours
}

X11Display::ErrorTrap::ErrorTrap(X11Display& display)
    : m_display(display), m_previous(display.m_trappedError) {
    XSync(display.m_display, False); // errors of earlier requests are not ours
    ++m_display.m_trapDepth;
    m_display.m_trappedError = Success;
}

int X11Display::ErrorTrap::finish() {
    if (!m_finished) {
        XSync(m_display.m_display, False);
        m_finished = true;
        --m_display.m_trapDepth;
    }
    return m_display.m_trappedError;
}

X11Display::ErrorTrap::~ErrorTrap() {
    finish();
    m_display.m_trappedError = m_previous;
}
