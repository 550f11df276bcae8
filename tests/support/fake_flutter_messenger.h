// A stand-in for the engine's messenger C API (flutter_messenger.h), linked
// into tests instead of the engine: it records what the program sends and
// answers, lets a test deliver a message, and can play an engine that is gone.
#ifndef VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_
#define VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <flutter_messenger.h>

struct _FlutterPlatformMessageResponseHandle {
  int id;
};

// The C API names this struct without defining it; the fake owns its layout.
struct FlutterDesktopMessenger {
  struct Sent {
    std::string channel;
    std::vector<uint8_t> message;
  };

  bool available = true;  // false: the engine is gone
  int ref_count = 1;
  int lock_depth = 0;
  int responses_sent_unlocked = 0;
  std::vector<Sent> sent;
  std::map<std::string, std::pair<FlutterDesktopMessageCallback, void*>> callbacks;
  std::deque<_FlutterPlatformMessageResponseHandle> handles;    // one per delivery
  std::vector<std::pair<int, std::vector<uint8_t>>> responses;  // handle id, bytes
};

namespace vek_native {
namespace fake_engine {

// Delivers `message` on `channel` as the engine would, with a fresh response
// handle; returns the handle's id (0 when no callback is registered).
int Deliver(FlutterDesktopMessenger* messenger, const std::string& channel,
            const std::vector<uint8_t>& message);

}  // namespace fake_engine
}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_
