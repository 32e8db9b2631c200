#include "DesktopInputAccess.h"

#include "X11Display.h"

bool desktopInputAccessGranted() {
    // A connection of its own for each check: a display that comes up later is seen the next time.
    const auto display = X11Display::open();
    return display && display->hasXTest() && display->xinput2Opcode().has_value();
}
