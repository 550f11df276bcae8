// The keyboard block: a system-wide low-level keyboard hook on a thread of
// its own that swallows every key while it is installed. Windows only.
#ifndef VEK_BRIDGE_KEY_BLOCK_H_
#define VEK_BRIDGE_KEY_BLOCK_H_

#include <memory>
#include <type_traits>

#include "common/detached_thread.h"

namespace vek_native {

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
  // time.
  bool Start();
  // Removes the hook and ends its thread; does nothing when not blocking.
  void Stop();
  // Whether the hook is installed right now (for diagnostics and tests).
  bool Active() const;

  struct State;  // the hook thread's share, defined with it

 private:
  const std::unique_ptr<State> state_;
};
static_assert(!std::is_copy_constructible_v<KeyBlock>, "owns the hook and its thread");

// The process's block, behind "startKeyBlock" and "stopKeyBlock".
bool StartKeyBlock();
void StopKeyBlock();
bool KeyBlockActive();

}  // namespace vek_native

#endif  // VEK_BRIDGE_KEY_BLOCK_H_
