#include "channels/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace vek_native {

namespace {

// What every copy of one message's reply callable shares: a counted reference
// to the messenger and the response handle, which is used at most once.
struct PendingResponse {
  explicit PendingResponse(FlutterDesktopMessengerRef messenger,
                           const FlutterDesktopMessageResponseHandle* handle)
      : messenger(FlutterDesktopMessengerAddRef(messenger)), response_handle(handle) {}
  ~PendingResponse() { FlutterDesktopMessengerRelease(messenger); }
  PendingResponse(const PendingResponse&) = delete;
  PendingResponse& operator=(const PendingResponse&) = delete;

  FlutterDesktopMessengerRef messenger;
  // Guarded by the messenger lock; null once the response was sent.
  const FlutterDesktopMessageResponseHandle* response_handle;
};

void SendResponse(PendingResponse& pending, const uint8_t* reply, size_t reply_size) {
  // May run on any thread: the lock keeps the engine from going away between
  // the availability check and the send.
  FlutterDesktopMessengerLock(pending.messenger);
  if (!FlutterDesktopMessengerIsAvailable(pending.messenger)) {
    // The engine was shut down; there is no one left to answer.
    FlutterDesktopMessengerUnlock(pending.messenger);
    return;
  }
  if (pending.response_handle == nullptr) {
    FlutterDesktopMessengerUnlock(pending.messenger);
    std::cerr << "Error: Response can be set only once. Ignoring duplicate response." << std::endl;
    return;
  }
  const FlutterDesktopMessageResponseHandle* handle = pending.response_handle;
  // The engine frees the handle once the response is sent.
  pending.response_handle = nullptr;
  FlutterDesktopMessengerSendResponse(pending.messenger, handle, reply, reply_size);
  FlutterDesktopMessengerUnlock(pending.messenger);
}

void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                      void* user_data) {
  auto pending = std::make_shared<PendingResponse>(messenger, message->response_handle);
  BinaryReply reply = [pending](const uint8_t* data, size_t size) {
    SendResponse(*pending, data, size);
  };
  const auto& handler = *static_cast<const BinaryMessageHandler*>(user_data);
  handler(message->message, message->message_size, std::move(reply));
}

void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  (*reply)(data, data_size);
}

}  // namespace

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message,
                               size_t message_size, BinaryReply reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size);
    return;
  }
  auto captured = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size,
                                           ForwardReply, captured.get())) {
    // The engine calls ForwardReply exactly once, which frees it.
    static_cast<void>(captured.release());
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel,
                                            BinaryMessageHandler handler) {
  if (!handler) {
    // The engine forgets the callback before the handler it points at dies.
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    handlers_.erase(channel);
    return;
  }
  BinaryMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), ForwardToHandler, &stored);
}

}  // namespace vek_native
