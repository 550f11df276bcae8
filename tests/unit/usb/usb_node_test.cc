#include "usb/usb_node.h"

#include <gtest/gtest.h>

#include "support/usb/fake_node_tree.h"
#include "unit/usb/usb_fakes.h"

namespace vek_native {
namespace {

using vek_test::FakeNodeTree;
using vek_test::FakeProperties;

TEST(UsbNodeTextsTest, ProblemTextsAndSpeedLabels) {
  EXPECT_EQ(ProblemText(0), "");
  EXPECT_EQ(ProblemText(43), "驱动程序报告设备失败");
  EXPECT_EQ(ProblemText(22), "错误代码 22");
  EXPECT_EQ(ProblemText(4294967295u), "错误代码 4294967295");
  EXPECT_EQ(ProblemAdvice(22), "设备被禁用，请在设备管理器中重新启用。");
  EXPECT_EQ(ProblemAdvice(1), "");
  EXPECT_EQ(SpeedLabel(2), "高速（480 Mbps）");
  EXPECT_EQ(SpeedLabel(4), "未知");
}

TEST(UsbNodeTextsTest, ParseVidPidReadsFourHexDigitsEach) {
  struct Case {
    const char* id;
    uint32_t vid, pid;
  } cases[] = {
      {"USB\\VID_046D&PID_C52B\\6&2", 0x046d, 0xc52b},
      {"hid\\vid_1a2b&pid_3c4d&col01\\1", 0x1a2b, 0x3c4d},
      {"USB\\VID_04XD&PID_C52B", 0, 0xc52b},  // a non-hex digit leaves the value 0
      {"USB\\VID_04", 0, 0},                  // fewer than four characters
      {"ACPI\\PNP0303\\4&1", 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t vid = 9, pid = 9;
    ParseVidPid(c.id, &vid, &pid);
    EXPECT_EQ(vid, c.vid) << c.id;
    EXPECT_EQ(pid, c.pid) << c.id;
  }
}

class BuildUsbNodeRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tree_.Add({"USB\\ROOT_HUB30\\4&1", 0, true, std::nullopt});
    device_ = tree_.Add({"USB\\VID_046D&PID_C52B\\6&2", root_, true, std::nullopt});
    interface_ = tree_.Add({"USB\\VID_046D&PID_C52B&MI_00\\7&3", device_, true, std::nullopt});
    collection_ =
        tree_.Add({"HID\\VID_046D&PID_C52B&MI_00&COL01\\8&4", interface_, true, std::nullopt});
    props_.states[device_] = {0, kDnStarted, 0};
  }
  FakeNodeTree tree_;
  FakeProperties props_;
  uint32_t root_ = 0, device_ = 0, interface_ = 0, collection_ = 0;
};

TEST_F(BuildUsbNodeRecordTest, StartedUsbDevice) {
  props_.strings[{device_, DevNodeProperty::kDeviceDescription}] = "USB Receiver";
  props_.strings[{device_, DevNodeProperty::kDriver}] = "{36fc9e60}\\0007";
  const UsbNodeRecord r = BuildUsbNodeRecord(tree_, props_, device_, "");
  EXPECT_EQ(r.instanceId, "USB\\VID_046D&PID_C52B\\6&2");
  EXPECT_EQ(r.description, "USB Receiver");
  EXPECT_EQ(r.driverKey, "{36fc9e60}\\0007");
  EXPECT_EQ(r.parentInstanceId, "USB\\ROOT_HUB30\\4&1");
  EXPECT_EQ(r.busType, "USB");
  EXPECT_EQ(r.deviceStatus, "已启动");
  EXPECT_EQ(r.problemCode, 0u);
  EXPECT_EQ(r.vendorId, 0x046du);
  EXPECT_EQ(r.usbInstanceId, r.instanceId);
  EXPECT_FALSE(r.isHidCollection);
}

TEST_F(BuildUsbNodeRecordTest, StatusRules) {
  struct Case {
    const char* name;
    bool has_state;
    FakeProperties::State state;
    uint32_t problem;
    const char* status;
    const char* text;
  } cases[] = {
      {"phantom", false, {}, 45, "有问题", "设备未连接"},
      {"disabled", true, {0, 0, 22}, 22, "已禁用", "错误代码 22"},
      {"failed", true, {0, kDnStarted, 43}, 43, "有问题", "驱动程序报告设备失败"},
      {"not started", true, {0, 0, 0}, 0, "未知", ""},
      {"status unreadable", true, {0x13, kDnStarted, 10}, 0, "未知", ""},
  };
  for (const Case& c : cases) {
    props_.states.erase(collection_);
    if (c.has_state) props_.states[collection_] = c.state;
    const UsbNodeRecord r = BuildUsbNodeRecord(tree_, props_, collection_, "");
    EXPECT_EQ(r.problemCode, c.problem) << c.name;
    EXPECT_EQ(r.deviceStatus, c.status) << c.name;
    EXPECT_EQ(r.problemText, c.text) << c.name;
  }
}

TEST_F(BuildUsbNodeRecordTest, HidCollectionFindsItsUsbDevice) {
  const UsbNodeRecord r = BuildUsbNodeRecord(tree_, props_, collection_, "");
  EXPECT_EQ(r.busType, "HID");
  EXPECT_TRUE(r.isHidCollection);
  EXPECT_EQ(r.usbInstanceId, "USB\\VID_046D&PID_C52B\\6&2");
  EXPECT_EQ(r.parentInstanceId, "USB\\VID_046D&PID_C52B&MI_00\\7&3");
  // A class of HIDClass marks a node of another bus as HID too.
  const uint32_t other = tree_.Add({"ACPI\\PNP0303\\1", 0, true, std::nullopt});
  props_.strings[{other, DevNodeProperty::kClass}] = "hidclass";
  const UsbNodeRecord acpi = BuildUsbNodeRecord(tree_, props_, other, "");
  EXPECT_EQ(acpi.busType, "HID");
  EXPECT_EQ(acpi.usbInstanceId, "");
  EXPECT_EQ(acpi.parentInstanceId, "");
}

TEST_F(BuildUsbNodeRecordTest, TheHintWinsAndTheMapCarriesEveryKey) {
  const UsbNodeRecord r =
      BuildUsbNodeRecord(tree_, props_, interface_, "usb\\vid_046d&pid_c52b&mi_00\\7&3");
  EXPECT_EQ(r.instanceId, "usb\\vid_046d&pid_c52b&mi_00\\7&3");
  EXPECT_EQ(r.usbInstanceId, "USB\\VID_046D&PID_C52B\\6&2");  // &MI_ is no device
  const EncodableValue value = UsbNodeMap(r);
  const EncodableMap& map = std::get<EncodableMap>(value);
  EXPECT_EQ(map.size(), 18u);
  EXPECT_EQ(map.at(EncodableValue("productId")), EncodableValue(int64_t{0xc52b}));
  EXPECT_EQ(map.at(EncodableValue("hasHidCollections")), EncodableValue(false));
}

}  // namespace
}  // namespace vek_native
