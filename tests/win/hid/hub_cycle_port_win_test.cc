// The hub port cycle request as it reaches DeviceIoControl. Wine has no USB
// hubs, so the test opens a file as the "hub" and puts a recorder in place of
// DeviceIoControl in this program's import table: the request must carry the
// 8-byte USB_CYCLE_PORT_PARAMS (the port, then a zero status) as input and a
// separate zeroed 16-byte buffer as output.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hid/hub_api.h"

namespace vek_native {
namespace {

struct SeenRequest {
  DWORD code = 0;
  std::vector<uint8_t> input;
  const void* input_buffer = nullptr;
  const void* output_buffer = nullptr;
  DWORD output_size = 0;
  std::vector<uint8_t> output_on_entry;
};
SeenRequest g_seen;

BOOL WINAPI RecordDeviceIoControl(HANDLE, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                  DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
  g_seen.code = code;
  g_seen.input_buffer = in;
  g_seen.input.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + in_size);
  g_seen.output_buffer = out;
  g_seen.output_size = out_size;
  g_seen.output_on_entry.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + out_size);
  if (returned != nullptr) *returned = 0;
  return TRUE;
}

// Points this program's import of kernel32's DeviceIoControl at `replacement`
// and returns the previous target (null when the import was not found).
void* PatchDeviceIoControlImport(void* replacement) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), "kernel32.dll") != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(name->Name), "DeviceIoControl") != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &protection);
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

TEST(HubCyclePortTest, ParamsGoInAndASeparateZeroed16ByteBufferComesBack) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t file[MAX_PATH] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"hub", 0, file), 0u);
  std::unique_ptr<UsbHub> hub;
  {
    const std::wstring path(file);
    uint32_t error = 0;
    hub = WindowsUsbHubApi().OpenHubWithAccess(std::u16string(path.begin(), path.end()),
                                               HubAccess::kReadWrite, &error);
    ASSERT_NE(hub, nullptr) << error;
  }
  void* original = PatchDeviceIoControlImport(reinterpret_cast<void*>(&RecordDeviceIoControl));
  ASSERT_NE(original, nullptr) << "no DeviceIoControl import to record";
  uint32_t error = 99;
  const bool cycled = hub->CyclePort(3, &error);
  PatchDeviceIoControlImport(original);
  hub.reset();
  DeleteFileW(file);

  EXPECT_TRUE(cycled);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(g_seen.code, 0x220444u);  // IOCTL_USB_HUB_CYCLE_PORT
  EXPECT_EQ(g_seen.input, (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_NE(g_seen.output_buffer, g_seen.input_buffer);
  EXPECT_EQ(g_seen.output_size, 16u);
  EXPECT_EQ(g_seen.output_on_entry, std::vector<uint8_t>(16, 0));
}

}  // namespace
}  // namespace vek_native
