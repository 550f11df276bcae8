// The HID layer against Wine's HID stack, which shows two virtual devices: a
// mouse (vid_845e&pid_0001) and a keyboard (pid_0002), with real preparsed
// data ("HidP KDR" layout) and caps. Wine's overlapped reads never complete
// (no reports arrive), so the data path is covered natively; the listing and
// the descriptor report through the program are covered by e2e_vek_tool.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hid_devices.h"
#include "hid/hid_input.h"
#include "hid/reconstruct.h"
#include "unit/hid/descriptor_synthesis_report_parser.h"

namespace vek_native {
namespace {

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

std::vector<HidDeviceRecord> WineDevices() {
  std::vector<HidDeviceRecord> records;
  std::vector<HidDeviceRecord> wine;
  std::string message;
  EXPECT_TRUE(ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message))
      << message;
  for (const HidDeviceRecord& record : records) {
    if (record.vendor_id == 0x845e) wine.push_back(record);
  }
  return wine;
}

TEST(HidWinTest, ReaderOpensOnceAndClosingCancelsTheReadAndEndsItsThread) {
  const auto devices = WineDevices();
  if (devices.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  int events = 0;
  HidInputReaders readers(WindowsHidDeviceApi(), [&](EncodableMap&&) { ++events; });
  const int threads_before = ThreadsOfThisProcess();
  std::string message;
  ASSERT_TRUE(readers.Open(devices[0].path, &message)) << message;
  ASSERT_TRUE(readers.Open(devices[0].path, &message)) << message;  // the same reader
  EXPECT_EQ(readers.ReaderCount(), 1u);
  EXPECT_EQ(ThreadsOfThisProcess(), threads_before + 1);
  Sleep(50);  // the read is pending: closing must cancel it to join the thread
  readers.Close(devices[0].path);
  EXPECT_EQ(readers.ReaderCount(), 0u);
  // The thread signals its end just before it exits.
  for (int i = 0; i < 500 && ThreadsOfThisProcess() != threads_before; ++i) Sleep(10);
  EXPECT_EQ(ThreadsOfThisProcess(), threads_before);
  EXPECT_EQ(events, 0);

  EXPECT_FALSE(readers.Open(R"(\\?\hid#vid_0000&pid_0000#none#{x})", &message));
  EXPECT_EQ(message.rfind("打开 HID 输入设备失败（Win32 错误码 ", 0), 0u) << message;
}

// Each device's descriptor rebuilt from its preparsed data, read back by an
// independent parser, gives the report lengths the HID stack declares, and
// the caps gathered are the ones it declares.
TEST(HidWinTest, DescriptorsRebuiltFromPreparsedDataAndFromCaps) {
  const auto devices = WineDevices();
  if (devices.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  for (const HidDeviceRecord& record : devices) {
    SCOPED_TRACE(record.path);
    auto device = OpenHidDeviceForDescriptors(WindowsHidDeviceApi(), record.path);
    ASSERT_NE(device, nullptr);
    HidCaps caps;
    ASSERT_TRUE(ReadHidCaps(*device, &caps));
    const RebuildResult rebuilt = ReconstructFromPreparsed({device.get()});
    EXPECT_EQ(rebuilt.collections, 1);
    auto parsed = vek_test::ParseReportDescriptor(rebuilt.bytes);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.top_level_collections, 1);
    EXPECT_EQ(parsed.ByteLength(0), caps.input_report_byte_length);
    EXPECT_EQ(parsed.ByteLength(1), caps.output_report_byte_length);
    EXPECT_EQ(parsed.ByteLength(2), caps.feature_report_byte_length);

    CapabilitySet set;
    ASSERT_TRUE(GatherCaps(device.get(), &set));
    EXPECT_EQ(set.buttons[kHidInput].size(), caps.number_input_button_caps);
    EXPECT_EQ(set.values[kHidInput].size(), caps.number_input_value_caps);
    // The caps synthesis alone: its reports as long as Wine's HID stack says.
    parsed = vek_test::ParseReportDescriptor(SynthesizeFromCapsSingle(device.get()));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.top_level_collections, 1);
    EXPECT_EQ(parsed.ByteLength(0), caps.input_report_byte_length);
  }
}

}  // namespace
}  // namespace vek_native
