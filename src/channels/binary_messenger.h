#ifndef VEK_CHANNELS_BINARY_MESSENGER_H_
#define VEK_CHANNELS_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vek_native {

// Sends the response to one incoming message; callable once, from any thread.
using BinaryReply = std::function<void(const uint8_t* reply, size_t reply_size)>;

// Handles one incoming message on a channel.
using BinaryMessageHandler =
    std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)>;

// The engine's messenger as the channels see it. BinaryMessengerImpl wraps the
// engine's C API; tests use an in-process fake.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends a message; `reply`, if set, receives the peer's response.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Installs (or with nullptr removes) the handler of a channel.
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_BINARY_MESSENGER_H_
