// The value model of every channel message, as in Flutter's C++ client wrapper.
#ifndef VEK_CHANNELS_ENCODABLE_VALUE_H_
#define VEK_CHANNELS_ENCODABLE_VALUE_H_

#include <any>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vek_native {

// An opaque value the standard codec cannot write (it writes null and complains).
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}
  const std::any& value() const { return value_; }
  // Custom values have no natural order; identity keeps maps well-formed.
  bool operator<(const CustomEncodableValue& other) const { return this < &other; }
  bool operator==(const CustomEncodableValue& other) const { return this == &other; }

 private:
  std::any value_;
};

class EncodableValue;
using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// The alternatives' order is the primary sort key of map keys, so it must stay
// as it is: null, bool, int32, int64, double, string, bytes, int32 list, int64
// list, double list, list, map, custom, float list.
using EncodableVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                 std::vector<int32_t>, std::vector<int64_t>, std::vector<double>, EncodableList,
                 EncodableMap, CustomEncodableValue, std::vector<float>>;

class EncodableValue : public EncodableVariant {
 public:
  using EncodableVariant::EncodableVariant;
  using EncodableVariant::operator=;

  EncodableValue() = default;
  // A string literal is a string, not a bool.
  explicit EncodableValue(const char* text) : EncodableVariant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    EncodableVariant::operator=(std::string(text));
    return *this;
  }

  bool IsNull() const { return std::holds_alternative<std::monostate>(*this); }

  // 32- or 64-bit integer widened to 64 bits; other alternatives give 0.
  int64_t LongValue() const {
    if (const auto* v = std::get_if<int32_t>(this)) return *v;
    if (const auto* v = std::get_if<int64_t>(this)) return *v;
    return 0;
  }

  friend bool operator<(const EncodableValue& a, const EncodableValue& b) {
    // Map keys are nearly always strings: compare those without a visit.
    const auto* a_text = std::get_if<std::string>(&a);
    const auto* b_text = std::get_if<std::string>(&b);
    if (a_text != nullptr && b_text != nullptr) return *a_text < *b_text;
    return static_cast<const EncodableVariant&>(a) < static_cast<const EncodableVariant&>(b);
  }
  friend bool operator==(const EncodableValue& a, const EncodableValue& b) {
    return static_cast<const EncodableVariant&>(a) == static_cast<const EncodableVariant&>(b);
  }
  friend bool operator!=(const EncodableValue& a, const EncodableValue& b) { return !(a == b); }
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_ENCODABLE_VALUE_H_
