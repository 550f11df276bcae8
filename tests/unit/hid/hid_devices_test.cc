// HID enumeration, writes and the bound bridge operations, over fake devices.
#include "hid/hid_devices.h"

#include <gtest/gtest.h>

#include <tuple>

#include "hid/hid_operations.h"
#include "hid/hid_write.h"
#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeDeviceTree;
using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

FakeHidDeviceSpec Spec(const std::string& path, const std::string& parent = "") {
  FakeHidDeviceSpec spec;
  spec.path = path;
  spec.parent_instance_id = parent;
  return spec;
}

TEST(HidDevicesTest, PathFieldsAndBusTypes) {
  const char kPath[] = R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2})";
  const std::tuple<const char*, const char*, int> fields[] = {
      {kPath, "&mi_", 2},
      {kPath, "&col", 3},
      {R"(\\?\hid#vid_1&pid_2&mi_0)", "&mi_", 0},     // one digit at the end
      {R"(\\?\hid#vid_1&pid_2&col0g#x)", "&col", 0},  // not hex
      {R"(\\?\hid#vid_1&pid_2#x)", "&mi_", 0},        // absent
  };
  for (const auto& [path, marker, field] : fields) {
    EXPECT_EQ(ParseHexSuffixField(path, marker), field) << path << " " << marker;
  }
  // 0 not determined, 1 USB, 2 Bluetooth, 3 other.
  const std::tuple<const char*, const char*, int> buses[] = {
      {kPath, "", 1},
      {R"(\\?\HID#VID_046D&PID_C52B#x)", "BTHENUM\\x", 1},  // #vid_ wins, any case
      {R"(\\?\hid#x)", "USB\\VID_046D&PID_C52B\\5&1", 1},
      {R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_dev_x#y)", "BTHENUM\\{00001124}", 2},
      {R"(\\?\hid#bthledevice#y)", "HID\\x", 2},
      {R"(\\?\hid#acpi0c50#y)", "ACPI\\PNP0C50\\0", 3},
  };
  for (const auto& [path, parent, bus] : buses) {
    EXPECT_EQ(ClassifyBusType(path, parent), bus) << path << " " << parent;
  }
}

TEST(HidDevicesTest, WalkUpToTheUsbDevice) {
  FakeDeviceTree tree({
      {"HID\\VID_046D&PID_C52B&MI_02&COL03\\8&1", "USB\\VID_046D&PID_C52B&MI_02\\7&2"},
      {"USB\\VID_046D&PID_C52B&MI_02\\7&2", "USB\\VID_046D&PID_C52B\\5&3"},
      {"HID\\KBD\\1", "USB\\ROOT_HUB30\\4&1"},  // a "usb\" ID without "vid_" is passed over
  });
  // The interface node is passed over for the composite device above it; the
  // system's case is kept. A failing step ends the walk.
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "HID\\VID_046D&PID_C52B&MI_02&COL03\\8&1"),
            "USB\\VID_046D&PID_C52B\\5&3");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "usb\\vid_1&pid_2\\x"), "usb\\vid_1&pid_2\\x");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, ""), "");
  EXPECT_EQ(FindUsbDeviceInstanceId(tree, "HID\\KBD\\1"), "");
}

// Open modes as w (read/write), r (read) and a (attributes only); "+" would
// mark an overlapped attempt.
TEST(HidDevicesTest, OpenModesInTheirOrder) {
  // Modes the device takes, the function (0 OpenHidDevice, 1 ...ForQuery,
  // 2 ...ForDescriptors), the attempts it makes, whether one succeeds.
  const std::tuple<std::string, int, std::string, bool> cases[] = {
      {"wr", 0, "w", true},  {"r", 0, "wr", true}, {"a", 0, "wr", false}, {"a", 1, "wra", true},
      {"", 1, "wra", false}, {"ar", 2, "a", true}, {"r", 2, "ar", true},
  };
  const std::map<char, HidAccess> modes{
      {'w', HidAccess::kReadWrite}, {'r', HidAccess::kRead}, {'a', HidAccess::kAttributesOnly}};
  for (const auto& [opens, mode, expected, opens_one] : cases) {
    FakeHidDeviceSpec spec = Spec("p");
    spec.opens.clear();
    for (char m : opens) spec.opens.insert(modes.at(m));
    FakeHidDeviceApi api({spec});
    std::string message;
    const bool opened = (mode == 0   ? OpenHidDevice(api, "p", &message)
                         : mode == 1 ? OpenHidDeviceForQuery(api, "p")
                                     : OpenHidDeviceForDescriptors(api, "p")) != nullptr;
    std::string attempts;
    for (const auto& attempt : api.State("p").open_attempts) {
      for (const auto& m : modes) {
        if (m.second == attempt.first) attempts += m.first;
      }
      if (attempt.second) attempts += '+';
    }
    EXPECT_EQ(attempts, expected) << opens << " " << mode;
    EXPECT_EQ(opened, opens_one) << opens << " " << mode;
    EXPECT_EQ(message, mode == 0 && !opened ? "打开 HID 设备失败（Win32 错误码 5）" : "");
  }
}

TEST(HidDevicesTest, ListingInEnumerationOrder) {
  FakeHidDeviceSpec mouse = Spec(R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002)",
                                 "USB\\VID_046D&PID_C52B&MI_02\\7&2");
  mouse.attributes = {0x046d, 0xc52b, 0x1211};
  mouse.caps.usage_page = 1;
  mouse.caps.input_report_byte_length = 8;
  // Three nodes declared, two of them top-level; the driver counts a fourth.
  mouse.caps.number_link_collection_nodes = 3;
  mouse.link_nodes.resize(4);
  mouse.link_nodes[2].parent = mouse.link_nodes[3].parent = 1;
  mouse.strings = {{HidStringKind::kProduct, u"USB Receiver"},
                   {HidStringKind::kManufacturer, u"Logitech"},
                   {HidStringKind::kSerialNumber, u"SN1"}};
  FakeHidDeviceSpec no_caps = Spec(R"(\\?\hid#vid_1&pid_1#nocaps)");
  no_caps.has_preparsed_data = false;
  // Held exclusively by its driver: attribute-only access, no attributes.
  FakeHidDeviceSpec bluetooth = Spec(R"(\\?\hid#{00001124-0000-1000-8000-00805f9b34fb}_dev#9)",
                                     "BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID\\8");
  bluetooth.opens = {HidAccess::kAttributesOnly};
  bluetooth.has_attributes = false;
  FakeHidDeviceApi api({mouse, no_caps, bluetooth});
  FakeDeviceTree tree({{mouse.parent_instance_id, "USB\\VID_046D&PID_C52B\\5&3"}});
  std::vector<HidDeviceRecord> records(3);
  std::string message;
  ASSERT_TRUE(ListHidDevices(api, tree, &records, &message));
  ASSERT_EQ(records.size(), 2u);
  const HidDeviceRecord& m = records[0];
  EXPECT_EQ(m.path, mouse.path);
  EXPECT_EQ(std::vector<int>({m.vendor_id, m.product_id, m.version_number, m.usage_page,
                              m.input_report_byte_length, m.bus_type, m.interface_number,
                              m.collection_number, m.collection_count}),
            std::vector<int>({0x046d, 0xc52b, 0x1211, 1, 8, 1, 2, 3, 2}));
  EXPECT_EQ(m.product + "|" + m.manufacturer + "|" + m.serial_number, "USB Receiver|Logitech|SN1");
  EXPECT_EQ(m.usb_instance_id, "USB\\VID_046D&PID_C52B\\5&3");
  EXPECT_EQ(std::vector<int>({records[1].bus_type, records[1].vendor_id}),
            std::vector<int>({2, 0}));
  EXPECT_EQ(records[1].usb_instance_id, "");
  for (const auto& spec : {mouse, no_caps, bluetooth}) EXPECT_EQ(api.OpenHandles(spec.path), 0);
}

TEST(HidDevicesTest, ReportWrites) {
  enum { kNoCaps = 1, kWriteFails = 2, kRefusesAll = 8, kReadOnly = 16 };
  const struct {
    int device;
    uint16_t output_length, feature_length;
    const char* path;
    const char* data;
    bool feature;
    const char* sent;
    const char* message;  // "" when written
  } cases[] = {
      {0, 9, 0, "p", "017f", false, "write 017f00000000000000", ""},  // zero-extended
      {0, 9, 4, "p", "05", true, "feature 05000000", ""},
      {kNoCaps, 9, 9, "p", "0102", false, "write 0102", ""},
      // What WriteFile refuses goes to HidD_SetOutputReport.
      {kWriteFails | kReadOnly, 4, 0, "p", "02", false, "write 02000000 output 02000000", ""},
      {0, 4, 4, "", "01", false, "", "HID 写入参数为空"},
      {kRefusesAll, 4, 4, "p", "01", false, "write 01000000 output 01000000",
       "写入 HID Output 报告失败（Win32 错误码 31）"},
      {kRefusesAll, 4, 4, "p", "01", true, "feature 01000000",
       "写入 HID Feature 报告失败（Win32 错误码 31）"},
  };
  for (const auto& c : cases) {
    FakeHidDeviceSpec spec = Spec("p");
    spec.caps.output_report_byte_length = c.output_length;
    spec.caps.feature_report_byte_length = c.feature_length;
    spec.has_preparsed_data = (c.device & kNoCaps) == 0;
    spec.write_file_fails = (c.device & (kWriteFails | kRefusesAll)) != 0;
    spec.set_fails = (c.device & kRefusesAll) != 0;
    if (c.device & kReadOnly) spec.opens = {HidAccess::kRead};
    FakeHidDeviceApi api({spec});
    std::string message;
    const bool written =
        WriteHidReport(api, c.path, vek_test::FromHex(c.data),
                       c.feature ? HidReportKind::kFeature : HidReportKind::kOutput, &message);
    EXPECT_EQ(written, *c.message == '\0') << c.sent << c.message;
    EXPECT_EQ(api.State("p").sent, c.sent);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(api.OpenHandles("p"), 0);
  }
}

// The bound operations list, write, and own the reader table: readers still
// open close with the last copy of the operations.
TEST(HidDevicesTest, BoundOperations) {
  FakeHidDeviceSpec spec = Spec("p");
  spec.caps.output_report_byte_length = 2;
  spec.caps.feature_report_byte_length = 3;
  FakeHidDeviceApi api({spec});
  FakeDeviceTree tree;
  std::string message;
  {
    BridgeOperations ops;
    BindHidOperations(ops, api, tree, [](EncodableMap&&) {});
    ASSERT_TRUE(ops.write_hid_report("p", {1}, false, &message));
    ASSERT_TRUE(ops.write_hid_report("p", {1}, true, &message));
    EXPECT_EQ(api.State("p").sent, "write 0100 feature 010000");
    ASSERT_TRUE(ops.open_hid_input("p", HidInputOptions(), &message)) << message;
    ops.close_hid_input("p");
    EXPECT_EQ(api.OpenHandles("p"), 0);
    ASSERT_TRUE(ops.open_hid_input("p", HidInputOptions(), &message));
    ops.close_all_hid_inputs();
    EXPECT_EQ(api.OpenHandles("p"), 0);
    ASSERT_TRUE(ops.open_hid_input("p", HidInputOptions(), &message));
    const BridgeOperations copy = ops;
    ops = BridgeOperations();
    EXPECT_EQ(api.OpenHandles("p"), 1);
  }
  EXPECT_EQ(api.OpenHandles("p"), 0);

  BridgeOperations ops;
  BindHidOperations(ops, api, tree, nullptr);
  EncodableValue list;
  ASSERT_TRUE(ops.list_hid_devices(&list, &message));
  EXPECT_EQ(std::get<EncodableList>(list).size(), 1u);
  api.enumeration_fails = true;
  EXPECT_FALSE(ops.list_hid_devices(&list, &message));
  EXPECT_EQ(message, "枚举 HID 设备失败（Win32 错误码 8）");
}

}  // namespace
}  // namespace vek_native
