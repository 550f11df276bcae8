#include "channels/engine_method_result.h"

#include <iostream>
#include <utility>

namespace vek_native {

EngineMethodResult::~EngineMethodResult() {
  if (reply_) {
    std::cerr << "Warning: Failed to respond to a message. This is a memory leak." << std::endl;
  }
}

void EngineMethodResult::SuccessInternal(const EncodableValue* result) {
  auto data = codec_->EncodeSuccessEnvelope(result);
  SendReply(data->data(), data->size());
}

void EngineMethodResult::ErrorInternal(const std::string& error_code,
                                       const std::string& error_message,
                                       const EncodableValue* error_details) {
  auto data = codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
  SendReply(data->data(), data->size());
}

// The standard method codec's "not implemented" is an empty reply.
void EngineMethodResult::NotImplementedInternal() { SendReply(nullptr, 0); }

void EngineMethodResult::SendReply(const uint8_t* data, size_t size) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be called,"
              << " and it can be called exactly once. Ignoring duplicate result." << std::endl;
    return;
  }
  // Cleared before the call so a reply that re-enters this result is refused.
  BinaryReply reply = std::move(reply_);
  reply_ = nullptr;
  reply(data, size);
}

}  // namespace vek_native
