#include "usb/usb_node_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/usb/usb_fakes.h"

namespace vek_native {
namespace {

using vek_test::FakeNodeWorld;

constexpr uint32_t kInterfaceSet = kDigcfPresent | kDigcfDeviceInterface;

std::vector<std::string> Ids(const std::vector<UsbNodeRecord>& nodes) {
  std::vector<std::string> ids;
  for (const UsbNodeRecord& node : nodes) ids.push_back(node.instanceId);
  return ids;
}

std::vector<UsbNodeRecord> List(FakeNodeWorld& world, bool include_hid_children) {
  std::vector<UsbNodeRecord> nodes;
  std::string message = "stale";
  EXPECT_TRUE(ListUsbDeviceNodes(world.System(), include_hid_children, &nodes, &message));
  EXPECT_EQ(message, "");
  return nodes;
}

TEST(ListUsbDeviceNodesTest, ANodeIsListedOnceFromTheFirstSetHoldingIt) {
  FakeNodeWorld world;
  const uint32_t hub = world.AddStarted("USB\\ROOT_HUB30\\4&1", 0);
  const uint32_t device = world.AddStarted("USB\\VID_046D&PID_C077\\5&2", hub);
  world.tree.Add(vek_test::FakeNode());  // a device whose ID reads empty
  // A present USB interface the USB enumerator lists again in another case:
  // the first set's spelling stays. A set that cannot be built adds nothing.
  world.source.AddToSet(DeviceInfoClass::kUsbDeviceInterface, nullptr, kInterfaceSet, device);
  world.source.AddToSet(DeviceInfoClass::kUsbSetupClass, nullptr, 0, hub);
  world.source.AddToSet(DeviceInfoClass::kHidSetupClass, nullptr, 0, world.tree.Count());
  world.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, device,
                        "usb\\vid_046d&pid_c077\\5&2");
  world.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfPresent | kDigcfAllClasses, hub);
  world.source.failing_sets.insert({DeviceInfoClass::kHidInterface, "", kInterfaceSet});
  EXPECT_EQ(Ids(List(world, false)),
            (std::vector<std::string>{"USB\\ROOT_HUB30\\4&1", "USB\\VID_046D&PID_C077\\5&2"}));
  EXPECT_EQ(world.source.queries, 11);  // the setup classes present, then all
  EXPECT_FALSE(ListUsbDeviceNodes(world.System(), false, nullptr, nullptr));
}

TEST(ListUsbDeviceNodesTest, ProblemDevicesFollowInInstanceIdOrder) {
  FakeNodeWorld world;
  struct Row {
    const char* id;
    bool has_state;  // false: a phantom, whose status read fails
    uint32_t problem;
  } rows[] = {
      {"USB\\VID_0003&PID_0001\\1", true, 22},
      {"USB\\VID_0002&PID_0001\\1", true, 43},
      {"USB\\VID_0000&PID_0001\\1", false, 0},
      {"usb\\vid_0009&pid_0001\\1", true, 0},  // compared upper-cased
      {"USB\\VID_000A&PID_0001\\1", true, 0},
      {"USB\\VID_0001&PID_0001\\1", true, 0},
  };
  for (const Row& row : rows) {
    vek_test::FakeNode added;
    added.instance_id = row.id;
    added.present = row.has_state;
    const uint32_t node = world.tree.Add(added);
    if (row.has_state) world.properties.states[node] = {0, kDnStarted, row.problem};
    world.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, node);
  }
  const std::vector<UsbNodeRecord> nodes = List(world, false);
  EXPECT_EQ(Ids(nodes),
            (std::vector<std::string>{"USB\\VID_0001&PID_0001\\1", "usb\\vid_0009&pid_0001\\1",
                                      "USB\\VID_000A&PID_0001\\1", "USB\\VID_0000&PID_0001\\1",
                                      "USB\\VID_0002&PID_0001\\1", "USB\\VID_0003&PID_0001\\1"}));
  EXPECT_EQ(nodes[3].problemCode, 45u);
  EXPECT_EQ(nodes[3].problemText, "设备未连接");
  EXPECT_EQ(nodes[3].deviceStatus, "有问题");
}

// A chain of nodes above one HID collection: the USB device on top, then
// `depth` - 1 nodes between it and the collection.
TEST(ListUsbDeviceNodesTest, NodesUpToFourStepsAboveACollectionAreMarked) {
  struct Case {
    const char* name;
    std::vector<const char*> chain;  // top first; the collection hangs below the last
    std::vector<bool> marked;
  } cases[] = {
      {"composite device",
       {"USB\\VID_1234&PID_5678\\9&1", "USB\\VID_1234&PID_5678&MI_00\\9&2"},
       {true, true}},
      // The USB device is five steps up but still marked as the collection's
      // USB device.
      {"deep usb device",
       {"USB\\VID_1234&PID_5678\\9&1", "USB\\VID_1234&PID_5678&MI_00\\9&2", "ROOT\\A\\1",
        "ROOT\\B\\1", "ROOT\\C\\1"},
       {true, true, true, true, true}},
      // Without a USB device only four steps are walked.
      {"no usb device",
       {"ROOT\\A\\1", "ROOT\\B\\1", "ROOT\\C\\1", "ROOT\\D\\1", "ROOT\\E\\1"},
       {false, true, true, true, true}},
  };
  for (const Case& c : cases) {
    FakeNodeWorld world;
    std::vector<uint32_t> chain;
    uint32_t parent = 0;
    for (const char* id : c.chain) {
      parent = world.AddStarted(id, parent);
      chain.push_back(parent);
      world.source.AddToSet(DeviceInfoClass::kNone, "USB", kDigcfAllClasses, parent);
    }
    const uint32_t collection = world.AddStarted("HID\\VID_1234&PID_5678&MI_00&COL01\\A&1", parent);
    world.source.AddToSet(DeviceInfoClass::kNone, "HID", kDigcfPresent | kDigcfAllClasses,
                          collection);

    for (bool include_hid : {false, true}) {
      const std::vector<UsbNodeRecord> nodes = List(world, include_hid);
      ASSERT_EQ(nodes.size(), c.chain.size() + (include_hid ? 1 : 0)) << c.name;
      for (const UsbNodeRecord& node : nodes) {
        if (node.busType == "HID") {
          EXPECT_TRUE(include_hid) << c.name;
          EXPECT_TRUE(node.isHidCollection);
          EXPECT_FALSE(node.hasHidCollections);
          continue;
        }
        for (size_t i = 0; i < c.chain.size(); ++i) {
          if (node.instanceId == c.chain[i]) {
            EXPECT_EQ(node.hasHidCollections, c.marked[i]) << c.name << " " << node.instanceId;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace vek_native
