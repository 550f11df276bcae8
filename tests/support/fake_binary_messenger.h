// A recording in-process BinaryMessenger for tests: delivers encoded messages
// to the installed handlers as the engine would, and keeps every reply and
// every message sent.
#ifndef VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_
#define VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channels/binary_messenger.h"
#include "channels/encodable_value.h"

namespace vek_native {

class FakeBinaryMessenger : public BinaryMessenger {
 public:
  // What came back for one delivered message. Filled in when the reply is
  // sent, which may be later (asynchronous replies) and on any thread.
  struct Delivery {
    int reply_count = 0;  // more than 1 means a handler answered twice
    std::vector<uint8_t> reply;

    bool replied() const { return reply_count > 0; }
    // Decodes `reply` as a response envelope; false for an error envelope, an
    // empty (not implemented) reply or malformed bytes.
    bool DecodeSuccess(EncodableValue* result) const;
    bool DecodeError(std::string* code, std::string* message, EncodableValue* details) const;
  };

  struct SentMessage {
    std::string channel;
    std::vector<uint8_t> message;
    bool expects_reply = false;
  };

  // BinaryMessenger. Sends are recorded; a sent message's reply callable is
  // kept and can be answered with AnswerSent.
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

  bool HasHandler(const std::string& channel) const;

  // Hands `message` to the channel's handler, as the engine does on the
  // platform thread. With no handler the delivery stays unanswered.
  std::shared_ptr<Delivery> Deliver(const std::string& channel,
                                    const std::vector<uint8_t>& message);
  // Encodes a method call with the standard method codec and delivers it.
  std::shared_ptr<Delivery> DeliverMethodCall(const std::string& channel, const std::string& method,
                                              std::unique_ptr<EncodableValue> arguments = nullptr);

  // Snapshot of everything sent so far, oldest first.
  std::vector<SentMessage> sent() const;
  // Messages sent on one channel, decoded as success envelopes (events); an
  // entry that is not one (an error or end of stream) becomes null.
  std::vector<EncodableValue> SentEvents(const std::string& channel) const;
  void ClearSent();
  // Answers the `index`-th sent message that expected a reply.
  bool AnswerSent(size_t index, const std::vector<uint8_t>& reply);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, BinaryMessageHandler> handlers_;
  mutable std::vector<SentMessage> sent_;
  mutable std::vector<BinaryReply> pending_replies_;
};

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_BINARY_MESSENGER_H_
