// Node records and the listing of USB and HID device nodes.
#include <gtest/gtest.h>

#include "unit/usb/usb_fakes.h"
#include "usb/usb_node.h"
#include "usb/usb_node_listing.h"

namespace vek_native {
namespace {

using vek_test::FakeMachine;
using vek_test::FakeNode;

TEST(UsbNodeTest, VidPidAreFourHexDigitsAfterTheirMarks) {
  const std::tuple<const char*, uint32_t, uint32_t> cases[] = {
      {"hid\\vid_09af&pid_f0a9&col01\\1", 0x09af, 0xf0a9},
      {"USB\\VID_04XD&PID_C52B", 0, 0xc52b},  // a non-hex digit leaves the value 0
      {"X\\PID_0001&VID_123", 0, 1},          // three digits are too few; four at the end do
      {"ACPI\\PNP0303\\4&1", 0, 0}};
  for (const auto& [id, vid, pid] : cases) {
    uint32_t vendor = 9, product = 9;
    ParseVidPid(id, &vendor, &product);
    EXPECT_EQ(std::make_pair(vendor, product), std::make_pair(vid, pid)) << id;
  }
}

std::vector<UsbNodeRecord> List(FakeMachine& machine, bool include_hid = false) {
  std::vector<UsbNodeRecord> nodes;
  std::string message = "stale";
  EXPECT_TRUE(ListUsbDeviceNodes(machine.System(), include_hid, &nodes, &message));
  EXPECT_EQ(message, "");
  return nodes;
}

std::vector<std::string> Ids(const std::vector<UsbNodeRecord>& nodes) {
  std::vector<std::string> ids;
  for (const UsbNodeRecord& node : nodes) ids.push_back(node.instanceId);
  return ids;
}

// A node enters once, from the first set holding it and in that set's
// spelling; problem devices follow the others, each group in instance ID
// order ignoring case.
TEST(UsbNodeListingTest, EachNodeOnceProblemsLast) {
  FakeMachine machine;
  const uint32_t hub =
      machine.Add({"USB\\ROOT_HUB30\\4&1"}, {{DeviceInfoClass::kUsbSetupClass, "", 0}});
  const uint32_t flags = kDigcfPresent | kDigcfDeviceInterface;
  const uint32_t device =
      machine.Add({"USB\\VID_0000\\5&2", hub}, {{DeviceInfoClass::kUsbDeviceInterface, "", flags}});
  machine.Add(FakeNode(), {{DeviceInfoClass::kHidSetupClass, "", 0}});  // an ID that reads empty
  machine.sets[{DeviceInfoClass::kNone, "USB", FakeMachine::kAllUsb}] = {
      {device, "usb\\vid_0000\\5&2"}, {hub, ""}};
  machine.failing_set = {DeviceInfoClass::kHidInterface, "", flags};  // adds nothing
  for (const auto& [id, problem] :
       std::vector<std::pair<std::string, uint32_t>>{{"USB\\VID_0003\\1", 22},
                                                     {"USB\\VID_0002\\1", 43},
                                                     {"usb\\vid_0009\\1", 0},
                                                     {"USB\\VID_000A\\1", 0},
                                                     {"USB\\VID_0001\\1", 45}}) {
    FakeNode node{id};
    if (problem == 45) node.status.reset();  // a phantom
    if (problem != 45) node.status = std::make_tuple(0u, kDnStarted, problem);
    machine.Add(node);
  }
  EXPECT_EQ(Ids(List(machine)),
            (std::vector<std::string>{"USB\\ROOT_HUB30\\4&1", "USB\\VID_0000\\5&2",
                                      "usb\\vid_0009\\1", "USB\\VID_000A\\1", "USB\\VID_0001\\1",
                                      "USB\\VID_0002\\1", "USB\\VID_0003\\1"}));
  EXPECT_EQ(machine.queries, 11);  // the setup classes present, then all
  EXPECT_FALSE(ListUsbDeviceNodes(machine.System(), false, nullptr, nullptr));
}

// Nodes above a HID collection are marked as carrying it up to four steps
// up, and so is its USB device wherever it sits.
TEST(UsbNodeListingTest, NodesAboveACollectionAreMarked) {
  const std::pair<std::vector<const char*>, std::vector<bool>> cases[] = {
      {{"USB\\VID_1234&PID_5678\\9&1", "USB\\VID_1234&PID_5678&MI_00\\9&2"}, {true, true}},
      {{"USB\\VID_1234&PID_5678\\9&1", "USB\\VID_1234&PID_5678&MI_00\\9&2", "ROOT\\A\\1",
        "ROOT\\B\\1", "ROOT\\C\\1"},
       {true, true, true, true, true}},
      {{"ROOT\\A\\1", "ROOT\\B\\1", "ROOT\\C\\1", "ROOT\\D\\1", "ROOT\\E\\1"},
       {false, true, true, true, true}}};
  for (const auto& [chain, marked] : cases) {
    FakeMachine machine;
    uint32_t parent = 0;
    for (const char* id : chain) parent = machine.Add(id, parent);
    machine.Add({"HID\\VID_1234&PID_5678&MI_00&COL01\\A&1", parent},
                {{DeviceInfoClass::kNone, "HID", kDigcfPresent | kDigcfAllClasses}});
    for (bool include_hid : {false, true}) {
      const std::vector<UsbNodeRecord> nodes = List(machine, include_hid);
      ASSERT_EQ(nodes.size(), chain.size() + (include_hid ? 1 : 0));
      std::vector<bool> seen(chain.size());
      for (const UsbNodeRecord& node : nodes) {
        const auto at = static_cast<size_t>(std::find(chain.begin(), chain.end(), node.instanceId) -
                                            chain.begin());
        if (at < chain.size()) seen[at] = node.hasHidCollections;
        EXPECT_TRUE(at < chain.size() || !node.hasHidCollections);  // the collection is not
      }
      EXPECT_EQ(seen, marked);
    }
  }
}

}  // namespace
}  // namespace vek_native
