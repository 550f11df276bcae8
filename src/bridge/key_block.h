// The keyboard block: a system-wide low-level keyboard hook on a thread of
// its own that swallows every key while it is installed. Windows only.
#ifndef VEK_BRIDGE_KEY_BLOCK_H_
#define VEK_BRIDGE_KEY_BLOCK_H_

#include <memory>
#include <string>
#include <type_traits>

#include "common/detached_thread.h"

namespace vek_native {

// How long a start waits for the hook thread to report its install attempt.
constexpr int kKeyBlockReadyWaitMs = 5000;
// How long a stop (or a failed start) waits for the hook thread to end, as
// the HID and serial closes wait for their readers: a thread that does not
// end in time must not hold the window thread; it ends by itself (a thread
// that installs its hook after being given up removes it again at once).
constexpr int kKeyBlockStopWaitMs = 500;

class KeyBlock {
 public:
  // The hook thread comes from `start_thread`. A start whose thread cannot be
  // started fails and leaves no block behind.
  explicit KeyBlock(ThreadStarter start_thread = StartDetachedThread);
  ~KeyBlock();  // stops the block
  KeyBlock(const KeyBlock&) = delete;
  KeyBlock& operator=(const KeyBlock&) = delete;

  // Installs the hook (once; a second start while blocking changes nothing).
  // False when the hook cannot be installed or its thread does not report in
  // time. A thread that cannot be started is said so in `message`, with the
  // system's code; the other failures leave `message` alone.
  bool Start(std::string* message = nullptr);
  // Removes the hook and ends its thread; does nothing when not blocking.
  void Stop();
  // Whether the hook is installed right now (for diagnostics and tests).
  bool Active() const;

  struct State;    // guarded by the block's mutex
  struct HookRun;  // one hook thread's share, kept alive by the thread too

 private:
  const std::unique_ptr<State> state_;
};
static_assert(!std::is_copy_constructible_v<KeyBlock>, "owns the hook and its thread");

// The process's block, behind "startKeyBlock" and "stopKeyBlock".
bool StartKeyBlock(std::string* message = nullptr);
void StopKeyBlock();
bool KeyBlockActive();

}  // namespace vek_native

#endif  // VEK_BRIDGE_KEY_BLOCK_H_
