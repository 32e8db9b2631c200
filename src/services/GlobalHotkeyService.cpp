#include "GlobalHotkeyService.h"

#include "AppLogger.h"
#include "X11KeyGrabber.h"
#include "X11RawInputMonitor.h"

GlobalHotkeyError GlobalHotkeyError::failedToInstallHandler(int status) {
    return GlobalHotkeyError(Kind::FailedToInstallHandler, status,
                             QStringLiteral("Failed to install hotkey handler (%1).").arg(status));
}

GlobalHotkeyError GlobalHotkeyError::failedToRegister(int status) {
    return GlobalHotkeyError(Kind::FailedToRegister, status,
                             QStringLiteral("Failed to register global hotkey (%1).").arg(status));
}

GlobalHotkeyService::GlobalHotkeyService(QObject* parent) : QObject(parent) {
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
    m_grabber = X11KeyGrabber::open();
    if (!m_grabber) {
        return false;
    }
    m_grabber->onHotKey = [this](std::uint32_t id, bool pressed) {
        m_engine.handleGrabbedHotKey(id, pressed ? HotkeyEvent::Pressed : HotkeyEvent::Released);
    };
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
        if (!openGrabber()) {
            throw GlobalHotkeyError::failedToRegister(GlobalHotkeyError::noDisplayStatus);
        }
        const int status =
            definition.keyCode > 0xFFFF
                ? X11KeyGrabber::noSuchKeyStatus
                : m_grabber->grab(definition.id, static_cast<std::uint16_t>(definition.keyCode),
                                  definition.carbonModifiers);
        if (status != 0) {
            throw GlobalHotkeyError::failedToRegister(status);
        }
        AppLogger::info(QStringLiteral("Global hotkey registered: ") +
                        HotkeyDefinition::displayString(definition.keyCode, definition.carbonModifiers, false,
                                                        definition.isModifierOnly));
    }
}

void GlobalHotkeyService::installFunctionKeyMonitors() {
    if (!m_keyMonitor) {
        m_keyMonitor = X11RawInputMonitor::open(X11RawInputMonitor::Keys);
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
