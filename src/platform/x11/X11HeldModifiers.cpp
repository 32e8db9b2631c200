#include "X11HeldModifiers.h"

#include "DesktopStateGuard.h"

#include "X11Display.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <optional>

namespace {

using KeyBits = std::bitset<256>;

// The keys down on each slave keyboard: XTest's own device apart from the others (the user's).
struct DeviceKeys {
    KeyBits synthesized;
    KeyBits user;
};

std::optional<KeyBits> keysOfDevice(Display* display, int deviceId) {
    XDevice* device = XOpenDevice(display, static_cast<XID>(deviceId));
    if (!device) {
        return std::nullopt;
    }
    std::optional<KeyBits> bits;
    if (XDeviceState* state = XQueryDeviceState(display, device)) {
        auto* item = reinterpret_cast<XInputClass*>(state->data);
        for (int i = 0; i < state->num_classes; ++i) {
            if (item->c_class == KeyClass) {
                const auto* keys = reinterpret_cast<XKeyState*>(item);
                bits.emplace();
                for (int keycode = 0; keycode < std::min<int>(keys->num_keys, 256); ++keycode) {
                    if (keys->keys[keycode / 8] & (1 << (keycode % 8))) {
                        bits->set(static_cast<std::size_t>(keycode));
                    }
                }
            }
            item = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(item) + item->length);
        }
        XFreeDeviceState(state);
    }
    XCloseDevice(display, device);
    return bits;
}

std::optional<DeviceKeys> deviceKeys(X11Display& x11) {
    if (!x11.xinput2Opcode()) {
        return std::nullopt;
    }
    Display* display = x11.display();
    X11Display::ErrorTrap trap(x11); // a device may go away while we ask
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    if (!devices) {
        return std::nullopt;
    }
    DeviceKeys result;
    for (int i = 0; i < count; ++i) {
        if (devices[i].use != XISlaveKeyboard || !devices[i].enabled) {
            continue;
        }
        const std::optional<KeyBits> keys = keysOfDevice(display, devices[i].deviceid);
        if (!keys) {
            continue;
        }
        const bool synthesized = devices[i].name && std::strstr(devices[i].name, "XTEST") != nullptr;
        (synthesized ? result.synthesized : result.user) |= *keys;
    }
    XIFreeDeviceInfo(devices);
    trap.finish();
    return result;
}

// Keys bound to a modifier, lock keys (Caps Lock, Num Lock, ...) left out: pressing one again would
// toggle its lock.
std::vector<unsigned int> modifierKeycodes(Display* display) {
    std::vector<unsigned int> keycodes;
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) {
        return keycodes;
    }
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        const unsigned int keycode = map->modifiermap[i];
        if (keycode == 0 || std::find(keycodes.begin(), keycodes.end(), keycode) != keycodes.end()) {
            continue;
        }
        const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0);
        const char* name = keysym == NoSymbol ? nullptr : XKeysymToString(keysym);
        const std::size_t length = name ? std::strlen(name) : 0;
        if (length >= 5 && std::strcmp(name + length - 5, "_Lock") == 0) {
            continue;
        }
        keycodes.push_back(keycode);
    }
    XFreeModifiermap(map);
    return keycodes;
}

} // namespace

X11HeldModifiers::X11HeldModifiers(X11Display& display) : m_display(display) {}

X11HeldModifiers::~X11HeldModifiers() {
    releaseHeldKeysNow();
}

void X11HeldModifiers::release() {
    if (m_depth++ > 0) {
        return;
    }
    Display* display = m_display.display();
    char down[32] = {};
    XQueryKeymap(display, down);
    std::vector<unsigned int> held;
    for (unsigned int keycode : modifierKeycodes(display)) {
        if (down[keycode / 8] & (1 << (keycode % 8))) {
            held.push_back(keycode);
        }
    }
    m_released.clear();
    if (held.empty()) {
        return;
    }
    const std::optional<DeviceKeys> devices = deviceKeys(m_display);
    for (unsigned int keycode : held) {
        const auto ours = std::find(m_heldForUser.begin(), m_heldForUser.end(), keycode);
        // A key we hold for a user's keyboard is that keyboard's, not another program's.
        const bool bySynthesis = devices && devices->synthesized.test(keycode) && ours == m_heldForUser.end();
        if (ours != m_heldForUser.end()) {
            m_heldForUser.erase(ours);
        }
        m_released.push_back({keycode, bySynthesis});
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    }
    XSync(display, False);
}

void X11HeldModifiers::restore() {
    if (m_depth == 0 || --m_depth > 0 || m_released.empty()) {
        return;
    }
    if (DesktopStateGuard::instance().isLeaving()) {
        // A key pressed again now would stay down: nobody is left to let it go.
        m_released.clear();
        return;
    }
    Display* display = m_display.display();
    const std::optional<DeviceKeys> devices = deviceKeys(m_display);
    for (const Released& key : m_released) {
        const bool byUser = devices && devices->user.test(key.keycode);
        if (!byUser && !key.heldBySynthesis) {
            continue; // let go meanwhile
        }
        XTestFakeKeyEvent(display, key.keycode, True, CurrentTime);
        if (byUser && !key.heldBySynthesis) {
            m_heldForUser.push_back(key.keycode);
        }
    }
    m_released.clear();
    XSync(display, False);
    if (!m_heldForUser.empty() && !m_poll.isActive()) {
        m_poll = Scheduler::current().repeating(releasePollInterval, [this] { pollUserReleases(); });
    }
}

void X11HeldModifiers::pollUserReleases() {
    if (m_depth > 0) {
        return; // released for synthesized keys right now; looked at again after
    }
    const std::optional<DeviceKeys> devices = deviceKeys(m_display);
    Display* display = m_display.display();
    for (auto it = m_heldForUser.begin(); it != m_heldForUser.end();) {
        if (devices && devices->user.test(*it)) {
            ++it;
            continue;
        }
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
        it = m_heldForUser.erase(it);
    }
    XFlush(display);
    if (m_heldForUser.empty()) {
        m_poll.cancel();
    }
}

void X11HeldModifiers::releaseHeldKeysNow() {
    m_poll.cancel();
    if (m_heldForUser.empty()) {
        return;
    }
    for (unsigned int keycode : m_heldForUser) {
        XTestFakeKeyEvent(m_display.display(), keycode, False, CurrentTime);
    }
    m_heldForUser.clear();
    XSync(m_display.display(), False);
}
