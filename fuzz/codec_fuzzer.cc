// Feeds arbitrary bytes to the message decoder, the method-call decoder and
// the reply-envelope decoder. A decoded value must re-encode and decode to the
// same value (where it holds no NaN, which is never equal to itself).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <variant>

#include "channels/standard_codec.h"

namespace {

bool HasNaN(const vek_native::EncodableValue& value) {
  using vek_native::EncodableList;
  using vek_native::EncodableMap;
  if (const auto* d = std::get_if<double>(&value)) return std::isnan(*d);
  if (const auto* v = std::get_if<std::vector<double>>(&value)) {
    for (double d : *v)
      if (std::isnan(d)) return true;
  }
  if (const auto* v = std::get_if<std::vector<float>>(&value)) {
    for (float f : *v)
      if (std::isnan(f)) return true;
  }
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    for (const auto& item : *list)
      if (HasNaN(item)) return true;
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& entry : *map)
      if (HasNaN(entry.first) || HasNaN(entry.second)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  const StandardMessageCodec& messages = StandardMessageCodec::GetInstance();
  const StandardMethodCodec& methods = StandardMethodCodec::GetInstance();

  std::unique_ptr<EncodableValue> value = messages.DecodeMessage(data, size);
  if (!HasNaN(*value)) {
    auto encoded = messages.EncodeMessage(*value);
    auto again = messages.DecodeMessage(encoded->data(), encoded->size());
    if (!(*again == *value)) std::abort();
  }

  std::unique_ptr<MethodCall> call = methods.DecodeMethodCall(data, size);
  if (call) methods.EncodeMethodCall(*call);

  EncodableValue result, details;
  std::string code, message;
  methods.DecodeResponseEnvelope(data, size, &result, &code, &message, &details);
  return 0;
}
