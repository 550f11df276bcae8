#include "capture/capture_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek_native {
namespace {

constexpr char kDevice[] = "USB\\VID_046D&PID_C52B&MI_01\\7&1A2B3C4D&0&0001";

// A system with everything in place; each test takes one piece away.
struct FakeSystem {
  bool has_variable = false;
  std::u16string variable;
  bool build_known = true;
  uint32_t build = 19045;
  bool list_ok = true;
  std::string list_error;
  std::vector<TraceGuid> guids;
  bool hid_provider = true;
  std::string hid_error;
  bool port_ok = true;
  uint32_t port = 3;
  bool tracerpt = true;
  int provider_queries = 0;

  FakeSystem() {
    for (const CaptureProvider& provider : kCaptureProviderTable) guids.push_back(provider.guid);
  }

  CaptureSupportQueries Queries() {
    CaptureSupportQueries q;
    q.read_fake_build_variable = [this](std::u16string* value, uint32_t* length) {
      if (!has_variable) return false;
      *value = variable;
      *length = static_cast<uint32_t>(variable.size());
      return true;
    };
    q.read_system_build = [this](uint32_t* b) {
      *b = build;
      return build_known;
    };
    q.list_provider_guids = [this](std::vector<TraceGuid>* g, std::string* error) {
      ++provider_queries;
      *g = guids;
      *error = list_error;
      return list_ok;
    };
    q.has_hid_class_provider = [this](std::string* error) {
      ++provider_queries;
      *error = hid_error;
      return hid_provider;
    };
    q.resolve_hub_port = [this](const std::string&, uint32_t* p) {
      *p = port;
      return port_ok;
    };
    q.is_tracerpt_available = [this] { return tracerpt; };
    return q;
  }
};

TEST(ParseFakeBuildValueTest, OnlyWholeNonZeroDecimals) {
  struct Case {
    std::u16string text;
    bool ok;
    uint32_t build;
  } cases[] = {
      {u"7601", true, 7601},     {u"22631", true, 22631}, {u"0", false, 0},
      {u"abc", false, 0},        {u"9600x", false, 0},    {u" 9600", false, 0},
      {u"-1", false, 0},         {u"+9600", false, 0},    {u"4294967295", true, 4294967295u},
      {u"4294967296", false, 0}, {u"", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t build = 0;
    EXPECT_EQ(ParseFakeBuildValue(c.text, static_cast<uint32_t>(c.text.size()), &build), c.ok)
        << std::string(c.text.begin(), c.text.end());
    if (c.ok) {
      EXPECT_EQ(build, c.build);
    }
  }
  uint32_t build = 0;
  // GetEnvironmentVariableW reports the needed size, 32 or more, when the
  // value does not fit the buffer.
  EXPECT_FALSE(ParseFakeBuildValue(u"", 40, &build));
}

TEST(CaptureSupportTest, FakeBuildOverridesOrIsIgnored) {
  for (const char16_t* text : {u"0", u"abc", u"12000z"}) {
    FakeSystem system;
    system.has_variable = true;
    system.variable = text;
    UsbCaptureCapabilities caps;
    EXPECT_TRUE(ProbeUsbCaptureSupport(system.Queries(), kDevice, &caps));
    EXPECT_EQ(caps.systemBuild, 19045u);
  }
  FakeSystem system;
  system.has_variable = true;
  system.variable = u"7601";
  UsbCaptureCapabilities caps;
  EXPECT_FALSE(ProbeUsbCaptureSupport(system.Queries(), kDevice, &caps));
  EXPECT_EQ(caps.systemBuild, 7601u);
  EXPECT_NE(caps.reason.find("Windows 7/8 缺少 USB 与 HID 类"), std::string::npos);
  std::string error;
  EXPECT_FALSE(CheckHidCaptureSupport(system.Queries(), kDevice, &error));
  EXPECT_NE(error.find("Windows 7/8 缺少 HID 类 ETW"), std::string::npos);
  // Neither check reaches the provider enumeration on an old build.
  EXPECT_EQ(system.provider_queries, 0);
}

// Each piece taken away, as the USB probe and the HID check see it.
TEST(CaptureSupportTest, ProbeDecisionsAndHidCheckMessages) {
  const std::string kNoHub = "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取）。";
  const std::string kNoHidHub =
      "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取原始描述符）。";
  const std::string kNoTracerpt =
      "系统未找到 tracerpt.exe（%SystemRoot%\\System32\\tracerpt.exe），无法解析 ETW 跟踪文件。";
  struct Case {
    const char* name;
    void (*change)(FakeSystem&);
    std::string probe_reason;  // empty: supported
    std::string hid_error;     // empty: passes
  } cases[] = {
      {"all in place", [](FakeSystem&) {}, "", ""},
      {"unknown version", [](FakeSystem& s) { s.build_known = false; },
       "无法确定 Windows 版本，无法确认 ETW 抓包支持。", ""},
      {"provider list fails", [](FakeSystem& s) { s.list_ok = false, s.list_error = "boom"; },
       "boom", ""},
      {"no provider", [](FakeSystem& s) { s.guids.clear(); },
       "系统未提供任何 USB / HID 类 ETW 提供程序，无法抓取 USB 枚举事件。", ""},
      {"HID provider missing, own message",
       [](FakeSystem& s) { s.hid_provider = false, s.hid_error = "enum failed"; }, "",
       "enum failed"},
      {"HID provider missing, no message", [](FakeSystem& s) { s.hid_provider = false; }, "",
       "系统未提供 HID 类 ETW 提供程序（Microsoft-Windows-Input-HIDCLASS），"
       "无法抓取原始报告描述符。"},
      {"no port", [](FakeSystem& s) { s.port_ok = false; }, kNoHub, kNoHidHub},
      {"port zero", [](FakeSystem& s) { s.port = 0; }, kNoHub, kNoHidHub},
      {"no tracerpt", [](FakeSystem& s) { s.tracerpt = false; }, kNoTracerpt, kNoTracerpt},
      {"only HIDCLASS",
       [](FakeSystem& s) { s.guids = {kCaptureProviderTable[kHidClassProviderIndex].guid}; }, "",
       ""},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    c.change(system);
    UsbCaptureCapabilities caps;
    const bool supported = c.probe_reason.empty();
    EXPECT_EQ(ProbeUsbCaptureSupport(system.Queries(), kDevice, &caps), supported) << c.name;
    EXPECT_EQ(caps.supported, supported) << c.name;
    EXPECT_EQ(caps.reason, c.probe_reason) << c.name;
    EXPECT_TRUE(caps.needsAdmin) << c.name;
    std::string error;
    EXPECT_EQ(CheckHidCaptureSupport(system.Queries(), kDevice, &error), c.hid_error.empty())
        << c.name;
    EXPECT_EQ(error, c.hid_error) << c.name;
  }

  FakeSystem system;
  system.guids = {kCaptureProviderTable[kHidClassProviderIndex].guid};
  UsbCaptureCapabilities caps;
  ASSERT_TRUE(ProbeUsbCaptureSupport(system.Queries(), kDevice, &caps));
  ASSERT_EQ(caps.missingProviders.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(caps.missingProviders[i], kCaptureProviderTable[i].name);
  EXPECT_TRUE(caps.hubPortFound);
  EXPECT_TRUE(caps.tracerptAvailable);
}

TEST(CaptureSupportTest, InvalidIdLeavesBuildZeroAndMapIsComplete) {
  FakeSystem system;
  UsbCaptureCapabilities caps;
  caps.systemBuild = 55;
  EXPECT_FALSE(ProbeUsbCaptureSupport(system.Queries(), "HID\\PID_0001", &caps));
  EXPECT_EQ(caps.systemBuild, 0u);
  EXPECT_EQ(caps.reason, "usbInstanceId 不是有效的 USB 设备实例路径：HID\\PID_0001");

  // Invalid UTF-8 in the argument must not make the reply undecodable.
  EXPECT_FALSE(ProbeUsbCaptureSupport(system.Queries(), "X\xff", &caps));
  EXPECT_EQ(caps.reason, "usbInstanceId 不是有效的 USB 设备实例路径：X\xEF\xBF\xBD");

  const EncodableValue value = UsbCaptureCapabilitiesToValue(caps);
  const auto& map = std::get<EncodableMap>(value);
  EXPECT_EQ(map.size(), 7u);
  for (const char* key : {"supported", "reason", "systemBuild", "missingProviders", "needsAdmin",
                          "hubPortFound", "tracerptAvailable"}) {
    EXPECT_EQ(map.count(EncodableValue(key)), 1u) << key;
  }
  EXPECT_EQ(std::get<bool>(map.at(EncodableValue("needsAdmin"))), true);
}

}  // namespace
}  // namespace vek_native
