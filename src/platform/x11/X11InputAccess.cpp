#include "DesktopInputAccess.h"

#include <QByteArray>

#include "X11Display.h" // Xlib last: its macros clash with Qt headers

bool desktopInputAccessGranted() {
    // A connection of its own for each check: a display that comes up later is seen the next time.
    const auto display = X11Display::open();
    return display && display->hasXTest() && display->xinput2Opcode().has_value();
}

QString desktopInputAccessProblem() {
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (!qgetenv("WAYLAND_DISPLAY").isEmpty()) {
            return QStringLiteral("This Wayland session offers no X display (XWayland), so shortcuts, "
                                  "typing and selected-text capture cannot work. Sign in to an X11 session "
                                  "or enable XWayland.");
        }
        return QStringLiteral(
            "No X display is set (DISPLAY is empty), so shortcuts, typing and "
            "selected-text capture cannot work. Start Quillvane inside your desktop session.");
    }
    const auto x = X11Display::open();
    if (!x) {
        return QStringLiteral(
                   "The X display %1 does not answer. Start Quillvane inside your desktop session.")
            .arg(QString::fromLocal8Bit(display));
    }
    if (!x->hasXTest() || !x->xinput2Opcode()) {
        return QStringLiteral("The X server lacks the XTest or XInput2 extension, which Quillvane needs for "
                              "shortcuts and typing.");
    }
    return {};
}
