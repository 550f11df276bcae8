// Report-descriptor rebuilding and the hub reading against Wine's HID stack:
// its virtual mouse and keyboard hand out real preparsed data ("HidP KDR"
// layout) and caps, but no parent device and no USB hubs.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/descriptor_report.h"
#include "hid/hid_devices.h"
#include "hid/hub_api.h"
#include "hid/hub_requests.h"
#include "hid/reconstruct.h"
#include "unit/hid/descriptor_synthesis_report_parser.h"

namespace vek_native {
namespace {

struct WineCollection {
  std::string path;
  std::unique_ptr<HidDevice> device;
  HidCaps caps;
};

std::vector<WineCollection> WineCollections() {
  std::vector<WineCollection> out;
  std::vector<HidDeviceRecord> records;
  std::string message;
  if (!ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message)) return out;
  for (const HidDeviceRecord& record : records) {
    if (record.vendor_id != 0x845e) continue;
    WineCollection c;
    c.path = record.path;
    c.device = OpenHidDeviceForDescriptors(WindowsHidDeviceApi(), record.path);
    if (!c.device || !ReadHidCaps(c.device.get(), &c.caps)) continue;
    out.push_back(std::move(c));
  }
  return out;
}

TEST(ReconstructWinTest, HidapiRebuildsWinesVirtualDevices) {
  std::vector<WineCollection> collections = WineCollections();
  if (collections.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  for (WineCollection& c : collections) {
    SCOPED_TRACE(c.path);
    const RebuildResult result = ReconstructFromPreparsed({c.device.get()});
    ASSERT_EQ(result.collections, 1);
    const auto parsed = vek_test::ParseReportDescriptor(result.bytes);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.top_level_collections, 1);
    EXPECT_EQ(parsed.ByteLength(0), c.caps.input_report_byte_length);
    EXPECT_EQ(parsed.ByteLength(1), c.caps.output_report_byte_length);
    EXPECT_EQ(parsed.ByteLength(2), c.caps.feature_report_byte_length);
  }
}

TEST(ReconstructWinTest, CapsSynthesisOfWinesVirtualDevices) {
  std::vector<WineCollection> collections = WineCollections();
  if (collections.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  for (WineCollection& c : collections) {
    SCOPED_TRACE(c.path);
    CapabilitySet set;
    ASSERT_TRUE(GatherCaps(c.device.get(), &set));
    EXPECT_EQ(set.caps.usage_page, c.caps.usage_page);
    EXPECT_EQ(set.buttons[kHidInput].size(), c.caps.number_input_button_caps);
    EXPECT_EQ(set.values[kHidInput].size(), c.caps.number_input_value_caps);
    const std::vector<uint8_t> bytes = SynthesizeFromCapsSingle(c.device.get());
    const auto parsed = vek_test::ParseReportDescriptor(bytes);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.top_level_collections, 1);
  }
}

TEST(ReconstructWinTest, HubReadingStopsAtTheMissingParent) {
  std::vector<WineCollection> collections = WineCollections();
  if (collections.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  const UsbDescriptorRecord record =
      ReadUsbDescriptorsForHidPath(WindowsHidDeviceApi(), WindowsDeviceTree(), WindowsUsbHubApi(),
                                   collections[0].path, 0x845e, 1);
  // Wine has no DEVPKEY_Device_Parent for its HID devices.
  EXPECT_EQ(record.usbError, "无法读取父设备实例 ID（SetupDi 属性查询失败）");
  EXPECT_FALSE(record.valid);
  // And no USB hubs at all.
  EXPECT_TRUE(WindowsUsbHubApi().ListHubPaths().empty());
}

TEST(DescriptorReportWinTest, WinesVirtualMouseIsRebuiltFromItsPreparsedData) {
  std::vector<HidDeviceRecord> records;
  std::string message;
  ASSERT_TRUE(ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message))
      << message;
  const HidDeviceRecord* mouse = nullptr;
  for (const auto& r : records) {
    if (r.vendor_id == 0x845e && r.product_id == 0x0001) mouse = &r;
  }
  if (mouse == nullptr) GTEST_SKIP() << "this Wine shows no virtual HID mouse";
  EncodableValue report;
  ASSERT_TRUE(ReadHidDescriptors(WindowsHidDeviceApi(), WindowsDeviceTree(), WindowsUsbHubApi(),
                                 WindowsHidDescriptorRequests(), mouse->path, &report, &message))
      << message;
  const auto& map = std::get<EncodableMap>(report);
  // The raw IOCTL fails (error 50) and there is no parent: hidapi rebuilds.
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue("reportDescriptorSource"))),
            "reconstructed");
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue("reportDescriptorAlgorithm"))),
            "hidp-preparsed");
  EXPECT_EQ(std::get<std::string>(map.at(EncodableValue("usbError"))),
            "无法读取父设备实例 ID（SetupDi 属性查询失败）");
  const auto& bytes = std::get<std::vector<uint8_t>>(map.at(EncodableValue("reportDescriptor")));
  const auto parsed = vek_test::ParseReportDescriptor(bytes);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.ByteLength(0), mouse->input_report_byte_length);
  EXPECT_TRUE(map.at(EncodableValue("usbDevice")).IsNull());
}

}  // namespace
}  // namespace vek_native
