#include "channels/method_channel.h"

#include <iostream>
#include <utility>

#include "channels/engine_method_result.h"

namespace vek_native {

void MethodChannel::SetMethodCallHandler(MethodCallHandler handler) const {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  // Everything the binary handler needs is copied into it, so it does not
  // depend on this channel object staying where it is.
  const StandardMethodCodec* codec = codec_;
  std::string channel_name = name_;
  messenger_->SetMessageHandler(
      name_, [handler = std::move(handler), codec, channel_name](
                 const uint8_t* message, size_t message_size, BinaryReply reply) {
        auto result = std::make_unique<EngineMethodResult>(std::move(reply), codec);
        std::unique_ptr<MethodCall> call = codec->DecodeMethodCall(message, message_size);
        if (!call) {
          std::cerr << "Unable to construct method call from message on channel " << channel_name
                    << std::endl;
          result->NotImplemented();
          return;
        }
        handler(*call, std::move(result));
      });
}

void MethodChannel::InvokeMethod(const std::string& method,
                                 std::unique_ptr<EncodableValue> arguments,
                                 std::unique_ptr<MethodResult> result) const {
  MethodCall call(method, std::move(arguments));
  auto message = codec_->EncodeMethodCall(call);
  if (!result) {
    messenger_->Send(name_, message->data(), message->size(), nullptr);
    return;
  }
  // std::function must be copyable, so the result travels in a shared_ptr.
  std::shared_ptr<MethodResult> shared_result(std::move(result));
  const StandardMethodCodec* codec = codec_;
  messenger_->Send(
      name_, message->data(), message->size(),
      [shared_result, codec](const uint8_t* reply, size_t reply_size) {
        if (reply_size == 0) {
          shared_result->NotImplemented();
          return;
        }
        EncodableValue value;
        std::string code;
        std::string text;
        EncodableValue details;
        if (codec->DecodeResponseEnvelope(reply, reply_size, &value, &code, &text, &details)) {
          shared_result->Success(value);
        } else if (details.IsNull()) {
          shared_result->Error(code, text);
        } else {
          shared_result->Error(code, text, details);
        }
      });
}

}  // namespace vek_native
