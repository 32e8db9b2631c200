#include "GlobalHotkeyService.h"

#include "AppLogger.h"
#include "GlobalKeyGrabber.h"
#include "RawInputMonitor.h"

#include <algorithm>

namespace {
QString noDisplayMessage() {
    return QStringLiteral("Global shortcuts need an X display. Start Quillvane in an X11 session "
                          "(or a Wayland session with XWayland).");
}
} // namespace

GlobalHotkeyError GlobalHotkeyError::failedToInstallHandler(int status) {
    return GlobalHotkeyError(Kind::FailedToInstallHandler, status,
                             status == noDisplayStatus
                                 ? noDisplayMessage()
                                 : QStringLiteral("Failed to install hotkey handler (%1).").arg(status));
}

GlobalHotkeyError GlobalHotkeyError::failedToRegister(int status, const QString& shortcut) {
    QString message;
    switch (status) {
    case noDisplayStatus:
        message = noDisplayMessage();
        break;
    case GlobalKeyGrabber::takenStatus:
        message = QStringLiteral("%1 is already used by another application. Choose another shortcut, or "
                                 "free it in that application.")
                      .arg(shortcut);
        break;
    case GlobalKeyGrabber::noSuchKeyStatus:
        message = QStringLiteral("%1 cannot be used: this keyboard has no such key. Choose another shortcut.")
                      .arg(shortcut);
        break;
    default:
        message = QStringLiteral("Failed to register the global shortcut %1 (X error %2).")
                      .arg(shortcut)
                      .arg(status);
        break;
    }
    return GlobalHotkeyError(Kind::FailedToRegister, status, std::move(message));
}

GlobalHotkeyService::GlobalHotkeyService(GrabberFactory openGrabber, MonitorFactory openMonitor,
                                         QObject* parent)
    : QObject(parent), m_openGrabber(std::move(openGrabber)), m_openMonitor(std::move(openMonitor)) {
    HotkeyDefinition functionKeyAlone;
    functionKeyAlone.id = 1;
    functionKeyAlone.includesFunctionKey = true;
    functionKeyAlone.isModifierOnly = true;
    m_engine.setHotkeys({HotkeyBinding{HotkeyIntent::Dictation, functionKeyAlone}});
    m_engine.deliver = [this](HotkeyIntent intent, HotkeyEvent event) { deliver(intent, event); };
}

GlobalHotkeyService::~GlobalHotkeyService() {
    // The platform parts go first: their callbacks reach the engine.
    m_keyMonitor.reset();
    m_grabber.reset();
}

void GlobalHotkeyService::setHotkeys(QList<HotkeyBinding> hotkeys) {
    m_engine.setHotkeys(std::move(hotkeys));
}

void GlobalHotkeyService::deliver(HotkeyIntent intent, HotkeyEvent event) {
    if (interceptor && interceptor(intent, event)) {
        return;
    }
    if (eventHandler) {
        eventHandler(intent, event);
    }
}

bool GlobalHotkeyService::openGrabber() {
    if (m_grabber) {
        return true;
    }
    m_grabber = m_openGrabber();
    if (!m_grabber) {
        return false;
    }
    m_grabber->acceptPress = [this](std::uint32_t id) { return acceptsGrabbedPress(id); };
    m_grabber->onHotKey = [this](std::uint32_t id, bool pressed) {
        m_engine.handleGrabbedHotKey(id, pressed ? HotkeyEvent::Pressed : HotkeyEvent::Released);
    };
    return true;
}

bool GlobalHotkeyService::acceptsGrabbedPress(std::uint32_t id) {
    // The grab matched the Control mask; Control means the left Ctrl key, Right Ctrl is the Fn key.
    const auto& hotkeys = m_engine.hotkeys();
    const auto binding = std::find_if(hotkeys.begin(), hotkeys.end(),
                                      [id](const HotkeyBinding& entry) { return entry.definition.id == id; });
    if (binding == hotkeys.end() || !(binding->definition.carbonModifiers & CarbonModifier::Control) ||
        !m_keyMonitor) {
        return true;
    }
    const std::uint64_t held = m_keyMonitor->currentModifierFlags();
    if ((held & ModifierFlag::Function) && !(held & ModifierFlag::Control)) {
        AppLogger::info(
            QStringLiteral("Global hotkey id=%1 not pressed: Right Ctrl (Fn) is held, not Ctrl").arg(id));
        return false;
    }
    return true;
}

void GlobalHotkeyService::installHandlerIfNeeded() {
    if (!openGrabber()) {
        throw GlobalHotkeyError::failedToInstallHandler(GlobalHotkeyError::noDisplayStatus);
    }
}

void GlobalHotkeyService::registerHotkey() {
    m_engine.releaseGrabbedHotkeys();
    if (m_grabber) {
        m_grabber->ungrabAll();
    }
    const QList<HotkeyBinding> hotkeys = m_engine.hotkeys();
    for (const HotkeyBinding& binding : hotkeys) {
        const HotkeyDefinition& definition = binding.definition;
        if (!HotkeyEngine::registersGrab(definition)) {
            continue;
        }
        const QString shortcut = HotkeyDefinition::displayString(
            definition.keyCode, definition.carbonModifiers, false, definition.isModifierOnly);
        if (!openGrabber()) {
            throw GlobalHotkeyError::failedToRegister(GlobalHotkeyError::noDisplayStatus, shortcut);
        }
        const int status =
            definition.keyCode > 0xFFFF
                ? GlobalKeyGrabber::noSuchKeyStatus
                : m_grabber->grab(definition.id, static_cast<std::uint16_t>(definition.keyCode),
                                  definition.carbonModifiers);
        if (status != 0) {
            throw GlobalHotkeyError::failedToRegister(status, shortcut);
        }
        AppLogger::info(QStringLiteral("Global hotkey registered: ") + shortcut);
    }
}

void GlobalHotkeyService::installFunctionKeyMonitors() {
    if (!m_keyMonitor) {
        m_keyMonitor = m_openMonitor(RawInputMonitor::Keys);
        if (m_keyMonitor) {
            m_keyMonitor->onKeyEvent = [this](const GlobalKeyEvent& event) {
                m_engine.handleKeyEvent(event);
            };
        } else {
            AppLogger::error(QStringLiteral("Shortcut key monitor unavailable: no X display with XInput 2"));
        }
    }
    m_engine.resetMonitorState();
}
