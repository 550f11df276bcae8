// The keyboard block: a system-wide low-level keyboard hook on a thread of
// its own that swallows every key while it is installed. Windows only.
#ifndef VEK_BRIDGE_KEY_BLOCK_H_
#define VEK_BRIDGE_KEY_BLOCK_H_

#include "common/detached_thread.h"

namespace vek_native {

// Installs the hook (once; a second start while blocking changes nothing).
// False when the hook cannot be installed or its thread does not report in
// time.
bool StartKeyBlock();

// Removes the hook and ends its thread; does nothing when not blocking.
void StopKeyBlock();

// Whether the hook is installed right now (for diagnostics and tests).
bool KeyBlockActive();

// Where the hook thread comes from: StartDetachedThread, unless a test puts
// in one that refuses (an empty starter puts StartDetachedThread back). A
// start whose thread cannot be started fails and leaves no block behind.
void SetKeyBlockThreadStarter(ThreadStarter start_thread);

}  // namespace vek_native

#endif  // VEK_BRIDGE_KEY_BLOCK_H_
