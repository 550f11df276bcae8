#include "hid/hub_requests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"
#include "unit/hid/usb_descriptors_test_json.h"

namespace vek_native {
namespace {

using vek_test::FakeHubState;
using vek_test::FakeUsbDevice;
using vek_test::FakeUsbHubApi;
using vek_test::FromHex;
using vek_test::StringDescriptor;

constexpr uint8_t kReport = 0x22;

// A real device from the recordings: its device descriptor and configuration,
// as the hub answers them.
FakeUsbDevice RecordedDevice(const std::string& vendor, const std::string& product) {
  const vek_test::Json root = vek_test::LoadJson(
      vek_test::SharedTestData("usb_descriptors/sysfs_descriptors_from_umockdev.json"));
  for (const vek_test::Json& device : root["devices"].items) {
    if (device["sysfs_decoded"]["idVendor"].text != vendor ||
        device["sysfs_decoded"]["idProduct"].text != product) {
      continue;
    }
    const std::vector<uint8_t> bytes = FromHex(device["descriptors_hex"].text);
    FakeUsbDevice fake;
    fake.device_descriptor.assign(bytes.begin(), bytes.begin() + 18);
    fake.Set(1, 0, 0, 0x80, fake.device_descriptor);
    fake.Set(2, 0, 0, 0x80, std::vector<uint8_t>(bytes.begin() + 18, bytes.end()));
    return fake;
  }
  ADD_FAILURE() << "no recorded device " << vendor << ":" << product;
  return {};
}

// The Holtek keyboard 04d9:1603: boot keyboard on interface 0 (62-byte report
// descriptor) and a second HID interface 1 (101 bytes).
FakeUsbDevice HoltekKeyboard() { return RecordedDevice("04d9", "1603"); }

std::vector<uint8_t> ReportDescriptorOf(size_t length) {
  std::vector<uint8_t> bytes{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01};
  while (bytes.size() + 1 < length) bytes.insert(bytes.end(), {0x09, 0x00});
  if (bytes.size() < length) bytes.push_back(0xC0);
  bytes.resize(length);
  return bytes;
}

const std::string kPath0 =
    "\\\\?\\hid#vid_04d9&pid_1603&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kPath1 =
    "\\\\?\\HID#VID_04D9&PID_1603&MI_01&Col01#7&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

class ReadUsbDescriptorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api_ = FakeUsbHubApi();
    hid_ = fake::FakeHidDeviceApi();
    fake::FakeHidDeviceSpec first;
    first.path = kPath0;
    first.parent_instance_id = "USB\\VID_04D9&PID_1603&MI_00\\6&1";
    fake::FakeHidDeviceSpec second;
    second.path = kPath1;
    second.parent_instance_id = "USB\\VID_04D9&PID_1603&MI_01\\6&2";
    hid_.Add(first);
    hid_.Add(second);
    tree_ =
        fake::FakeDeviceTree({{"USB\\VID_04D9&PID_1603&MI_00\\6&1", "USB\\VID_04D9&PID_1603\\5&1"},
                              {"USB\\VID_04D9&PID_1603&MI_01\\6&2", "USB\\VID_04D9&PID_1603\\5&1"},
                              {"USB\\VID_04D9&PID_1603\\5&1", "USB\\ROOT_HUB30\\4&1"}});
    api_.driver_keys["USB\\VID_04D9&PID_1603\\5&1"] =
        "{36FC9E60-C465-11CF-8056-444553540000}\\0012";
    hub_ = &api_.AddHub(u"\\\\?\\usb#root_hub30#4&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    FakeUsbDevice keyboard = HoltekKeyboard();
    keyboard.driver_key = "{36fc9e60-c465-11cf-8056-444553540000}\\0012";
    keyboard.Set(3, 0, 0, 0x80, {4, 3, 0x09, 0x04});
    keyboard.Set(3, 2, 0x0409, 0x80, StringDescriptor("USB Keyboard"));
    keyboard.Set(kReport, 0, 0, 0x81, ReportDescriptorOf(62));
    keyboard.Set(kReport, 0, 1, 0x81, ReportDescriptorOf(101));
    hub_->ports[3] = keyboard;
  }

  UsbDescriptorRecord Read(const std::string& path) {
    UsbDescriptorRecord record =
        ReadUsbDescriptorsForHidPath(hid_, tree_, api_, path, 0x04d9, 0x1603);
    EXPECT_EQ(api_.OpenHandles(), 0);
    return record;
  }

  FakeUsbDevice& Keyboard() { return hub_->ports[3]; }

  fake::FakeHidDeviceApi hid_;
  fake::FakeDeviceTree tree_;
  FakeUsbHubApi api_;
  FakeHubState* hub_ = nullptr;
};

TEST_F(ReadUsbDescriptorsTest, ReadsARealCompositeKeyboardOnPortThree) {
  const UsbDescriptorRecord record = Read(kPath1);
  EXPECT_EQ(record.usbError, "");
  EXPECT_EQ(record.reportDescriptorError, "");
  EXPECT_TRUE(record.valid);
  EXPECT_EQ(record.idVendor, 0x04d9);
  EXPECT_EQ(record.usbInstanceId, "USB\\VID_04D9&PID_1603\\5&1");
  EXPECT_EQ(record.speed, 2);
  EXPECT_EQ(record.address, 7);
  ASSERT_EQ(record.configurations.size(), 1u);
  EXPECT_EQ(record.configurations[0].interfaces.size(), 2u);
  EXPECT_EQ(DeclaredReportDescriptorLength(record.configurations, 0), 62);
  EXPECT_EQ(DeclaredReportDescriptorLength(record.configurations, 1), 101);
  // The path's own interface (&MI_01) is asked first.
  EXPECT_EQ(record.reportDescriptorInterface, 1);
  EXPECT_EQ(record.reportDescriptor, ReportDescriptorOf(101));
  EXPECT_EQ(record.strings.size(), 1u);
  EXPECT_EQ(record.strings.at(2), "USB Keyboard");
  for (const auto& request : hub_->requests) EXPECT_EQ(request.port, 3u);
}

TEST_F(ReadUsbDescriptorsTest, ConfigurationReadInTwoSteps) {
  Read(kPath0);
  std::vector<uint16_t> lengths;
  for (const auto& r : hub_->requests) {
    if (r.type == 2) lengths.push_back(r.length);
  }
  EXPECT_EQ(lengths, (std::vector<uint16_t>{9, 59}));
}

TEST_F(ReadUsbDescriptorsTest, ConfigurationHeaderOfNineBytesIsUsedAsRead) {
  Keyboard().Set(2, 0, 0, 0x80, {9, 2, 9, 0, 0, 1, 0, 0x80, 50});
  const UsbDescriptorRecord record = Read(kPath0);
  int config_requests = 0;
  for (const auto& r : hub_->requests) config_requests += r.type == 2;
  EXPECT_EQ(config_requests, 1);
  ASSERT_EQ(record.configurations.size(), 1u);
  EXPECT_TRUE(record.configurations[0].interfaces.empty());
}

TEST_F(ReadUsbDescriptorsTest, ConfigurationAskedWhollyWhenTheHeaderFails) {
  // Only a 4096-byte request gets an answer.
  const std::vector<uint8_t> config = Keyboard().descriptors.at({2, 0, 0, 0x80});
  Keyboard().descriptors.erase({2, 0, 0, 0x80});
  // A header reply of 5 bytes counts as a failed first request.
  Keyboard().Set(2, 0, 0, 0x80, std::vector<uint8_t>(config.begin(), config.begin() + 5));
  UsbDescriptorRecord record = Read(kPath0);
  std::vector<uint16_t> lengths;
  for (const auto& r : hub_->requests) {
    if (r.type == 2) lengths.push_back(r.length);
  }
  EXPECT_EQ(lengths, (std::vector<uint16_t>{9, 4096}));
  EXPECT_EQ(record.usbError, "读取 USB 配置描述符失败");
}

TEST_F(ReadUsbDescriptorsTest, DeviceWithoutConfigurationCountIsAskedForIndexZero) {
  std::vector<uint8_t> device = Keyboard().device_descriptor;
  device[17] = 0;
  Keyboard().device_descriptor = device;
  Keyboard().Set(1, 0, 0, 0x80, device);
  const UsbDescriptorRecord record = Read(kPath0);
  EXPECT_EQ(record.bNumConfigurations, 0);
  EXPECT_EQ(record.configurations.size(), 1u);
}

TEST_F(ReadUsbDescriptorsTest, ConfigurationCountCappedAtSixteen) {
  std::vector<uint8_t> device = Keyboard().device_descriptor;
  device[17] = 200;
  Keyboard().Set(1, 0, 0, 0x80, device);
  Read(kPath0);
  std::set<uint8_t> indices;
  for (const auto& r : hub_->requests) {
    if (r.type == 2) indices.insert(r.index);
  }
  EXPECT_EQ(indices.size(), 16u);
  EXPECT_EQ(*indices.rbegin(), 15);
}

TEST_F(ReadUsbDescriptorsTest, StringsInSeveralLanguages) {
  std::vector<uint8_t> device = Keyboard().device_descriptor;
  device[14] = 1;  // iManufacturer
  device[15] = 2;  // iProduct
  device[16] = 3;  // iSerialNumber
  Keyboard().Set(1, 0, 0, 0x80, device);
  // Four languages; the device speaks German for 1, only Japanese for 3.
  Keyboard().Set(3, 0, 0, 0x80, {10, 3, 0x07, 0x04, 0x09, 0x04, 0x07, 0x04, 0x11, 0x04});
  Keyboard().Set(3, 1, 0x0407, 0x80, StringDescriptor("Hersteller"));
  Keyboard().Set(3, 1, 0x0409, 0x80, StringDescriptor("Maker"));
  Keyboard().Set(3, 3, 0x0407, 0x80, {2, 3});  // empty: next language
  Keyboard().Set(3, 3, 0x0411, 0x80, StringDescriptor("SN-42"));
  const UsbDescriptorRecord record = Read(kPath0);
  EXPECT_EQ(record.strings.at(1), "Hersteller");
  EXPECT_EQ(record.strings.at(2), "USB Keyboard");
  EXPECT_EQ(record.strings.at(3), "SN-42");
  // The language list is read with 4 bytes, then 255; each index once.
  std::vector<uint16_t> language_reads;
  int index3_reads = 0;
  for (const auto& r : hub_->requests) {
    if (r.type == 3 && r.index == 0) language_reads.push_back(r.length);
    if (r.type == 3 && r.index == 3) ++index3_reads;
  }
  EXPECT_EQ(language_reads, (std::vector<uint16_t>{4, 255}));
  EXPECT_EQ(index3_reads, 3);  // 0x0407, 0x0409, 0x0411 (no repeat of 0x0407)
}

TEST_F(ReadUsbDescriptorsTest, DeviceWithoutLanguageIdsIsAskedInEnglish) {
  Keyboard().descriptors.erase({3, 0, 0, 0x80});
  const UsbDescriptorRecord record = Read(kPath0);
  EXPECT_EQ(record.strings.at(2), "USB Keyboard");
  for (const auto& r : hub_->requests) {
    if (r.type == 3 && r.index != 0) {
      EXPECT_EQ(r.w_index, 0x0409);
    }
  }
}

TEST_F(ReadUsbDescriptorsTest, TruncatedHidClassReply) {
  // A single HID interface declaring 63 bytes; the device sends 40.
  Keyboard().Set(2, 0, 0, 0x80, [] {
    std::vector<uint8_t> c =
        FromHex("09022200010100a0320904000001030101000921110100012240000705810308000a");
    c[25] = 63;  // wDescriptorLength
    return c;
  }());
  Keyboard().descriptors.erase({kReport, 0, 0, 0x81});
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  Keyboard().Set(kReport, 0, 0, 0x81, ReportDescriptorOf(40));
  const UsbDescriptorRecord record = Read(kPath0);
  EXPECT_TRUE(record.reportDescriptor.empty());
  EXPECT_EQ(record.reportDescriptorError,
            "USB GET_DESCRIPTOR(0x22) 返回被截断（接口 0，40/63 字节）");
  EXPECT_EQ(record.usbError, "");
}

TEST_F(ReadUsbDescriptorsTest, AnotherInterfacesDescriptorWhenThePathsOwnFails) {
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  const UsbDescriptorRecord record = Read(kPath1);
  EXPECT_EQ(record.reportDescriptorInterface, 0);
  EXPECT_EQ(record.reportDescriptor, ReportDescriptorOf(62));
  EXPECT_EQ(record.reportDescriptorError, "");
}

TEST_F(ReadUsbDescriptorsTest, ReportDescriptorRequestOrderAndFailureMessage) {
  Keyboard().descriptors.erase({kReport, 0, 0, 0x81});
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  Keyboard().refusal_error = 31;
  const UsbDescriptorRecord record = Read(kPath1);
  struct Attempt {
    uint8_t bm_request;
    uint16_t w_index;
    uint16_t length;
    bool operator==(const Attempt& o) const {
      return bm_request == o.bm_request && w_index == o.w_index && length == o.length;
    }
  };
  std::vector<Attempt> attempts;
  for (const auto& r : hub_->requests) {
    if (r.type == kReport) attempts.push_back({r.bm_request, r.w_index, r.length});
  }
  // Interface 1 (declared 101: 101 then 64), then interface 0 (declared 62).
  const std::vector<Attempt> expected{{0x81, 1, 101}, {0x81, 1, 64},  {0x80, 0, 101},
                                      {0x80, 0, 64},  {0x80, 1, 101}, {0x80, 1, 64},
                                      {0x81, 0, 62},  {0x80, 0, 62},  {0x80, 0, 62}};
  EXPECT_TRUE(attempts == expected);
  EXPECT_EQ(record.reportDescriptorError,
            "USB GET_DESCRIPTOR(0x22) 请求失败（接口 1、0，0x81 Interface 与 0x80 Device "
            "收件人均失败，GetLastError=31）");
}

TEST(ReportDescriptorRequestLengths, FromDeclaredLength) {
  EXPECT_EQ(ReportDescriptorRequestLengths(0), (std::vector<uint32_t>{1024, 255, 64}));
  EXPECT_EQ(ReportDescriptorRequestLengths(63), (std::vector<uint32_t>{63}));
  EXPECT_EQ(ReportDescriptorRequestLengths(64), (std::vector<uint32_t>{64}));
  EXPECT_EQ(ReportDescriptorRequestLengths(65), (std::vector<uint32_t>{65, 64}));
  EXPECT_EQ(ReportDescriptorRequestLengths(300), (std::vector<uint32_t>{300, 255, 64}));
  EXPECT_EQ(ReportDescriptorRequestLengths(1023), (std::vector<uint32_t>{1023, 255, 64}));
  EXPECT_EQ(ReportDescriptorRequestLengths(5000), (std::vector<uint32_t>{1024, 255, 64}));
}

TEST_F(ReadUsbDescriptorsTest, ReplyThatIsNoReportDescriptorIsRejected) {
  // A reply starting with 0x03 (prefix bits cleared to 0) is not an item.
  Keyboard().Set(kReport, 0, 1, 0x81, {0x03, 0x00, 0x00, 0x00});
  Keyboard().Set(kReport, 0, 1, 0x80, {0x05, 0x01});  // too short
  const UsbDescriptorRecord record = Read(kPath1);
  EXPECT_EQ(record.reportDescriptorInterface, 0);
}

struct StopCase {
  const char* name;
  void (*arrange)(fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState&);
  const char* message;
  bool valid;
};

TEST_F(ReadUsbDescriptorsTest, EachStopHasItsMessage) {
  const StopCase cases[] = {
      {"no parent",
       [](fake::FakeHidDeviceApi& h, fake::FakeDeviceTree&, FakeHubState&) {
         h = fake::FakeHidDeviceApi();
       },
       "无法读取父设备实例 ID（SetupDi 属性查询失败）", false},
      {"not on USB (Bluetooth)",
       [](fake::FakeHidDeviceApi& h, fake::FakeDeviceTree&, FakeHubState&) {
         h = fake::FakeHidDeviceApi();
         fake::FakeHidDeviceSpec bt;
         bt.path = kPath0;
         bt.parent_instance_id =
             "BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002046d_PID&b010\\9&1";
         h.Add(bt);
       },
       "该设备不在 USB 总线上（蓝牙 / 虚拟 / 内置 HID）", false},
      {"no port",
       [](fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState& h) {
         h.ports[3].connected = false;
       },
       "未在 USB 集线器端口上找到该设备", false},
      {"hub opened read-only",
       [](fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState& h) {
         h.refused_access = {HubAccess::kReadWrite, HubAccess::kWrite};
       },
       "", true},
      {"hub closed to the reading",
       [](fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState& h) {
         h.opens_allowed = 1;  // the port search got in, the reading does not
         h.open_error = 5;
       },
       "无法打开 USB 集线器（可能缺少管理员权限，GetLastError=5）", false},
      {"hub refuses every descriptor",
       [](fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState& h) {
         h.ports[3].refuse_all = true;
         h.ports[3].refusal_error = 5;
       },
       "系统拒绝通过 USB 集线器读取描述符（GetLastError=5）：设备描述符取自端口连接信息，配置 / "
       "接口 / "
       "端点 / 描述符字符串不可用",
       true},
      {"short device descriptor",
       [](fake::FakeHidDeviceApi&, fake::FakeDeviceTree&, FakeHubState& h) {
         h.ports[3].Set(1, 0, 0, 0x80, {18, 1, 0, 2, 0, 0, 0, 64});
       },
       "USB 设备描述符长度异常（8 字节）", false},
  };
  for (const StopCase& c : cases) {
    SetUp();
    c.arrange(hid_, tree_, *hub_);
    const UsbDescriptorRecord record = Read(kPath0);
    EXPECT_EQ(record.usbError, c.message) << c.name;
    EXPECT_EQ(record.valid, c.valid) << c.name;
  }
}

TEST_F(ReadUsbDescriptorsTest, HubThatCannotBeOpenedAtAll) {
  hub_->refused_access = {HubAccess::kReadWrite, HubAccess::kWrite, HubAccess::kRead};
  const UsbDescriptorRecord record = Read(kPath0);
  EXPECT_EQ(record.usbError, "未在 USB 集线器端口上找到该设备");
}

TEST(OpenHub, TriesReadWriteThenWriteThenRead) {
  FakeUsbHubApi api;
  FakeHubState& hub = api.AddHub(u"hub");
  hub.refused_access = {HubAccess::kReadWrite, HubAccess::kWrite};
  uint32_t error = 0;
  EXPECT_NE(OpenHub(api, u"hub", &error), nullptr);
  EXPECT_EQ(api.opens,
            (std::vector<HubAccess>{HubAccess::kReadWrite, HubAccess::kWrite, HubAccess::kRead}));
  hub.refused_access.insert(HubAccess::kRead);
  hub.open_error = 5;
  EXPECT_EQ(OpenHub(api, u"hub", &error), nullptr);
  EXPECT_EQ(error, 5u);
}

FakeUsbDevice Twin(const std::string& key) {
  FakeUsbDevice device = RecordedDevice("1050", "0120");
  device.driver_key = key;
  return device;
}

TEST(FindHubPort, TwoIdenticalDevicesOnDifferentPorts) {
  FakeUsbHubApi api;
  FakeHubState& first = api.AddHub(u"hub-a");
  FakeHubState& second = api.AddHub(u"hub-b");
  first.ports[2] = Twin("{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0003");
  first.ports[2].address = 4;
  second.ports[3] = Twin("{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\0007");
  second.ports[3].address = 9;
  second.ports[3].speed = 1;

  HubPortLocation match =
      FindHubPort(api, 0x1050, 0x0120, "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\\0007");
  ASSERT_TRUE(match.found);
  EXPECT_EQ(match.hubPath, u"hub-b");
  EXPECT_EQ(match.port, 3u);
  EXPECT_EQ(match.address, 9);
  EXPECT_EQ(match.speed, 1);
  EXPECT_EQ(match.deviceDescriptor, first.ports[2].device_descriptor);

  HubPortLocation fallback = FindHubPort(api, 0x1050, 0x0120, "{other}\\0001");
  ASSERT_TRUE(fallback.found);
  EXPECT_EQ(fallback.hubPath, u"hub-a");
  EXPECT_EQ(fallback.port, 2u);
  EXPECT_EQ(fallback.address, 4);

  EXPECT_FALSE(FindHubPort(api, 0x1050, 0x0121, "").found);
  EXPECT_EQ(api.OpenHandles(), 0);
}

TEST(FindHubPort, PortScanStopsAt127) {
  FakeUsbHubApi api;
  FakeHubState& hub = api.AddHub(u"big");
  hub.port_count = 255;
  hub.ports[128] = Twin("k");
  EXPECT_FALSE(FindHubPort(api, 0x1050, 0x0120, "k").found);
  hub.ports[127] = Twin("k");
  EXPECT_EQ(FindHubPort(api, 0x1050, 0x0120, "k").port, 127u);
}

TEST(GetDriverKeyName, ReadsTheNameAfterTheHeader) {
  FakeUsbHubApi api;
  FakeHubState& hub = api.AddHub(u"h");
  hub.ports[1] = Twin("{36fc9e60}\\0001");
  uint32_t error = 0;
  auto opened = OpenHub(api, u"h", &error);
  EXPECT_EQ(GetDriverKeyName(*opened, 1), "{36fc9e60}\\0001");
  EXPECT_EQ(GetDriverKeyName(*opened, 2), "");
}

}  // namespace
}  // namespace vek_native
