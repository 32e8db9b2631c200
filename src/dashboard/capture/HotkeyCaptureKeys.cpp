#include "HotkeyCaptureKeys.h"

#include "KeyboardMap.h"

namespace HotkeyCaptureKeys {

CaptureKey keyOf(std::uint32_t nativeScanCode, std::uint32_t nativeVirtualKey, int qtKey) {
    const DesktopKey key = KeyboardMap::keyOfEvent(nativeScanCode, nativeVirtualKey, qtKey);
    return {key.modifierFlag, key.keyCode.value_or(unknownKeyCode)};
}

} // namespace HotkeyCaptureKeys
