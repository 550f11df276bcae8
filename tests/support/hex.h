// Byte strings written as hex text in test vectors: "0a1b" <-> {0x0a, 0x1b}.
#ifndef VEK_TESTS_SUPPORT_HEX_H_
#define VEK_TESTS_SUPPORT_HEX_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace vek_test {

// Pairs of hex digits, spaces between them allowed; a trailing odd digit is ignored.
inline std::vector<uint8_t> FromHex(std::string hex) {
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Lower-case digits, no separators.
inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace vek_test

#endif  // VEK_TESTS_SUPPORT_HEX_H_
