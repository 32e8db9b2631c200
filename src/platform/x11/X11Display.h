#pragma once

#include <QByteArray>
#include <QObject>

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;

// One Xlib connection of our own (not Qt's), read on the main thread through a socket notifier.
// Several may be open at once: a connection that grabs keys misses the raw releases of its own grabs,
// so the shortcut code listens on one connection and grabs on another.
//
// X errors never abort the program: our error handler records them per connection. Code that must know
// whether a request failed wraps it in an ErrorTrap.
//
// A connection that breaks (the X server went away, or our client was killed) is fatal to Xlib: it calls
// the connection-lost handler, which must end the process (see OrderlyExit). Without one, the process
// exits with status 1 as Xlib does by default.
class X11Display : public QObject {
    Q_OBJECT

public:
    // Opens $DISPLAY (or `name`). Gives nothing when no X server answers.
    static std::unique_ptr<X11Display> open(const QByteArray& name = {});
    ~X11Display() override;

    Display* display() const { return m_display; }
    Window root() const;
    Atom atom(const char* name); // interned once, then cached

    // XTest is present (synthesized input).
    bool hasXTest() const { return m_hasXTest; }
    // The XInput extension's major opcode when it supports XI 2.0 or later.
    std::optional<int> xinput2Opcode() const { return m_xinputOpcode; }

    // Every event read from the connection is handed to each listener, in the order they were added.
    using EventListener = std::function<void(XEvent&)>;
    int addEventListener(EventListener listener);
    void removeEventListener(int id);

    // Reads and dispatches whatever the server has sent. Runs by itself when the socket is readable;
    // callers that just sent requests and wait for their events may call it too.
    void processEvents();

    // Runs when any of our connections (or another Xlib connection of the process) breaks. Must not
    // return; it may not use X. Set on the main thread before the event loop runs.
    using ConnectionLostHandler = void (*)();
    static void setConnectionLostHandler(ConnectionLostHandler handler);

    // Records the first X error of the requests made while it is alive.
    class ErrorTrap {
    public:
        explicit ErrorTrap(X11Display& display);
        ~ErrorTrap();
        ErrorTrap(const ErrorTrap&) = delete;
        ErrorTrap& operator=(const ErrorTrap&) = delete;
        // Waits for the server to handle every request so far; returns the first error code (Success = 0).
        int finish();

    private:
        X11Display& m_display;
        int m_previous;
        bool m_finished = false;
    };

private:
    explicit X11Display(Display* display);
    static int handleError(Display* display, XErrorEvent* event);
    static int handleIOError(Display* display);
    static void handleIOErrorExit(Display* display, void* userData);
    [[noreturn]] static void connectionLost(Display* display);

    Display* m_display;
    QSocketNotifier* m_notifier = nullptr;
    bool m_hasXTest = false;
    std::optional<int> m_xinputOpcode;
    std::map<int, EventListener> m_listeners;
    int m_nextListenerId = 1;
    std::map<QByteArray, Atom> m_atoms;
    int m_trapDepth = 0;
    int m_trappedError = 0;
};
