#pragma once

#include "PlatformServices.h"

#include <map>

// The desktop's own facilities, for tests that drive the real thing: those of `facilities` (a
// PlatformServices::Facility combination), built on first use and kept for the life of the test program,
// as the application keeps its own.
inline const PlatformServices& testDesktop(int facilities = PlatformServices::AllFacilities) {
    static std::map<int, const PlatformServices*> built;
    const PlatformServices*& desktop = built[facilities];
    if (!desktop) {
        desktop = new PlatformServices(PlatformServices::forThisDesktop(facilities));
    }
    return *desktop;
}
