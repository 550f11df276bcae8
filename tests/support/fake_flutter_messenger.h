// A stand-in for the engine's messenger C API (flutter_messenger.h), linked
// into tests instead of the engine: it records what the program sends, lets a
// test deliver an incoming message and read the response, and can play an
// engine that has shut down.
#ifndef VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_
#define VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <flutter_messenger.h>

// The C API names this struct without defining it; the fake owns its layout.
struct FlutterDesktopMessenger {
  struct Sent {
    std::string channel;
    std::vector<uint8_t> message;
    FlutterDesktopBinaryReply reply = nullptr;
    void* reply_user_data = nullptr;
  };
  struct Callback {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };
  struct Response {
    int handle_id = 0;
    std::vector<uint8_t> data;
  };

  bool available = true;      // false: the engine is gone
  bool refuse_sends = false;  // SendWithReply/Send report failure
  int ref_count = 1;
  int lock_depth = 0;
  int max_lock_depth = 0;
  int responses_sent_unlocked = 0;  // SendResponse calls made without the lock
  std::vector<Sent> sent;
  std::map<std::string, Callback> callbacks;
  std::vector<Response> responses;
  int next_handle_id = 1;
};

namespace vek_native {
namespace fake_engine {

// Delivers `message` on `channel` as the engine would, with a fresh response
// handle; returns the handle's id (0 when no callback is registered).
int Deliver(FlutterDesktopMessenger* messenger, const std::string& channel,
            const std::vector<uint8_t>& message);

// The responses sent for a handle id, in order (more than one is a fault).
std::vector<std::vector<uint8_t>> ResponsesFor(const FlutterDesktopMessenger& messenger,
                                               int handle_id);

}  // namespace fake_engine
}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_FLUTTER_MESSENGER_H_
