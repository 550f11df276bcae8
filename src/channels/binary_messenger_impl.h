#ifndef VEK_CHANNELS_BINARY_MESSENGER_IMPL_H_
#define VEK_CHANNELS_BINARY_MESSENGER_IMPL_H_

#include <map>
#include <string>

#include <flutter_messenger.h>

#include "channels/binary_messenger.h"

namespace vek_native {

// The engine's messenger behind the BinaryMessenger interface. Lives on the
// platform (window) thread; the reply callables it hands out may be called
// from any thread. Handlers are not unregistered on destruction, because the
// engine may already be gone by then: the owner clears them first.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger)
      : messenger_(core_messenger) {}
  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;
  ~BinaryMessengerImpl() override = default;

  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // The engine's callback gets a pointer to the stored handler as its user
  // data; map nodes do not move, so the pointer stays valid until removal.
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_BINARY_MESSENGER_IMPL_H_
