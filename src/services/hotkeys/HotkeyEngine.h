#pragma once

#include "GlobalKeyEvent.h"
#include "HotkeyIntent.h"
#include "Scheduler.h"

#include <QList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The shortcut state machines, free of any platform: fed platform-neutral key events and grabbed-chord
// edges, timed by the Scheduler (the 120 ms debounce), delivering press and release edges.
//
// Four kinds of shortcut:
//  - a key with modifiers (or a bare key outside the standalone-safe table): grabbed by the platform,
//    whose edges come in through handleGrabbedHotKey();
//  - a standalone key (F1-F20 without modifiers) and an Fn combination: key-down/key-up events;
//  - modifier-only shortcuts (with or without Fn): flags changes, with a 120 ms wait before pressing a
//    combination that a longer configured one contains (Fn inside Control + Fn).
//
// Each held shortcut gives exactly one pressed and one released edge. A release is never lost: the key-up
// of a held shortcut's key releases it whatever modifiers are held, and resetting delivers `released`
// for every held shortcut. Only matched shortcut edges are logged, never other keys or characters.
class HotkeyEngine {
public:
    using Deliver = std::function<void(HotkeyIntent, HotkeyEvent)>;

    static constexpr std::uint16_t functionKeyCode = 63;
    static constexpr std::chrono::milliseconds debounce{120};

    HotkeyEngine() = default;
    ~HotkeyEngine();
    HotkeyEngine(const HotkeyEngine&) = delete;
    HotkeyEngine& operator=(const HotkeyEngine&) = delete;

    // Receives every edge.
    Deliver deliver;

    // The configured shortcuts, read live by the key-event paths.
    const QList<HotkeyBinding>& hotkeys() const { return m_hotkeys; }
    void setHotkeys(QList<HotkeyBinding> hotkeys) { m_hotkeys = std::move(hotkeys); }

    // Whether the platform grabs this definition as a chord. Modifier-only definitions never do.
    static bool registersGrab(const HotkeyDefinition& definition);
    // The definition's Carbon modifiers as event flags, plus Fn when it includes Fn.
    static std::uint64_t expectedFlags(const HotkeyDefinition& definition);
    // Command, Shift, Option, Control and Fn set in `flags`.
    static int modifierCount(std::uint64_t flags);

    // A grabbed chord went down (repeats included) or its key came up.
    void handleGrabbedHotKey(std::uint32_t id, HotkeyEvent event);
    // Releases every held grabbed chord (before the grabs are replaced).
    void releaseGrabbedHotkeys();

    // A key-down, key-up or flags change seen system-wide.
    void handleKeyEvent(const GlobalKeyEvent& event);
    // Releases every shortcut held on the key-event paths, drops pending presses and forgets the flags
    // (when the monitors are installed anew).
    void resetMonitorState();

private:
    enum class Path { ModifierOnly, Standalone, FunctionCombination };
    struct Held {
        std::uint32_t id;
        HotkeyIntent intent;
        HotkeyDefinition definition;
        Path path;
    };
    struct Pending {
        std::uint32_t id;
        HotkeyIntent intent;
        HotkeyDefinition definition;
        TimerHandle timer;
    };

    void handleFlagsChanged(std::uint64_t flags);
    void handleKey(const GlobalKeyEvent& event, HotkeyEvent edge);
    void handleFunctionCombination(const GlobalKeyEvent& event, HotkeyEvent edge);
    void handleStandaloneKey(const GlobalKeyEvent& event, HotkeyEvent edge);
    void transition(std::uint64_t flags, bool isReleaseTransition);
    void expirePending(std::uint32_t id);

    bool isHeld(std::uint32_t id, Path path) const;
    bool isPending(std::uint32_t id) const;
    std::optional<Held> takeHeld(std::uint32_t id, Path path);
    void release(const Held& held);
    void logModifierOnlyEdge(const Held& held, HotkeyEvent edge) const;
    void emitEdge(HotkeyIntent intent, HotkeyEvent edge);

    QList<HotkeyBinding> m_hotkeys;
    std::vector<Held> m_held;       // in press order
    std::vector<Pending> m_pending; // in order of deferral
    std::vector<std::pair<std::uint32_t, std::optional<HotkeyIntent>>> m_grabbedDown;
    std::uint64_t m_lastModifierFlags = 0;
};
