#include "hid/descriptor_report.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "hid/hid_devices.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/hid/reconstruct_pp_data.h"
#include "unit/hid/usb_descriptors_test_json.h"

namespace vek_native {
namespace {

using vek_test::FakeHubState;
using vek_test::FakeUsbDevice;
using vek_test::FakeUsbHubApi;
using vek_test::FromHex;
using vek_test::StringDescriptor;

class FakeRequests : public HidDescriptorRequests {
 public:
  bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>* buffer, uint32_t* returned,
                              uint32_t* error) override {
    sizes.push_back(buffer->size());
    if (raw.empty()) {
      *error = 50;  // what Wine answers
      return false;
    }
    if (buffer->size() < raw.size()) {
      *error = kErrorInsufficientBuffer;
      return false;
    }
    std::copy(raw.begin(), raw.end(), buffer->begin());
    *returned = static_cast<uint32_t>(raw.size());
    return true;
  }
  bool GetIndexedString(HidDevice&, uint32_t index, char16_t* buffer, uint32_t bytes) override {
    auto it = indexed.find(index);
    if (it == indexed.end()) return false;
    for (size_t i = 0; i < it->second.size() && i < bytes / 2; ++i) buffer[i] = it->second[i];
    return true;
  }
  std::vector<uint8_t> raw;
  std::map<uint32_t, std::u16string> indexed;
  std::vector<size_t> sizes;
};

vek_test::PpDataDump Dump(const std::string& name) {
  vek_test::PpDataDump dump;
  std::string error;
  EXPECT_TRUE(vek_test::LoadPpDataDump(std::string(VEK_PP_DATA_DIR) + "/" + name + ".pp_data",
                                       &dump, &error));
  return dump;
}
std::vector<uint8_t> Expected(const std::string& name) {
  return vek_test::LoadByteListing(std::string(VEK_PP_DATA_DIR) + "/" + name +
                                   "_expected.rpt_desc");
}

fake::FakeHidDeviceSpec Collection(const std::string& path, const std::string& parent,
                                   const std::string& dump) {
  fake::FakeHidDeviceSpec spec;
  spec.path = path;
  spec.parent_instance_id = parent;
  const vek_test::PpDataDump d = Dump(dump);
  spec.preparsed_bytes = d.blob;
  spec.caps = d.capabilities.caps;
  spec.attributes = {0x046d, 0xc534, 0x2901};
  return spec;
}

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}
std::string Str(const EncodableValue& v) { return std::get<std::string>(v); }

const std::string kCol01 =
    "\\\\?\\hid#vid_046d&pid_c534&mi_01&col01#8&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kCol02 =
    "\\\\?\\hid#vid_046d&pid_c534&mi_01&col02#8&1&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kMi00 =
    "\\\\?\\hid#vid_046d&pid_c534&mi_00#8&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kUsbIf1 = "USB\\VID_046D&PID_C534&MI_01\\7&1";
const std::string kUsbIf0 = "USB\\VID_046D&PID_C534&MI_00\\7&2";
const std::string kUsbDevice = "USB\\VID_046D&PID_C534\\5&1";

// A Logitech receiver: keyboard on interface 0, two collections on interface
// 1 (consumer control first in enumeration, keyboard-like second).
class DescriptorReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hid_.Add(Collection(kCol02, kUsbIf1, "046D_C534_0001_000C"));
    hid_.Add(Collection(kMi00, kUsbIf0, "046D_C534_0006_0001"));
    hid_.Add(Collection(kCol01, kUsbIf1, "046D_C534_0002_0001"));
    tree_ = fake::FakeDeviceTree(
        {{kUsbIf0, kUsbDevice}, {kUsbIf1, kUsbDevice}, {kUsbDevice, "USB\\ROOT_HUB30\\4&1"}});
    hubs_.driver_keys[kUsbDevice] = "{36fc9e60-c465-11cf-8056-444553540000}\\0042";
    FakeHubState& hub = hubs_.AddHub(u"hub");
    FakeUsbDevice receiver;
    receiver.device_descriptor = FromHex("12010002000000086d0434c5012901020001");
    receiver.driver_key = "{36fc9e60-c465-11cf-8056-444553540000}\\0042";
    receiver.Set(1, 0, 0, 0x80, receiver.device_descriptor);
    // Interface 0 declares 59 bytes, interface 1 declares 148.
    receiver.Set(2, 0, 0, 0x80,
                 FromHex("09023b00020104a0320904000001030101000921110100012259000705810308000a"
                         "0904010001030102000921110100012294000705820314000a"));
    receiver.Set(3, 0, 0, 0x80, {4, 3, 0x09, 0x04});
    receiver.Set(3, 1, 0x0409, 0x80, StringDescriptor("Logitech"));
    receiver.Set(3, 2, 0x0409, 0x80, StringDescriptor("USB Receiver"));
    receiver.Set(3, 4, 0x0409, 0x80, StringDescriptor("RQR12.11"));
    hub.ports[3] = receiver;
  }

  EncodableValue Read(const std::string& path) {
    EncodableValue report;
    std::string message;
    EXPECT_TRUE(ReadHidDescriptors(hid_, tree_, hubs_, requests_, path, &report, &message))
        << message;
    EXPECT_EQ(hubs_.OpenHandles(), 0);
    return report;
  }

  fake::FakeHidDeviceApi hid_;
  fake::FakeDeviceTree tree_;
  FakeUsbHubApi hubs_;
  FakeRequests requests_;
};

TEST_F(DescriptorReportTest, TwoCollectionKeyboardWhoseHubRefusesTheReportDescriptor) {
  const EncodableValue report = Read(kCol02);
  std::vector<uint8_t> expected = Expected("046D_C534_0002_0001");  // &col01 first
  const std::vector<uint8_t> second = Expected("046D_C534_0001_000C");
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(std::get<std::vector<uint8_t>>(At(report, "reportDescriptor")), expected);
  EXPECT_EQ(Str(At(report, "reportDescriptorSource")), "reconstructed");
  EXPECT_EQ(Str(At(report, "reportDescriptorAlgorithm")), "hidp-preparsed");
  EXPECT_EQ(At(report, "reconstructedCollectionCount").LongValue(), 2);
  EXPECT_EQ(At(report, "reportDescriptorDeclaredLength").LongValue(), 0x94);
  EXPECT_EQ(
      Str(At(report, "usbError")),
      "原始报告描述符无法直通读取（USB GET_DESCRIPTOR(0x22) 请求失败（接口 1、0，0x81 Interface 与 "
      "0x80 Device 收件人均失败，GetLastError=31）），已按同一 USB 接口合并 2 个 HID 集合从 HidP "
      "预解析数据重建，重建 " +
          std::to_string(expected.size()) +
          " 字节 / 声明 148 字节（非逐字节还原：Windows 用户态拿不到原始描述符）");
  EXPECT_EQ(Str(At(report, "usbSpeed")), "high");
  EXPECT_EQ(At(report, "usbAddress").LongValue(), 7);
  EXPECT_EQ(At(At(report, "usbDevice"), "idProduct").LongValue(), 0xc534);
  EXPECT_EQ(std::get<EncodableList>(At(report, "usbConfigurations")).size(), 1u);
  EXPECT_EQ(std::get<EncodableList>(At(report, "collections")).size(), 1u);
  // The raw read was tried once: Wine-like error 50 ends it.
  EXPECT_EQ(requests_.sizes, (std::vector<size_t>{4096}));
}

TEST_F(DescriptorReportTest, StringsByIndexThenHidThenIndexedWithoutRepeats) {
  fake::FakeHidDeviceApi hid;
  fake::FakeHidDeviceSpec spec = Collection(kMi00, kUsbIf0, "046D_C534_0006_0001");
  spec.strings[HidStringKind::kManufacturer] = u"Logitech";       // same as USB string 1
  spec.strings[HidStringKind::kProduct] = u"USB Receiver (HID)";  // differs under index 2
  spec.strings[HidStringKind::kSerialNumber] = u"0000-SERIAL";    // device has no serial index
  hid.Add(spec);
  hid_ = std::move(hid);
  requests_.indexed[1] = u"Logitech";
  requests_.indexed[4] = u"Vendor extra";
  const EncodableValue report = Read(kMi00);
  std::vector<std::tuple<int64_t, std::string, std::string>> strings;
  for (const auto& e : std::get<EncodableList>(At(report, "strings"))) {
    strings.emplace_back(At(e, "index").LongValue(), Str(At(e, "kind")), Str(At(e, "value")));
  }
  const std::vector<std::tuple<int64_t, std::string, std::string>> expected{
      {1, "manufacturer", "Logitech"},  {2, "product", "USB Receiver"},
      {4, "configuration", "RQR12.11"}, {0, "product", "USB Receiver (HID)"},
      {0, "serial", "0000-SERIAL"},     {4, "index", "Vendor extra"},
  };
  EXPECT_EQ(strings, expected);
}

TEST_F(DescriptorReportTest, BluetoothCollectionRebuiltFromItsOwnCollections) {
  fake::FakeHidDeviceApi hid;
  const std::string bt =
      "\\\\?\\hid#{00001124-0000-1000-8000-00805f9b34fb}_vid&0002046d_pid&b010&col02#9&1&0&0001#{"
      "4d1e55b2-f16f-11cf-88cb-001111000030}";
  hid.Add(Collection(bt,
                     "BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002046d_PID&b010\\8&1",
                     "046D_B010_0002_0001"));
  hid_ = std::move(hid);
  const EncodableValue report = Read(bt);
  EXPECT_EQ(Str(At(report, "usbError")), "该设备不在 USB 总线上（蓝牙 / 虚拟 / 内置 HID）");
  EXPECT_TRUE(At(report, "usbDevice").IsNull());
  EXPECT_EQ(Str(At(report, "usbSpeed")), "");
  EXPECT_EQ(At(report, "usbAddress").LongValue(), 0);
  EXPECT_EQ(Str(At(report, "reportDescriptorSource")), "reconstructed");
  EXPECT_EQ(std::get<std::vector<uint8_t>>(At(report, "reportDescriptor")),
            Expected("046D_B010_0002_0001"));
  EXPECT_EQ(At(report, "reportDescriptorDeclaredLength").LongValue(), 0);
}

TEST_F(DescriptorReportTest, RawDescriptorFromTheHidStackWins) {
  requests_.raw.assign(5000, 0x05);  // needs the second, 8192-byte buffer
  const EncodableValue report = Read(kCol01);
  EXPECT_EQ(requests_.sizes, (std::vector<size_t>{4096, 8192}));
  EXPECT_EQ(std::get<std::vector<uint8_t>>(At(report, "reportDescriptor")).size(), 5000u);
  EXPECT_EQ(Str(At(report, "reportDescriptorSource")), "device");
  EXPECT_EQ(Str(At(report, "reportDescriptorAlgorithm")), "device");
  EXPECT_EQ(At(report, "reconstructedCollectionCount").LongValue(), 0);
  EXPECT_TRUE(At(report, "usbError").IsNull());
}

TEST_F(DescriptorReportTest, RawReadGivesUpAfterFourCalls) {
  requests_.raw.assign(40000, 0x05);
  FakeRequests& r = requests_;
  auto device = OpenHidDeviceForQuery(hid_, kCol01);
  EXPECT_TRUE(ReadRawReportDescriptor(r, *device).empty());
  EXPECT_EQ(r.sizes, (std::vector<size_t>{4096, 8192, 16384, 32768}));
}

TEST_F(DescriptorReportTest, EmptyAndUnopenablePaths) {
  EncodableValue report;
  std::string message;
  EXPECT_FALSE(ReadHidDescriptors(hid_, tree_, hubs_, requests_, "", &report, &message));
  EXPECT_EQ(message, "HID 设备路径为空");
  EXPECT_FALSE(
      ReadHidDescriptors(hid_, tree_, hubs_, requests_, "\\\\?\\hid#gone", &report, &message));
  EXPECT_EQ(message, "打开 HID 设备失败（Win32 错误码 2）");
}

TEST_F(DescriptorReportTest, SiblingsOfOneInterfaceInCollectionOrder) {
  EXPECT_EQ(FindSiblingCollections(hid_, kCol02), (std::vector<std::string>{kCol01, kCol02}));
  EXPECT_EQ(FindSiblingCollections(hid_, kMi00), (std::vector<std::string>{kMi00}));
  EXPECT_EQ(FindSiblingCollections(hid_, "\\\\?\\hid#unknown"),
            (std::vector<std::string>{"\\\\?\\hid#unknown"}));
}

}  // namespace
}  // namespace vek_native
