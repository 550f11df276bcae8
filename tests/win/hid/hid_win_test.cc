// The HID layer against Wine's HID stack, which shows two virtual devices: a
// mouse (vid_845e&pid_0001) and a keyboard (pid_0002). Wine's overlapped reads
// never complete (no reports arrive), so the data path is covered natively.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "common/text.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hid_devices.h"
#include "hid/hid_input.h"
#include "hid/hid_operations.h"
#include "hid/hid_write.h"

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

std::vector<HidDeviceRecord> ListOrSkip() {
  std::vector<HidDeviceRecord> records;
  std::string message;
  EXPECT_TRUE(ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message))
      << message;
  return records;
}

const HidDeviceRecord* FindByPid(const std::vector<HidDeviceRecord>& records, uint16_t pid) {
  for (const auto& record : records) {
    if (record.vendor_id == 0x845e && record.product_id == pid) return &record;
  }
  return nullptr;
}

TEST(HidWinTest, ListsWinesVirtualMouseAndKeyboard) {
  const auto records = ListOrSkip();
  if (records.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  const HidDeviceRecord* mouse = FindByPid(records, 0x0001);
  const HidDeviceRecord* keyboard = FindByPid(records, 0x0002);
  ASSERT_NE(mouse, nullptr);
  ASSERT_NE(keyboard, nullptr);
  for (const HidDeviceRecord* record : {mouse, keyboard}) {
    EXPECT_NE(AsciiLower(record->path).find("#vid_845e"), std::string::npos) << record->path;
    EXPECT_EQ(record->bus_type, 1) << record->path;  // "#vid_" in the path
    EXPECT_EQ(record->usage_page, 1) << record->path;
    EXPECT_GE(record->collection_count, 1u) << record->path;
    EXPECT_GT(record->input_report_byte_length, 0) << record->path;
    EXPECT_EQ(record->usb_instance_id, "") << record->path;  // Wine has no parent property
  }
  EXPECT_EQ(mouse->usage, 2);
  EXPECT_EQ(keyboard->usage, 6);
  EXPECT_EQ(mouse->product, "Wine HID mouse");
  EXPECT_EQ(keyboard->product, "Wine HID keyboard");

  // Through the bridge operation: a list of 17-key maps.
  BridgeOperations ops;
  PlugHidOperations(ops, [](EncodableMap&&) {});
  EncodableValue value;
  std::string message;
  ASSERT_TRUE(ops.list_hid_devices(&value, &message)) << message;
  const auto& list = std::get<EncodableList>(value);
  ASSERT_EQ(list.size(), records.size());
  for (const auto& item : list) EXPECT_EQ(std::get<EncodableMap>(item).size(), 17u);
}

TEST(HidWinTest, CapsAndStringsOfTheMouse) {
  const auto records = ListOrSkip();
  const HidDeviceRecord* mouse = FindByPid(records, 0x0001);
  if (!mouse) GTEST_SKIP() << "no Wine HID mouse";
  auto device = OpenHidDeviceForQuery(WindowsHidDeviceApi(), mouse->path);
  ASSERT_NE(device, nullptr);
  HidCaps caps;
  uint32_t count = 0;
  ASSERT_TRUE(ReadHidCaps(device.get(), &caps, &count));
  EXPECT_EQ(caps.usage_page, 1);
  EXPECT_EQ(caps.usage, 2);
  EXPECT_GE(caps.number_link_collection_nodes, 1);
  EXPECT_EQ(count, 1u);  // one top-level collection
  EXPECT_EQ(ReadHidString(*device, HidStringKind::kProduct), "Wine HID mouse");
  // The descriptor open mode works too, and preparsed data is real.
  auto for_descriptors = OpenHidDeviceForDescriptors(WindowsHidDeviceApi(), mouse->path);
  ASSERT_NE(for_descriptors, nullptr);
  auto preparsed = for_descriptors->GetPreparsedData();
  ASSERT_NE(preparsed, nullptr);
  EXPECT_NE(preparsed->NativeData(), nullptr);
}

TEST(HidWinTest, ReaderOpensAndClosesAndItsThreadIsGone) {
  const auto records = ListOrSkip();
  const HidDeviceRecord* keyboard = FindByPid(records, 0x0002);
  if (!keyboard) GTEST_SKIP() << "no Wine HID keyboard";
  int events = 0;
  HidInputReaders readers(WindowsHidDeviceApi(), [&](EncodableMap&&) { ++events; });
  const int threads_before = ThreadsOfThisProcess();
  std::string message;
  ASSERT_TRUE(readers.Open(keyboard->path, &message)) << message;
  ASSERT_TRUE(readers.Open(keyboard->path, &message)) << message;  // same reader
  EXPECT_EQ(readers.ReaderCount(), 1u);
  EXPECT_EQ(ThreadsOfThisProcess(), threads_before + 1);
  // The read is pending (Wine delivers no reports); closing cancels it and
  // joins the thread.
  Sleep(50);
  readers.Close(keyboard->path);
  EXPECT_EQ(readers.ReaderCount(), 0u);
  // The thread signals its end just before it exits.
  for (int i = 0; i < 500 && ThreadsOfThisProcess() != threads_before; ++i) Sleep(10);
  EXPECT_EQ(ThreadsOfThisProcess(), threads_before);
  EXPECT_EQ(events, 0);

  std::string failure;
  EXPECT_FALSE(readers.Open(R"(\\?\hid#vid_0000&pid_0000#none#{x})", &failure));
  EXPECT_EQ(failure.rfind("打开 HID 输入设备失败（Win32 错误码 ", 0), 0u) << failure;
}

TEST(HidWinTest, WriteAReportOrReportTheRefusal) {
  const auto records = ListOrSkip();
  const HidDeviceRecord* keyboard = FindByPid(records, 0x0002);
  if (!keyboard) GTEST_SKIP() << "no Wine HID keyboard";
  for (HidReportKind kind : {HidReportKind::kOutput, HidReportKind::kFeature}) {
    std::string message;
    const bool written =
        WriteHidReport(WindowsHidDeviceApi(), keyboard->path, {0x00, 0x01}, kind, &message);
    const std::string action =
        kind == HidReportKind::kOutput ? "写入 HID Output 报告失败" : "写入 HID Feature 报告失败";
    // Wine's virtual keyboard refuses both (error 87); a stack that takes
    // the report is fine too.
    if (!written) {
      const std::string prefix = action + "（Win32 错误码 ";
      ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
      const std::string code = message.substr(prefix.size(), message.size() - prefix.size() - 3);
      EXPECT_FALSE(code.empty()) << message;
      EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << message;
      EXPECT_EQ(message.substr(message.size() - 3), "）") << message;
    }
  }
}

}  // namespace
}  // namespace vek_native
