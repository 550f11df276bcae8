// Wine's HID stack on paths that are not HID collections: a plain file and
// NUL open with CreateFileW, but hid.dll knows neither, so every HID method
// fails with its message before reading or writing; both of Wine's virtual
// devices are collections and open as before. Their reads never complete (no
// reports arrive), so closing every reader also shows that a cancelled read
// ends and its thread goes.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hid_devices.h"
#include "hid/hid_input.h"
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

TEST(HidCollectionWinTest, FilesAndNulAreNoHidCollections) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t file[MAX_PATH] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"hid", 0, file), 0u);
  const std::string not_hid = "该路径不是 HID 设备（HID 类驱动无法读取它的属性）";
  for (const std::string& path : {WideToUtf8(file), std::string("NUL")}) {
    HidInputReaders readers(WindowsHidDeviceApi(), nullptr);
    std::string message;
    EXPECT_FALSE(readers.Open(path, &message)) << path;
    EXPECT_EQ(message, not_hid) << path;
    for (HidReportKind kind : {HidReportKind::kOutput, HidReportKind::kFeature}) {
      message.clear();
      EXPECT_FALSE(WriteHidReport(WindowsHidDeviceApi(), path, {1, 2, 3}, kind, &message)) << path;
      EXPECT_EQ(message, not_hid) << path;
    }
    std::unique_ptr<HidDevice> device = OpenHidDeviceForQuery(WindowsHidDeviceApi(), path);
    ASSERT_NE(device, nullptr) << path;
    EXPECT_FALSE(ConfirmHidCollection(*device, &message)) << path;
  }
  // Nothing was written into the file.
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW(file, GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 0u);
  DeleteFileW(file);
}

TEST(HidCollectionWinTest, WinesDevicesOpenAndAllReadersClose) {
  std::vector<HidDeviceRecord> records;
  std::string message;
  ASSERT_TRUE(ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message));
  if (records.empty()) GTEST_SKIP() << "this Wine shows no HID devices";
  HidInputReaders readers(WindowsHidDeviceApi(), nullptr);
  const int threads_before = ThreadsOfThisProcess();
  for (const HidDeviceRecord& record : records) {
    ASSERT_TRUE(readers.Open(record.path, &message)) << record.path << ": " << message;
  }
  EXPECT_EQ(readers.ReaderCount(), records.size());
  Sleep(50);  // every read is pending now
  readers.CloseAll();
  EXPECT_EQ(readers.ReaderCount(), 0u);
  // Each cancelled read ended, so its thread let go of the device and went.
  for (int i = 0; i < 500 && ThreadsOfThisProcess() != threads_before; ++i) Sleep(10);
  EXPECT_EQ(ThreadsOfThisProcess(), threads_before);
}

}  // namespace
}  // namespace vek_native
