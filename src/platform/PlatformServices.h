#pragma once

#include <functional>
#include <memory>

class AccessibleSelectionReader;
class AudioInputSystem;
class FrontmostWindowSource;
class GlobalKeyGrabber;
class KeySynthesizer;
class OutputMuteControl;
class RawInputMonitor;
class SecretBackend;

// Everything the application takes from the desktop, in one place: built once by the program's entry
// point (forThisDesktop) and handed to the composition root, which gives each service the parts it needs.
// Tests fill it with fakes. Main thread only.
struct PlatformServices {
    // The desktop's facilities, as forThisDesktop builds them.
    enum Facility { X11 = 0x1, PulseAudio = 0x2, SecretService = 0x4, AtSpi = 0x8, AllFacilities = 0xF };

    // X11: the global shortcut grabber and the raw key/button monitor are opened (and reopened) when
    // needed, and give nothing without a usable display.
    std::function<std::unique_ptr<GlobalKeyGrabber>()> openKeyGrabber;
    std::function<std::unique_ptr<RawInputMonitor>(int sources)> openInputMonitor;
    std::shared_ptr<KeySynthesizer> keys;
    std::shared_ptr<FrontmostWindowSource> windows;
    // Whether this process may watch and synthesize input system-wide, asked afresh on every call.
    std::function<bool()> inputAccessGranted;

    // PulseAudio: the microphones and the default source; the playback streams' mute switches (opened on
    // the thread that uses them).
    std::shared_ptr<AudioInputSystem> audioInputs;
    std::function<std::unique_ptr<OutputMuteControl>()> openOutputMute;

    // The Secret Service: where the session token is kept.
    std::shared_ptr<SecretBackend> secrets;

    // AT-SPI: the focused application's selected text.
    std::shared_ptr<AccessibleSelectionReader> accessibleSelection;

    // The Linux desktop's facilities (X11, PulseAudio, the Secret Service, AT-SPI), or those of
    // `facilities` (a Facility combination; the others stay empty). The key synthesizer and the window
    // source keep their X connections for the life of the process: they may be used after the application
    // object is gone. The program calls it once, after the application object exists.
    static PlatformServices forThisDesktop(int facilities = AllFacilities);
};
