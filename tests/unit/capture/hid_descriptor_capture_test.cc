#include "capture/hid_descriptor_capture.h"

#include <gtest/gtest.h>

#include "capture/capture_operations.h"
#include "support/fake_capture_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

constexpr char kDevice[] = "USB\\VID_046D&PID_C52B&MI_01\\7&1A2B3C4D&0&0001";
const std::string kOut = "C:\\Users\\u\\AppData\\Local\\Temp\\vek_tool_capture_12_345.txt";

std::string HidEventXml(const std::string& path) {
  return "<Event x><System><Provider Name=\"Microsoft-Windows-Input-HIDCLASS\" /></System>"
         "<Data Name=\"DeviceInstancePath\">" +
         path + "</Data><Data Name=\"ReportDescriptor\">05 01 09 02</Data></Event>";
}

TEST(HidCaptureTest, Helper) {
  FakeCaptureSystem fake;
  fake.files.files[kOut + ".err"] = "an earlier run's error";
  // The wanted interface is the ID's, not MI_00.
  fake.trace.xml = HidEventXml(kDevice) + HidEventXml("USB\\VID_046D&amp;PID_C52B&amp;MI_00\\1");
  std::string message;
  EXPECT_EQ(RunHidDescriptorCaptureHelper(fake.system, kDevice, -1, 9000, kOut, &message), 0)
      << message;
  EXPECT_EQ(fake.files.files,
            (std::map<std::string, std::string>{{kOut, std::string(kDevice) + "|4|05010902\r\n"}}));
  EXPECT_EQ(fake.hub.calls,
            (std::vector<std::string>{"open " + std::string(kDevice), "cycle 4", "close"}));
  EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{3000});
  EXPECT_EQ(fake.trace.running_sessions, 0);
  // A failure leaves its message in the error file and nothing else.
  FakeCaptureSystem other;
  other.trace.xml = HidEventXml("USB\\VID_046D&PID_1\\1");
  EXPECT_EQ(RunHidDescriptorCaptureHelper(other.system, kDevice, -1, 3000, kOut, &message), 2);
  EXPECT_EQ(message, kHidCaptureNoEventMessage);
  EXPECT_EQ(other.files.files, (std::map<std::string, std::string>{{kOut + ".err", message}}));
  EXPECT_EQ(other.hub.open_hubs + other.trace.running_sessions, 0);
  other.trace.start_results = {5};  // no session: a failure, not a capture without events
  EXPECT_EQ(RunHidDescriptorCaptureHelper(other.system, kDevice, -1, 3000, kOut, &message), 1);
  EXPECT_EQ(RunHidDescriptorCaptureHelper(other.system, "bogus", -1, 3000, kOut, &message), 1);
  EXPECT_EQ(message, "usbInstanceId 不是有效的 USB 设备实例路径：bogus");
  // A path that is not its own result location is refused before anything runs.
  FakeCaptureSystem f;
  const std::string sam = "C:\\Windows\\system32\\config\\SAM";
  f.files.files = {{sam, "keep"}, {sam + ".err", "keep"}};
  EXPECT_EQ(RunHidDescriptorCaptureHelper(f.system, kDevice, -1, 3000, sam, &message), 1);
  EXPECT_EQ(message, "结果路径不在临时目录中或名称不符，拒绝写入：" + sam);
  EXPECT_EQ(f.files.files.size(), 2u);
  EXPECT_TRUE(f.hub.calls.empty());
}

// The caller's side, with a launcher whose "helper" writes the result and
// error files. The launch and its messages are the elevated helper test's.
TEST(HidCaptureTest, Caller) {
  FakeProcessLauncher launcher;
  FakeFileSystem files;
  CaptureSupportQueries support = SupportedCaptureQueries();
  HidCaptureCaller caller{&launcher, &files, &support, nullptr};
  std::string result = "USB\\VID_046D&PID_C52B&MI_01\\7|1|0501\r\n", error_file;  // "": none
  launcher.on_start = [&](const std::string& parameters) {
    if (!result.empty()) files.files[LastQuotedArgument(parameters)] = result;
    if (!error_file.empty()) files.files[LastQuotedArgument(parameters) + ".err"] = error_file;
  };
  std::vector<HidDescriptorCapture> records;
  bool cancelled = true;
  std::string error;
  const auto capture = [&] {
    return CaptureHidReportDescriptors(caller, kDevice, -1, 1000, &records, &cancelled, &error);
  };
  ASSERT_TRUE(capture()) << error;
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(records.size(), 1u);
  EXPECT_EQ(ToCapturedHidDescriptors(records).at(0).declared_length, 1);        // 1 is declared too
  EXPECT_NE(launcher.started_parameters.find(" -1 5000 "), std::string::npos);  // clamped
  // The error file's text, trimmed, or one for the exit code; the result and
  // error files go either way.
  const std::tuple<uint32_t, const char*, const char*, std::string> cases[] = {
      {2, "", " \r\n", kHidCaptureNoEventMessage},
      {1, "", " 端口复位失败\r\n", "端口复位失败"},
      {1, "", "", "抓取失败（退出码 1）"},
      {0, "\r\nUSB\\VID_1&PID_2|0501\r\n", "", "抓取结果为空（未解析到报告描述符）"},
      {0, "", "", "无法读取文件 "}};
  for (const auto& [exit_code, result_text, error_text, message] : cases) {
    launcher.exit_code = exit_code;
    result = result_text;
    error_file = error_text;
    EXPECT_FALSE(capture());
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    EXPECT_TRUE(files.files.empty());
  }
  launcher.start_error = 1223;  // the launch's own failure comes back as it is
  EXPECT_FALSE(capture());
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(error, "用户取消了管理员授权");
  // Elevated, the helper runs in this process; its failure is the caller's.
  launcher.elevated = true;
  caller.run_helper = [](const std::string&, int32_t, int32_t, const std::string&, std::string*) {
    return 1;
  };
  EXPECT_FALSE(capture());
  EXPECT_EQ(error, kHidCaptureFailedMessage);
  support.is_tracerpt_available = nullptr;  // checked before anything is launched
  launcher.calls.clear();
  EXPECT_FALSE(capture());
  EXPECT_TRUE(launcher.calls.empty());
}

}  // namespace
}  // namespace vek_native
