#include "support/fake_binary_messenger.h"

#include <utility>

#include "channels/standard_codec.h"

namespace vek_native {

bool FakeBinaryMessenger::Delivery::DecodeSuccess(EncodableValue* result) const {
  if (reply.empty()) return false;
  return StandardMethodCodec::GetInstance().DecodeResponseEnvelope(
      reply.data(), reply.size(), result, nullptr, nullptr, nullptr);
}

bool FakeBinaryMessenger::Delivery::DecodeError(std::string* code, std::string* message,
                                                EncodableValue* details) const {
  if (reply.empty()) return false;
  std::string decoded_code;
  bool success = StandardMethodCodec::GetInstance().DecodeResponseEnvelope(
      reply.data(), reply.size(), nullptr, &decoded_code, message, details);
  if (success || decoded_code.empty()) return false;
  if (code != nullptr) *code = decoded_code;
  return true;
}

void FakeBinaryMessenger::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  std::lock_guard<std::mutex> lock(mutex_);
  SentMessage sent;
  sent.channel = channel;
  if (message_size > 0) sent.message.assign(message, message + message_size);
  sent.expects_reply = static_cast<bool>(reply);
  sent_.push_back(std::move(sent));
  if (reply) pending_replies_.push_back(std::move(reply));
}

void FakeBinaryMessenger::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handler) {
    handlers_[channel] = std::move(handler);
  } else {
    handlers_.erase(channel);
  }
}

bool FakeBinaryMessenger::HasHandler(const std::string& channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handlers_.count(channel) != 0;
}

std::shared_ptr<FakeBinaryMessenger::Delivery> FakeBinaryMessenger::Deliver(
    const std::string& channel, const std::vector<uint8_t>& message) {
  auto delivery = std::make_shared<Delivery>();
  BinaryMessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handlers_.find(channel);
    if (it == handlers_.end()) return delivery;
    // A copy, so a handler may replace or remove itself while it runs.
    handler = it->second;
  }
  auto reply_mutex = std::make_shared<std::mutex>();
  handler(message.data(), message.size(),
          [delivery, reply_mutex](const uint8_t* reply, size_t reply_size) {
            std::lock_guard<std::mutex> lock(*reply_mutex);
            ++delivery->reply_count;
            if (delivery->reply_count == 1 && reply_size > 0) {
              delivery->reply.assign(reply, reply + reply_size);
            }
          });
  return delivery;
}

std::shared_ptr<FakeBinaryMessenger::Delivery> FakeBinaryMessenger::DeliverMethodCall(
    const std::string& channel, const std::string& method,
    std::unique_ptr<EncodableValue> arguments) {
  MethodCall call(method, std::move(arguments));
  auto message = StandardMethodCodec::GetInstance().EncodeMethodCall(call);
  return Deliver(channel, *message);
}

std::vector<FakeBinaryMessenger::SentMessage> FakeBinaryMessenger::sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

std::vector<EncodableValue> FakeBinaryMessenger::SentEvents(const std::string& channel) const {
  std::vector<EncodableValue> events;
  for (const SentMessage& message : sent()) {
    if (message.channel != channel) continue;
    EncodableValue event;
    if (message.message.empty() ||
        !StandardMethodCodec::GetInstance().DecodeResponseEnvelope(
            message.message.data(), message.message.size(), &event, nullptr, nullptr, nullptr)) {
      event = EncodableValue();
    }
    events.push_back(std::move(event));
  }
  return events;
}

void FakeBinaryMessenger::ClearSent() {
  std::lock_guard<std::mutex> lock(mutex_);
  sent_.clear();
}

bool FakeBinaryMessenger::AnswerSent(size_t index, const std::vector<uint8_t>& reply) {
  BinaryReply answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= pending_replies_.size() || !pending_replies_[index]) return false;
    answer = std::move(pending_replies_[index]);
    pending_replies_[index] = nullptr;
  }
  answer(reply.data(), reply.size());
  return true;
}

}  // namespace vek_native
