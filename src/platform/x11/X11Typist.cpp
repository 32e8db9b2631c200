#include "X11Typist.h"

#include "Clock.h"
#include "DesktopStateGuard.h"
#include "KeySynthesizer.h"
#include "Scheduler.h"
#include "X11Display.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <QScopeGuard>
#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <set>

X11Typist::Plan X11Typist::Plan::make(const QList<char32_t>& scalars, const X11TypingLayout& layout,
                                      const std::vector<std::pair<unsigned int, KeySym>>& owned) {
    Plan plan;
    plan.runs.emplace_back();
    // Keys we may give a symbol: empty spares first, then our own (least recently used first).
    std::vector<unsigned int> keys(layout.spareKeycodes().begin(), layout.spareKeycodes().end());
    std::map<unsigned int, char32_t> characterOf;
    std::map<char32_t, unsigned int> keyOf;
    std::set<unsigned int> carriesOurs;
    for (const auto& [keycode, keysym] : owned) {
        keys.push_back(keycode);
        carriesOurs.insert(keycode);
        if (const auto character = X11TypingLayout::characterForKeysym(keysym)) {
            characterOf[keycode] = *character;
            keyOf[*character] = keycode;
        }
    }
    // Where each character occurs, to give up first the keys whose characters come back last.
    std::map<char32_t, std::vector<qsizetype>> occurrences;
    for (qsizetype i = 0; i < scalars.size(); ++i) {
        occurrences[scalars[i]].push_back(i);
    }
    auto nextUse = [&](char32_t character, qsizetype after) {
        const auto& at = occurrences[character];
        const auto it = std::upper_bound(at.begin(), at.end(), after);
        return it == at.end() ? std::numeric_limits<qsizetype>::max() : *it;
    };
    // The key to give a new symbol at position `i`, among those not typed in the current run: an empty one,
    // else the one whose character is needed again last (Belady's choice).
    auto pickKey = [&](const std::set<unsigned int>& usedInRun, qsizetype i) -> std::optional<unsigned int> {
        std::optional<unsigned int> best;
        qsizetype bestUse = -1;
        for (unsigned int keycode : keys) {
            if (usedInRun.contains(keycode)) {
                continue;
            }
            const auto character = characterOf.find(keycode);
            if (character == characterOf.end()) {
                return keycode;
            }
            const qsizetype use = nextUse(character->second, i);
            if (use > bestUse) {
                best = keycode;
                bestUse = use;
            }
        }
        return best;
    };

    std::set<unsigned int> usedInRun;
    for (qsizetype i = 0; i < scalars.size(); ++i) {
        const char32_t character = scalars[i];
        if (character == U'\r' && i + 1 < scalars.size() && scalars[i + 1] == U'\n') {
            continue; // CR LF is one line break
        }
        if ((character < 0x20 && character != U'\n' && character != U'\r' && character != U'\t') ||
            character == 0x7f) {
            continue; // other control characters type nothing
        }
        if (const auto stroke = layout.strokeFor(character)) {
            plan.runs.back().strokes.push_back(*stroke);
            plan.runs.back().sources.push_back(i);
            continue;
        }
        if (auto it = keyOf.find(character); it != keyOf.end()) {
            plan.runs.back().strokes.push_back({it->second, false});
            plan.runs.back().sources.push_back(i);
            usedInRun.insert(it->second);
            continue;
        }
        if (keys.empty()) {
            plan.untypableAt = i;
            break;
        }
        std::optional<unsigned int> picked = pickKey(usedInRun, i);
        if (!picked) {
            // Every key is typed in this run: the next run gives some of them new symbols.
            plan.runs.emplace_back();
            usedInRun.clear();
            picked = pickKey(usedInRun, i);
        }
        const unsigned int keycode = *picked;
        if (auto old = characterOf.find(keycode); old != characterOf.end()) {
            keyOf.erase(old->second);
        }
        characterOf[keycode] = character;
        keyOf[character] = keycode;
        Run& run = plan.runs.back();
        run.reassigns = run.reassigns || carriesOurs.contains(keycode);
        carriesOurs.insert(keycode);
        run.remaps.emplace_back(keycode, X11TypingLayout::keysymForCharacter(character));
        run.strokes.push_back({keycode, false});
        run.sources.push_back(i);
        usedInRun.insert(keycode);
    }
    return plan;
}

namespace {
// Sets keysyms on key codes, one request per run of consecutive key codes. False on an X error.
bool setKeysyms(X11Display& display, std::vector<std::pair<unsigned int, KeySym>> mapping) {
    std::sort(mapping.begin(), mapping.end());
    X11Display::ErrorTrap trap(display);
    for (std::size_t start = 0; start < mapping.size();) {
        std::size_t end = start + 1;
        while (end < mapping.size() && mapping[end].first == mapping[end - 1].first + 1) {
            ++end;
        }
        std::vector<KeySym> syms;
        for (std::size_t i = start; i < end; ++i) {
            syms.push_back(mapping[i].second); // the same keysym on both levels: Shift changes nothing
            syms.push_back(mapping[i].second);
        }
        XChangeKeyboardMapping(display.display(), static_cast<int>(mapping[start].first), 2, syms.data(),
                               static_cast<int>(end - start));
        start = end;
    }
    return trap.finish() == Success;
}

// The keysyms a key shows the core protocol on its first two levels.
bool carries(Display* display, unsigned int keycode, KeySym keysym) {
    int perKey = 0;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(keycode), 1, &perKey);
    if (!syms) {
        return false;
    }
    const bool ours = perKey >= 1 && syms[0] == keysym && (perKey < 2 || syms[1] == keysym);
    XFree(syms);
    return ours;
}

// Consecutive mapping changes with no character typed in between before typing gives up.
constexpr int kMaxFruitlessReplans = 4;
} // namespace

X11Typist::X11Typist(X11Display& display) : m_display(display), m_heldModifiers(display) {
    Display* dpy = m_display.display();
    int opcode = 0, errorBase = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(dpy, &opcode, &m_xkbEventBase, &errorBase, &major, &minor)) {
        const unsigned int events = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(dpy, XkbUseCoreKbd, events, events);
        // A switch to another group (a second layout) changes the keys as much as a new map.
        XkbSelectEventDetails(dpy, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
    } else {
        m_xkbEventBase = -1;
    }
    m_listenerId = m_display.addEventListener([this](XEvent& event) { handleEvent(event); });
}

X11Typist::~X11Typist() {
    m_display.removeEventListener(m_listenerId);
    restoreKeymapNow();
}

void X11Typist::handleEvent(const XEvent& event) {
    if (event.type == MappingNotify && event.xmapping.request == MappingKeyboard) {
        m_mappingChanged = true;
        return;
    }
    if (m_xkbEventBase < 0 || event.type != m_xkbEventBase) {
        return;
    }
    const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
    switch (xkb.any.xkb_type) {
    case XkbNewKeyboardNotify:
    case XkbMapNotify:
        m_mappingChanged = true;
        break;
    case XkbStateNotify:
        if (xkb.state.changed & XkbGroupStateMask) {
            m_mappingChanged = true;
        }
        break;
    default:
        break;
    }
}

bool X11Typist::keymapChanged() {
    XSync(m_display.display(), False);
    m_display.processEvents();
    if (!m_mappingChanged) {
        return false;
    }
    m_mappingChanged = false;
    forgetLostSpares();
    return true;
}

void X11Typist::forgetLostSpares() {
    for (auto it = m_remapped.begin(); it != m_remapped.end();) {
        if (carries(m_display.display(), it->first, it->second)) {
            ++it;
            continue;
        }
        // The new map gave this key its own meaning (or none): it is not ours to empty any more.
        m_useOrder.erase(std::remove(m_useOrder.begin(), m_useOrder.end(), it->first), m_useOrder.end());
        it = m_remapped.erase(it);
    }
}

bool X11Typist::leaving() {
    return DesktopStateGuard::instance().isLeaving();
}

void X11Typist::stopIfLeaving() {
    // The exit path may have put the keyboard back while we waited: remapping or typing on would undo
    // that, with nobody left to restore it.
    if (leaving()) {
        throw KeySynthesisError("typing stopped: the application is quitting");
    }
}

void X11Typist::restoreKeymapNow() {
    m_restoreTimer.cancel();
    relockCapsLock();
    restoreSpares();
    m_heldModifiers.releaseHeldKeysNow();
}

bool X11Typist::remap(const std::vector<std::pair<unsigned int, KeySym>>& remaps) {
    for (const auto& [keycode, keysym] : remaps) {
        m_remapped[keycode] = keysym;
        markUsed(keycode);
    }
    return setKeysyms(m_display, remaps);
}

void X11Typist::markUsed(unsigned int keycode) {
    if (!m_remapped.contains(keycode)) {
        return; // a key of the layout
    }
    m_useOrder.erase(std::remove(m_useOrder.begin(), m_useOrder.end(), keycode), m_useOrder.end());
    m_useOrder.push_back(keycode);
}

void X11Typist::scheduleRestore() {
    m_restoreTimer.cancel();
    if (!m_remapped.empty()) {
        m_restoreTimer = Scheduler::current().singleShot(restoreDelay, [this] { restoreSpares(); });
    }
}

void X11Typist::restoreSpares() {
    if (m_remapped.empty()) {
        return;
    }
    // Only keys that still carry our symbols: a map loaded since (a layout switch we have not read yet)
    // owns the others.
    std::vector<std::pair<unsigned int, KeySym>> empty;
    for (const auto& [keycode, keysym] : m_remapped) {
        if (carries(m_display.display(), keycode, keysym)) {
            empty.emplace_back(keycode, NoSymbol);
        }
    }
    m_remapped.clear();
    m_useOrder.clear();
    setKeysyms(m_display, empty);
}

void X11Typist::switchCapsLockOff() {
    XkbLockModifiers(m_display.display(), XkbUseCoreKbd, LockMask, 0);
    XSync(m_display.display(), False);
    m_relockCapsLock = true;
}

void X11Typist::relockCapsLock() {
    if (m_relockCapsLock) {
        m_relockCapsLock = false;
        XkbLockModifiers(m_display.display(), XkbUseCoreKbd, LockMask, LockMask);
        XFlush(m_display.display());
    }
}

std::vector<std::pair<unsigned int, KeySym>> X11Typist::ownedInUseOrder() const {
    std::vector<std::pair<unsigned int, KeySym>> owned;
    for (unsigned int keycode : m_useOrder) {
        owned.emplace_back(keycode, m_remapped.at(keycode));
    }
    return owned;
}

QCoro::Task<> X11Typist::type(QString text, std::chrono::milliseconds delay) {
    stopIfLeaving();
    m_restoreTimer.cancel(); // keys still mapped by an earlier typing are used as they are, or reassigned
    Display* display = m_display.display();
    QList<char32_t> scalars;
    for (const uint scalar : text.toUcs4()) {
        scalars.append(static_cast<char32_t>(scalar));
    }
    Scheduler& scheduler = Scheduler::current();
    Clock& clock = Clock::current();

    // However typing ends: Caps Lock locked again, the user's modifiers back, the spares' restore scheduled.
    // On the way out the exit path has put all of that back already (restoreKeymapNow); X11HeldModifiers
    // presses nothing again then.
    auto end = qScopeGuard([this] {
        relockCapsLock();
        m_heldModifiers.restore();
        if (!leaving()) {
            scheduleRestore();
        }
    });
    m_heldModifiers.release();
    keymapChanged(); // take in any change made before this typing

    qsizetype next = 0; // the first scalar not typed yet
    int fruitlessReplans = 0;
    for (;;) {
        QList<unsigned int> ownedKeycodes;
        for (unsigned int keycode : m_useOrder) {
            ownedKeycodes.append(keycode);
        }
        const X11TypingLayout layout = X11TypingLayout::read(display, ownedKeycodes);
        if (layout.capsLockOn()) {
            switchCapsLockOff();
        }
        const Plan plan = Plan::make(scalars.mid(next), layout, ownedInUseOrder());
        bool needsShift = false;
        for (const auto& run : plan.runs) {
            for (const auto& stroke : run.strokes) {
                needsShift = needsShift || stroke.shift;
            }
        }
        if (needsShift && layout.shiftKeycode() == 0) {
            throw KeySynthesisError("the keyboard has no Shift key");
        }

        std::optional<qsizetype> replanFrom;
        for (const Plan::Run& run : plan.runs) {
            if (!run.remaps.empty()) {
                if (run.reassigns) {
                    // Keys typed with their old symbols: clients read those before the symbols change.
                    const auto ready = m_lastStroke + keyReuseDelay;
                    if (const auto now = clock.monotonic(); now < ready) {
                        co_await scheduler.delay(std::chrono::ceil<std::chrono::milliseconds>(ready - now));
                        stopIfLeaving();
                    }
                }
                if (!remap(run.remaps)) {
                    throw KeySynthesisError("the spare keys could not be remapped");
                }
                co_await scheduler.delay(remapSettleTime); // clients reload their keymap
                stopIfLeaving();
            }
            for (std::size_t i = 0; i < run.strokes.size(); ++i) {
                if (keymapChanged()) {
                    replanFrom = next + run.sources[i];
                    break;
                }
                const X11TypingLayout::Stroke& stroke = run.strokes[i];
                if (stroke.shift) {
                    XTestFakeKeyEvent(display, layout.shiftKeycode(), True, CurrentTime);
                }
                XTestFakeKeyEvent(display, stroke.keycode, True, CurrentTime);
                XTestFakeKeyEvent(display, stroke.keycode, False, CurrentTime);
                if (stroke.shift) {
                    XTestFakeKeyEvent(display, layout.shiftKeycode(), False, CurrentTime);
                }
                XFlush(display);
                m_lastStroke = clock.monotonic();
                markUsed(stroke.keycode);
                fruitlessReplans = 0;
                co_await scheduler.delay(std::max(delay, std::chrono::milliseconds(0)));
                stopIfLeaving();
            }
            if (replanFrom) {
                break;
            }
        }
        if (replanFrom) {
            // The mapping changed (a new layout, or our own remap read back): plan the rest anew.
            if (++fruitlessReplans > kMaxFruitlessReplans) {
                throw KeySynthesisError("the keyboard mapping keeps changing");
            }
            next = *replanFrom;
            continue;
        }
        if (plan.untypableAt) {
            throw KeySynthesisError(
                QStringLiteral("no key can type U+%1")
                    .arg(static_cast<uint>(scalars[next + *plan.untypableAt]), 4, 16, QLatin1Char('0'))
                    .toUpper()
                    .toStdString());
        }
        co_return;
    }
}
