#include "usb/usb_reset.h"

#include <gtest/gtest.h>

#include "support/fake_file_system.h"
#include "support/fake_process_launcher.h"
#include "support/usb/fake_node_tree.h"
#include "unit/hid/hub_fake.h"
#include "usb/usb_operations.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

using vek_test::FakeNodeTree;
using vek_test::FakeUsbHubApi;

constexpr char kDeviceId[] = "usb\\vid_1a2b&pid_3c4d\\5&2&0&1";

class UsbResetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const uint32_t root = tree_.Add({"USB\\ROOT_HUB30\\4&1", 0, true, std::nullopt});
    tree_.Add({kDeviceId, root, true, u"Port_#0002.Hub_#0001"});
    hub_ = &hubs_.AddHub(Utf8ToUtf16(HubInterfacePath("USB\\ROOT_HUB30\\4&1")));
    context_.tree = &tree_;
    context_.hubs = &hubs_;
    context_.fs = &fs_;
    context_.launcher = &launcher_;
    context_.now_micros = [this] {
      const uint64_t now = clock_;
      clock_ += step_;
      return now;
    };
  }
  std::string TempPath(const std::string& name) { return fs_.temp_directory + name; }

  FakeNodeTree tree_;
  FakeUsbHubApi hubs_;
  vek_test::FakeHubState* hub_ = nullptr;
  FakeFileSystem fs_;
  FakeProcessLauncher launcher_;
  UsbResetContext context_;
  uint64_t clock_ = 5000000;
  uint64_t step_ = 1;
};

TEST_F(UsbResetTest, CyclesThePortAndRoundsTheElapsedTimeUp) {
  struct Case {
    uint64_t step_us;
    const char* elapsed;
  } cases[] = {{1, "1"}, {2000, "2"}, {2001, "3"}, {0, "0"}};
  for (const Case& c : cases) {
    step_ = c.step_us;
    const std::string path = TempPath("vek_tool_reset_1_2.txt");
    EXPECT_EQ(RunUsbPortReset(context_, kDeviceId, path), 0u);
    EXPECT_EQ(fs_.files[path], std::string("success=1\nelapsedMs=") + c.elapsed +
                                   "\nmessage=USB 端口复位成功，设备将重新枚举（约 3-5 秒）。"
                                   "\nvidPid=1a2b:3c4d\n");
  }
  EXPECT_EQ(hub_->cycled_ports, (std::vector<uint32_t>(4, 2)));
  EXPECT_EQ(hubs_.OpenHandles(), 0);
}

TEST_F(UsbResetTest, FailuresAreWrittenToTheResultFile) {
  const std::string path = TempPath("vek_tool_reset_1_2.txt");
  hub_->cycle_error = 31;
  EXPECT_EQ(RunUsbPortReset(context_, kDeviceId, path), 1u);
  EXPECT_EQ(fs_.files[path],
            "success=0\nelapsedMs=1\nmessage=USB 端口复位失败（错误码 31）\nvidPid=1a2b:3c4d\n");
  EXPECT_EQ(hubs_.OpenHandles(), 0);

  EXPECT_EQ(RunUsbPortReset(context_, "HID\\VID_1A2B&PID_3C4D\\1", path), 1u);
  EXPECT_EQ(
      fs_.files[path],
      "success=0\nelapsedMs=0\nmessage=usbInstanceId 不是有效的 USB 设备实例路径。\nvidPid=\n");

  EXPECT_EQ(RunUsbPortReset(context_, "USB\\VID_0001&PID_0002\\9", path), 1u);
  EXPECT_EQ(
      fs_.files[path],
      "success=0\nelapsedMs=0\nmessage=无法定位 USB 设备节点（CM 错误 13）\nvidPid=0001:0002\n");
}

TEST(UsbResetFileTest, LineBreaksInTheMessageBecomeBlanks) {
  UsbResetResult result;
  result.message = "a\r\nb\nc";
  result.vidPid = "0001:0002";
  EXPECT_EQ(FormatUsbResetResultFile(result),
            "success=0\nelapsedMs=0\nmessage=a  b c\nvidPid=0001:0002\n");
}

TEST_F(UsbResetTest, HelperModeWritesOnlyItsOwnResultFiles) {
  const std::string own = TempPath("vek_tool_reset_7_8.txt");
  EXPECT_EQ(RunResetUsbDeviceHelperMode(context_, kDeviceId, own), 0);
  EXPECT_EQ(fs_.files.count(own), 1u);
  for (const std::string& other :
       {std::string("C:\\Windows\\System32\\drivers\\etc\\hosts"), TempPath("other.txt"),
        TempPath("sub\\vek_tool_reset_1.txt"), TempPath("vek_tool_reset_")}) {
    EXPECT_EQ(RunResetUsbDeviceHelperMode(context_, kDeviceId, other), 1) << other;
    EXPECT_EQ(fs_.files.count(other), 0u) << other;
  }
  EXPECT_EQ(hub_->cycled_ports.size(), 1u);
}

TEST_F(UsbResetTest, ElevatedProcessResetsInProcessAndRemovesTheFile) {
  launcher_.elevated = true;
  UsbResetResult result;
  bool cancelled = true;
  std::string message;
  ASSERT_TRUE(ResetUsbDevice(context_, kDeviceId, &result, &cancelled, &message)) << message;
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.elapsedMs, 1u);
  EXPECT_EQ(result.vidPid, "1a2b:3c4d");
  EXPECT_EQ(result.message, "USB 端口复位成功，设备将重新枚举（约 3-5 秒）。");
  EXPECT_FALSE(cancelled);
  EXPECT_TRUE(fs_.files.empty());
  EXPECT_TRUE(launcher_.started_parameters.empty());
}

TEST_F(UsbResetTest, HelperOutcomesThroughTheResultFile) {
  struct Case {
    const char* name;
    std::string file;  // what the helper writes; empty: nothing
    uint32_t exit_code;
    bool ok;
    std::string message;
    std::string vid_pid;
  } cases[] = {
      {"success", "success=1\nelapsedMs=12\nmessage=ok\nvidPid=aaaa:bbbb\n", 0, true, "ok",
       "aaaa:bbbb"},
      {"no vidPid line", "success=1\nelapsedMs=x\nmessage=ok\n", 0, true, "ok", "1a2b:3c4d"},
      {"exit 0 but success=0", "success=0\nelapsedMs=3\nmessage=hub gone\nvidPid=\n", 0, false,
       "hub gone", "1a2b:3c4d"},
      {"exit 1, no message", "success=1\n", 1, false, "USB 端口复位失败。", "1a2b:3c4d"},
      {"no file", "", 1, false, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs_.files.clear();
    launcher_.exit_code = c.exit_code;
    launcher_.on_start = [this, &c](const std::string& parameters) {
      const size_t quote = parameters.rfind("\" \"");
      ASSERT_NE(quote, std::string::npos);
      const std::string path = parameters.substr(quote + 3, parameters.size() - quote - 4);
      if (!c.file.empty()) fs_.files[path] = c.file;
    };
    UsbResetResult result;
    bool cancelled = true;
    std::string message;
    EXPECT_EQ(ResetUsbDevice(context_, kDeviceId, &result, &cancelled, &message), c.ok);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(
        launcher_.started_parameters.rfind("--reset-usb-device \"" + std::string(kDeviceId) +
                                               "\" \"" + fs_.temp_directory + "vek_tool_reset_",
                                           0),
        0u)
        << launcher_.started_parameters;
    if (c.file.empty()) {
      EXPECT_EQ(message.rfind("无法读取 USB 复位结果：", 0), 0u) << message;
    } else {
      EXPECT_EQ(message, c.message);
      EXPECT_EQ(result.vidPid, c.vid_pid);
    }
    EXPECT_TRUE(fs_.files.empty());  // read, then deleted
  }
  EXPECT_EQ(launcher_.wait_limits.back(), 30000u);
}

TEST_F(UsbResetTest, RefusalsBeforeAndDuringTheLaunch) {
  UsbResetResult result;
  bool cancelled = false;
  std::string message;
  EXPECT_FALSE(ResetUsbDevice(context_, kDeviceId, nullptr, &cancelled, &message));
  EXPECT_EQ(message, "输出参数为空");

  EXPECT_FALSE(
      ResetUsbDevice(context_, "HID\\VID_1A2B&PID_3C4D\\1", &result, &cancelled, &message));
  EXPECT_EQ(message, "usbInstanceId 不是有效的 USB 设备实例路径：HID\\VID_1A2B&PID_3C4D\\1");
  EXPECT_TRUE(launcher_.calls.empty());

  launcher_.start_error = 1223;
  EXPECT_FALSE(ResetUsbDevice(context_, kDeviceId, &result, &cancelled, &message));
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(message, "用户取消了管理员授权（UAC），未复位设备。");

  launcher_.start_error = 5;
  EXPECT_FALSE(ResetUsbDevice(context_, kDeviceId, &result, &cancelled, &message));
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(message, "无法以管理员身份复位设备（错误码 5）。");

  launcher_.start_error = 0;
  launcher_.wait_results = {FakeProcessLauncher::WaitResult::kTimedOut};
  EXPECT_FALSE(ResetUsbDevice(context_, kDeviceId, &result, &cancelled, &message));
  EXPECT_EQ(message, "USB 端口复位超时。");
  EXPECT_EQ(launcher_.open_handles, 0);
}

TEST(UsbResetResultMapTest, CarriesEveryKey) {
  UsbResetResult result{true, 7, "ok", "1a2b:3c4d"};
  const EncodableValue value = UsbResetResultMap(result);
  const EncodableMap& map = std::get<EncodableMap>(value);
  EXPECT_EQ(map.size(), 4u);
  EXPECT_EQ(map.at(EncodableValue("success")), EncodableValue(true));
  EXPECT_EQ(map.at(EncodableValue("elapsedMs")), EncodableValue(int64_t{7}));
  EXPECT_EQ(map.at(EncodableValue("message")), EncodableValue("ok"));
  EXPECT_EQ(map.at(EncodableValue("vidPid")), EncodableValue("1a2b:3c4d"));
}

}  // namespace
}  // namespace vek_native
