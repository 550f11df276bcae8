#include "common/format.h"

namespace vek_native {

std::string CodedText(std::string_view before, uint32_t code, std::string_view after) {
  std::string out(before);
  out += std::to_string(code);
  out += after;
  return out;
}

std::string FormatWin32Failure(std::string_view action, uint32_t error) {
  return std::string(action) + CodedText("失败（Win32 错误码 ", error, "）");
}

std::string CmErrorSuffix(uint32_t cm_error) { return CodedText("（CM 错误 ", cm_error, "）"); }

std::string ErrorCodeSuffix(uint32_t error) { return CodedText("（错误码 ", error, "）"); }

std::string ExitCodeSuffix(uint32_t exit_code) { return CodedText("（退出码 ", exit_code, "）"); }

std::string FormatLastError(uint32_t error) { return CodedText("GetLastError=", error, ""); }

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
