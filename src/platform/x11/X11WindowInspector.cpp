#include "X11WindowInspector.h"

#include "X11Display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace {
// XGetWindowProperty with automatic freeing. `format` 32 items are longs on the client side.
struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned char* data = nullptr;

    Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    ~Property() {
        if (data) {
            XFree(data);
        }
    }

    bool read(Display* display, Window window, Atom property, Atom requestedType) {
        unsigned long remaining = 0;
        const int status = XGetWindowProperty(display, window, property, 0, 1 << 20, False, requestedType,
                                              &type, &format, &count, &remaining, &data);
        return status == Success && type != None;
    }
};
} // namespace

X11WindowInspector::X11WindowInspector(X11Display* display) : m_display(display) {}

X11WindowInspector::X11WindowInspector() : m_owned(X11Display::open()), m_display(m_owned.get()) {}

X11WindowInspector::~X11WindowInspector() = default;

std::optional<FrontmostWindow> X11WindowInspector::frontmostWindow() {
    if (!m_display) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*m_display);
    const std::optional<Window> window = activeWindow();
    XWindowAttributes attributes{};
    // The window manager may leave a closed window as the active one (whose id a new window may get): it
    // must exist and be shown.
    if (!window || !XGetWindowAttributes(m_display->display(), *window, &attributes) ||
        attributes.map_state != IsViewable) {
        return std::nullopt;
    }
    FrontmostWindow result;
    result.windowId = *window;
    result.processId = processId(*window);
    XClassHint hint{};
    if (XGetClassHint(m_display->display(), *window, &hint)) {
        if (hint.res_name && *hint.res_name) {
            result.instanceName = QString::fromLocal8Bit(hint.res_name);
        }
        if (hint.res_class && *hint.res_class) {
            result.windowClass = QString::fromLocal8Bit(hint.res_class);
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return result;
}

bool X11WindowInspector::isWindowShown(quint64 window) {
    if (!m_display || window == 0) {
        return false;
    }
    X11Display::ErrorTrap trap(*m_display);
    XWindowAttributes attributes{};
    return XGetWindowAttributes(m_display->display(), Window(window), &attributes) &&
           attributes.map_state == IsViewable;
}

std::optional<qint64> X11WindowInspector::windowProcessId(quint64 window) {
    if (!m_display || window == 0) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*m_display);
    return processId(Window(window));
}

bool X11WindowInspector::requestActivation(quint64 window) {
    if (!m_display || window == 0) {
        return false;
    }
    X11Display::ErrorTrap trap(*m_display);
    Display* display = m_display->display();
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.serial = 0;
    event.xclient.send_event = True;
    event.xclient.display = display;
    event.xclient.window = Window(window);
    event.xclient.message_type = m_display->atom("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // source: a pager, which window managers obey (an application is not)
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = 0;
    const Status sent = XSendEvent(display, m_display->root(), False,
                                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
    return sent != 0;
}

std::optional<Window> X11WindowInspector::activeWindow() {
    if (windowManagerTracksActiveWindow()) {
        // The window manager tells; no property or None means no window is active.
        const QList<Window> active = windowListProperty(m_display->root(), "_NET_ACTIVE_WINDOW");
        if (active.isEmpty() || active.first() == None) {
            return std::nullopt;
        }
        return active.first();
    }
    return focusedClientWindow();
}

bool X11WindowInspector::windowManagerTracksActiveWindow() {
    // An EWMH window manager is running (its check window points to itself) and lists _NET_ACTIVE_WINDOW.
    const QList<Window> check = windowListProperty(m_display->root(), "_NET_SUPPORTING_WM_CHECK");
    if (check.isEmpty() || check.first() == None) {
        return false;
    }
    const QList<Window> self = windowListProperty(check.first(), "_NET_SUPPORTING_WM_CHECK");
    if (self.isEmpty() || self.first() != check.first()) {
        return false;
    }
    Property supported;
    if (!supported.read(m_display->display(), m_display->root(), m_display->atom("_NET_SUPPORTED"),
                        XA_ATOM) ||
        supported.format != 32) {
        return false;
    }
    const Atom wanted = m_display->atom("_NET_ACTIVE_WINDOW");
    const auto* atoms = reinterpret_cast<unsigned long*>(supported.data);
    for (unsigned long i = 0; i < supported.count; ++i) {
        if (atoms[i] == wanted) {
            return true;
        }
    }
    return false;
}

std::optional<Window> X11WindowInspector::focusedClientWindow() {
    Display* display = m_display->display();
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Window root = m_display->root();
    for (Window window = focus; window != None && window != PointerRoot && window != root;) {
        if (hasClassHint(window)) {
            return window;
        }
        Window treeRoot = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &treeRoot, &parent, &children, &childCount)) {
            break;
        }
        if (children) {
            XFree(children);
        }
        window = parent;
    }
    return std::nullopt;
}

bool X11WindowInspector::hasClassHint(Window window) {
    Property property;
    return property.read(m_display->display(), window, XA_WM_CLASS, XA_STRING) && property.count > 0;
}

std::optional<qint64> X11WindowInspector::processId(Window window) {
    Property property;
    if (!property.read(m_display->display(), window, m_display->atom("_NET_WM_PID"), XA_CARDINAL) ||
        property.format != 32 || property.count < 1) {
        return std::nullopt;
    }
    const auto pid = static_cast<qint64>(reinterpret_cast<unsigned long*>(property.data)[0]);
    if (pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

QList<Window> X11WindowInspector::windowListProperty(Window window, const char* name, bool* present) {
    QList<Window> result;
    Property property;
    const bool found = property.read(m_display->display(), window, m_display->atom(name), XA_WINDOW);
    if (present) {
        *present = found;
    }
    if (found && property.format == 32) {
        const auto* items = reinterpret_cast<unsigned long*>(property.data);
        for (unsigned long i = 0; i < property.count; ++i) {
            result.append(static_cast<Window>(items[i]));
        }
    }
    return result;
}

std::optional<QString> X11WindowInspector::utf8Property(Window window, const char* name) {
    Property property;
    if (!property.read(m_display->display(), window, m_display->atom(name), m_display->atom("UTF8_STRING")) ||
        property.format != 8) {
        return std::nullopt;
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(property.data),
                             static_cast<qsizetype>(property.count));
}

std::optional<QString> X11WindowInspector::legacyName(Window window) {
    XTextProperty text{};
    if (!XGetWMName(m_display->display(), window, &text) || !text.value) {
        return std::nullopt;
    }
    std::optional<QString> result;
    char** list = nullptr;
    int listCount = 0;
    // STRING is Latin-1 and COMPOUND_TEXT is locale-encoded; Xutf8 converts either to UTF-8.
    if (Xutf8TextPropertyToTextList(m_display->display(), &text, &list, &listCount) >= Success && list &&
        listCount > 0) {
        QString joined;
        for (int i = 0; i < listCount; ++i) {
            joined += QString::fromUtf8(list[i]);
        }
        result = joined;
        XFreeStringList(list);
    } else if (text.encoding == XA_STRING && text.format == 8) {
        result = QString::fromLatin1(reinterpret_cast<const char*>(text.value),
                                     static_cast<qsizetype>(text.nitems));
    }
    XFree(text.value);
    return result;
}

std::optional<QString> X11WindowInspector::windowTitle(quint64 window) {
    if (!m_display || window == None) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*m_display);
    if (auto title = utf8Property(window, "_NET_WM_NAME"); title && !title->isEmpty()) {
        return title;
    }
    return legacyName(window);
}

std::optional<quint64> X11WindowInspector::mainWindow(quint64 window) {
    if (!m_display || window == None) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*m_display);
    Window owner = None;
    if (XGetTransientForHint(m_display->display(), window, &owner) && owner != None && owner != window &&
        owner != m_display->root()) {
        return owner;
    }
    const QList<Window> leader = windowListProperty(window, "WM_CLIENT_LEADER");
    if (!leader.isEmpty() && leader.first() != None && leader.first() != window) {
        return leader.first();
    }
    return std::nullopt;
}

QList<quint64> X11WindowInspector::windowsOfProcess(qint64 pid) {
    QList<quint64> result;
    if (!m_display) {
        return result;
    }
    X11Display::ErrorTrap trap(*m_display);
    bool published = false;
    QList<Window> candidates = windowListProperty(m_display->root(), "_NET_CLIENT_LIST", &published);
    if (!published) {
        // No window manager list: the top-level windows, bottom to top.
        Window treeRoot = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(m_display->display(), m_display->root(), &treeRoot, &parent, &children, &childCount)) {
            for (unsigned int i = 0; i < childCount; ++i) {
                candidates.append(children[i]);
            }
            if (children) {
                XFree(children);
            }
        }
    }
    for (Window window : candidates) {
        if (processId(window) == pid) {
            result.append(window);
        }
    }
    return result;
}

std::optional<QRect> X11WindowInspector::frontmostWindowFrame() {
    if (!m_display) {
        return std::nullopt;
    }
    X11Display::ErrorTrap trap(*m_display); // the window may be gone by the time we ask about it
    const std::optional<Window> active = activeWindow();
    if (!active) {
        return std::nullopt;
    }
    XWindowAttributes attributes{};
    int rootX = 0, rootY = 0;
    Window child = None;
    if (!XGetWindowAttributes(m_display->display(), *active, &attributes) ||
        !XTranslateCoordinates(m_display->display(), *active, m_display->root(), 0, 0, &rootX, &rootY,
                               &child) ||
        trap.finish() != Success || attributes.map_state != IsViewable) {
        return std::nullopt;
    }
    return QRect(rootX, rootY, attributes.width, attributes.height);
}

bool X11WindowInspector::compositingManagerRunning() {
    if (!m_display) {
        return false;
    }
    // A compositing manager owns the selection _NET_WM_CM_S<screen> while it runs.
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(m_display->display()));
    return XGetSelectionOwner(m_display->display(), m_display->atom(selection.constData())) != None;
}
