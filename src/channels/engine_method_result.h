#ifndef VEK_CHANNELS_ENGINE_METHOD_RESULT_H_
#define VEK_CHANNELS_ENGINE_METHOD_RESULT_H_

#include <string>
#include <type_traits>

#include "channels/binary_messenger.h"
#include "channels/method_result.h"
#include "channels/standard_codec.h"

namespace vek_native {

// The reply owed for a call that came from the engine. The first of Success,
// Error or NotImplemented consumes the reply; later ones are refused with a
// diagnostic, and destroying the result unanswered is reported (nothing is
// sent then: the engine may already be gone).
class EngineMethodResult : public MethodResult {
 public:
  EngineMethodResult(BinaryReply reply, const StandardMethodCodec* codec)
      : reply_(std::move(reply)), codec_(codec) {}
  ~EngineMethodResult() override;
  // The engine's response handle answers once; a copy would answer twice.
  EngineMethodResult(const EngineMethodResult&) = delete;
  EngineMethodResult& operator=(const EngineMethodResult&) = delete;

 protected:
  void SuccessInternal(const EncodableValue* result) override;
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const EncodableValue* error_details) override;
  void NotImplementedInternal() override;

 private:
  void SendReply(const uint8_t* data, size_t size);

  BinaryReply reply_;
  const StandardMethodCodec* codec_;
};
static_assert(!std::is_copy_constructible_v<EngineMethodResult>, "answers its reply once");

}  // namespace vek_native

#endif  // VEK_CHANNELS_ENGINE_METHOD_RESULT_H_
