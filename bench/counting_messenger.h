// The engine's side of a channel for benchmarks: counts what it is handed,
// and a bridge attached to it with the event channel listening.
#ifndef VEK_BENCH_COUNTING_MESSENGER_H_
#define VEK_BENCH_COUNTING_MESSENGER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "channels/binary_messenger.h"
#include "channels/event_channel.h"
#include "channels/standard_codec.h"

namespace vek_native {

class CountingMessenger : public BinaryMessenger {
 public:
  void Send(const std::string&, const uint8_t*, size_t size, BinaryReply) const override {
    bytes_ += size;
    messages_ += 1;
  }
  void SetMessageHandler(const std::string&, BinaryMessageHandler) override {}
  mutable uint64_t bytes_ = 0;
  mutable uint64_t messages_ = 0;
};

// Attaches `bridge` to `window` as the product does, with `poster` standing in
// for the window's message queue, and listens on the event channel so every
// drained event is encoded and handed to `messenger`.
inline void AttachListening(NativeBridge& bridge, CountingMessenger& messenger,
                            WindowPoster& poster, WindowHandle window) {
  bridge.SetPoster(&poster);
  bridge.Attach(&messenger, window);
  bridge.OnListen(std::make_unique<EventChannel::EventSinkImplementation>(
      &messenger, "vek_tool/native_events", &StandardMethodCodec::GetInstance()));
}

}  // namespace vek_native

#endif  // VEK_BENCH_COUNTING_MESSENGER_H_
