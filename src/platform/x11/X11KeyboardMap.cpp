// Qt-based headers before Xlib ones: Xlib's macros clash with Qt.
#include "KeyboardMap.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include "X11KeyMapping.h"

#include <X11/keysym.h>

namespace KeyboardMap {
namespace {

Display* qtDisplay() {
    if (!qGuiApp) {
        return nullptr;
    }
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// The keysym a Qt key stands for, for events that carry no native data.
KeySym keysymOfQtKey(int qtKey) {
    if (qtKey > 0 && qtKey < 0x100) {
        return KeySym(qtKey); // Latin-1 keys are their own keysyms (letters in upper case)
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35) {
        return XK_F1 + KeySym(qtKey - Qt::Key_F1);
    }
    switch (qtKey) {
    case Qt::Key_Escape:
        return XK_Escape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return XK_Tab;
    case Qt::Key_Backspace:
        return XK_BackSpace;
    case Qt::Key_Return:
        return XK_Return;
    case Qt::Key_Left:
        return XK_Left;
    case Qt::Key_Right:
        return XK_Right;
    case Qt::Key_Up:
        return XK_Up;
    case Qt::Key_Down:
        return XK_Down;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return XK_Super_L;
    case Qt::Key_Super_R:
        return XK_Super_R;
    case Qt::Key_Alt:
        return XK_Alt_L;
    case Qt::Key_Control:
        return XK_Control_L;
    case Qt::Key_Shift:
        return XK_Shift_L;
    case Qt::Key_CapsLock:
        return XK_Caps_Lock;
    case Qt::Key_NumLock:
        return XK_Num_Lock;
    default:
        return NoSymbol;
    }
}

DesktopKey fromModifier(const X11KeyMapping::ModifierKey& modifier) {
    return {modifier.flag, modifier.keyCode};
}

// Num Lock and Scroll Lock change no shortcut: they count like Caps Lock, which the capture ignores.
bool isOtherLock(KeySym keysym) {
    return keysym == XK_Num_Lock || keysym == XK_Scroll_Lock;
}

DesktopKey fromKeysym(KeySym keysym) {
    if (const auto modifier = X11KeyMapping::modifierKeyForKeysym(keysym)) {
        return fromModifier(*modifier);
    }
    if (isOtherLock(keysym)) {
        return {X11KeyMapping::CapsLockFlag, X11KeyMapping::ModifierKeyCode::CapsLock};
    }
    return {0, X11KeyMapping::keyCodeForKeysym(keysym)};
}

} // namespace

DesktopKey keyOfEvent(std::uint32_t nativeScanCode, std::uint32_t nativeVirtualKey, int qtKey) {
    if (nativeScanCode != 0 && nativeScanCode <= 255) {
        if (Display* display = qtDisplay()) {
            const auto meaning = X11KeyMapping::meaningOfKeycode(display, KeyCode(nativeScanCode));
            if (meaning.modifier) {
                return fromModifier(*meaning.modifier);
            }
            if (meaning.keyCode) {
                return {0, *meaning.keyCode};
            }
            return fromKeysym(isOtherLock(nativeVirtualKey) ? nativeVirtualKey : NoSymbol);
        }
    }
    if (nativeVirtualKey != 0) {
        return fromKeysym(nativeVirtualKey);
    }
    return fromKeysym(keysymOfQtKey(qtKey));
}

} // namespace KeyboardMap
