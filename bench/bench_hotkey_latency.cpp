// Shortcut latency: from an XTest key press on the X server to the service's eventHandler call, for the
// two paths a press can take (XInput2 raw events for modifier-only shortcuts, a passive key grab for
// chords). Needs an X server: run under scripts/test-session. Each iteration's latency is its manual
// time; the counters give the median and the 90th percentile in microseconds.

#include "GlobalHotkeyService.h"
#include "TestDesktop.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

// Xlib after Qt.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct Injector {
    Display* display = XOpenDisplay(nullptr);
    ~Injector() {
        if (display) {
            XCloseDisplay(display);
        }
    }
    void key(KeySym keysym, bool down) const {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, CurrentTime);
        XFlush(display);
    }
};

// Runs the event loop until `done` holds.
template <class Predicate> void runUntil(Predicate done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void report(benchmark::State& state, std::vector<double> microseconds) {
    if (microseconds.empty()) {
        return;
    }
    std::sort(microseconds.begin(), microseconds.end());
    state.counters["median_us"] = microseconds[microseconds.size() / 2];
    state.counters["p90_us"] = microseconds[microseconds.size() * 9 / 10];
}

// `holdFirst` are held around each timed press of `key`; the press must start `expectedIntent`.
void measure(benchmark::State& state, const QList<HotkeyBinding>& hotkeys, std::vector<KeySym> holdFirst,
             KeySym key) {
    Injector injector;
    if (!injector.display) {
        state.SkipWithError("no X display: run under scripts/test-session");
        return;
    }
    GlobalHotkeyService service(testDesktop().openKeyGrabber, testDesktop().openInputMonitor);
    SteadyClock::time_point pressedAt;
    int presses = 0, releases = 0;
    service.eventHandler = [&](HotkeyIntent, HotkeyEvent event) {
        if (event == HotkeyEvent::Pressed) {
            pressedAt = SteadyClock::now();
            ++presses;
        } else {
            ++releases;
        }
    };
    service.setHotkeys(hotkeys);
    service.installHandlerIfNeeded();
    service.registerHotkey();
    service.installFunctionKeyMonitors();

    std::vector<double> latencies;
    for (auto _ : state) {
        for (KeySym held : holdFirst) {
            injector.key(held, true);
        }
        const int before = presses;
        const auto start = SteadyClock::now();
        injector.key(key, true);
        runUntil([&] { return presses > before; });
        const std::chrono::duration<double> elapsed = pressedAt - start;
        state.SetIterationTime(elapsed.count());
        latencies.push_back(elapsed.count() * 1e6);

        const int releasedBefore = releases;
        injector.key(key, false);
        for (auto it = holdFirst.rbegin(); it != holdFirst.rend(); ++it) {
            injector.key(*it, false);
        }
        runUntil([&] { return releases > releasedBefore; });
    }
    report(state, std::move(latencies));
}

void BM_FnKeyPressToHandler(benchmark::State& state) {
    // Right Ctrl (Fn) alone for dictation: the XInput2 raw-event path.
    measure(state, {{HotkeyIntent::Dictation, HotkeyDefinition{1, 0, 0, true, true}}}, {}, XK_Control_R);
}
BENCHMARK(BM_FnKeyPressToHandler)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

void BM_GrabbedChordPressToHandler(benchmark::State& state) {
    // Control + Option + K: the key-grab path (timed from the press of K).
    measure(state,
            {{HotkeyIntent::SmartEdit,
              HotkeyDefinition{2, 40, CarbonModifier::Control | CarbonModifier::Option, false, false}}},
            {XK_Control_L, XK_Alt_L}, XK_k);
}
BENCHMARK(BM_GrabbedChordPressToHandler)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
