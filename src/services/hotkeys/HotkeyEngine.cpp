#include "HotkeyEngine.h"

#include "AppLogger.h"

#include <algorithm>

namespace {

// The intent's name, or "none" for a grab that no configured shortcut owns.
QString optionalIntentText(const std::optional<HotkeyIntent>& intent) {
    return intent ? hotkeyIntentName(*intent) : QStringLiteral("none");
}

QString edgeWord(HotkeyEvent edge) {
    return edge == HotkeyEvent::Pressed ? QStringLiteral("pressed") : QStringLiteral("released");
}

bool isStandaloneSafe(std::uint32_t keyCode) {
    return keyCode <= 0xFFFF &&
           HotkeyDefinition::standaloneSafeKeyNames().contains(static_cast<std::uint16_t>(keyCode));
}

bool isStandaloneDefinition(const HotkeyDefinition& definition) {
    return !definition.isModifierOnly && !definition.includesFunctionKey && definition.carbonModifiers == 0 &&
           isStandaloneSafe(definition.keyCode);
}

bool isFunctionCombination(const HotkeyDefinition& definition) {
    return definition.includesFunctionKey && !definition.isModifierOnly &&
           definition.keyCode != HotkeyEngine::functionKeyCode;
}

} // namespace

HotkeyEngine::~HotkeyEngine() {
    for (auto& pending : m_pending) {
        pending.timer.cancel();
    }
}

bool HotkeyEngine::registersGrab(const HotkeyDefinition& definition) {
    if (definition.isModifierOnly || definition.includesFunctionKey) {
        return false;
    }
    return !isStandaloneDefinition(definition);
}

std::uint64_t HotkeyEngine::expectedFlags(const HotkeyDefinition& definition) {
    std::uint64_t flags = 0;
    if (definition.carbonModifiers & CarbonModifier::Command) {
        flags |= ModifierFlag::Command;
    }
    if (definition.carbonModifiers & CarbonModifier::Shift) {
        flags |= ModifierFlag::Shift;
    }
    if (definition.carbonModifiers & CarbonModifier::Option) {
        flags |= ModifierFlag::Option;
    }
    if (definition.carbonModifiers & CarbonModifier::Control) {
        flags |= ModifierFlag::Control;
    }
    if (definition.includesFunctionKey) {
        flags |= ModifierFlag::Function;
    }
    return flags;
}

int HotkeyEngine::modifierCount(std::uint64_t flags) {
    int count = 0;
    for (std::uint64_t flag : {ModifierFlag::Command, ModifierFlag::Shift, ModifierFlag::Option,
                               ModifierFlag::Control, ModifierFlag::Function}) {
        if (flags & flag) {
            ++count;
        }
    }
    return count;
}

void HotkeyEngine::emitEdge(HotkeyIntent intent, HotkeyEvent edge) {
    if (deliver) {
        deliver(intent, edge);
    }
}

// ---- Grabbed chords ---------------------------------------------------------------------------------

void HotkeyEngine::handleGrabbedHotKey(std::uint32_t id, HotkeyEvent event) {
    auto down = std::find_if(m_grabbedDown.begin(), m_grabbedDown.end(),
                             [id](const auto& entry) { return entry.first == id; });
    std::optional<HotkeyIntent> intent;
    if (event == HotkeyEvent::Pressed) {
        if (down != m_grabbedDown.end()) {
            return; // an auto-repeat of the held chord
        }
        for (const auto& binding : m_hotkeys) {
            if (binding.definition.id == id) {
                intent = binding.intent;
                break;
            }
        }
        m_grabbedDown.emplace_back(id, intent);
        AppLogger::info(
            QStringLiteral("Global hotkey pressed id=%1 intent=%2").arg(id).arg(optionalIntentText(intent)));
    } else {
        if (down == m_grabbedDown.end()) {
            return; // already released (the grabs were replaced meanwhile)
        }
        intent = down->second; // what the press started, whatever the list says now
        m_grabbedDown.erase(down);
        AppLogger::info(
            QStringLiteral("Global hotkey released id=%1 intent=%2").arg(id).arg(optionalIntentText(intent)));
    }
    if (intent) {
        emitEdge(*intent, event);
    }
}

void HotkeyEngine::releaseGrabbedHotkeys() {
    while (!m_grabbedDown.empty()) {
        handleGrabbedHotKey(m_grabbedDown.front().first, HotkeyEvent::Released);
    }
}

// ---- Key events ---------------------------------------------------------------------------------------

void HotkeyEngine::handleKeyEvent(const GlobalKeyEvent& event) {
    switch (event.kind) {
    case GlobalKeyEvent::Kind::FlagsChanged:
        handleFlagsChanged(event.modifierFlags & ModifierFlag::ShortcutMask);
        break;
    case GlobalKeyEvent::Kind::KeyDown:
        handleKey(event, HotkeyEvent::Pressed);
        break;
    case GlobalKeyEvent::Kind::KeyUp:
        handleKey(event, HotkeyEvent::Released);
        break;
    }
}

void HotkeyEngine::handleFlagsChanged(std::uint64_t flags) {
    const bool isReleaseTransition = modifierCount(flags) < modifierCount(m_lastModifierFlags);
    transition(flags, isReleaseTransition);
    m_lastModifierFlags = flags;
}

void HotkeyEngine::handleKey(const GlobalKeyEvent& event, HotkeyEvent edge) {
    const std::uint64_t flags = event.modifierFlags & ModifierFlag::ShortcutMask;
    if (event.keyCode == functionKeyCode) {
        // Keyboards that report the Fn key as a key of its own: the same as a flags change.
        if (edge == HotkeyEvent::Pressed) {
            transition(flags, false);
        } else if (!(flags & ModifierFlag::Function)) {
            transition(flags, true);
            m_lastModifierFlags = flags;
        }
    }
    handleFunctionCombination(event, edge);
    handleStandaloneKey(event, edge);
}

void HotkeyEngine::handleFunctionCombination(const GlobalKeyEvent& event, HotkeyEvent edge) {
    if (edge == HotkeyEvent::Released) {
        // The key's release ends the hold even when Fn was let go first.
        for (const Held& held : std::vector<Held>(m_held)) {
            if (held.path == Path::FunctionCombination && held.definition.keyCode == event.keyCode) {
                if (auto taken = takeHeld(held.id, held.path)) {
                    release(*taken);
                }
            }
        }
        return;
    }
    const std::uint64_t flags = event.modifierFlags & ModifierFlag::ShortcutMask;
    for (const HotkeyBinding& binding : QList<HotkeyBinding>(m_hotkeys)) {
        const HotkeyDefinition& definition = binding.definition;
        if (!isFunctionCombination(definition) || definition.keyCode != event.keyCode ||
            (expectedFlags(definition) | ModifierFlag::Function) != flags) {
            continue;
        }
        // One press per hold: auto-repeats and a key already held press nothing.
        if (event.isRepeat || isHeld(definition.id, Path::FunctionCombination)) {
            continue;
        }
        m_held.push_back({definition.id, binding.intent, definition, Path::FunctionCombination});
        AppLogger::info(QStringLiteral("Function hotkey pressed id=%1 intent=%2")
                            .arg(definition.id)
                            .arg(hotkeyIntentName(binding.intent)));
        emitEdge(binding.intent, HotkeyEvent::Pressed);
    }
}

void HotkeyEngine::handleStandaloneKey(const GlobalKeyEvent& event, HotkeyEvent edge) {
    if (edge == HotkeyEvent::Released) {
        // Released whatever modifiers are held now: a modifier pressed meanwhile must not keep it held.
        for (const Held& held : std::vector<Held>(m_held)) {
            if (held.path == Path::Standalone && held.definition.keyCode == event.keyCode) {
                if (auto taken = takeHeld(held.id, held.path)) {
                    release(*taken);
                }
            }
        }
        return;
    }
    if (event.modifierFlags & ModifierFlag::ShortcutMask) {
        return;
    }
    for (const HotkeyBinding& binding : QList<HotkeyBinding>(m_hotkeys)) {
        const HotkeyDefinition& definition = binding.definition;
        if (!isStandaloneDefinition(definition) || definition.keyCode != event.keyCode) {
            continue;
        }
        if (event.isRepeat || isHeld(definition.id, Path::Standalone)) {
            continue;
        }
        m_held.push_back({definition.id, binding.intent, definition, Path::Standalone});
        AppLogger::info(QStringLiteral("Standalone hotkey pressed id=%1 intent=%2 display=%3")
                            .arg(definition.id)
                            .arg(hotkeyIntentName(binding.intent), definition.displayString()));
        emitEdge(binding.intent, HotkeyEvent::Pressed);
    }
}

// ---- Modifier-only shortcuts --------------------------------------------------------------------------

void HotkeyEngine::transition(std::uint64_t flags, bool isReleaseTransition) {
    // Pending presses whose combination is no longer held are dropped.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (expectedFlags(it->definition) != flags) {
            it->timer.cancel();
            const std::uint32_t id = it->id;
            it = m_pending.erase(it);
            AppLogger::info(QStringLiteral("Cancelled pending debounce id=%1 flags changed away").arg(id));
        } else {
            ++it;
        }
    }

    // Held combinations that changed away are released, also when modifiers were added.
    for (const Held& held : std::vector<Held>(m_held)) {
        if (held.path == Path::ModifierOnly && expectedFlags(held.definition) != flags) {
            if (auto taken = takeHeld(held.id, held.path)) {
                release(*taken);
            }
        }
    }

    if (isReleaseTransition) {
        return; // letting go of a modifier never presses a shortcut
    }

    const QList<HotkeyBinding> hotkeys = m_hotkeys;
    for (const HotkeyBinding& binding : hotkeys) {
        const HotkeyDefinition& definition = binding.definition;
        if (!definition.isModifierOnly || expectedFlags(definition) != flags || isPending(definition.id) ||
            isHeld(definition.id, Path::ModifierOnly)) {
            continue;
        }
        const bool longerCombinationConfigured =
            std::any_of(hotkeys.begin(), hotkeys.end(), [&](const HotkeyBinding& other) {
                const std::uint64_t otherFlags = expectedFlags(other.definition);
                return other.definition.isModifierOnly && other.definition.id != definition.id &&
                       (otherFlags & flags) == flags && otherFlags != flags;
            });
        if (longerCombinationConfigured) {
            const std::uint32_t id = definition.id;
            TimerHandle timer = Scheduler::current().singleShot(debounce, [this, id] { expirePending(id); });
            m_pending.push_back({id, binding.intent, definition, timer});
            AppLogger::info(
                QStringLiteral(
                    "Debouncing modifier-only press id=%1 intent=%2 waiting 120ms for longer combo")
                    .arg(id)
                    .arg(hotkeyIntentName(binding.intent)));
            continue;
        }
        const Held held{definition.id, binding.intent, definition, Path::ModifierOnly};
        m_held.push_back(held);
        logModifierOnlyEdge(held, HotkeyEvent::Pressed);
        emitEdge(binding.intent, HotkeyEvent::Pressed);
    }
}

void HotkeyEngine::expirePending(std::uint32_t id) {
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [id](const Pending& p) { return p.id == id; });
    if (it == m_pending.end()) {
        return;
    }
    const Held held{it->id, it->intent, it->definition, Path::ModifierOnly};
    m_pending.erase(it);
    m_held.push_back(held);
    AppLogger::info(QStringLiteral("Debounced modifier-only pressed id=%1 intent=%2")
                        .arg(id)
                        .arg(hotkeyIntentName(held.intent)));
    emitEdge(held.intent, HotkeyEvent::Pressed);
}

void HotkeyEngine::resetMonitorState() {
    while (!m_held.empty()) {
        const Held held = m_held.front();
        m_held.erase(m_held.begin());
        release(held);
    }
    for (auto& pending : m_pending) {
        pending.timer.cancel();
    }
    m_pending.clear();
    m_lastModifierFlags = 0;
}

// ---- Bookkeeping --------------------------------------------------------------------------------------

bool HotkeyEngine::isHeld(std::uint32_t id, Path path) const {
    return std::any_of(m_held.begin(), m_held.end(),
                       [&](const Held& held) { return held.id == id && held.path == path; });
}

bool HotkeyEngine::isPending(std::uint32_t id) const {
    return std::any_of(m_pending.begin(), m_pending.end(), [id](const Pending& p) { return p.id == id; });
}

std::optional<HotkeyEngine::Held> HotkeyEngine::takeHeld(std::uint32_t id, Path path) {
    auto it = std::find_if(m_held.begin(), m_held.end(),
                           [&](const Held& held) { return held.id == id && held.path == path; });
    if (it == m_held.end()) {
        return std::nullopt;
    }
    Held held = *it;
    m_held.erase(it);
    return held;
}

void HotkeyEngine::release(const Held& held) {
    switch (held.path) {
    case Path::ModifierOnly:
        logModifierOnlyEdge(held, HotkeyEvent::Released);
        break;
    case Path::Standalone:
        AppLogger::info(QStringLiteral("Standalone hotkey released id=%1 intent=%2 display=%3")
                            .arg(held.id)
                            .arg(hotkeyIntentName(held.intent), held.definition.displayString()));
        break;
    case Path::FunctionCombination:
        AppLogger::info(QStringLiteral("Function hotkey released id=%1 intent=%2")
                            .arg(held.id)
                            .arg(hotkeyIntentName(held.intent)));
        break;
    }
    emitEdge(held.intent, HotkeyEvent::Released);
}

void HotkeyEngine::logModifierOnlyEdge(const Held& held, HotkeyEvent edge) const {
    if (held.definition.keyCode == functionKeyCode) {
        AppLogger::info(QStringLiteral("Function-only hotkey %1 id=%2 intent=%3")
                            .arg(edgeWord(edge))
                            .arg(held.id)
                            .arg(hotkeyIntentName(held.intent)));
    } else {
        AppLogger::info(QStringLiteral("Modifier-only hotkey %1 id=%2 intent=%3 display=%4")
                            .arg(edgeWord(edge))
                            .arg(held.id)
                            .arg(hotkeyIntentName(held.intent), held.definition.displayString()));
    }
}
