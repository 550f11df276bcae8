// Readers of method-call arguments. Only a map argument is looked into; any
// other argument value (or none) makes every lookup find nothing. A wrong type
// reads like an absent value, so bad input never throws.
#ifndef VEK_BRIDGE_BRIDGE_ARGUMENTS_H_
#define VEK_BRIDGE_BRIDGE_ARGUMENTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// The string under `key`, else "" (callers treat "" as missing when required).
std::string StringArgument(const EncodableValue* arguments, const char* key);

// An int32 widened, an int64 as is, a double truncated toward zero and
// saturated to the int64 range; NaN, infinities, other types and absence give
// `default_value`.
int64_t IntegerArgument(const EncodableValue* arguments, const char* key, int64_t default_value);

// The bool under `key`, else `default_value`.
bool BoolArgument(const EncodableValue* arguments, const char* key, bool default_value);

// A Uint8List's bytes (possibly none) or a string decoded leniently as
// Base64: true. Absent or any other type: false (missing).
bool BytesArgument(const EncodableValue* arguments, const char* key, std::vector<uint8_t>* bytes);

// The string elements of a list under `key`, in order, others skipped; else
// an empty list.
std::vector<std::string> StringListArgument(const EncodableValue* arguments, const char* key);

// The list under `key`, else null (absent or another type).
const EncodableList* ListArgument(const EncodableValue* arguments, const char* key);

// Base64 that never fails: characters outside the alphabet ("=", spaces,
// "-", "_", anything) are skipped and trailing bits short of a byte dropped.
std::vector<uint8_t> DecodeBase64Lenient(const std::string& text);

// The longest path or device instance ID any Windows call takes: 32767 UTF-16
// units (a "\\?\" path; UNICODE_STRING counts bytes in 16 bits).
constexpr size_t kMaxWindowsTextUnits = 32767;

// Whether `text` converts to at most kMaxWindowsTextUnits UTF-16 units.
bool FitsWindowsText(std::string_view text);

// The low 32 bits of `value` as a signed 32-bit number, without relying on
// implementation-defined narrowing.
int32_t LowInt32(int64_t value);

}  // namespace vek_native

#endif  // VEK_BRIDGE_BRIDGE_ARGUMENTS_H_
