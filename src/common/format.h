// Message formatting shared by every feature. Numbers in messages are unsigned
// decimal; callers pass the error code they read right after the failing call.
#ifndef VEK_COMMON_FORMAT_H_
#define VEK_COMMON_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vek_native {

// before + code + after. Every message that carries a Windows, configuration
// manager or exit code gets the code through here, so a code always reads the
// same; the helpers below are its fixed forms.
std::string CodedText(std::string_view before, uint32_t code, std::string_view after);

// action + "失败（Win32 错误码 " + error + "）"
std::string FormatWin32Failure(std::string_view action, uint32_t error);

// "（CM 错误 N）", "（错误码 N）", "（退出码 N）": the endings of the
// configuration-manager, request and helper-exit families of messages.
std::string CmErrorSuffix(uint32_t cm_error);
std::string ErrorCodeSuffix(uint32_t error);
std::string ExitCodeSuffix(uint32_t exit_code);

// "GetLastError=N", as the USB descriptor notes name the failed request's code.
std::string FormatLastError(uint32_t error);

// An HRESULT as "0x%08lX", e.g. "0x800704C7".
std::string FormatHresult(uint32_t hresult);

// A VID/PID pair as "%04x:%04x".
std::string FormatVidPid(uint32_t vendor_id, uint32_t product_id);

// Fixed-width upper- or lower-case hex of the low `digits` nibbles.
std::string HexDigits(uint64_t value, int digits, bool upper);

}  // namespace vek_native

#endif  // VEK_COMMON_FORMAT_H_
