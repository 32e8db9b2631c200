#pragma once

// Hands the heap's free pages back to the system. The allocator keeps memory freed by a finished job (a
// recording's samples, a request's buffers) for reuse, so a program that idles for hours after a burst of
// work would go on holding it. Cheap (well under a millisecond on this program's heap); a no-op where the
// C library has no such call.
void releaseFreeHeapMemory();
