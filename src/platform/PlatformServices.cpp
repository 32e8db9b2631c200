// Qt-based headers before Xlib ones: Xlib's macros clash with Qt.
#include "PlatformServices.h"

#include <QCoreApplication>

#include "AtSpiSelectionReader.h"
#include "DesktopInputAccess.h"
#include "LibsecretBackend.h"
#include "PulseAudioInputSystem.h"
#include "PulseConnection.h"
#include "PulseOutputMuteControl.h"
#include "X11KeyGrabber.h"
#include "X11KeyInjector.h"
#include "X11RawInputMonitor.h"
#include "X11WindowInspector.h"

namespace {

// Kept for the life of the process and never destroyed: the connection may outlive the application object.
template <class T> std::shared_ptr<T> processLifetime(std::shared_ptr<T> object) {
    static_cast<void>(new std::shared_ptr<T>(object));
    return object;
}

std::shared_ptr<KeySynthesizer> desktopKeys() {
    auto injector = processLifetime(std::make_shared<X11KeyInjector>());
    if (auto* app = QCoreApplication::instance()) {
        // Spares still mapped after a typing are emptied (and held keys let go) before we go.
        QObject::connect(app, &QCoreApplication::aboutToQuit, [weak = std::weak_ptr(injector)] {
            if (auto alive = weak.lock()) {
                alive->restoreKeyboardNow();
            }
        });
    }
    return injector;
}

} // namespace

PlatformServices PlatformServices::forThisDesktop(int facilities) {
    PlatformServices services;
    if (facilities & X11) {
        services.openKeyGrabber = []() -> std::unique_ptr<GlobalKeyGrabber> { return X11KeyGrabber::open(); };
        services.openInputMonitor = [](int sources) -> std::unique_ptr<RawInputMonitor> {
            return X11RawInputMonitor::open(sources);
        };
        services.keys = desktopKeys();
        services.windows = processLifetime<FrontmostWindowSource>(std::make_shared<X11WindowInspector>());
        services.inputAccessGranted = &desktopInputAccessGranted;
    }
    if (facilities & PulseAudio) {
        // One connection to the sound server for the process: the input list and the muting share it.
        const std::shared_ptr<PulseConnection> pulse = PulseConnection::shared();
        services.audioInputs = std::make_shared<PulseAudioInputSystem>(pulse);
        services.openOutputMute = [pulse]() -> std::unique_ptr<OutputMuteControl> {
            return std::make_unique<PulseOutputMuteControl>(pulse);
        };
    }
    if (facilities & SecretService) {
        services.secrets = std::make_shared<LibsecretBackend>();
    }
    if (facilities & AtSpi) {
        services.accessibleSelection = std::make_shared<AtSpiSelectionReader>();
    }
    return services;
}
