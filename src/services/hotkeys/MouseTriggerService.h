#pragma once

#include "MouseTriggerMode.h"

#include <QObject>

class RawInputMonitor;

#include <functional>
#include <memory>

// An edge of the middle mouse button: pressed with the mode current at the press, or released.
struct MouseTriggerEvent {
    enum class Kind { Pressed, Released };
    Kind kind = Kind::Released;
    MouseTriggerMode mode = MouseTriggerMode::Off; // meaningful for Pressed

    static MouseTriggerEvent pressed(MouseTriggerMode mode) { return {Kind::Pressed, mode}; }
    static MouseTriggerEvent released() { return {Kind::Released, MouseTriggerMode::Off}; }
    friend bool operator==(const MouseTriggerEvent&, const MouseTriggerEvent&) = default;
};

// Lets the user hold the middle mouse button instead of a shortcut. Watches button 2 system-wide,
// passively (the click still reaches the application under the pointer), and reports one pressed edge
// carrying the mode and one released edge per click. Main thread only.
class MouseTriggerService {
public:
    // Installs a platform monitor that calls its callback with (button number, is-down) for every pointer
    // button of the desktop; destroying the returned object removes it. May give nothing.
    using MonitorFactory =
        std::function<std::unique_ptr<QObject>(std::function<void(int button, bool isDown)> callback)>;

    explicit MouseTriggerService(MonitorFactory monitorFactory);
    // Watches the pointer buttons with the raw input monitors that `openInputMonitor` opens (given the
    // RawInputMonitor sources; nothing when the window system cannot report raw input).
    static MonitorFactory
    buttonMonitors(std::function<std::unique_ptr<RawInputMonitor>(int sources)> openInputMonitor);
    ~MouseTriggerService();
    MouseTriggerService(const MouseTriggerService&) = delete;
    MouseTriggerService& operator=(const MouseTriggerService&) = delete;

    static constexpr int watchedButton = 2;

    std::function<void(const MouseTriggerEvent&)> eventHandler;

    MouseTriggerMode mode() const { return m_mode; }
    // Stores the mode and restarts.
    void setMode(MouseTriggerMode mode);
    // Rebuilds the monitor for the current mode. A button held at that moment is released first.
    void restart();

private:
    void removeMonitors();
    void handleButton(int button, bool isDown);

    MonitorFactory m_monitorFactory;
    std::unique_ptr<QObject> m_monitor;
    std::shared_ptr<bool> m_monitorAlive;
    MouseTriggerMode m_mode = MouseTriggerMode::Off;
    bool m_isMiddlePressed = false;
};
