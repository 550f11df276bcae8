// A path that opens but whose handle the HID class driver does not know (no
// attributes, no preparsed data: a file, NUL, a serial port, a disk) fails
// every HID method with its message before anything is read or written.
#include <gtest/gtest.h>

#include "hid/descriptor_report.h"
#include "hid/hid_input.h"
#include "hid/hid_write.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

class NoRequests : public HidDescriptorRequests {
  bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>*, uint32_t*, uint32_t*) override {
    return false;
  }
  bool GetIndexedString(HidDevice&, uint32_t, char16_t*, uint32_t) override { return false; }
};

TEST(HidCollectionCheckTest, MethodsRefuseWhatIsNoHidCollection) {
  fake::FakeHidDeviceSpec file;
  file.path = "file";
  file.has_attributes = file.has_preparsed_data = false;
  fake::FakeHidDeviceApi api({file});
  fake::FakeDeviceTree tree;
  vek_test::FakeUsbHubApi hubs;
  NoRequests requests;
  EncodableValue report;
  std::string messages[4];
  HidInputReaders readers(api, nullptr);
  EXPECT_FALSE(readers.Open("file", &messages[0]));
  EXPECT_FALSE(WriteHidReport(api, "file", {1}, HidReportKind::kOutput, &messages[1]));
  EXPECT_FALSE(WriteHidReport(api, "file", {1}, HidReportKind::kFeature, &messages[2]));
  EXPECT_FALSE(ReadHidDescriptors(api, tree, hubs, requests, "file", &report, &messages[3]));
  for (const std::string& message : messages) {
    EXPECT_EQ(message, "该路径不是 HID 设备（HID 类驱动无法读取它的属性）");
  }
  const fake::FakeHidDeviceState& state = api.State("file");
  EXPECT_TRUE(state.read_sizes.empty() && state.sent.empty() && hubs.opens.empty());
}

}  // namespace
}  // namespace vek_native
