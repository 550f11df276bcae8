#include "capture/usb_enumeration_capture.h"

#include <gtest/gtest.h>

#include "support/fake_capture_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

constexpr char kUsbDev[] = "USB\\VID_046D&PID_C52B\\5&1A2B3C4D&0&2";
const std::string kDirectory = "C:\\Users\\u\\AppData\\Local\\Temp\\vek_tool_usbcap_1_2";

// The meta file's exact text is the helper test's.
TEST(UsbCaptureTest, MetaFileAndSummary) {
  const UsbCaptureMeta meta{-1, 2, "2026-01-02\r\n 03:04", 3, 4, {"A", "B"}, " bad\nthing"};
  // Line breaks go from the texts; everything else comes back.
  const UsbCaptureMeta back = ParseUsbCaptureMeta(FormatUsbCaptureMeta(meta));
  EXPECT_EQ(back.captured_at + "|" + back.error, "2026-01-02 03:04| badthing");
  EXPECT_EQ(FormatUsbCaptureMeta(back), FormatUsbCaptureMeta(meta));
  EXPECT_EQ(BuildUsbCaptureSummary({}, {"A", "B", "C"}, true),
            "抓取到 0 个事件（0 条含数据负载），来自 0 个提供程序；未能启用：A、B、C"
            "；事件数量超过上限 20000，已截断。");
}

TEST(UsbCaptureTest, Helper) {
  FakeCaptureSystem fake;
  fake.trace.xml = "<Events/>";
  fake.step_us = 1500;
  fake.trace.enable_results = {0, 5, 0, 5};
  EXPECT_EQ(RunUsbEnumerationCaptureHelper(fake.system, kUsbDev, 2000, true, 5000, kDirectory), 0);
  // The reset took 1.5 ms, rounded up; the capture 2000 ms and 3 ms of readings.
  EXPECT_EQ(fake.files.files[kDirectory + "\\meta.txt"],
            "captureStartUs=1700000000000000\ncaptureStartWallUs=1700003600000000\n"
            "capturedAt=2026-12-06 09:30:15.042\ndurationMs=2003\nresetMs=2\nskippedProviders=" +
                std::string(kCaptureProviderTable[1].name) + "," + kCaptureProviderTable[3].name +
                "\nerror=\n");
  EXPECT_EQ(fake.files.files[kDirectory + "\\events.xml"], "<Events/>");
  EXPECT_EQ(fake.files.files.size(), 2u);  // the trace file is gone
  EXPECT_EQ(fake.hub.calls,
            (std::vector<std::string>{"open " + std::string(kUsbDev), "cycle 4", "close"}));
  EXPECT_EQ(fake.trace.running_sessions, 0);
  // A failure leaves only the meta file, with its message.
  const std::tuple<std::deque<uint32_t>, uint32_t, std::string> failures[] = {
      {{}, 1, "所有 USB / HID 类 ETW 提供程序都无法启用，未执行 USB 抓包。"},
      {{}, 0, "端口复位失败"},
      {{5}, 0, "无法启动 ETW 跟踪会话（错误码 5）"}};
  for (const auto& [start_results, last_enable, message] : failures) {
    FakeCaptureSystem f;
    f.hub.cycle_ok = false;
    f.trace.start_results = start_results;
    f.trace.enable_results = {1, 1, 1, last_enable};
    EXPECT_EQ(RunUsbEnumerationCaptureHelper(f.system, kUsbDev, 0, true, 0, kDirectory), 1);
    EXPECT_EQ(MetaValue(f.files.files[kDirectory + "\\meta.txt"], "error"), message);
    EXPECT_EQ(f.files.files.size(), 1u);
    EXPECT_EQ(f.hub.open_hubs + f.trace.running_sessions, 0);
  }
  // Refusing a foreign directory and having no hub requests are checked under Wine.
}

// The caller's side, with a launcher whose "helper" fills the directory. The
// launch and its messages are the elevated helper test's.
TEST(UsbCaptureTest, Caller) {
  FakeProcessLauncher launcher;
  FakeFileSystem files;
  const CaptureSupportQueries support = SupportedCaptureQueries();
  CaptureSupportQueries windows8 = support;
  windows8.read_system_build = Answers(uint32_t{9200});
  std::string meta = "captureStartUs=1714557600000000\nskippedProviders=X\n",
              events =
                  "<Event x><System><Provider Name=\"P\" /><TimeCreated "
                  "SystemTime=\"2024-05-01T10:00:00.250Z\""
                  " /></System><Data Name=\"Payload\">0x0102</Data></Event>";
  launcher.on_start = [&](const std::string& parameters) {
    if (!meta.empty()) files.files[LastQuotedArgument(parameters) + "\\meta.txt"] = meta;
    if (!events.empty()) files.files[LastQuotedArgument(parameters) + "\\events.xml"] = events;
  };
  UsbCaptureResult result;
  bool cancelled = true;
  std::string error;
  const auto capture = [&](const std::string& id, const CaptureSupportQueries& queries) {
    const UsbCaptureCaller caller{&launcher, &files, &queries, nullptr};
    return CaptureUsbEnumeration(caller, id, 500, true, 1000, &result, &cancelled, &error);
  };
  ASSERT_TRUE(capture(kUsbDev, support)) << error;
  EXPECT_FALSE(cancelled);
  EXPECT_NE(launcher.started_parameters.find("\" 2000 1 5000 \""), std::string::npos);  // clamped
  EXPECT_EQ(result.events.at(0).offset_ms, 250);
  EXPECT_EQ(result.summary, "抓取到 1 个事件（1 条含数据负载），来自 1 个提供程序；未能启用：X。");
  EXPECT_EQ(files.files.count(result.trace_path), 1u);  // kept for the user
  const EncodableMap map = std::get<EncodableMap>(UsbCaptureResultToValue(result));
  EXPECT_EQ(map.size(), 9u);
  EXPECT_EQ(map.at(EncodableValue("vidPid")), EncodableValue("046d:c52b"));
  const auto& event =
      std::get<EncodableMap>(std::get<EncodableList>(map.at(EncodableValue("events"))).at(0));
  EXPECT_EQ(event.at(EncodableValue("offsetMs")),
            EncodableValue(int64_t{250}));  // 64-bit on the wire
  // Failures remove the directory.
  files.files.clear();
  files.directories.clear();
  const std::tuple<uint32_t, const char*, std::string> cases[] = {
      {1, "error=\n", "USB 抓包 helper 失败（退出码 1）。"},
      {1, "error= 端口复位失败\n", " 端口复位失败"},
      {0, "", "无法读取 USB 抓包结果：无法读取文件 "},
      {0, "error=\n", "USB 抓包未生成事件跟踪文件：无法读取文件 "}};
  events.clear();
  for (const auto& [exit_code, meta_text, message] : cases) {
    launcher.exit_code = exit_code;
    meta = meta_text;
    EXPECT_FALSE(capture(kUsbDev, support));
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    EXPECT_TRUE(files.files.empty() && files.directories.empty());
  }
  // Nothing is launched for a bad ID or an unsupported system.
  launcher.calls.clear();
  EXPECT_FALSE(capture("bogus", support));
  EXPECT_EQ(error, "usbInstanceId 不是有效的 USB 设备实例路径：bogus");
  EXPECT_FALSE(capture(kUsbDev, windows8));
  EXPECT_TRUE(launcher.calls.empty());
  launcher.start_error = 1223;  // the launch's own failure comes back as it is
  EXPECT_FALSE(capture(kUsbDev, support));
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(error, "用户取消了管理员授权（UAC），未执行 USB 抓包。");
}

}  // namespace
}  // namespace vek_native
