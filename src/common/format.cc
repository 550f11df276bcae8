#include "common/format.h"

namespace vek_native {

std::string FormatWin32Failure(std::string_view action, uint32_t error) {
  std::string out(action);
  out += "失败（Win32 错误码 ";
  out += std::to_string(error);
  out += "）";
  return out;
}

std::string CmErrorSuffix(uint32_t cm_error) {
  return "（CM 错误 " + std::to_string(cm_error) + "）";
}

std::string ErrorCodeSuffix(uint32_t error) { return "（错误码 " + std::to_string(error) + "）"; }

std::string ExitCodeSuffix(uint32_t exit_code) {
  return "（退出码 " + std::to_string(exit_code) + "）";
}

std::string HexDigits(uint64_t value, int digits, bool upper) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    out[static_cast<size_t>(i)] = alphabet[value & 0xF];
    value >>= 4;
  }
  return out;
}

std::string FormatHresult(uint32_t hresult) { return "0x" + HexDigits(hresult, 8, true); }

std::string FormatVidPid(uint32_t vendor_id, uint32_t product_id) {
  // %04x prints more digits when the value needs them.
  auto hex = [](uint32_t v) {
    int digits = 4;
    while (digits < 8 && (v >> (digits * 4)) != 0) ++digits;
    return HexDigits(v, digits, false);
  };
  return hex(vendor_id) + ":" + hex(product_id);
}

}  // namespace vek_native
