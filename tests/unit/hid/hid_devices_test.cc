#include "hid/hid_devices.h"

#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeDeviceTree;
using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

TEST(ParseHexSuffixFieldTest, PathFields) {
  struct Case {
    const char* path;
    const char* marker;
    int expected;
  } cases[] = {
      {R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2})", "&mi_", 2},
      {R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2})", "&col", 3},
      {R"(\\?\hid#vid_1&pid_2&mi_01&col02#x)", "&mi_", 1},
      {R"(\\?\hid#vid_1&pid_2&col0a)", "&col", 10},
      {R"(\\?\HID#VID_1&PID_2&MI_0F#x)", "&mi_", 15},
      {R"(\\?\hid#vid_1&pid_2&mi_0)", "&mi_", 0},     // one digit at the end
      {R"(\\?\hid#vid_1&pid_2&mi_)", "&mi_", 0},      // no digits
      {R"(\\?\hid#vid_1&pid_2&col0g#x)", "&col", 0},  // not hex
      {R"(\\?\hid#vid_1&pid_2&col-1#x)", "&col", 0},
      {R"(\\?\hid#vid_1&pid_2#x)", "&mi_", 0},  // absent
      {"&mi", "&mi_", 0},                       // shorter than the marker
      {"", "&col", 0},
      {"&mi_ff", "&mi_", 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHexSuffixField(c.path, c.marker), c.expected) << c.path << " " << c.marker;
  }
}

TEST(ClassifyBusTypeTest, Rules) {
  struct Case {
    const char* path;
    const char* parent;
    int expected;
  } cases[] = {
      {R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#x)", "", 1},
      {R"(\\?\HID#VID_046D&PID_C52B#x)", "BTHENUM\\x", 1},  // #vid_ wins, any case
      {R"(\\?\hid#x)", "USB\\VID_046D&PID_C52B\\5&1", 1},
      {R"(\\?\hid#x)", "", 0},
      {R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_dev_x#y)", "BTHENUM\\{00001124}", 2},
      {R"(\\?\hid#{00001812-0000-1000-8000-00805f9b34fb}_dev_x#y)", "SWD\\x", 2},
      {R"(\\?\hid#bthledevice#y)", "HID\\x", 2},
      {R"(\\?\hid#acpi0c50#y)", "ACPI\\PNP0C50\\0", 3},
      {"#vid", "", 0},  // too short to hold "#vid_"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyBusType(c.path, c.parent), c.expected) << c.path << " " << c.parent;
  }
}

TEST(FindUsbDeviceInstanceIdTest, Walks) {
  FakeDeviceTree tree({
      {"HID\\VID_046D&PID_C52B&MI_02&COL03\\8&1", "USB\\VID_046D&PID_C52B&MI_02\\7&2"},
      {"USB\\VID_046D&PID_C52B&MI_02\\7&2", "USB\\VID_046D&PID_C52B\\5&3"},
      {"HID\\KBD\\1", "USB\\ROOT_HUB30\\4&1"},  // a "usb\" ID without "vid_" is passed over
      {"USB\\ROOT_HUB30\\4&1", "PCI\\VEN_8086\\3&1"},
      {"HID\\BROKEN\\1", "ACPI\\X"},
  });
  // The interface node is skipped for the composite device above it; the
  // result keeps the system's case.
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "HID\\VID_046D&PID_C52B&MI_02&COL03\\8&1"),
            "USB\\VID_046D&PID_C52B\\5&3");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "usb\\vid_1&pid_2\\x"), "usb\\vid_1&pid_2\\x");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, ""), "");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "HID\\KBD\\1"), "");     // walk ends at an unknown node
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "HID\\BROKEN\\1"), "");  // a failing step ends it
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "BTHENUM\\{1}\\2"), "");
}

// A chain start -> a1 -> a2 -> ... with the USB device at `usb_depth`.
FakeDeviceTree Chain(int usb_depth) {
  std::map<std::string, std::string> parents;
  auto name = [usb_depth](int i) {
    return i == usb_depth ? std::string("USB\\VID_1234&PID_5678\\9") : "NODE\\" + std::to_string(i);
  };
  for (int i = 0; i < usb_depth; ++i) parents[name(i)] = name(i + 1);
  return FakeDeviceTree(parents);
}

TEST(FindUsbDeviceInstanceIdTest, StopsAfterSevenAncestors) {
  FakeDeviceTree seventh = Chain(7);
  EXPECT_EQ(FindUsbDeviceInstanceId(seventh, "NODE\\0"), "USB\\VID_1234&PID_5678\\9");

  FakeDeviceTree eighth = Chain(8);
  EXPECT_EQ(FindUsbDeviceInstanceId(eighth, "NODE\\0"), "");
  // Seven parent steps, then the walk gives up without asking for an eighth.
  EXPECT_EQ(eighth.visited.size(), 7u);
}

HidCaps CapsWithNodes(uint16_t nodes) {
  HidCaps caps;
  caps.number_link_collection_nodes = nodes;
  return caps;
}

HidLinkCollectionNode Node(uint16_t parent) {
  HidLinkCollectionNode node;
  node.parent = parent;
  return node;
}

TEST(ReadHidCapsTest, CollectionCount) {
  struct Case {
    const char* name;
    uint16_t declared;
    std::vector<uint16_t> parents;
    bool query_fails;
    uint32_t expected;
  } cases[] = {
      {"two top-level of three", 3, {0, 0, 1}, false, 2},
      {"query fails: declared count", 3, {0, 0, 1}, true, 3},
      {"no top-level node: declared count", 2, {1, 1}, false, 2},
      {"more nodes returned than declared are not counted", 2, {0, 0, 0}, false, 2},
      {"no nodes", 0, {}, false, 0},
  };
  for (const Case& c : cases) {
    FakeHidDeviceSpec spec;
    spec.path = "p";
    spec.caps = CapsWithNodes(c.declared);
    for (uint16_t parent : c.parents) spec.link_nodes.push_back(Node(parent));
    spec.link_nodes_fail = c.query_fails;
    FakeHidDeviceApi api({spec});
    uint32_t error = 0;
    auto device = api.Open("p", HidAccess::kRead, false, &error);
    HidCaps caps;
    uint32_t count = 99;
    ASSERT_TRUE(ReadHidCaps(device.get(), &caps, &count)) << c.name;
    EXPECT_EQ(count, c.expected) << c.name;
  }
}

TEST(ReadHidCapsTest, Failures) {
  FakeHidDeviceSpec no_data;
  no_data.path = "a";
  no_data.has_preparsed_data = false;
  FakeHidDeviceSpec bad_caps;
  bad_caps.path = "b";
  bad_caps.caps_status = 0xC0110001u;
  FakeHidDeviceApi api({no_data, bad_caps});
  uint32_t error = 0;
  HidCaps caps;
  EXPECT_FALSE(ReadHidCaps(api.Open("a", HidAccess::kRead, false, &error).get(), &caps));
  EXPECT_FALSE(ReadHidCaps(api.Open("b", HidAccess::kRead, false, &error).get(), &caps));
  EXPECT_FALSE(ReadHidCaps(nullptr, &caps));
  EXPECT_FALSE(ReadHidCaps(api.Open("b", HidAccess::kRead, false, &error).get(), nullptr));
}

TEST(ReadHidStringTest, CutsAt255UnitsAndConverts) {
  FakeHidDeviceSpec spec;
  spec.path = "p";
  spec.strings[HidStringKind::kProduct] = std::u16string(300, u'x');
  spec.strings[HidStringKind::kManufacturer] = u"罗技 Logitech";
  FakeHidDeviceApi api({spec});
  uint32_t error = 0;
  auto device = api.Open("p", HidAccess::kRead, false, &error);
  EXPECT_EQ(ReadHidString(*device, HidStringKind::kProduct), std::string(255, 'x'));
  EXPECT_EQ(ReadHidString(*device, HidStringKind::kManufacturer), "罗技 Logitech");
  EXPECT_EQ(ReadHidString(*device, HidStringKind::kSerialNumber), "");  // the call fails
}

TEST(OpenModesTest, OrderOfAttemptsAndMessage) {
  struct Case {
    const char* name;
    std::set<HidAccess> opens;
    int mode;  // 0 OpenHidDevice, 1 ForQuery, 2 ForDescriptors
    bool opened;
    std::vector<HidAccess> attempts;
  } cases[] = {
      {"read/write first",
       {HidAccess::kReadWrite, HidAccess::kRead},
       0,
       true,
       {HidAccess::kReadWrite}},
      {"read-only fallback",
       {HidAccess::kRead},
       0,
       true,
       {HidAccess::kReadWrite, HidAccess::kRead}},
      {"write open refuses attribute-only",
       {HidAccess::kAttributesOnly},
       0,
       false,
       {HidAccess::kReadWrite, HidAccess::kRead}},
      {"query falls back to attribute-only",
       {HidAccess::kAttributesOnly},
       1,
       true,
       {HidAccess::kReadWrite, HidAccess::kRead, HidAccess::kAttributesOnly}},
      {"descriptors try attribute-only first",
       {HidAccess::kAttributesOnly, HidAccess::kRead},
       2,
       true,
       {HidAccess::kAttributesOnly}},
      {"descriptors fall back to read",
       {HidAccess::kRead},
       2,
       true,
       {HidAccess::kAttributesOnly, HidAccess::kRead}},
      {"nothing opens",
       {},
       1,
       false,
       {HidAccess::kReadWrite, HidAccess::kRead, HidAccess::kAttributesOnly}},
  };
  for (const Case& c : cases) {
    FakeHidDeviceSpec spec;
    spec.path = "p";
    spec.opens = c.opens;
    FakeHidDeviceApi api({spec});
    std::string message;
    std::unique_ptr<HidDevice> device;
    if (c.mode == 0) device = OpenHidDevice(api, "p", &message);
    if (c.mode == 1) device = OpenHidDeviceForQuery(api, "p");
    if (c.mode == 2) device = OpenHidDeviceForDescriptors(api, "p");
    EXPECT_EQ(device != nullptr, c.opened) << c.name;
    std::vector<HidAccess> attempts;
    for (const auto& attempt : api.State("p").open_attempts) {
      attempts.push_back(attempt.first);
      EXPECT_FALSE(attempt.second) << c.name;  // never overlapped
    }
    EXPECT_EQ(attempts, c.attempts) << c.name;
    if (c.mode == 0 && !c.opened) {
      EXPECT_EQ(message, "打开 HID 设备失败（Win32 错误码 5）");
    }
  }
}

FakeHidDeviceSpec Mouse() {
  FakeHidDeviceSpec spec;
  spec.path =
      R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030})";
  spec.parent_instance_id = "USB\\VID_046D&PID_C52B&MI_02\\7&2";
  spec.attributes = {0x046d, 0xc52b, 0x1211};
  spec.caps.usage_page = 1;
  spec.caps.usage = 2;
  spec.caps.input_report_byte_length = 8;
  spec.caps.output_report_byte_length = 0;
  spec.caps.feature_report_byte_length = 20;
  spec.caps.number_link_collection_nodes = 3;
  spec.link_nodes = {Node(0), Node(0), Node(1)};
  spec.strings[HidStringKind::kProduct] = u"USB Receiver";
  spec.strings[HidStringKind::kManufacturer] = u"Logitech";
  return spec;
}

TEST(ListHidDevicesTest, BuildsRecordsInEnumerationOrder) {
  FakeHidDeviceSpec refuses = Mouse();
  refuses.path = R"(\\?\hid#vid_1&pid_1#refuses)";
  refuses.opens = {};
  FakeHidDeviceSpec no_caps = Mouse();
  no_caps.path = R"(\\?\hid#vid_1&pid_1#nocaps)";
  no_caps.has_preparsed_data = false;
  FakeHidDeviceSpec bluetooth;
  bluetooth.path = R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_dev_vid&02046d_pid&b023#9&1)";
  bluetooth.parent_instance_id =
      "BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002046D\\8&1";
  bluetooth.opens = {HidAccess::kAttributesOnly};  // held exclusively: query access only
  bluetooth.has_attributes = false;
  FakeHidDeviceApi api({refuses, Mouse(), no_caps, bluetooth});
  FakeDeviceTree tree(std::map<std::string, std::string>{
      {"USB\\VID_046D&PID_C52B&MI_02\\7&2", "USB\\VID_046D&PID_C52B\\5&3"}});

  std::vector<HidDeviceRecord> records;
  std::string message;
  ASSERT_TRUE(ListHidDevices(api, tree, &records, &message));
  ASSERT_EQ(records.size(), 2u);

  const HidDeviceRecord& mouse = records[0];
  EXPECT_EQ(mouse.path, Mouse().path);
  EXPECT_EQ(mouse.vendor_id, 0x046d);
  EXPECT_EQ(mouse.product_id, 0xc52b);
  EXPECT_EQ(mouse.version_number, 0x1211);
  EXPECT_EQ(mouse.product, "USB Receiver");
  EXPECT_EQ(mouse.manufacturer, "Logitech");
  EXPECT_EQ(mouse.serial_number, "");
  EXPECT_EQ(mouse.bus_type, 1);
  EXPECT_EQ(mouse.collection_count, 2u);
  EXPECT_EQ(mouse.interface_number, 2);
  EXPECT_EQ(mouse.collection_number, 3);
  EXPECT_EQ(mouse.usb_instance_id, "USB\\VID_046D&PID_C52B\\5&3");

  const HidDeviceRecord& bt = records[1];
  EXPECT_EQ(bt.bus_type, 2);
  EXPECT_EQ(bt.usb_instance_id, "");
  EXPECT_EQ(bt.vendor_id, 0);  // attributes unreadable
  EXPECT_EQ(bt.interface_number, 0);

  // Every handle the listing opened is closed again.
  EXPECT_EQ(api.OpenHandles(Mouse().path), 0);
  EXPECT_EQ(api.OpenHandles(bluetooth.path), 0);
  EXPECT_EQ(api.OpenHandles(no_caps.path), 0);
}

TEST(ListHidDevicesTest, EmptyMachineAndEnumerationFailure) {
  FakeHidDeviceApi empty;
  FakeDeviceTree tree;
  std::vector<HidDeviceRecord> records;
  std::string message;
  EXPECT_TRUE(ListHidDevices(empty, tree, &records, &message));
  EXPECT_TRUE(records.empty());

  FakeHidDeviceApi broken({Mouse()});
  broken.enumeration_fails = true;
  EXPECT_FALSE(ListHidDevices(broken, tree, &records, &message));
  EXPECT_EQ(message, "枚举 HID 设备失败（Win32 错误码 8）");
}

TEST(HidDeviceRecordToMapTest, SeventeenKeysWith64BitIntegers) {
  HidDeviceRecord record;
  record.path = "p";
  record.vendor_id = 0xffff;
  record.collection_count = 2;
  record.usb_instance_id = "USB\\X";
  const EncodableMap map = HidDeviceRecordToMap(record);
  const char* string_keys[] = {"path", "product", "manufacturer", "serialNumber", "usbInstanceId"};
  const char* integer_keys[] = {"vendorId",
                                "productId",
                                "versionNumber",
                                "usagePage",
                                "usage",
                                "busType",
                                "inputReportByteLength",
                                "outputReportByteLength",
                                "featureReportByteLength",
                                "collectionCount",
                                "interfaceNumber",
                                "collectionNumber"};
  EXPECT_EQ(map.size(), 17u);
  for (const char* key : string_keys) {
    auto it = map.find(EncodableValue(key));
    ASSERT_NE(it, map.end()) << key;
    EXPECT_TRUE(std::holds_alternative<std::string>(it->second)) << key;
  }
  for (const char* key : integer_keys) {
    auto it = map.find(EncodableValue(key));
    ASSERT_NE(it, map.end()) << key;
    EXPECT_TRUE(std::holds_alternative<int64_t>(it->second)) << key;
  }
  EXPECT_EQ(map.at(EncodableValue("vendorId")), EncodableValue(int64_t{0xffff}));
  EXPECT_EQ(map.at(EncodableValue("collectionCount")), EncodableValue(int64_t{2}));
}

}  // namespace
}  // namespace vek_native
