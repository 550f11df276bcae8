// Two faults of devices that misbehave. Readers whose stopped read does not
// end until the device goes away, as with a driver that never completes a
// cancelled read: Close ("closeHidInput") and CloseAll (the teardown) answer
// within a generous multiple of their 500 ms bound, and each device stays
// open until its read has ended (run under ASan and TSan as well: the late end
// touches the reader's channel). And a path that opens but whose handle the
// HID class driver does not know (a file, NUL, a serial port, a disk) fails
// every HID method with its message before anything is read or written.
#include <gtest/gtest.h>

#include <thread>

#include "hid/descriptor_report.h"
#include "hid/hid_input.h"
#include "hid/hid_write.h"
#include "support/hid/fake_hid_device_api.h"
#include "support/returns_within.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

TEST(HidInputStuckReadTest, ClosesAnswerAndDevicesStayOpenUntilTheirReadsEnd) {
  fake::FakeHidDeviceApi api({{"a"}, {"b"}});
  HidInputReaders readers(api, nullptr);
  std::string message;
  for (const char* path : {"a", "b"}) {
    api.State(path).cancel_pends = true;  // no reader runs yet
    ASSERT_TRUE(readers.Open(path, &message)) << message;
    api.WaitUntilDrained(path);  // its read is in progress
  }
  // The reads end at last when the devices go away.
  const auto release = [&] {
    api.Remove("a");
    api.Remove("b");
  };
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(5), [&] { readers.Close("a"); }, release));
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(5), [&] { readers.CloseAll(); }, release));
  const auto open = [&] { return api.OpenHandles("a") + api.OpenHandles("b"); };
  EXPECT_EQ(open(), 2);
  release();
  for (int i = 0; i < 2000 && open() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(open(), 0);
}

class NoRequests : public HidDescriptorRequests {
  bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>*, uint32_t*, uint32_t*) override {
    return false;
  }
  bool GetIndexedString(HidDevice&, uint32_t, char16_t*, uint32_t) override { return false; }
};

TEST(HidCollectionCheckTest, MethodsRefuseWhatIsNoHidCollection) {
  fake::FakeHidDeviceSpec file{"file"};
  file.has_attributes = file.has_preparsed_data = false;
  fake::FakeHidDeviceApi api({file});
  fake::FakeDeviceTree tree;
  vek_test::FakeUsbHubApi hubs;
  NoRequests requests;
  EncodableValue report;
  std::string messages[3];
  EXPECT_FALSE(HidInputReaders(api, nullptr).Open("file", &messages[0]));
  EXPECT_FALSE(WriteHidReport(api, "file", {1}, HidReportKind::kFeature, &messages[1]));
  EXPECT_FALSE(ReadHidDescriptors(api, tree, hubs, requests, "file", &report, &messages[2]));
  for (const std::string& m : messages)
    EXPECT_EQ(m, "该路径不是 HID 设备（HID 类驱动无法读取它的属性）");
  const fake::FakeHidDeviceState& state = api.State("file");
  EXPECT_TRUE(state.read_sizes.empty() && state.sent.empty() && hubs.opens.empty());
}

}  // namespace
}  // namespace vek_native
