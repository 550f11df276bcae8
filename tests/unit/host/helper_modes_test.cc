#include "host/helper_modes.h"
#include "host/window_metrics.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vek_native {
namespace {

// The exit code, the operation's call and what went to `err`, for operations
// that log their arguments and answer 3. The usage texts are checked end to end.
std::string RunMode(const std::vector<std::string>& arguments) {
  std::string call;
  HelperModeOperations ops;
  ops.capture_hid_report_descriptors = [&](const std::string& id, int32_t interface_number,
                                           int32_t timeout_ms, const std::string& out,
                                           std::string* message) {
    call = " hid " + id + " " + std::to_string(interface_number) + " " +
           std::to_string(timeout_ms) + " " + out;
    *message = id == "fails" ? "设备未出现" : "";
    return 3;
  };
  ops.reset_usb_device = [&](const std::string& id, const std::string& out) {
    call = " reset " + id + " " + out;
    return 3;
  };
  ops.capture_usb_enumeration = [&](const std::string& id, int32_t duration_ms, bool include_hid,
                                    int32_t timeout_ms, const std::string& dir) {
    call = " usb " + id + " " + std::to_string(duration_ms) + " " + (include_hid ? "1" : "0") +
           " " + std::to_string(timeout_ms) + " " + dir;
    return 3;
  };
  std::ostringstream err;
  const std::optional<int> code = RunHelperMode(arguments, ops, err);
  return (code ? std::to_string(*code) : "none") + call + " | " +
         err.str().substr(0, err.str().find(" <"));
}

TEST(HelperModesTest, ArgumentsDefaultsAndFailures) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--capture-hid-report-descriptors", "id", "abc", "", "o", "extra"},
       "3 hid id -1 35000 o | "},
      {{"--capture-hid-report-descriptors", "fails", "-2147483648", "2147483647", "o"},
       "3 hid fails -2147483648 2147483647 o | descriptor capture failed (3): 设备未出现\n"},
      {{"--reset-usb-device", "id", "r.txt"}, "3 reset id r.txt | "},
      {{"--capture-usb-enumeration", "id", "", "0", "", "d"}, "3 usb id 6000 0 90000 d | "},
      {{"--capture-usb-enumeration", "id", "\t+10", "-", "2147483648", "d"},
       "3 usb id 10 1 90000 d | "},
      {{"--capture-usb-enumeration", "id", "12x", "1", "1"},
       "1 | usage: vek_tool.exe --capture-usb-enumeration"},
      // Anything else starts the user interface.
      {{"x", "--reset-usb-device", "a", "b"}, "none | "}};
  for (const auto& [arguments, expected] : cases) EXPECT_EQ(RunMode(arguments), expected);
}

// The dark title bar rule is held by the Windows-layer theme test.
TEST(WindowMetricsTest, ScalesByDpiTruncating) {
  const PhysicalRect rect = ScaleToMonitor(10, -10, 1280, 721, 168);  // 175 %
  EXPECT_EQ(std::make_tuple(rect.x, rect.y, rect.width, rect.height),
            std::make_tuple(17, -17, 2240, 1261));
}

}  // namespace
}  // namespace vek_native
