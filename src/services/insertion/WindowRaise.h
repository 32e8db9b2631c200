#pragma once

// How bringing back the window a recording was made for went.
enum class WindowRaise {
    Raised, // it is the active window now
    Closed, // it is gone (or its id now belongs to another program)
    Ours,   // it is one of Quillvane's own windows: text never goes there
    Refused // it exists, but did not become active in time
};
