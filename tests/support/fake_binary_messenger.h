// A recording in-process BinaryMessenger: delivers messages to the installed
// handlers as the engine would, and keeps every reply and every message sent.
// Single-threaded: replies and sends happen on the test's thread.
#ifndef VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_
#define VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "channels/binary_messenger.h"
#include "channels/standard_codec.h"

namespace vek_native {

class FakeBinaryMessenger : public BinaryMessenger {
 public:
  // What came back for one delivered message (replies > 1 is a fault).
  struct Delivery {
    int replies = 0;
    std::vector<uint8_t> reply;
  };
  struct Sent {
    std::string channel;
    std::vector<uint8_t> message;
    BinaryReply reply;
  };

  void Send(const std::string& channel, const uint8_t* message, size_t size,
            BinaryReply reply = nullptr) const override {
    sent.push_back({channel, std::vector<uint8_t>(message, message + size), std::move(reply)});
  }
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    if (handler) {
      handlers_[channel] = std::move(handler);
    } else {
      handlers_.erase(channel);
    }
  }
  bool HasHandler(const std::string& channel) const { return handlers_.count(channel) != 0; }

  // Hands `message` to the channel's handler; unanswered when there is none.
  std::shared_ptr<Delivery> Deliver(const std::string& channel,
                                    const std::vector<uint8_t>& message) {
    auto delivery = std::make_shared<Delivery>();
    auto it = handlers_.find(channel);
    if (it == handlers_.end()) return delivery;
    BinaryMessageHandler handler = it->second;  // it may replace itself
    handler(message.data(), message.size(), [delivery](const uint8_t* reply, size_t size) {
      if (++delivery->replies == 1) delivery->reply = std::vector<uint8_t>(reply, reply + size);
    });
    return delivery;
  }
  // Delivers a method call encoded with the standard method codec.
  std::shared_ptr<Delivery> DeliverCall(const std::string& channel, const std::string& method,
                                        std::unique_ptr<EncodableValue> arguments = nullptr) {
    MethodCall call(method, std::move(arguments));
    return Deliver(channel, *StandardMethodCodec::GetInstance().EncodeMethodCall(call));
  }

  mutable std::vector<Sent> sent;

 private:
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_
