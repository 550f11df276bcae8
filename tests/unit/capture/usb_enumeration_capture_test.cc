#include "capture/usb_enumeration_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_capture_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

constexpr char kDevice[] = "USB\\VID_046D&PID_C52B\\5&1A2B3C4D&0&2";
constexpr char kTemp[] = "C:\\Users\\u\\AppData\\Local\\Temp\\";

std::string HubEventXml(const std::string& time, const std::string& data) {
  return "<Event xmlns=\"e\"><System><Provider Name=\"Microsoft-Windows-USB-USBHUB3\" />"
         "<EventID>60</EventID><Level>4</Level><TimeCreated SystemTime=\"" +
         time + "\" /></System><EventData><Data Name=\"Payload\">" + data +
         "</Data></EventData></Event>\r\n";
}

TEST(UsbCaptureValuesTest, ClampsAndLaunchValues) {
  EXPECT_EQ(ClampUsbCaptureDuration(500), 2000);
  EXPECT_EQ(ClampUsbCaptureDuration(40000), 30000);
  EXPECT_EQ(ClampUsbCaptureTimeout(1000), 5000);
  EXPECT_EQ(ClampUsbCaptureTimeout(200000), 120000);
  const HelperLaunchValues values = UsbCaptureLaunchValues(kDevice, 2000, true, 5000);
  EXPECT_EQ(values.wait_limit_ms, 37000u);
  EXPECT_EQ(values.timeout_message, "USB 抓包超时（等待 37000 毫秒）。");
  std::string text;
  ASSERT_TRUE(BuildHelperParameterText(values.helper_switch, values.parameters, &text));
  EXPECT_EQ(text, "--capture-usb-enumeration \"" + std::string(kDevice) + "\" 2000 1 5000");
  EXPECT_EQ(FormatCaptureLocalTime({2026, 1, 2, 3, 4, 5, 6}), "2026-01-02 03:04:05.006");
}

TEST(UsbCaptureMetaTest, FormatAndParse) {
  UsbCaptureMeta meta;
  meta.captureStartUs = 1700000000123456;
  meta.captureStartWallUs = -5;
  meta.capturedAt = "2026-01-02\r\n 03:04";
  meta.durationMs = 2001;
  meta.resetMs = 17;
  meta.skippedProviders = {"A", "B"};
  meta.error = "bad\nthing";
  const std::string text = FormatUsbCaptureMeta(meta);
  EXPECT_EQ(text,
            "captureStartUs=1700000000123456\ncaptureStartWallUs=-5\ncapturedAt=2026-01-02 "
            "03:04\ndurationMs=2001\nresetMs=17\nskippedProviders=A,B\nerror=badthing\n");
  const UsbCaptureMeta back = ParseUsbCaptureMeta(text);
  EXPECT_EQ(back.captureStartUs, meta.captureStartUs);
  EXPECT_EQ(back.captureStartWallUs, -5);
  EXPECT_EQ(back.durationMs, 2001u);
  EXPECT_EQ(back.skippedProviders, meta.skippedProviders);
  EXPECT_EQ(back.error, "badthing");

  const UsbCaptureMeta odd = ParseUsbCaptureMeta(
      "captureStartUs=12x\nskippedProviders= A , ,B,\nerror= starts with a blank\n");
  EXPECT_EQ(odd.captureStartUs, 0);
  EXPECT_EQ(odd.durationMs, 0u);
  EXPECT_EQ(odd.skippedProviders, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(odd.error, " starts with a blank");
}

TEST(UsbCaptureSummaryTest, Texts) {
  std::vector<TraceEventRecord> events(3);
  events[0].provider = "P1";
  events[0].dataHex = "01";
  events[1].provider = "P2";
  events[2].provider = "P1";
  EXPECT_EQ(BuildUsbCaptureSummary(events, {}, false),
            "抓取到 3 个事件（1 条含数据负载），来自 2 个提供程序。");
  EXPECT_EQ(BuildUsbCaptureSummary({}, {"A", "B", "C"}, true),
            "抓取到 0 个事件（0 条含数据负载），来自 0 个提供程序；未能启用：A、B、C"
            "；事件数量超过上限 20000，已截断。");
}

class UsbCaptureHelperTest : public ::testing::Test {
 protected:
  FakeCaptureSystem fake;
  const std::string directory = std::string(kTemp) + "vek_tool_usbcap_1_2";
  std::string Meta() { return fake.files.files[directory + "\\meta.txt"]; }
  int Run(FakeCaptureSystem& f, const std::string& dir) {
    CaptureHelperSystem s = f.System();
    return RunUsbEnumerationCaptureHelper(s, kDevice, 2000, true, 5000, dir);
  }
};

TEST_F(UsbCaptureHelperTest, SuccessWritesMetaAndEvents) {
  fake.trace.xml = "<Events/>";
  fake.step_us = 1500;
  fake.trace.enable_results = {0, 5, 0, 5};
  EXPECT_EQ(Run(fake, directory), 0);
  const UsbCaptureMeta meta = ParseUsbCaptureMeta(Meta());
  EXPECT_EQ(meta.error, "");
  EXPECT_EQ(meta.resetMs, 2u);        // 1.5 ms rounded up
  EXPECT_EQ(meta.durationMs, 2003u);  // 2000 ms sleep + 3 ms of readings
  EXPECT_EQ(meta.captureStartUs, 1700000000000000);
  EXPECT_EQ(meta.captureStartWallUs, 1700003600000000);
  EXPECT_EQ(meta.capturedAt, "2026-12-06 09:30:15.042");
  EXPECT_EQ(meta.skippedProviders, (std::vector<std::string>{kCaptureProviderTable[1].name,
                                                             kCaptureProviderTable[3].name}));
  EXPECT_EQ(fake.files.files[directory + "\\events.xml"], "<Events/>");
  EXPECT_EQ(fake.files.files.size(), 2u);  // the trace file is gone
  EXPECT_EQ(fake.hub.open_hubs, 0);
  EXPECT_EQ(fake.trace.running_sessions, 0);
}

TEST_F(UsbCaptureHelperTest, FailuresGoToTheMetaErrorLine) {
  struct Case {
    const char* name;
    void (*change)(FakeCaptureSystem&);
    std::string error;
  } cases[] = {
      {"hub", [](FakeCaptureSystem& f) { f.hub.open_ok = false; }, "找不到父集线器"},
      {"cycle", [](FakeCaptureSystem& f) { f.hub.cycle_ok = false; }, "端口复位失败"},
      {"no provider",
       [](FakeCaptureSystem& f) {
         f.trace.enable_results = {1, 1, 1, 1};
       },
       "所有 USB / HID 类 ETW 提供程序都无法启用，未执行 USB 抓包。"},
      {"converter", [](FakeCaptureSystem& f) { f.trace.converter_writes_xml = false; },
       "tracerpt.exe 未生成 XML（退出码 0）"},
  };
  for (const Case& c : cases) {
    FakeCaptureSystem f;
    c.change(f);
    EXPECT_EQ(Run(f, directory), 1) << c.name;
    EXPECT_EQ(MetaValue(f.files.files[directory + "\\meta.txt"], "error"), c.error) << c.name;
    EXPECT_EQ(f.hub.open_hubs, 0) << c.name;
    EXPECT_EQ(f.trace.running_sessions, 0) << c.name;
    EXPECT_EQ(f.files.files.size(), 1u) << c.name;
  }
}

TEST_F(UsbCaptureHelperTest, RefusesForeignDirectories) {
  for (const std::string& dir :
       {std::string("C:\\Windows\\System32"), std::string(kTemp) + "vek_tool_capture_1",
        std::string(kTemp) + "vek_tool_usbcap_1\\..\\..\\x"}) {
    FakeCaptureSystem f;
    EXPECT_EQ(Run(f, dir), 1) << dir;
    EXPECT_TRUE(f.files.files.empty()) << dir;
    EXPECT_TRUE(f.files.directories.empty()) << dir;
    EXPECT_TRUE(f.hub.calls.empty()) << dir;
  }
}

class UsbCaptureCallerTest : public ::testing::Test {
 protected:
  UsbCaptureCallerTest() {
    caller.launcher = &launcher;
    caller.files = &files;
    caller.support = &support;
    launcher.on_start = [this](const std::string& parameters) {
      started_with = parameters;
      const std::string dir = LastQuotedArgument(parameters);
      if (meta) files.files[dir + "\\meta.txt"] = *meta;
      if (events) files.files[dir + "\\events.xml"] = *events;
    };
  }
  bool Run() {
    return CaptureUsbEnumeration(caller, kDevice, 500, true, 1000, &result, &cancelled, &error);
  }

  FakeProcessLauncher launcher;
  FakeFileSystem files;
  CaptureSupportQueries support = SupportedCaptureQueries();
  UsbCaptureCaller caller;
  const std::string* meta = nullptr;
  const std::string* events = nullptr;
  std::string started_with;
  UsbCaptureResult result;
  bool cancelled = true;
  std::string error;
};

TEST_F(UsbCaptureCallerTest, SuccessKeepsTheDirectory) {
  const std::string m =
      "captureStartUs=1714557600000000\ncaptureStartWallUs=0\ncapturedAt=2024-05-01 "
      "10:00:00.000\ndurationMs=2004\nresetMs=12\nskippedProviders=X\nerror=\n";
  const std::string x = "<Events>" + HubEventXml("2024-05-01T10:00:00.250Z", "0x0102") +
                        HubEventXml("2024-05-01T10:00:00.500Z", "") + "</Events>";
  meta = &m;
  events = &x;
  ASSERT_TRUE(Run()) << error;
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(started_with.find("\" 2000 1 5000 \""), started_with.find('"', 27)) << started_with;
  EXPECT_EQ(launcher.wait_limits, std::vector<uint32_t>{37000});
  EXPECT_EQ(result.vidPid, "046d:c52b");
  EXPECT_EQ(result.durationMs, 2004u);
  EXPECT_EQ(result.resetMs, 12u);
  ASSERT_EQ(result.events.size(), 2u);
  EXPECT_EQ(result.events[0].offsetMs, 250);
  EXPECT_EQ(result.summary, "抓取到 2 个事件（1 条含数据负载），来自 1 个提供程序；未能启用：X。");
  EXPECT_EQ(files.files.count(result.tracePath), 1u);
  EXPECT_EQ(files.directories.size(), 1u);
  const EncodableValue value = UsbCaptureResultToValue(result);
  EXPECT_EQ(std::get<EncodableMap>(value).size(), 9u);
}

TEST_F(UsbCaptureCallerTest, FailuresRemoveTheDirectory) {
  const std::string blank_error = "error=\n", with_error = "error= 端口复位失败\n",
                    ok_meta = "error=\n";
  struct Case {
    const char* name;
    uint32_t exit_code;
    const std::string* meta;
    const std::string* events;
    std::string message;
  } cases[] = {
      {"exit 1, empty error", 1, &blank_error, nullptr, "USB 抓包 helper 失败（退出码 1）。"},
      {"exit 1, no meta", 1, nullptr, nullptr, "USB 抓包 helper 失败（退出码 1）。"},
      {"exit 1, error kept with its blank", 1, &with_error, nullptr, " 端口复位失败"},
      {"exit 0, no meta", 0, nullptr, nullptr, "无法读取 USB 抓包结果："},
      {"exit 0, no events", 0, &ok_meta, nullptr, "USB 抓包未生成事件跟踪文件："},
  };
  for (const Case& c : cases) {
    files.files.clear();
    files.directories.clear();
    launcher.exit_code = c.exit_code;
    meta = c.meta;
    events = c.events;
    EXPECT_FALSE(Run()) << c.name;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.name << ": " << error;
    EXPECT_TRUE(files.files.empty()) << c.name;
    EXPECT_TRUE(files.directories.empty()) << c.name;
  }
}

TEST_F(UsbCaptureCallerTest, DeclinedUnsupportedAndTimedOut) {
  launcher.start_error = 1223;
  EXPECT_FALSE(Run());
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(error, "用户取消了管理员授权（UAC），未执行 USB 抓包。");
  EXPECT_TRUE(files.directories.empty());

  launcher.start_error = 0;
  launcher.wait_results = {ProcessLauncher::WaitResult::kFailed};
  EXPECT_FALSE(Run());
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(error, "USB 抓包超时（等待 37000 毫秒）。");
  EXPECT_TRUE(files.directories.empty());

  support.is_tracerpt_available = [] { return false; };
  EXPECT_FALSE(Run());
  EXPECT_NE(error.find("tracerpt.exe"), std::string::npos);

  EXPECT_FALSE(CaptureUsbEnumeration(caller, "bogus", 0, false, 0, &result, &cancelled, &error));
  EXPECT_EQ(error, "usbInstanceId 不是有效的 USB 设备实例路径：bogus");
}

}  // namespace
}  // namespace vek_native
