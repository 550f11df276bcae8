#include "capture/hid_descriptor_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_capture_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

constexpr char kDevice[] = "USB\\VID_046D&PID_C52B&MI_01\\7&1A2B3C4D&0&0001";
constexpr char kTemp[] = "C:\\Users\\u\\AppData\\Local\\Temp\\";

std::string HidEventXml(const std::string& path, const std::string& descriptor) {
  return "<Event xmlns=\"e\"><System><Provider Name=\"Microsoft-Windows-Input-HIDCLASS\" />"
         "<EventID>3</EventID><TimeCreated SystemTime=\"2024-05-01T10:00:00Z\" /></System>"
         "<EventData><Data Name=\"VendorID\">1133</Data><Data Name=\"ProductID\">50475</Data>"
         "<Data Name=\"DeviceInstancePath\">" +
         path + "</Data><Data Name=\"ReportDescriptorLength\">0</Data>" +
         "<Data Name=\"ReportDescriptor\">" + descriptor + "</Data></EventData></Event>\r\n";
}

TEST(HidCaptureTimingTest, ClampAndSettle) {
  EXPECT_EQ(ClampHidCaptureTimeout(1000), 5000);
  EXPECT_EQ(ClampHidCaptureTimeout(-7), 5000);
  EXPECT_EQ(ClampHidCaptureTimeout(60000), 60000);
  EXPECT_EQ(ClampHidCaptureTimeout(999999), 180000);
  const struct {
    int32_t timeout;
    uint32_t settle;
  } cases[] = {{9000, 3000}, {3000, 2000}, {18000, 6000}, {500000, 6000}, {-1, 2000}, {7500, 2500}};
  for (const auto& c : cases) EXPECT_EQ(HidCaptureSettleMs(c.timeout), c.settle) << c.timeout;
  EXPECT_EQ(HidCaptureLaunchValues(kDevice, 1, 5000).wait_limit_ms, 20000u);
}

TEST(HidCaptureResultTest, FormatThenParse) {
  HidDescriptorCapture a;
  a.instancePath = "USB\\VID_046D&PID_C52B&MI_01\\7&1";
  a.descriptor = {0x05, 0x01, 0xA1};
  a.declaredLength = 3;
  a.interfaceNumber = 1;
  HidDescriptorCapture b = a;
  b.instancePath = "USB\\VID_046D&PID_C52B&MI_00\\7&0";
  b.interfaceNumber = 0;
  b.declaredLength = 9;
  const std::string text = FormatHidCaptureResult({a, b});
  EXPECT_EQ(text,
            "USB\\VID_046D&PID_C52B&MI_00\\7&0|9|0501A1\r\n"
            "USB\\VID_046D&PID_C52B&MI_01\\7&1|3|0501A1\r\n");
  const std::vector<HidDescriptorCapture> back = ParseHidCaptureResult(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].interfaceNumber, 0);
  EXPECT_EQ(back[0].declaredLength, 9);
  EXPECT_EQ(back[1].vendorId, 0x046Du);
  EXPECT_EQ(back[1].productId, 0xC52Bu);
  EXPECT_EQ(back[1].descriptor, a.descriptor);
}

TEST(HidCaptureResultTest, LinesThatAreSkippedOrRepaired) {
  const struct {
    const char* line;
    size_t records;
    int32_t declared;
    int32_t interface_number;
  } cases[] = {
      {"USB\\VID_1&PID_2|0501", 0, 0, 0},       // one bar
      {"USB\\VID_1&PID_2|3|050", 0, 0, 0},      // odd hex
      {"USB\\VID_1&PID_2|3|", 0, 0, 0},         // no bytes
      {"USB\\VID_1&PID_2|3|zz", 0, 0, 0},       // not hex
      {"  \r\n\n  ", 0, 0, 0},                  // blank
      {"USB\\VID_1&PID_2|0|050109", 1, 3, -1},  // 0 becomes the byte count
      {"USB\\VID_1&PID_2|-4|0501", 1, 2, -1},   // not unsigned
      {"USB\\VID_1&PID_2|x|0501", 1, 2, -1},    // not a number
      {"USB\\VID_046D&PID_C52B&MI_02\\9|40|0501", 1, 40, 2},
      {"HID\\nothing|1|05", 1, 1, -1},  // IDs stay 0
      {"  a|b|c|0a0B  ", 1, 2, -1},     // path up to the first bar
  };
  for (const auto& c : cases) {
    const std::vector<HidDescriptorCapture> records = ParseHidCaptureResult(c.line);
    ASSERT_EQ(records.size(), c.records) << c.line;
    if (c.records == 1) {
      EXPECT_EQ(records[0].declaredLength, c.declared) << c.line;
      EXPECT_EQ(records[0].interfaceNumber, c.interface_number) << c.line;
    }
  }
  const auto repaired = ParseHidCaptureResult("USB\\VID_1&PID_2\\\xC3|1|05\rX|1|06");
  ASSERT_EQ(repaired.size(), 2u);
  EXPECT_EQ(repaired[0].instancePath, "USB\\VID_1&PID_2\\\xEF\xBF\xBD");
  EXPECT_EQ(repaired[1].instancePath, "X");
}

class HidCaptureHelperTest : public ::testing::Test {
 protected:
  FakeCaptureSystem fake;
  CaptureHelperSystem system = fake.System();
  const std::string out = std::string(kTemp) + "vek_tool_capture_12_345.txt";
};

TEST_F(HidCaptureHelperTest, WritesTheResultAndCleansUp) {
  fake.trace.xml = "<Events>" + HidEventXml(kDevice, "05 01 09 02") + "</Events>";
  std::string message;
  EXPECT_EQ(RunHidDescriptorCaptureHelper(system, kDevice, -1, 9000, out, &message), 0) << message;
  EXPECT_EQ(fake.files.files[out], std::string(kDevice) + "|4|05010902\r\n");
  EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{3000});
  EXPECT_EQ(fake.hub.calls,
            (std::vector<std::string>{"open " + std::string(kDevice), "cycle 4", "close"}));
  // Only the result file is left: trace and XML are gone.
  EXPECT_EQ(fake.files.files.size(), 1u);
  EXPECT_EQ(fake.trace.running_sessions, 0);
}

TEST_F(HidCaptureHelperTest, FailuresLeaveTheirMessageInTheErrorFile) {
  const std::string kNoEvent = kHidCaptureNoEventMessage;
  struct Case {
    const char* name;
    void (*change)(FakeCaptureSystem&);
    int code;
    std::string message;
  } cases[] = {
      {"no event", [](FakeCaptureSystem&) {}, 2, kNoEvent},
      {"other device",
       [](FakeCaptureSystem& f) { f.trace.xml = HidEventXml("USB\\VID_046D&PID_0001\\1", "0501"); },
       2, kNoEvent},
      {"hub not found", [](FakeCaptureSystem& f) { f.hub.open_ok = false; }, 1, "找不到父集线器"},
      {"cycle fails", [](FakeCaptureSystem& f) { f.hub.cycle_ok = false; }, 1, "端口复位失败"},
      {"no xml", [](FakeCaptureSystem& f) { f.trace.converter_writes_xml = false; }, 1,
       "tracerpt.exe 未生成 XML（退出码 0）"},
  };
  for (const Case& c : cases) {
    FakeCaptureSystem f;
    c.change(f);
    CaptureHelperSystem s = f.System();
    std::string message;
    EXPECT_EQ(RunHidDescriptorCaptureHelper(s, kDevice, -1, 3000, out, &message), c.code) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(f.files.files[out + ".err"], c.message) << c.name;
    EXPECT_EQ(f.files.files.count(out), 0u) << c.name;
    EXPECT_EQ(f.files.files.size(), 1u) << c.name;  // the error file only
    EXPECT_EQ(f.hub.open_hubs, 0) << c.name;
    EXPECT_EQ(f.trace.running_sessions, 0) << c.name;
  }
}

TEST_F(HidCaptureHelperTest, RefusesPathsOutsideItsResultLocations) {
  for (const std::string& path :
       {std::string("C:\\Windows\\system32\\config\\SAM"), std::string(kTemp) + "other_1.txt",
        std::string(kTemp) + "sub\\vek_tool_capture_1.txt",
        std::string("vek_tool_capture_1.txt")}) {
    FakeCaptureSystem f;
    f.files.files[path] = "keep";
    f.files.files[path + ".err"] = "keep";
    CaptureHelperSystem s = f.System();
    std::string message;
    EXPECT_EQ(RunHidDescriptorCaptureHelper(s, kDevice, -1, 3000, path, &message), 1) << path;
    EXPECT_FALSE(message.empty()) << path;
    EXPECT_EQ(f.files.files[path], "keep") << path;
    EXPECT_EQ(f.files.files[path + ".err"], "keep") << path;
    EXPECT_TRUE(f.hub.calls.empty()) << path;
  }
}

TEST_F(HidCaptureHelperTest, InvalidIdFailsBeforeTracing) {
  std::string message;
  EXPECT_EQ(CaptureHidDescriptorsOnce(system, "bogus", 0, 3000, out, &message), 1);
  EXPECT_EQ(message, "usbInstanceId 不是有效的 USB 设备实例路径：bogus");
  EXPECT_TRUE(fake.hub.calls.empty());
}

// The caller's side, with a launcher whose "helper" writes into the same
// fake file system.
class HidCaptureCallerTest : public ::testing::Test {
 protected:
  HidCaptureCallerTest() {
    caller.launcher = &launcher;
    caller.files = &files;
    caller.support = &support;
    launcher.on_start = [this](const std::string& parameters) {
      started_with = parameters;
      const std::string result = LastQuotedArgument(parameters);
      if (result_text) files.files[result] = *result_text;
      if (error_text) files.files[result + ".err"] = *error_text;
    };
  }

  bool Run(int32_t timeout = 9000) {
    records.clear();
    return CaptureHidReportDescriptors(caller, kDevice, -1, timeout, &records, &cancelled, &error);
  }

  FakeProcessLauncher launcher;
  FakeFileSystem files;
  CaptureSupportQueries support = SupportedCaptureQueries();
  HidCaptureCaller caller;
  const std::string* result_text = nullptr;
  const std::string* error_text = nullptr;
  std::string started_with;
  std::vector<HidDescriptorCapture> records;
  bool cancelled = true;
  std::string error;
};

TEST_F(HidCaptureCallerTest, SuccessReadsAndRemovesTheResultFile) {
  const std::string result = std::string(kDevice) + "|0|0501\r\nbad line\r\n";
  result_text = &result;
  ASSERT_TRUE(Run(1000)) << error;
  EXPECT_FALSE(cancelled);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].declaredLength, 2);
  EXPECT_EQ(records[0].interfaceNumber, 1);
  EXPECT_EQ(launcher.wait_limits, std::vector<uint32_t>{20000});
  EXPECT_EQ(started_with.rfind("--capture-hid-report-descriptors \"", 0), 0u) << started_with;
  EXPECT_NE(started_with.find("\" -1 5000 \""), std::string::npos) << started_with;
  EXPECT_TRUE(files.files.empty());
}

TEST_F(HidCaptureCallerTest, FailureMessages) {
  const std::string empty, only_blanks = " \r\n", helper_says = " 端口复位失败\r\n";
  struct Case {
    const char* name;
    uint32_t exit_code;
    const std::string* result;
    const std::string* error_file;
    std::string message;
  } cases[] = {
      {"exit 2, empty error file", 2, nullptr, &only_blanks, kHidCaptureNoEventMessage},
      {"exit 2, no error file", 2, nullptr, nullptr, kHidCaptureNoEventMessage},
      {"exit 1, no message", 1, nullptr, &empty, "抓取失败（退出码 1）"},
      {"exit 1, message", 1, nullptr, &helper_says, "端口复位失败"},
      {"exit 0, empty result", 0, &empty, nullptr, "抓取结果为空（未解析到报告描述符）"},
      {"exit 0, no result file", 0, nullptr, nullptr, ""},  // the reader's message
  };
  for (const Case& c : cases) {
    files.files.clear();
    launcher.exit_code = c.exit_code;
    result_text = c.result;
    error_text = c.error_file;
    EXPECT_FALSE(Run()) << c.name;
    if (!c.message.empty()) {
      EXPECT_EQ(error, c.message) << c.name;
    }
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_FALSE(cancelled) << c.name;
    EXPECT_TRUE(files.files.empty()) << c.name;
  }
}

TEST_F(HidCaptureCallerTest, DeclinedTimedOutAndPrecheck) {
  launcher.start_error = 1223;
  EXPECT_FALSE(Run());
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(error, "用户取消了管理员授权");

  launcher.start_error = 0;
  launcher.wait_results = {ProcessLauncher::WaitResult::kTimedOut};
  const std::string result = std::string(kDevice) + "|0|0501\r\n";
  result_text = &result;
  EXPECT_FALSE(Run());
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(error, "抓取 HID 报告描述符超时");
  EXPECT_TRUE(files.files.empty());

  support.read_system_build = [](uint32_t* b) {
    *b = 7601;
    return true;
  };
  launcher.calls.clear();
  EXPECT_FALSE(Run());
  EXPECT_NE(error.find("Windows 8.1"), std::string::npos);
  EXPECT_TRUE(launcher.calls.empty());
}

TEST_F(HidCaptureCallerTest, ElevatedCallerRunsInProcessThroughTheResultFile) {
  FakeCaptureSystem helper;
  launcher.elevated = true;
  caller.run_helper = [&](const std::string& id, int32_t iface, int32_t timeout,
                          const std::string& out, std::string* message) {
    // The helper sees the caller's file system.
    helper.files.files = files.files;
    helper.trace.xml = HidEventXml(kDevice, "0501");
    CaptureHelperSystem s = helper.System();
    const int code = RunHidDescriptorCaptureHelper(s, id, iface, timeout, out, message);
    files.files = helper.files.files;
    return code;
  };
  ASSERT_TRUE(Run()) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].descriptor, (std::vector<uint8_t>{0x05, 0x01}));
  EXPECT_TRUE(files.files.empty());

  helper.trace.xml = "";
  caller.run_helper = [&](const std::string& id, int32_t iface, int32_t timeout,
                          const std::string& out, std::string* message) {
    CaptureHelperSystem s = helper.System();
    return RunHidDescriptorCaptureHelper(s, id, iface, timeout, out, message);
  };
  EXPECT_FALSE(Run());
  EXPECT_EQ(error, kHidCaptureNoEventMessage);
}

}  // namespace
}  // namespace vek_native
