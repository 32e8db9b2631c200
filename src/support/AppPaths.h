#pragma once

#include <QString>

// Where the application keeps the user's data: "$XDG_DATA_HOME/quillvane" (the platform's writable
// generic data folder plus "quillvane"). The folders are named here only; whoever writes into them
// creates them.
namespace AppPaths {

// The app's data folder. When the platform names no data folder, "quillvane" under the private runtime
// folder; empty when neither can be had.
QString dataFolder();

// "<data folder>/Retry": the last recording kept for a retry. Empty when there is no data folder.
QString retryFolder();

} // namespace AppPaths
