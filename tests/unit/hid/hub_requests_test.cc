// The USB side of a HID collection: its descriptors read through the hub
// port it hangs on, and the descriptor report built on them.
#include "hid/hub_requests.h"

#include <gtest/gtest.h>

#include "hid/descriptor_report.h"
#include "hid/hid_devices.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hid_test_data.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

using vek_test::FakeHubState;
using vek_test::FakeUsbDevice;
using vek_test::FakeUsbHubApi;
using vek_test::StringDescriptor;

constexpr uint8_t kReport = 0x22;
const char kPath0[] = R"(\\?\hid#vid_04d9&pid_1603&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf})";
const char kCol01[] = R"(\\?\HID#VID_04D9&PID_1603&MI_01&Col01#7&2&0&0000#{4d1e55b2-f16f})";
const char kCol02[] = R"(\\?\hid#vid_04d9&pid_1603&mi_01&col02#7&2&0&0001#{4d1e55b2-f16f})";
const char kTwinCol01[] = R"(\\?\hid#vid_04d9&pid_1603&mi_01&col01#7&9&0&0000#{4d1e55b2-f16f})";
const char kInterface0[] = "USB\\VID_04D9&PID_1603&MI_00\\6&1";
const char kInterface1[] = "USB\\VID_04D9&PID_1603&MI_01\\6&2";
const char kDevice[] = "USB\\VID_04D9&PID_1603\\5&1";

// A recorded device as the hub answers for it: its device descriptor and
// configuration set.
FakeUsbDevice RecordedDevice(const std::string& vendor, const std::string& product) {
  FakeUsbDevice fake;
  for (const auto& device : vek_test::SysfsDevices()) {
    if (device.at("idVendor") != vendor || device.at("idProduct") != product) continue;
    const std::vector<uint8_t> bytes = vek_test::FromHex(device.at("descriptors_hex"));
    fake.device_descriptor.assign(bytes.begin(), bytes.begin() + 18);
    fake.Set(1, 0, 0, 0x80, fake.device_descriptor);
    fake.Set(2, 0, 0, 0x80, std::vector<uint8_t>(bytes.begin() + 18, bytes.end()));
  }
  return fake;
}

// A report descriptor of `length` bytes, starting as one does.
std::vector<uint8_t> ReportDescriptor(size_t length) {
  std::vector<uint8_t> bytes{0x05, 0x01, 0x09, 0x06, 0xA1, 0x01};
  bytes.resize(length, 0x09);
  return bytes;
}

fake::FakeHidDeviceSpec Collection(const char* path, const char* parent, const char* dump) {
  fake::FakeHidDeviceSpec spec = vek_test::RecordedCollection(dump);
  spec.path = path;
  spec.parent_instance_id = parent;
  spec.attributes = {0x04d9, 0x1603, 0x0310};
  return spec;
}

// The HID stack's raw descriptor and indexed strings.
class FakeRequests : public HidDescriptorRequests {
 public:
  bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>* buffer, uint32_t* returned,
                              uint32_t* error) override {
    sizes.push_back(buffer->size());
    *error = raw.empty() ? 50 : kErrorInsufficientBuffer;  // 50: Wine's answer
    if (raw.empty() || buffer->size() < raw.size()) return false;
    std::copy(raw.begin(), raw.end(), buffer->begin());
    *returned = static_cast<uint32_t>(raw.size());
    return true;
  }
  bool GetIndexedString(HidDevice&, uint32_t index, char16_t* buffer, uint32_t bytes) override {
    if (indexed.count(index) == 0) return false;
    std::copy_n(indexed[index].begin(), std::min<size_t>(indexed[index].size(), bytes / 2), buffer);
    return true;
  }
  std::vector<uint8_t> raw;
  std::map<uint32_t, std::u16string> indexed;
  std::vector<size_t> sizes;
};

// The recorded Holtek keyboard 04d9:1603 on port 3 of a hub: a boot keyboard
// on interface 0 (declaring a 62-byte report descriptor) and a second HID
// interface 1 (101 bytes), here with two collections. The collections carry
// the recorded preparsed data of a Logitech receiver's.
class UsbSideTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hid_ = fake::FakeHidDeviceApi(
        {Collection(kCol02, kInterface1, "046D_C534_0001_000C"),
         Collection(kPath0, kInterface0, "046D_C534_0006_0001"),
         Collection(kCol01, kInterface1, "046D_C534_0002_0001"),
         // the same interface of a twin device: no sibling
         Collection(kTwinCol01, "USB\\VID_04D9&PID_1603&MI_01\\6&9", "046D_C534_0002_0001")});
    tree_ = fake::FakeDeviceTree({{kInterface0, kDevice}, {kInterface1, kDevice}});
    hubs_ = FakeUsbHubApi();
    hubs_.driver_keys[kDevice] = "{36FC9E60-C465-11CF-8056-444553540000}\\0012";
    hub_ = &hubs_.AddHub(u"hub");
    hub_->port_count = 3;  // the keyboard on the last port
    hub_->ports[3] = RecordedDevice("04d9", "1603");
    Keyboard().driver_key = "{36fc9e60-c465-11cf-8056-444553540000}\\0012";
    Keyboard().Set(3, 0, 0, 0x80, {4, 3, 0x09, 0x04});
    Keyboard().Set(3, 2, 0x0409, 0x80, StringDescriptor("USB Keyboard"));
    Keyboard().Set(kReport, 0, 0, 0x81, ReportDescriptor(62));
    Keyboard().Set(kReport, 0, 1, 0x81, ReportDescriptor(101));
    requests_ = FakeRequests();
  }

  UsbDescriptorRecord Read(const std::string& path) {
    UsbDescriptorRecord record =
        ReadUsbDescriptorsForHidPath(hid_, tree_, hubs_, path, 0x04d9, 0x1603);
    EXPECT_EQ(hubs_.OpenHandles(), 0);
    return record;
  }
  EncodableMap Report(const std::string& path) {
    EncodableValue report;
    std::string message;
    EXPECT_TRUE(ReadHidDescriptors(hid_, tree_, hubs_, requests_, path, &report, &message))
        << message;
    EXPECT_EQ(hubs_.OpenHandles(), 0);
    return std::get<EncodableMap>(report);
  }

  // The requests for one descriptor type as "index/wIndex/length" words, "I"
  // before those sent to an interface rather than the device.
  std::string Asked(uint8_t type) const {
    std::string out;
    for (const auto& r : hub_->requests) {
      if (r.type != type) continue;
      out += std::string(out.empty() ? "" : " ") + (r.bm_request == 0x81 ? "I" : "") +
             std::to_string(r.index) + "/" + std::to_string(r.w_index) + "/" +
             std::to_string(r.length);
    }
    return out;
  }

  FakeUsbDevice& Keyboard() { return hub_->ports[3]; }
  void RefuseReportDescriptors() {
    Keyboard().descriptors.erase({kReport, 0, 0, 0x81});
    Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  }
  void SetDescriptor(uint8_t type, size_t offset, uint8_t value) {
    std::vector<uint8_t> bytes = Keyboard().descriptors.at({type, 0, 0, 0x80});
    bytes.at(offset) = value;
    Keyboard().Set(type, 0, 0, 0x80, bytes);
  }

  fake::FakeHidDeviceApi hid_;
  fake::FakeDeviceTree tree_;
  FakeUsbHubApi hubs_;
  FakeHubState* hub_ = nullptr;
  FakeRequests requests_;
};

const EncodableValue& At(const EncodableMap& map, const char* key) {
  return map.at(EncodableValue(key));
}
std::string Str(const EncodableMap& map, const char* key) {
  return std::get<std::string>(At(map, key));
}
int64_t Int(const EncodableMap& map, const char* key) { return At(map, key).LongValue(); }
std::vector<uint8_t> Descriptor(const EncodableMap& report) {
  return std::get<std::vector<uint8_t>>(At(report, "reportDescriptor"));
}
// Whether the descriptor analysis found the collection's caps at odds with it.
bool CapsFindings(const EncodableMap& report) {
  const EncodableMap& analysis = std::get<EncodableMap>(At(report, "reportDescriptorAnalysis"));
  for (const auto& f : std::get<EncodableList>(At(analysis, "findings")))
    if (Str(std::get<EncodableMap>(f), "code").rfind("caps-", 0) == 0) return true;
  return false;
}

TEST_F(UsbSideTest, ReadsARealCompositeKeyboard) {
  hub_->ports[1] = RecordedDevice("04d9", "1603");  // a twin: the driver key tells them apart
  hub_->ports[2] = Keyboard();  // another product of the vendor, even under the same key
  hub_->ports[2].device_descriptor[10] ^= 1;
  const UsbDescriptorRecord record = Read(kCol01);
  EXPECT_EQ(record.usb_error + record.report_descriptor_error, "");
  EXPECT_TRUE(record.valid);
  EXPECT_EQ(record.device_descriptor_raw, Keyboard().device_descriptor);
  EXPECT_EQ(record.usb_instance_id, kDevice);
  EXPECT_EQ(std::vector<int>({record.idVendor, record.speed, record.address,
                              static_cast<int>(record.configurations.at(0).interfaces.size())}),
            std::vector<int>({0x04d9, 2, 7, 2}));
  // The configuration is read as its header, then whole; the path's own
  // interface (&MI_01, declaring 101 bytes) is asked first, all on port 3.
  EXPECT_EQ(Asked(2), "0/0/9 0/0/59");
  EXPECT_EQ(Asked(kReport), "I0/1/101");
  EXPECT_EQ(record.report_descriptor_interface, 1);
  EXPECT_EQ(record.report_descriptor, ReportDescriptor(101));
  EXPECT_EQ(record.strings, (std::map<uint8_t, std::string>{{2, "USB Keyboard"}}));
  for (const auto& request : hub_->requests) EXPECT_EQ(request.port, 3u);
}

TEST_F(UsbSideTest, ConfigurationReads) {
  const std::vector<uint8_t> whole = Keyboard().descriptors.at({2, 0, 0, 0x80});
  // A header that says it is all there is is not asked for again; a device
  // declaring no configuration still has its first read.
  SetDescriptor(1, 17, 0);
  Keyboard().Set(2, 0, 0, 0x80, {9, 2, 9, 0, 0, 1, 0, 0x80, 50});
  EXPECT_EQ(Read(kPath0).configurations.at(0).interfaces.size(), 0u);
  EXPECT_EQ(Asked(2), "0/0/9");
  // A 5-byte header is a failed request; the whole is asked for at once.
  SetUp();
  Keyboard().Set(2, 0, 0, 0x80, std::vector<uint8_t>(whole.begin(), whole.begin() + 5));
  EXPECT_EQ(Read(kPath0).usb_error, "读取 USB 配置描述符失败");
  EXPECT_EQ(Asked(2), "0/0/9 0/0/4096");
}

TEST_F(UsbSideTest, StringsInSeveralLanguages) {
  SetDescriptor(1, 16, 3);  // iSerialNumber
  SetDescriptor(2, 6, 4);   // iConfiguration, in no language
  // Four languages, German twice, and a stray odd byte; index 1 in German, 3
  // only in Japanese.
  Keyboard().Set(3, 0, 0, 0x80, {11, 3, 0x07, 0x04, 0x09, 0x04, 0x07, 0x04, 0x11, 0x04, 0x0c});
  Keyboard().Set(3, 1, 0x0407, 0x80, StringDescriptor("Hersteller"));
  Keyboard().Set(3, 1, 0x0409, 0x80, StringDescriptor("Maker"));
  Keyboard().Set(3, 3, 0x0407, 0x80, {2, 3});  // empty: the next language
  Keyboard().Set(3, 3, 0x0411, 0x80, StringDescriptor("SN-42"));
  EXPECT_EQ(Read(kPath0).strings,
            (std::map<uint8_t, std::string>{{1, "Hersteller"}, {2, "USB Keyboard"}, {3, "SN-42"}}));
  // The language list is read with 4 bytes, then 255.
  EXPECT_EQ(Asked(3),
            "0/0/4 0/0/255 1/1031/255 2/1031/255 2/1033/255 3/1031/255 3/1033/255 3/1041/255 "
            "4/1031/255 4/1033/255 4/1041/255");
}

TEST_F(UsbSideTest, ReportDescriptorAttempts) {
  // The path's own interface fails; the other interface answers.
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  UsbDescriptorRecord record = Read(kCol01);
  EXPECT_EQ(record.report_descriptor_interface, 0);
  EXPECT_EQ(record.report_descriptor, ReportDescriptor(62));
  // Nothing answers: interface 1 (declared 101, then 64 bytes) to the
  // interface, to the device with wIndex 0 and 1; then interface 0. A reply
  // whose first byte is no item, or one too short, is no descriptor (and no
  // truncated one), and leaves the last failure's error.
  SetUp();
  RefuseReportDescriptors();
  Keyboard().Set(kReport, 0, 0, 0x80, {0x03, 0x00, 0x00, 0x00});
  Keyboard().Set(kReport, 0, 1, 0x80, {0x05, 0x01});
  EXPECT_EQ(Read(kCol01).report_descriptor_error,
            "USB GET_DESCRIPTOR(0x22) 请求失败（接口 1、0，0x81 Interface 与 0x80 Device "
            "收件人均失败，GetLastError=31）");
  EXPECT_EQ(Asked(kReport), "I0/1/101 I0/1/64 0/0/101 0/0/64 0/1/101 0/1/64 I0/0/62 0/0/62 0/0/62");
  // Interface 1 fails; interface 0 declares 63 bytes and the device sends 3.
  SetUp();
  SetDescriptor(2, 25, 63);
  Keyboard().Set(kReport, 0, 0, 0x81, ReportDescriptor(3));
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  record = Read(kCol01);
  EXPECT_TRUE(record.report_descriptor.empty());
  EXPECT_EQ(record.usb_error + record.report_descriptor_error,
            "USB GET_DESCRIPTOR(0x22) 返回被截断（接口 0，3/63 字节）");

  const std::pair<uint32_t, std::vector<uint32_t>> lengths[] = {
      {0, {1024, 255, 64}},   {1, {1}},         {64, {64}},
      {65, {65, 64}},         {255, {255, 64}}, {1023, {1023, 255, 64}},
      {1024, {1024, 255, 64}}};
  for (const auto& c : lengths) EXPECT_EQ(ReportDescriptorRequestLengths(c.first), c.second);
}

TEST_F(UsbSideTest, EachStopHasItsMessage) {
  // The first stop, no parent instance, is held to its text end to end.
  enum Stop { kBluetooth, kNoPort, kReadOnly, kOneOpen, kRefused, kShort };
  const std::pair<Stop, const char*> cases[] = {
      {kBluetooth, "该设备不在 USB 总线上（蓝牙 / 虚拟 / 内置 HID）"},
      {kNoPort, "未在 USB 集线器端口上找到该设备"},
      {kReadOnly, ""},
      {kOneOpen, "无法打开 USB 集线器（可能缺少管理员权限，GetLastError=5）"},
      {kRefused,
       "系统拒绝通过 USB 集线器读取描述符（GetLastError=5）：设备描述符取自端口连接信息，"
       "配置 / 接口 / 端点 / 描述符字符串不可用"},
      {kShort, "USB 设备描述符长度异常（8 字节）"},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.first == kBluetooth) {
      hid_ = fake::FakeHidDeviceApi(
          {Collection(kPath0, "BTHENUM\\{00001124-0000}_VID&2\\9", "046D_B010_0002_0001")});
    }
    Keyboard().connected = c.first != kNoPort;
    if (c.first == kReadOnly) hub_->refused_access = {HubAccess::kReadWrite, HubAccess::kWrite};
    if (c.first == kOneOpen) hub_->opens_allowed = 1;  // the port search gets in, not the reading
    Keyboard().refuse_all = c.first == kRefused;
    Keyboard().refusal_error = c.first == kRefused ? 5 : 31;
    if (c.first == kShort) Keyboard().Set(1, 0, 0, 0x80, {18, 1, 0, 2, 0, 0, 0, 64});
    const UsbDescriptorRecord record = Read(kPath0);
    EXPECT_EQ(record.usb_error, c.second) << c.first;
    EXPECT_EQ(record.valid, c.first == kReadOnly || c.first == kRefused) << c.first;
  }
}

TEST_F(UsbSideTest, ReportOfTwoCollectionsWhoseHubRefusesTheReportDescriptor) {
  RefuseReportDescriptors();
  Keyboard().speed = 3;
  const EncodableMap report = Report(kCol02);
  // Both collections of interface 1 are rebuilt by hidapi, &col01 first.
  const std::vector<uint8_t> expected =
      vek_test::HidapiRebuild({"046D_C534_0002_0001", "046D_C534_0001_000C"});
  EXPECT_EQ(Descriptor(report), expected);
  EXPECT_EQ(Str(report, "reportDescriptorSource") + " " + Str(report, "reportDescriptorAlgorithm") +
                " " + Str(report, "usbSpeed"),
            "reconstructed hidp-preparsed super");
  EXPECT_EQ(std::vector<int64_t>({Int(report, "reconstructedCollectionCount"),
                                  Int(report, "reportDescriptorDeclaredLength"),
                                  Int(report, "usbAddress")}),
            std::vector<int64_t>({2, 101, 7}));
  EXPECT_EQ(Str(report, "usbError"),
            "原始报告描述符无法直通读取（USB GET_DESCRIPTOR(0x22) 请求失败（接口 1、0，0x81 "
            "Interface 与 0x80 Device 收件人均失败，GetLastError=31）），已按同一 USB 接口合并 2 "
            "个 HID 集合从 HidP 预解析数据重建，重建 " +
                std::to_string(expected.size()) +
                " 字节 / 声明 101 字节（非逐字节还原：Windows 用户态拿不到原始描述符）");
  // One raw read: Wine's error 50 ends it.
  EXPECT_EQ(requests_.sizes, (std::vector<size_t>{4096}));
  // A collection without caps of its own is not rebuilt from its siblings'.
  fake::FakeHidDeviceSpec bare = Collection(kCol01, kInterface1, "046D_C534_0002_0001");
  bare.has_preparsed_data = false;
  hid_ = fake::FakeHidDeviceApi({bare, Collection(kCol02, kInterface1, "046D_C534_0001_000C")});
  EXPECT_EQ(Descriptor(Report(kCol01)), std::vector<uint8_t>());
}

TEST_F(UsbSideTest, ReportStringsByIndexThenHidThenIndexedWithoutRepeats) {
  SetDescriptor(1, 16, 3);  // iSerialNumber, unreadable
  SetDescriptor(2, 6, 4);   // iConfiguration
  SetDescriptor(2, 17, 5);  // iInterface of interface 0
  Keyboard().Set(3, 5, 0x0409, 0x80, StringDescriptor("Keys"));
  Keyboard().Set(3, 0, 0, 0x80, {4, 3, 0, 0});  // language 0: U.S. English is asked
  Keyboard().Set(3, 1, 0x0409, 0x80, StringDescriptor("Holtek"));
  Keyboard().Set(3, 4, 0x0409, 0x80, StringDescriptor("RQR12.11"));
  fake::FakeHidDeviceSpec spec = Collection(kPath0, kInterface0, "046D_C534_0006_0001");
  spec.strings = {{HidStringKind::kManufacturer, u"Holtek"},
                  {HidStringKind::kProduct, u"USB Keyboard (HID)"},
                  {HidStringKind::kSerialNumber, u"0000-SERIAL"}};
  hid_ = fake::FakeHidDeviceApi({spec});
  // Indexed strings 1 to 9 are asked for.
  requests_.indexed = {{1, u"Vendor first"}, {4, u"Holtek"}, {9, u"Vendor last"}, {10, u"?"}};
  std::string strings;
  const EncodableMap report = Report(kPath0);
  for (const auto& e : std::get<EncodableList>(At(report, "strings"))) {
    const auto& entry = std::get<EncodableMap>(e);
    strings += std::to_string(Int(entry, "index")) + " " + Str(entry, "kind") + " " +
               Str(entry, "value") + "|";
  }
  EXPECT_EQ(strings,
            "1 manufacturer Holtek|2 product USB Keyboard|4 configuration RQR12.11|"
            "5 interface Keys|0 product USB Keyboard (HID)|3 serial 0000-SERIAL|"
            "1 index Vendor first|9 index Vendor last|");
}

// A collection that opens only for read/write leaves its siblings (opened for
// attributes or reading) closed: its own caps are synthesised.
TEST_F(UsbSideTest, ReportFallsBackToTheCollectionsOwnCaps) {
  RefuseReportDescriptors();
  fake::FakeHidDeviceSpec spec = Collection(kPath0, kInterface0, "046D_C534_0006_0001");
  spec.opens = {HidAccess::kReadWrite};
  spec.caps.usage = 0x06;
  hid_ = fake::FakeHidDeviceApi({spec});
  const EncodableMap report = Report(kPath0);
  CapabilitySet own;
  own.caps = spec.caps;
  EXPECT_EQ(Descriptor(report), SynthesizeDescriptor(own));
  EXPECT_EQ(Str(report, "reportDescriptorAlgorithm"), "caps-only");
  EXPECT_EQ(Int(report, "reconstructedCollectionCount"), 1);
  EXPECT_NE(Str(report, "usbError").find("已按同一 USB 接口合并 1 个 HID 集合按控制 caps 合成"),
            std::string::npos);
}

TEST_F(UsbSideTest, ReportPathsRawReadsAndSiblings) {
  // The HID stack's raw descriptor wins, its buffer doubled on demand.
  requests_.raw.assign(40000, 0x05);
  const EncodableMap report = Report(kCol01);
  EXPECT_EQ(requests_.sizes, (std::vector<size_t>{4096, 8192, 16384, 32768, 65536}));
  EXPECT_EQ(Descriptor(report).size(), 40000u);
  EXPECT_EQ(Str(report, "reportDescriptorSource") + " " + Str(report, "reportDescriptorAlgorithm"),
            "device device");
  EXPECT_EQ(Int(report, "reconstructedCollectionCount"), 0);

  // Bound for the channel, with the descriptor analysis methods.
  BridgeOperations ops;
  BindHidDescriptorOperations(ops, hid_, tree_, hubs_, requests_);
  EncodableValue value;
  std::string message;
  EXPECT_TRUE(ops.decode_hid_report && !ops.read_hid_descriptors("", &value, &message));
  EXPECT_EQ(message, "HID 设备路径为空");
  // Without caps the HID stack's descriptor, then the hub's, still count.
  fake::FakeHidDeviceSpec closed = Collection(kPath0, kInterface0, "046D_C534_0006_0001");
  closed.has_preparsed_data = false;
  hid_ = fake::FakeHidDeviceApi({closed});
  EXPECT_EQ(Descriptor(Report(kPath0)).size(), 40000u);
  requests_.raw.clear();
  EXPECT_EQ(Descriptor(Report(kPath0)), ReportDescriptor(62));
  // A collection that opens in no mode: the error of the last, attribute-only
  // (and not overlapped) attempt.
  closed.opens.clear();
  hid_ = fake::FakeHidDeviceApi({closed});
  EXPECT_FALSE(ReadHidDescriptors(hid_, tree_, hubs_, requests_, kPath0, &value, &message));
  EXPECT_EQ(message, "打开 HID 设备失败（Win32 错误码 5）");
  EXPECT_FALSE(hid_.State(kPath0).open_attempts.back().second);
  // The caps are held against the hub's descriptor of the path's own interface only.
  SetUp();
  Keyboard().descriptors.erase({kReport, 0, 1, 0x81});
  EXPECT_TRUE(CapsFindings(Report(kPath0)));
  EXPECT_FALSE(CapsFindings(Report(kCol01)));
}

}  // namespace
}  // namespace vek_native
