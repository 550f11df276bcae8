// The standard codec as it was before its encoder wrote typed lists in one
// piece and its decoder inserted map keys with a hint: kept verbatim so that
// codec_bench measures old and new in the same run, on the same machine state.
// Benchmark use only.
#ifndef VEK_BENCH_CODEC_BASELINE_H_
#define VEK_BENCH_CODEC_BASELINE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {
namespace codec_baseline {

std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const EncodableValue& message);
std::unique_ptr<EncodableValue> DecodeMessage(const uint8_t* message, size_t size);
std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const EncodableValue* result);
bool DecodeResponseEnvelope(const uint8_t* response, size_t size, EncodableValue* result,
                            std::string* error_code, std::string* error_message,
                            EncodableValue* error_details);

}  // namespace codec_baseline
}  // namespace vek_native

#endif  // VEK_BENCH_CODEC_BASELINE_H_
