#include "host/helper_modes.h"

#include <climits>
#include <cstdlib>

namespace vek_native {
namespace {

int Unavailable(const char* mode, std::ostream& err) {
  err << mode << ": this build has no implementation of the helper mode" << std::endl;
  return 1;
}

int Usage(const char* line, std::ostream& err) {
  err << line << std::endl;
  return 1;
}

}  // namespace

int32_t ParseIntArgument(const std::string& argument, int32_t default_value) {
  if (argument.empty()) return default_value;
  const char* begin = argument.c_str();
  char* end = nullptr;
  // long long is 64 bits on every platform, so all read the same number; what
  // int32 cannot hold is refused below, strtoll's clamping on overflow included.
  const long long value = std::strtoll(begin, &end, 10);
  // Anything strtoll did not read (no number at all, a trailing character, or
  // what follows an embedded NUL) keeps the default.
  if (static_cast<size_t>(end - begin) != argument.size()) return default_value;
  if (value < INT32_MIN || value > INT32_MAX) return default_value;
  return static_cast<int32_t>(value);
}

std::optional<int> RunHelperMode(const std::vector<std::string>& arguments,
                                 const HelperModeOperations& operations, std::ostream& err) {
  if (arguments.empty()) return std::nullopt;
  const std::string& mode = arguments[0];
  if (mode == kHidCaptureSwitch) {
    if (arguments.size() < 5) {
      return Usage(
          "usage: vek_tool.exe --capture-hid-report-descriptors <usbInstanceId> "
          "<interfaceNumber> <timeoutMs> <outFilePath>",
          err);
    }
    if (!operations.capture_hid_report_descriptors) return Unavailable(kHidCaptureSwitch, err);
    std::string message;
    const int code = operations.capture_hid_report_descriptors(
        arguments[1], ParseIntArgument(arguments[2], -1), ParseIntArgument(arguments[3], 35000),
        arguments[4], &message);
    if (code != 0 && !message.empty()) {
      err << "descriptor capture failed (" << code << "): " << message << std::endl;
    }
    return code;
  }
  if (mode == kResetHelperSwitch) {
    if (arguments.size() < 3) {
      return Usage("usage: vek_tool.exe --reset-usb-device <usbInstanceId> <outFilePath>", err);
    }
    if (!operations.reset_usb_device) return Unavailable(kResetHelperSwitch, err);
    return operations.reset_usb_device(arguments[1], arguments[2]);
  }
  if (mode == kUsbCaptureSwitch) {
    if (arguments.size() < 6) {
      return Usage(
          "usage: vek_tool.exe --capture-usb-enumeration <usbInstanceId> <durationMs> "
          "<includeHidReports 0|1> <timeoutMs> <outputDirectory>",
          err);
    }
    if (!operations.capture_usb_enumeration) return Unavailable(kUsbCaptureSwitch, err);
    return operations.capture_usb_enumeration(arguments[1], ParseIntArgument(arguments[2], 6000),
                                              ParseIntArgument(arguments[3], 1) != 0,
                                              ParseIntArgument(arguments[4], 90000), arguments[5]);
  }
  return std::nullopt;
}

}  // namespace vek_native
