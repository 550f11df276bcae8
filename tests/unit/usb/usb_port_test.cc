// The hub port of a device, its hub, and the port reset built on them.
#include <gtest/gtest.h>

#include "support/fake_file_system.h"
#include "support/fake_process_launcher.h"
#include "unit/hid/hub_fake.h"
#include "unit/usb/usb_fakes.h"
#include "usb/usb_operations.h"
#include "usb/usb_port.h"
#include "usb/usb_reset.h"

namespace vek_native {
namespace {

// The number after the first "Port_#" (case-sensitive), read as wcstol reads
// it (blanks and a sign first; clamped when too long), and only 1..127.
TEST(UsbLocationTest, PortNumberFromLocationReadsLikeWcstol) {
  const std::pair<std::u16string, uint32_t> cases[] = {{u"Port_#0003.Hub_#0002", 3},
                                                       {u"Port_#0127", 127},
                                                       {u"Port_#1270", 0},
                                                       {u"Port_# \t\r+5", 5},
                                                       {u"Port_#-3", 0},
                                                       {u"port_#0003", 0},
                                                       {u"PCI bus 0, Port_#0012", 12},
                                                       {u"Port_#0001.Port_#0009", 1},
                                                       {u"Port_#99999999999999999999", 0}};
  for (const auto& [location, port] : cases) {
    EXPECT_EQ(ParsePortFromLocation(location), port) << Utf16ToUtf8(location);
  }
  // Only A-Z are lowered; other bytes pass untouched.
  EXPECT_EQ(HubInterfacePath("USB\\VID_AZ&PID_0610\\ÄB"),
            "\\\\?\\usb#vid_az&pid_0610#Äb#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
}

constexpr char kHubId[] = "USB\\VID_05E3&PID_0610\\5&1";
constexpr char kPortDeviceId[] = "USB\\VID_1A2B&PID_3C4D\\6&2";

// Root hub <- hub (port 4) <- device (port 3) <- interface <- HID collection
// <- child <- grandchild.
class UsbPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = machine_.Add(kHubId, machine_.Add("USB\\ROOT_HUB30\\4&1", 0), u"Port_#0004.Hub_#0001");
    device_ = machine_.Add(kPortDeviceId, hub_, u"Port_#0003.Hub_#0002");
    uint32_t node = machine_.Add("USB\\VID_1A2B&PID_3C4D&MI_00\\7&3", device_, u"0.14.0");
    node = machine_.Add("HID\\VID_1A2B&PID_3C4D&MI_00\\8&4", node);
    machine_.Add("HID\\GRANDCHILD\\A&6", machine_.Add("HID\\CHILD\\9&5", node, u"no port"));
    hub_state_ = &hubs_.AddHub(Utf8ToUtf16(HubInterfacePath(kHubId)));
  }
  // "node:port", or the message.
  std::string Resolve(const std::string& id) {
    uint32_t node = 9, port = 9;
    std::string message;
    if (ResolveUsbDevicePort(machine_, id, &node, &port, &message)) {
      return std::to_string(node) + ":" + std::to_string(port);
    }
    EXPECT_EQ(node + port, 0u);
    return message;
  }
  // "port N", or the message.
  std::string Open(const std::string& id) {
    std::unique_ptr<UsbHub> hub;
    uint32_t port = 9;
    std::string message;
    const bool ok = OpenParentUsbHub(machine_, hubs_, id, &hub, &port, &message);
    EXPECT_EQ(ok, hub != nullptr && port != 0);
    return ok ? "port " + std::to_string(port) : message;
  }

  vek_test::FakeMachine machine_;
  vek_test::FakeUsbHubApi hubs_;
  vek_test::FakeHubState* hub_state_ = nullptr;
  uint32_t hub_ = 0, device_ = 0;
};

TEST_F(UsbPortTest, WalksUpAtMostFourNodesToAValidPort) {
  EXPECT_EQ(Resolve(kPortDeviceId), std::to_string(device_) + ":3");
  EXPECT_EQ(Resolve("HID\\CHILD\\9&5"), std::to_string(device_) + ":3");  // the fourth node
  EXPECT_EQ(Resolve("HID\\GRANDCHILD\\A&6"), kNoPortInLocationMessage);
  machine_.Node(device_).location = u"Port_#0000.Hub_#0001";  // out of range: the parent's
  EXPECT_EQ(Resolve(kPortDeviceId), std::to_string(hub_) + ":4");
  machine_.Node(hub_).location = u"Port_#128";  // the root has none, and no parent
  EXPECT_EQ(Resolve(kPortDeviceId), kNoPortInLocationMessage);
  EXPECT_EQ(Resolve(""), "usbInstanceId 为空");
  machine_.Node(device_).present = false;  // only present nodes are located
  EXPECT_EQ(Resolve(kPortDeviceId), "无法定位 USB 设备节点（CM 错误 13）");
}

TEST_F(UsbPortTest, OpensTheParentHubReadWriteElseReadOnly) {
  EXPECT_EQ(Open("HID\\VID_1A2B&PID_3C4D&MI_00\\8&4"), "port 3");
  hub_state_->refused_access = {HubAccess::kReadWrite};
  EXPECT_EQ(Open(kPortDeviceId), "port 3");
  EXPECT_EQ(hubs_.opens, (std::vector<HubAccess>{HubAccess::kReadWrite, HubAccess::kReadWrite,
                                                 HubAccess::kRead}));
  hub_state_->refused_access.insert(HubAccess::kRead);
  EXPECT_EQ(Open(kPortDeviceId),
            "无法打开 USB 集线器 " + HubInterfacePath(kHubId) + "（错误码 5）");
  machine_.Node(hub_).id_error = 0x13;
  EXPECT_EQ(Open(kPortDeviceId), "无法获取父 USB 集线器的设备实例 ID（CM 错误 19）");
}

class UsbResetTest : public UsbPortTest {
 protected:
  void SetUp() override {
    UsbPortTest::SetUp();
    context_ = {&machine_, &hubs_, &fs_, &launcher_, [this] { return clock_ += step_; }};
  }
  // The message; `cancelled` must tell a declined elevation.
  std::string Reset(const std::string& id) {
    bool cancelled = true;
    std::string message;
    ok_ = ResetUsbDevice(context_, id, &result_, &cancelled, &message);
    EXPECT_EQ(cancelled, launcher_.start_error == 1223);
    return message;
  }

  FakeFileSystem fs_;
  FakeProcessLauncher launcher_;
  UsbResetContext context_;
  uint64_t clock_ = 5000000, step_ = 1;
  UsbResetResult result_;
  bool ok_ = false;
  const std::string path_ = fs_.temp_directory + "vek_tool_reset_1_2.txt";
};

TEST_F(UsbResetTest, CyclesThePortAndWritesTheResultFile) {
  // Elapsed milliseconds round up; a clock that stepped back counts as none.
  const std::pair<uint64_t, const char*> steps[] = {
      {1, "1"}, {2000, "2"}, {2001, "3"}, {0, "0"}, {~uint64_t{999}, "0"}};
  for (const auto& [step, elapsed] : steps) {
    step_ = step;
    EXPECT_EQ(RunResetUsbDeviceHelperMode(context_, kPortDeviceId, path_), 0);
    EXPECT_EQ(fs_.files[path_], std::string("success=1\nelapsedMs=") + elapsed +
                                    "\nmessage=USB 端口复位成功，设备将重新枚举（约 3-5 秒）。"
                                    "\nvidPid=1a2b:3c4d\n");
  }
  EXPECT_EQ(hub_state_->cycled_ports, (std::vector<uint32_t>(5, 3)));
  EXPECT_EQ(hubs_.OpenHandles(), 0);
  const std::pair<std::string, std::string> failures[] = {
      {kPortDeviceId, "elapsedMs=1\nmessage=USB 端口复位失败（错误码 31）\nvidPid=1a2b:3c4d\n"},
      {"HID\\VID_1A2B&PID_3C4D\\1",
       "elapsedMs=0\nmessage=usbInstanceId 不是有效的 USB 设备实例路径。\nvidPid=\n"}};
  step_ = 1;
  hub_state_->cycle_error = 31;
  for (const auto& [id, text] : failures) {
    EXPECT_EQ(RunUsbPortReset(context_, id, path_), 1u);
    EXPECT_EQ(fs_.files[path_], "success=0\n" + text);
  }
  // The helper writes only to a result file of its own in the temporary folder.
  const std::string other = fs_.temp_directory + "other.txt";
  EXPECT_EQ(RunResetUsbDeviceHelperMode(context_, kPortDeviceId, other), 1);
  EXPECT_EQ(fs_.files.count(other), 0u);
  UsbResetResult result{false, 0, "a\r\nb\nc", ""};
  EXPECT_EQ(FormatUsbResetResultFile(result), "success=0\nelapsedMs=0\nmessage=a  b c\nvidPid=\n");
}

// Not elevated, the helper resets and answers through the result file, which
// is read, then deleted. (An elevated process resets in process: end to end.)
TEST_F(UsbResetTest, OtherwiseTheHelperAnswersThroughTheResultFile) {
  EXPECT_EQ(Reset("HID\\VID_1A2B&PID_3C4D\\1"),
            "usbInstanceId 不是有效的 USB 设备实例路径：HID\\VID_1A2B&PID_3C4D\\1");
  EXPECT_EQ(std::make_pair(ok_, launcher_.calls.size()), std::make_pair(false, size_t{0}));
  const struct {
    uint32_t start_error;  // 1223: the user declined
    std::string file;      // what the helper writes; "-": it does not end in time
    uint32_t exit_code;
    std::string message, vid_pid;                                     // the start of the message
  } cases[] = {{0, "success=1\nmessage=ok\n", 0, "ok", "1a2b:3c4d"},  // vidPid from the ID
               {0, "success=1\n", 1, "USB 端口复位失败。", "1a2b:3c4d"},
               {0, "", 1, "无法读取 USB 复位结果：", ""},
               {0, "-", 0, "USB 端口复位超时。", ""},
               {1223, "", 0, "用户取消了管理员授权（UAC），未复位设备。", ""},
               {5, "", 0, "无法以管理员身份复位设备（错误码 5）。", ""}};
  for (const auto& c : cases) {
    launcher_.start_error = c.start_error;
    launcher_.exit_code = c.exit_code;
    launcher_.wait_results = {c.file == "-" ? FakeProcessLauncher::WaitResult::kTimedOut
                                            : FakeProcessLauncher::WaitResult::kSignalled};
    launcher_.on_start = [this, &c](const std::string& parameters) {
      const size_t quote = parameters.rfind("\" \"") + 3;
      if (c.file.size() > 1)
        fs_.files[parameters.substr(quote, parameters.size() - quote - 1)] = c.file;
    };
    EXPECT_EQ(Reset(kPortDeviceId).substr(0, c.message.size()), c.message);
    EXPECT_EQ(std::make_pair(ok_, result_.vid_pid), std::make_pair(c.message == "ok", c.vid_pid));
    EXPECT_TRUE(fs_.files.empty());
  }
}

}  // namespace
}  // namespace vek_native
