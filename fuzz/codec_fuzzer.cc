// Feeds arbitrary bytes to the message decoder, the method-call decoder and
// the reply-envelope decoder. A decoded value must encode to bytes that decode
// and encode to the same bytes again (bytes, as a NaN never equals itself).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "channels/standard_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  const StandardMessageCodec& messages = StandardMessageCodec::GetInstance();
  const StandardMethodCodec& methods = StandardMethodCodec::GetInstance();

  const auto encoded = messages.EncodeMessage(*messages.DecodeMessage(data, size));
  const auto again =
      messages.EncodeMessage(*messages.DecodeMessage(encoded->data(), encoded->size()));
  Check(*again == *encoded);

  std::unique_ptr<MethodCall> call = methods.DecodeMethodCall(data, size);
  if (call) methods.EncodeMethodCall(*call);

  EncodableValue result, details;
  std::string code, message;
  methods.DecodeResponseEnvelope(data, size, &result, &code, &message, &details);
  return 0;
}
