#pragma once

#include "HotkeyEngine.h"
#include "HotkeyIntent.h"
#include "UserFacingError.h"

#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class GlobalKeyGrabber;
class RawInputMonitor;

// The shortcut service's failures. The status is the X error code of the refused request (BadAccess = 10
// when another program holds the chord, BadValue = 2 when this keyboard has no such key), or -1 when no
// X display answers. The message says what happened in the user's terms (the shortcut as shown, which
// application side holds it, what to do) rather than the code.
class GlobalHotkeyError : public UserFacingError {
public:
    enum class Kind { FailedToInstallHandler, FailedToRegister };
    static constexpr int noDisplayStatus = -1;

    static GlobalHotkeyError failedToInstallHandler(int status);
    // `shortcut`: the refused shortcut as shown to the user ("Alt + Ctrl + K").
    static GlobalHotkeyError failedToRegister(int status, const QString& shortcut);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }

private:
    GlobalHotkeyError(Kind kind, int status, QString message)
        : UserFacingError(std::move(message)), m_kind(kind), m_status(status) {}
    Kind m_kind;
    int m_status;
};

// Turns the configured shortcuts into press and release edges system-wide, whichever application is in
// front. Key chords with modifiers are grabbed (GlobalKeyGrabber; on X11 one connection); standalone keys,
// Fn combinations and modifier-only shortcuts are read from raw key events (RawInputMonitor; on X11
// another connection: a grabbing connection would miss events while its grab is active). The state
// machines live in HotkeyEngine. Main thread only; one instance for the life of the process.
//
// Activation, in this order, stopping at the first error: installHandlerIfNeeded(), registerHotkey(),
// installFunctionKeyMonitors().
class GlobalHotkeyService : public QObject {
    Q_OBJECT

public:
    // Opens the grabbing connection; nothing when no X server answers.
    using GrabberFactory = std::function<std::unique_ptr<GlobalKeyGrabber>()>;
    // Opens a raw input monitor of the given RawInputMonitor sources; nothing without one.
    using MonitorFactory = std::function<std::unique_ptr<RawInputMonitor>(int sources)>;

    GlobalHotkeyService(GrabberFactory openGrabber, MonitorFactory openMonitor, QObject* parent = nullptr);
    ~GlobalHotkeyService() override;

    // Consulted first for every edge; true consumes it.
    std::function<bool(HotkeyIntent, HotkeyEvent)> interceptor;
    // Receives every edge the interceptor does not consume.
    std::function<void(HotkeyIntent, HotkeyEvent)> eventHandler;

    // Initially one entry: dictation on the Fn key (Right Ctrl) held alone.
    const QList<HotkeyBinding>& hotkeys() const { return m_engine.hotkeys(); }
    void setHotkeys(QList<HotkeyBinding> hotkeys);

    // Opens the grabbing connection once. Throws GlobalHotkeyError::failedToInstallHandler.
    void installHandlerIfNeeded();
    // Releases every held grabbed chord, drops every grab and grabs the current list anew. Throws
    // GlobalHotkeyError::failedToRegister at the first chord refused; the chords before it stay grabbed.
    void registerHotkey();
    // Starts the key monitor once and resets the key and modifier state, releasing what was held.
    // Never fails: without an X display with XInput 2 it logs an error and watches nothing.
    void installFunctionKeyMonitors();

private:
    void deliver(HotkeyIntent intent, HotkeyEvent event);
    bool openGrabber();
    // Whether a press of grabbed chord `id` is that shortcut (not Right Ctrl standing in for Ctrl).
    bool acceptsGrabbedPress(std::uint32_t id);

    GrabberFactory m_openGrabber;
    MonitorFactory m_openMonitor;
    HotkeyEngine m_engine;
    std::unique_ptr<GlobalKeyGrabber> m_grabber;
    std::unique_ptr<RawInputMonitor> m_keyMonitor;
};
