#include "bridge/bridge_arguments.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <variant>

#include "common/text.h"

namespace vek_native {

namespace {

const EncodableValue* Lookup(const EncodableValue* arguments, const char* key) {
  if (arguments == nullptr) return nullptr;
  const auto* map = std::get_if<EncodableMap>(arguments);
  if (map == nullptr) return nullptr;
  auto it = map->find(EncodableValue(std::string(key)));
  return it == map->end() ? nullptr : &it->second;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool FitsWindowsText(std::string_view text) {
  // A UTF-8 byte never makes more than one UTF-16 unit, so short texts need
  // no conversion.
  return text.size() <= kMaxWindowsTextUnits || Utf8ToUtf16(text).size() <= kMaxWindowsTextUnits;
}

std::string StringArgument(const EncodableValue* arguments, const char* key) {
  const EncodableValue* value = Lookup(arguments, key);
  if (value == nullptr) return std::string();
  const auto* text = std::get_if<std::string>(value);
  return text == nullptr ? std::string() : *text;
}

int64_t IntegerArgument(const EncodableValue* arguments, const char* key, int64_t default_value) {
  const EncodableValue* value = Lookup(arguments, key);
  if (value == nullptr) return default_value;
  if (const auto* v = std::get_if<int32_t>(value)) return *v;
  if (const auto* v = std::get_if<int64_t>(value)) return *v;
  if (const auto* v = std::get_if<double>(value)) {
    // Converting a double outside the int64 range is undefined behaviour, so
    // NaN and infinities read as absent and finite values saturate.
    const double d = *v;
    if (!std::isfinite(d)) return default_value;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (d >= kTwoTo63) return std::numeric_limits<int64_t>::max();
    if (d <= -kTwoTo63) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
  }
  return default_value;
}

const EncodableList* ListArgument(const EncodableValue* arguments, const char* key) {
  const EncodableValue* value = Lookup(arguments, key);
  return value == nullptr ? nullptr : std::get_if<EncodableList>(value);
}

bool BoolArgument(const EncodableValue* arguments, const char* key, bool default_value) {
  const EncodableValue* value = Lookup(arguments, key);
  if (value == nullptr) return default_value;
  const auto* flag = std::get_if<bool>(value);
  return flag == nullptr ? default_value : *flag;
}

bool BytesArgument(const EncodableValue* arguments, const char* key, std::vector<uint8_t>* bytes) {
  const EncodableValue* value = Lookup(arguments, key);
  if (value == nullptr) return false;
  if (const auto* list = std::get_if<std::vector<uint8_t>>(value)) {
    *bytes = *list;
    return true;
  }
  if (const auto* text = std::get_if<std::string>(value)) {
    *bytes = DecodeBase64Lenient(*text);
    return true;
  }
  return false;
}

std::vector<std::string> StringListArgument(const EncodableValue* arguments, const char* key) {
  std::vector<std::string> strings;
  const EncodableValue* value = Lookup(arguments, key);
  if (value == nullptr) return strings;
  const auto* list = std::get_if<EncodableList>(value);
  if (list == nullptr) return strings;
  for (const EncodableValue& element : *list) {
    if (const auto* text = std::get_if<std::string>(&element)) strings.push_back(*text);
  }
  return strings;
}

std::vector<uint8_t> DecodeBase64Lenient(const std::string& text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  uint32_t accumulator = 0;
  int bits = 0;
  for (char c : text) {
    const int value = Base64Value(c);
    if (value < 0) continue;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>((accumulator >> bits) & 0xFF));
    }
  }
  return bytes;
}

int32_t LowInt32(int64_t value) {
  // The conversion to unsigned keeps the low 32 bits; int32_t is two's
  // complement by definition, so their pattern is the value.
  const uint32_t low = static_cast<uint32_t>(value);
  int32_t result;
  std::memcpy(&result, &low, sizeof result);
  return result;
}

}  // namespace vek_native
