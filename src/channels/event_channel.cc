#include "channels/event_channel.h"

#include <iostream>
#include <utility>

namespace vek_native {

void EventChannel::EventSinkImplementation::SuccessInternal(const EncodableValue* event) {
  auto message = codec_->EncodeSuccessEnvelope(event);
  messenger_->Send(name_, message->data(), message->size());
}

void EventChannel::EventSinkImplementation::ErrorInternal(const std::string& error_code,
                                                          const std::string& error_message,
                                                          const EncodableValue* error_details) {
  auto message = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
  messenger_->Send(name_, message->data(), message->size());
}

// The end of a stream is an empty message.
void EventChannel::EventSinkImplementation::EndOfStreamInternal() {
  messenger_->Send(name_, nullptr, 0);
}

void EventChannel::SetStreamHandler(std::unique_ptr<StreamHandler> handler) {
  if (!handler) {
    messenger_->SetMessageHandler(name_, nullptr);
    return;
  }
  std::shared_ptr<StreamHandler> shared_handler(std::move(handler));
  BinaryMessenger* messenger = messenger_;
  const StandardMethodCodec* codec = codec_;
  std::string channel_name = name_;
  std::shared_ptr<State> state = state_;
  messenger_->SetMessageHandler(name_, [shared_handler, messenger, codec, channel_name, state](
                                           const uint8_t* message, size_t message_size,
                                           const BinaryReply& reply) {
    std::unique_ptr<MethodCall> call = codec->DecodeMethodCall(message, message_size);
    if (!call) {
      std::cerr << "Unable to construct method call from message on channel: " << channel_name
                << std::endl;
      reply(nullptr, 0);
      return;
    }
    const std::string& method = call->method_name();
    if (method == "listen") {
      if (state->is_listening) {
        std::unique_ptr<StreamHandlerError> error = shared_handler->OnCancel(nullptr);
        if (error) {
          std::cerr << "Failed to cancel existing stream: " << error->error_code << ", "
                    << error->error_message << ", "
                    << static_cast<const void*>(error->error_details.get());
        }
      }
      state->is_listening = true;
      auto sink = std::make_unique<EventSinkImplementation>(messenger, channel_name, codec);
      std::unique_ptr<StreamHandlerError> error =
          shared_handler->OnListen(call->arguments(), std::move(sink));
      auto envelope = error ? codec->EncodeErrorEnvelope(error->error_code, error->error_message,
                                                         error->error_details.get())
                            : codec->EncodeSuccessEnvelope();
      reply(envelope->data(), envelope->size());
    } else if (method == "cancel") {
      std::unique_ptr<std::vector<uint8_t>> envelope;
      if (state->is_listening) {
        std::unique_ptr<StreamHandlerError> error = shared_handler->OnCancel(call->arguments());
        envelope = error ? codec->EncodeErrorEnvelope(error->error_code, error->error_message,
                                                      error->error_details.get())
                         : codec->EncodeSuccessEnvelope();
        state->is_listening = false;
      } else {
        envelope = codec->EncodeErrorEnvelope("error", "No active stream to cancel");
      }
      reply(envelope->data(), envelope->size());
    } else {
      reply(nullptr, 0);
    }
  });
}

}  // namespace vek_native
