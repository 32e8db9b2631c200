#pragma once

// Fakes the container tests build the composition root with.

#include "AccessibleSelectionReader.h"
#include "AudioInputSystem.h"
#include "FrontmostWindowSource.h"
#include "GlobalKeyGrabber.h"
#include "KeySynthesizer.h"
#include "OutputMuteControl.h"
#include "PlatformServices.h"
#include "RawInputMonitor.h"
#include "SignInCancellation.h"

#include <qcoro/qcorotask.h>

// A sound server with no microphone.
class NoAudioInputs final : public AudioInputSystem {
public:
    std::optional<QString> defaultInputId() override { return std::nullopt; }
    QList<Input> inputs() override { return {}; }
    bool deviceExists(const QString&) override { return false; }
    int setDefaultInput(const QString&) override { return -1; }
    std::unique_ptr<QAudioSource> openCapture(const QString&, const QAudioFormat&) override {
        return nullptr;
    }
    QString lastErrorText() const override { return QStringLiteral("no server"); }
};

// Keys with no X display to send them to.
class NoKeys final : public KeySynthesizer {
public:
    bool isTrusted() const override { return false; }
    bool isAvailable() const override { return false; }
    QCoro::Task<bool> waitForModifiersReleased(std::chrono::milliseconds) override { co_return true; }
    bool sendChord(const EditChord&) override { return false; }
    QCoro::Task<> typeText(QString, std::chrono::milliseconds) override {
        throw KeySynthesisError("no X display");
        co_return;
    }
};

// A desktop with no windows to see.
class NoWindows final : public FrontmostWindowSource {
public:
    std::optional<FrontmostWindow> frontmostWindow() override { return std::nullopt; }
    std::optional<QString> windowTitle(quint64) override { return std::nullopt; }
    std::optional<quint64> mainWindow(quint64) override { return std::nullopt; }
    QList<quint64> windowsOfProcess(qint64) override { return {}; }
};

// No accessibility bus.
class NoAccessibilityBus final : public AccessibleSelectionReader {
public:
    QCoro::Task<Result> readFocusedSelection(qint64) override {
        co_return Result{Result::Outcome::NoFocusedObject, statusBusUnavailable, {}};
    }
};

// A sound server playing nothing.
class NoPlayback final : public OutputMuteControl {
public:
    std::optional<QList<PlaybackStream>> playbackStreams() override { return QList<PlaybackStream>{}; }
    Result setStreamMuted(quint32, bool) override { return Result::NoSuchStream; }
    QString lastErrorText() const override { return {}; }
};

// A pointer the test moves: its buttons go down and up when the test calls onButtonEvent.
class DrivenButtons final : public RawInputMonitor {
public:
    std::uint64_t modifierFlags() const override { return 0; }
    std::uint64_t currentModifierFlags() override { return 0; }
};

// The desktop the container tests build on: no X display (no shortcut grabs, key monitor, windows or
// synthesized keys, no input access), no accessibility bus, a sound server with no microphone that plays
// nothing, the secrets in `secrets`, and pointer buttons from `openButtons` (none when empty).
inline PlatformServices fakeDesktop(std::shared_ptr<SecretBackend> secrets,
                                    std::function<std::unique_ptr<RawInputMonitor>()> openButtons = {}) {
    PlatformServices desktop;
    desktop.openKeyGrabber = []() -> std::unique_ptr<GlobalKeyGrabber> { return nullptr; };
    desktop.openInputMonitor = [openButtons](int sources) -> std::unique_ptr<RawInputMonitor> {
        if (sources != RawInputMonitor::Buttons || !openButtons) {
            return nullptr;
        }
        return openButtons();
    };
    desktop.keys = std::make_shared<NoKeys>();
    desktop.windows = std::make_shared<NoWindows>();
    desktop.inputAccessGranted = [] { return false; };
    desktop.audioInputs = std::make_shared<NoAudioInputs>();
    desktop.openOutputMute = [] { return std::make_unique<NoPlayback>(); };
    desktop.secrets = std::move(secrets);
    desktop.accessibleSelection = std::make_shared<NoAccessibilityBus>();
    return desktop;
}

// A provider's browser flow that ends with whatever the test answers through `pending`.
template <class T> QCoro::Task<T> answerOf(PendingValue<T> pending) {
    co_return co_await pending;
}
