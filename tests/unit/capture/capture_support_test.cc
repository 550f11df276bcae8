#include "capture/capture_support.h"

#include <gtest/gtest.h>

#include "support/fake_capture_system.h"

namespace vek_native {
namespace {

constexpr char kInterfaceId[] = "USB\\VID_046D&PID_C52B&MI_01\\7&1A2B3C4D&0&0001";

// Each piece taken away, as the USB probe and the HID check see it.
TEST(CaptureSupportTest, ProbeDecisionsAndHidCheckMessages) {
  const std::string kNoTracerpt =
      "系统未找到 tracerpt.exe（%SystemRoot%\\System32\\tracerpt.exe），无法解析 ETW 跟踪文件。";
  const std::string kOld = "当前系统不支持 ETW 抓包（需要 Windows 8.1 及以上；Windows 7/8 缺少 ";
  using Q = CaptureSupportQueries;
  const struct {
    void (*change)(Q&);
    std::string probe_reason;  // empty: supported
    std::string hid_error;     // empty: passes
  } cases[] = {
      {[](Q&) {}, "", ""},
      {[](Q& q) { q.read_system_build = nullptr; },
       "无法确定 Windows 版本，无法确认 ETW 抓包支持。", ""},
      {[](Q& q) { q.list_provider_guids = nullptr; }, "无法枚举系统 ETW 提供程序。", ""},
      {[](Q& q) { q.list_provider_guids = Answers(std::vector<TraceGuid>()); },
       "系统未提供任何 USB / HID 类 ETW 提供程序，无法抓取 USB 枚举事件。", ""},
      {[](Q& q) { q.has_hid_class_provider = [](std::string* e) { return (*e = "x").empty(); }; },
       "", "x"},
      {[](Q& q) { q.has_hid_class_provider = nullptr; }, "",
       "系统未提供 HID 类 ETW "
       "提供程序（Microsoft-Windows-Input-HIDCLASS），无法抓取原始报告描述符。"},
      {[](Q& q) {
         q.resolve_hub_port = [](const std::string&, uint32_t* p) { return Answers(0u)(p); };
       },
       "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取）。",
       "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取原始描述符）。"},
      {[](Q& q) { q.is_tracerpt_available = nullptr; }, kNoTracerpt, kNoTracerpt},
      {[](Q& q) { q.read_system_build = Answers(uint32_t{9599}); },
       kOld + "USB 与 HID 类 ETW 报告描述符事件，且端口复位 IOCTL 不支持）。",
       kOld + "HID 类 ETW 报告描述符事件，且端口复位 IOCTL 不支持）。"},
  };
  for (const auto& c : cases) {
    Q q = SupportedCaptureQueries();
    c.change(q);
    UsbCaptureCapabilities caps;
    EXPECT_EQ(ProbeUsbCaptureSupport(q, kInterfaceId, &caps), c.probe_reason.empty());
    EXPECT_EQ(caps.reason, c.probe_reason);
    std::string error;
    EXPECT_EQ(CheckHidCaptureSupport(q, kInterfaceId, &error), c.hid_error.empty());
    EXPECT_EQ(error, c.hid_error);
  }
}

TEST(CaptureSupportTest, TheReplyMap) {
  CaptureSupportQueries q = SupportedCaptureQueries();
  q.list_provider_guids = Answers(std::vector<TraceGuid>{kCaptureProviderTable[3].guid});
  UsbCaptureCapabilities caps;
  ASSERT_TRUE(ProbeUsbCaptureSupport(q, kInterfaceId, &caps));
  // The map's keys are checked end to end.
  const EncodableValue value = UsbCaptureCapabilitiesToValue(caps);
  EXPECT_EQ(std::get<EncodableMap>(value).at(EncodableValue("missingProviders")),
            EncodableValue(EncodableList{EncodableValue("Microsoft-Windows-USB-USBHUB3"),
                                         EncodableValue("Microsoft-Windows-USB-USBPORT"),
                                         EncodableValue("Microsoft-Windows-USB-USBXHCI")}));
  // An invalid ID stops first, and its bytes must not make the reply undecodable.
  EXPECT_FALSE(ProbeUsbCaptureSupport(q, "HID\\X\xff", &caps));
  EXPECT_EQ(caps.system_build, 0u);
  EXPECT_EQ(caps.reason, "usbInstanceId 不是有效的 USB 设备实例路径：HID\\X\xEF\xBF\xBD");
  std::string error;
  EXPECT_FALSE(CheckHidCaptureSupport(q, "HID\\X\xff", &error));
  EXPECT_EQ(error, caps.reason);
}

// The test variable that stands in for the build: its first `length` units, a
// decimal number of 1 to 32 bits other than 0 (0: refused).
TEST(CaptureSupportTest, FakeBuildValues) {
  const std::tuple<std::u16string, uint32_t, uint32_t> cases[] = {
      {u"7x", 1, 7},
      {u"4294967295", 10, 0xFFFFFFFF},
      {u"4294967296", 10, 0},
      {u"0000", 4, 0},
      {u"+920", 4, 0},
      {u"9/00", 4, 0},
      {u"9:00", 4, 0},
      {u"92", 3, 0},
      {u"", 0, 0},
      {std::u16string(27, u'0') + u"9200", 31, 9200},
      {std::u16string(28, u'0') + u"9200", 32, 0}};
  for (const auto& [value, length, expected] : cases) {
    uint32_t build = 0;
    EXPECT_EQ(ParseFakeBuildValue(value, length, &build), expected != 0) << length;
    EXPECT_EQ(build, expected) << length;
  }
}

}  // namespace
}  // namespace vek_native
