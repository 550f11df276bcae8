#include "usb/usb_port.h"

#include <gtest/gtest.h>

#include "support/usb/fake_node_tree.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

using vek_test::FakeNode;
using vek_test::FakeNodeTree;
using vek_test::FakeUsbHubApi;

TEST(ParsePortFromLocationTest, ReadsTheNumberAfterPortMarkLikeWcstol) {
  struct Case {
    std::u16string location;
    uint32_t port;
  } cases[] = {
      {u"Port_#0003.Hub_#0002", 3},
      {u"Port_#0127.Hub_#0001", 127},
      {u"Port_#0000.Hub_#0001", 0},  // 0 is not a port
      {u"Port_#128", 0},
      {u"Port_#99999999999999999999", 0},  // wcstol clamps; still out of range
      {u"Port_# \t+5", 5},                 // leading blanks and a sign
      {u"Port_#-3", 0},
      {u"Port_#", 0},
      {u"Port_#.Hub_#0002", 0},  // nothing consumed
      {u"port_#0003", 0},        // the mark is case-sensitive
      {u"Hub_#0002", 0},
      {u"PCI bus 0, Port_#0012", 12},
      {u"Port_#0002.Port_#0009", 2},  // the first mark counts
      {u"", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParsePortFromLocation(c.location), c.port) << Utf16ToUtf8(c.location);
  }
}

TEST(HubInterfacePathTest, LowerCasesAndTurnsBackslashesIntoHashes) {
  EXPECT_EQ(HubInterfacePath("USB\\ROOT_HUB30\\4&2F0A3C1&0&0"),
            "\\\\?\\usb#root_hub30#4&2f0a3c1&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
  // Only A-Z change; other bytes pass untouched.
  EXPECT_EQ(HubInterfacePath("USB\\VID_05E3&PID_0610\\ÄB"),
            "\\\\?\\usb#vid_05e3&pid_0610#Äb#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
}

// Root hub <- hub <- device <- interface <- HID collection <- child.
class UsbPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tree_.Add({"USB\\ROOT_HUB30\\4&2F0A3C1&0&0", 0, true, std::nullopt});
    hub_ = tree_.Add({"USB\\VID_05E3&PID_0610\\5&1", root_, true, u"Port_#0004.Hub_#0001"});
    device_ = tree_.Add({"USB\\VID_046D&PID_C52B\\6&2", hub_, true, u"Port_#0003.Hub_#0002"});
    interface_ = tree_.Add({"USB\\VID_046D&PID_C52B&MI_00\\7&3", device_, true, u"0000.0014.0000"});
    collection_ = tree_.Add({"HID\\VID_046D&PID_C52B&MI_00\\8&4", interface_, true, std::nullopt});
    child_ = tree_.Add({"HID\\CHILD\\9&5", collection_, true, u"no port here"});
    grandchild_ = tree_.Add({"HID\\GRANDCHILD\\A&6", child_, true, std::nullopt});
  }

  bool Resolve(const std::string& id) {
    message_ = "unset";
    return ResolveUsbDevicePort(tree_, id, &node_, &port_, &message_);
  }

  FakeNodeTree tree_;
  uint32_t root_ = 0, hub_ = 0, device_ = 0, interface_ = 0, collection_ = 0, child_ = 0,
           grandchild_ = 0;
  uint32_t node_ = 99, port_ = 99;
  std::string message_;
};

TEST_F(UsbPortTest, WalksUpToTheNodeCarryingThePort) {
  ASSERT_TRUE(Resolve("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(node_, device_);
  EXPECT_EQ(port_, 3u);
  ASSERT_TRUE(Resolve("HID\\VID_046D&PID_C52B&MI_00\\8&4"));  // three nodes up
  EXPECT_EQ(node_, device_);
  EXPECT_EQ(port_, 3u);
  ASSERT_TRUE(Resolve("HID\\CHILD\\9&5"));  // the device is the fourth node
  EXPECT_EQ(node_, device_);
  // The grandchild is four steps below the device: the walk stops before it.
  tree_.location_reads.clear();
  EXPECT_FALSE(Resolve("HID\\GRANDCHILD\\A&6"));
  EXPECT_EQ(node_, 0u);
  EXPECT_EQ(port_, 0u);
  EXPECT_EQ(message_, kNoPortInLocationMessage);
  EXPECT_EQ(tree_.location_reads,
            (std::vector<uint32_t>{grandchild_, child_, collection_, interface_}));
}

TEST_F(UsbPortTest, OutOfRangePortsMoveTheWalkToTheParent) {
  tree_.Node(device_).location = u"Port_#0000.Hub_#0001";
  ASSERT_TRUE(Resolve("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(node_, hub_);
  EXPECT_EQ(port_, 4u);
  tree_.Node(hub_).location = u"Port_#128";
  EXPECT_FALSE(Resolve("USB\\VID_046D&PID_C52B\\6&2"));  // root has none, then no parent
  EXPECT_EQ(message_, kNoPortInLocationMessage);
}

TEST_F(UsbPortTest, FailuresBeforeTheWalk) {
  EXPECT_FALSE(Resolve(""));
  EXPECT_EQ(message_, "usbInstanceId 为空");
  tree_.Node(device_).present = false;  // unplugged: only present nodes are found
  EXPECT_FALSE(Resolve("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(message_, "无法定位 USB 设备节点（CM 错误 13）");
  EXPECT_EQ(node_, 0u);
  EXPECT_EQ(port_, 0u);
  // Probing callers pass no message.
  uint32_t node = 5, port = 5;
  EXPECT_FALSE(ResolveUsbDevicePort(tree_, "missing", &node, &port, nullptr));
  EXPECT_EQ(node + port, 0u);
}

class OpenParentUsbHubTest : public UsbPortTest {
 protected:
  void SetUp() override {
    UsbPortTest::SetUp();
    hub_state_ = &api_.AddHub(Utf8ToUtf16(HubInterfacePath("USB\\VID_05E3&PID_0610\\5&1")));
  }
  bool Open(const std::string& id) {
    message_ = "unset";
    port_ = 99;
    return OpenParentUsbHub(tree_, api_, id, &hub_handle_, &port_, &message_);
  }
  FakeUsbHubApi api_;
  vek_test::FakeHubState* hub_state_ = nullptr;
  std::unique_ptr<UsbHub> hub_handle_;
};

TEST_F(OpenParentUsbHubTest, OpensReadWriteThenReadOnly) {
  ASSERT_TRUE(Open("HID\\VID_046D&PID_C52B&MI_00\\8&4"));
  EXPECT_NE(hub_handle_, nullptr);
  EXPECT_EQ(port_, 3u);
  EXPECT_EQ(api_.opens, (std::vector<HubAccess>{HubAccess::kReadWrite}));

  hub_handle_.reset();
  api_.opens.clear();
  hub_state_->refused_access = {HubAccess::kReadWrite};
  ASSERT_TRUE(Open("USB\\VID_046D&PID_C52B\\6&2"));  // the read-only hub is still handed out
  EXPECT_NE(hub_handle_, nullptr);
  EXPECT_EQ(api_.opens, (std::vector<HubAccess>{HubAccess::kReadWrite, HubAccess::kRead}));
}

TEST_F(OpenParentUsbHubTest, EachFailureHasItsMessageAndLeavesNothingOpen) {
  hub_state_->refused_access = {HubAccess::kReadWrite, HubAccess::kRead};
  hub_state_->open_error = 5;
  EXPECT_FALSE(Open("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(message_,
            "无法打开 USB 集线器 \\\\?\\usb#vid_05e3&pid_0610#5&1#"
            "{f18a0e88-c30c-11d0-8815-00a0c906bed8}（错误码 5）");
  EXPECT_EQ(hub_handle_, nullptr);
  EXPECT_EQ(port_, 0u);
  EXPECT_EQ(api_.OpenHandles(), 0);

  tree_.Node(hub_).id_error = vek_test::kCmFailure;
  EXPECT_FALSE(Open("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(message_, "无法获取父 USB 集线器的设备实例 ID（CM 错误 19）");

  // The port sits on a node without a parent.
  tree_.Node(root_).location = u"Port_#0001";
  tree_.Node(hub_).location = std::nullopt;
  tree_.Node(device_).location = std::nullopt;
  EXPECT_FALSE(Open("USB\\VID_046D&PID_C52B\\6&2"));
  EXPECT_EQ(message_, "无法定位父 USB 集线器节点（CM 错误 13）");
  EXPECT_EQ(port_, 0u);

  EXPECT_FALSE(Open(""));
  EXPECT_EQ(message_, "usbInstanceId 为空");
}

}  // namespace
}  // namespace vek_native
