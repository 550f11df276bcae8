#include "host/helper_modes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vek_native {
namespace {

TEST(ParseIntArgumentTest, ReadsStrtolNumbersAndFallsBackOtherwise) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  const Case cases[] = {
      {"", -7},
      {"12", 12},
      {" 12", 12},
      {"\t+12", 12},
      {"-12", -12},
      {"12x", -7},
      {"12 ", -7},
      {"abc", -7},
      {"-", -7},
      {" ", -7},
      {"0x10", -7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", -7},
      {"-2147483649", -7},
      {"99999999999999999999", -7},
      {std::string("12\0"
                   "3",
                   4),
       -7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIntArgument(c.text, -7), c.expected) << '"' << c.text << '"';
  }
}

struct Recorded {
  std::vector<std::string> calls;
};

HelperModeOperations RecordingOperations(Recorded* recorded, int code, std::string message = "") {
  HelperModeOperations ops;
  ops.capture_hid_report_descriptors = [=](const std::string& id, int32_t interface_number,
                                           int32_t timeout_ms, const std::string& out,
                                           std::string* out_message) {
    recorded->calls.push_back("hid " + id + " " + std::to_string(interface_number) + " " +
                              std::to_string(timeout_ms) + " " + out);
    *out_message = message;
    return code;
  };
  ops.reset_usb_device = [=](const std::string& id, const std::string& out) {
    recorded->calls.push_back("reset " + id + " " + out);
    return code;
  };
  ops.capture_usb_enumeration = [=](const std::string& id, int32_t duration_ms, bool include_hid,
                                    int32_t timeout_ms, const std::string& dir) {
    recorded->calls.push_back("usb " + id + " " + std::to_string(duration_ms) + " " +
                              (include_hid ? "1" : "0") + " " + std::to_string(timeout_ms) + " " +
                              dir);
    return code;
  };
  return ops;
}

TEST(RunHelperModeTest, PassesArgumentsWithDefaults) {
  struct Case {
    std::vector<std::string> arguments;
    std::string call;
  };
  const Case cases[] = {
      {{"--capture-hid-report-descriptors", "USB\\X", "abc", "1000", "out.txt"},
       "hid USB\\X -1 1000 out.txt"},
      {{"--capture-hid-report-descriptors", "id", "", "", "o", "extra"}, "hid id -1 35000 o"},
      {{"--capture-hid-report-descriptors", "id", "2", "-5", "o"}, "hid id 2 -5 o"},
      {{"--reset-usb-device", "id", "r.txt"}, "reset id r.txt"},
      {{"--capture-usb-enumeration", "id", "", "0", "", "d"}, "usb id 6000 0 90000 d"},
      {{"--capture-usb-enumeration", "id", "10", "2", "20", "d"}, "usb id 10 1 20 d"},
      {{"--capture-usb-enumeration", "id", "10", "-1", "20", "d"}, "usb id 10 1 20 d"},
      {{"--capture-usb-enumeration", "id", "10", "yes", "20", "d"}, "usb id 10 1 20 d"},
  };
  for (const Case& c : cases) {
    Recorded recorded;
    std::ostringstream err;
    const auto code = RunHelperMode(c.arguments, RecordingOperations(&recorded, 3), err);
    ASSERT_TRUE(code.has_value()) << c.call;
    EXPECT_EQ(*code, 3);
    ASSERT_EQ(recorded.calls.size(), 1u);
    EXPECT_EQ(recorded.calls[0], c.call);
  }
}

TEST(RunHelperModeTest, TooFewArgumentsPrintUsageAndExitOne) {
  struct Case {
    std::vector<std::string> arguments;
    std::string usage;
  };
  const Case cases[] = {
      {{"--capture-hid-report-descriptors", "id", "1", "2"},
       "usage: vek_tool.exe --capture-hid-report-descriptors <usbInstanceId> <interfaceNumber> "
       "<timeoutMs> <outFilePath>\n"},
      {{"--reset-usb-device", "id"},
       "usage: vek_tool.exe --reset-usb-device <usbInstanceId> <outFilePath>\n"},
      {{"--capture-usb-enumeration", "id", "1", "1", "1"},
       "usage: vek_tool.exe --capture-usb-enumeration <usbInstanceId> <durationMs> "
       "<includeHidReports 0|1> <timeoutMs> <outputDirectory>\n"},
  };
  for (const Case& c : cases) {
    Recorded recorded;
    std::ostringstream err;
    EXPECT_EQ(RunHelperMode(c.arguments, RecordingOperations(&recorded, 0), err), 1);
    EXPECT_EQ(err.str(), c.usage);
    EXPECT_TRUE(recorded.calls.empty());
  }
}

TEST(RunHelperModeTest, OtherFirstArgumentsStartTheUserInterface) {
  const std::vector<std::vector<std::string>> starts = {
      {}, {"--RESET-USB-DEVICE", "a", "b"}, {"--reset-usb-device "}, {"x", "--reset-usb-device"}};
  for (const auto& arguments : starts) {
    Recorded recorded;
    std::ostringstream err;
    EXPECT_FALSE(RunHelperMode(arguments, RecordingOperations(&recorded, 0), err).has_value());
    EXPECT_TRUE(recorded.calls.empty());
    EXPECT_EQ(err.str(), "");
  }
}

TEST(RunHelperModeTest, DescriptorCaptureFailureLine) {
  const std::vector<std::string> arguments = {"--capture-hid-report-descriptors", "id", "0", "0",
                                              "o"};
  struct Case {
    int code;
    std::string message;
    std::string expected;
  };
  const Case cases[] = {
      {4, "设备未出现", "descriptor capture failed (4): 设备未出现\n"},
      {4, "", ""},
      {0, "ignored", ""},
  };
  for (const Case& c : cases) {
    Recorded recorded;
    std::ostringstream err;
    EXPECT_EQ(RunHelperMode(arguments, RecordingOperations(&recorded, c.code, c.message), err),
              c.code);
    EXPECT_EQ(err.str(), c.expected);
  }
}

TEST(RunHelperModeTest, ModeWithoutOperationNamesItselfAndFails) {
  const std::vector<std::vector<std::string>> runs = {
      {"--capture-hid-report-descriptors", "id", "0", "0", "o"},
      {"--reset-usb-device", "id", "o"},
      {"--capture-usb-enumeration", "id", "1", "1", "1", "d"}};
  for (const auto& arguments : runs) {
    std::ostringstream err;
    EXPECT_EQ(RunHelperMode(arguments, HelperModeOperations{}, err), 1);
    EXPECT_NE(err.str().find(arguments[0]), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace vek_native
