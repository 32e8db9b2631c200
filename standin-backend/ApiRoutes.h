#pragma once

#include "RouteTable.h"

namespace standin {

// The endpoints the desktop client calls: session, transcription and refinement, formatting, titles,
// the user's cloud config, tutorials and the start of the Apple sign-in.
void addApiRoutes(RouteTable& routes, BackendState& state);

} // namespace standin
