// Helpers shared by the channel tests: a text form of values that the
// converted Flutter vectors are written in, and an allocation probe.
#ifndef VEK_TESTS_UNIT_CHANNELS_CODEC_TEST_UTIL_H_
#define VEK_TESTS_UNIT_CHANNELS_CODEC_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "support/hex.h"

namespace vek_native {

using vek_test::FromHex;
using vek_test::ToHex;

// n, T/F, i<int32>, l<int64>, d<le hex>, s<utf-8 hex>, u<len>:<hex of the first 32 bytes>, I[..],
// L[..], D[..], f[..], [a,b], {k:v,...} (entries sorted by their text).
std::string Render(const EncodableValue& value);

// Encodes/decodes one value with the standard message codec.
std::vector<uint8_t> Encode(const EncodableValue& value);
EncodableValue Decode(const std::vector<uint8_t>& bytes);

// Largest single allocation made through operator new while a probe lives.
class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  size_t largest() const;
};

}  // namespace vek_native

#endif  // VEK_TESTS_UNIT_CHANNELS_CODEC_TEST_UTIL_H_
