#include "MouseTriggerService.h"

#include "AppLogger.h"
#include "RawInputMonitor.h"

MouseTriggerService::MonitorFactory MouseTriggerService::buttonMonitors(
    std::function<std::unique_ptr<RawInputMonitor>(int sources)> openInputMonitor) {
    return [openInputMonitor = std::move(openInputMonitor)](
               std::function<void(int, bool)> callback) -> std::unique_ptr<QObject> {
        auto monitor = openInputMonitor(RawInputMonitor::Buttons);
        if (!monitor) {
            AppLogger::error(QStringLiteral("Middle mouse monitor unavailable: no X display with XInput 2"));
            return nullptr;
        }
        monitor->onButtonEvent = std::move(callback);
        return monitor;
    };
}

MouseTriggerService::MouseTriggerService(MonitorFactory monitorFactory)
    : m_monitorFactory(std::move(monitorFactory)) {}

MouseTriggerService::~MouseTriggerService() {
    if (m_monitorAlive) {
        *m_monitorAlive = false;
    }
    if (m_monitor) {
        m_monitor.release()->deleteLater();
    }
}

void MouseTriggerService::setMode(MouseTriggerMode mode) {
    m_mode = mode;
    restart();
}

void MouseTriggerService::restart() {
    removeMonitors();
    if (m_mode == MouseTriggerMode::Off) {
        return;
    }
    auto alive = std::make_shared<bool>(true);
    m_monitorAlive = alive;
    m_monitor = m_monitorFactory([this, alive](int button, bool isDown) {
        if (*alive) {
            handleButton(button, isDown);
        }
    });
    AppLogger::info(QStringLiteral("Mouse trigger configured mode=") + toRaw(m_mode));
}

void MouseTriggerService::removeMonitors() {
    // The monitor may be the caller (a handler that changes the mode): silence it now, delete it later.
    if (m_monitorAlive) {
        *m_monitorAlive = false;
        m_monitorAlive.reset();
    }
    if (m_monitor) {
        m_monitor.release()->deleteLater();
    }
    if (m_isMiddlePressed) {
        // The receiver is recording: a held button must not be forgotten without its release.
        m_isMiddlePressed = false;
        AppLogger::info(QStringLiteral("Middle mouse released"));
        if (eventHandler) {
            eventHandler(MouseTriggerEvent::released());
        }
    }
}

void MouseTriggerService::handleButton(int button, bool isDown) {
    if (button != watchedButton) {
        return;
    }
    if (isDown) {
        if (m_isMiddlePressed) {
            return;
        }
        m_isMiddlePressed = true;
        AppLogger::info(QStringLiteral("Middle mouse pressed mode=") + toRaw(m_mode));
        if (eventHandler) {
            eventHandler(MouseTriggerEvent::pressed(m_mode));
        }
    } else {
        if (!m_isMiddlePressed) {
            return;
        }
        m_isMiddlePressed = false;
        AppLogger::info(QStringLiteral("Middle mouse released"));
        if (eventHandler) {
            eventHandler(MouseTriggerEvent::released());
        }
    }
}
