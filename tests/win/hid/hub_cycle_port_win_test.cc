// The hub port cycle request as it reaches DeviceIoControl: Wine has no hubs,
// so a file stands in for the hub and this program's import of
// DeviceIoControl is pointed at a recorder. The 8-byte USB_CYCLE_PORT_PARAMS
// (the port, a zero status) goes in; a separate zeroed 16-byte buffer is the
// output.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hid/hub_api.h"

namespace vek_native {
namespace {

std::vector<uint8_t> g_input, g_output;
bool g_same_buffer = true;

BOOL WINAPI Record(HANDLE, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                   LPDWORD, LPOVERLAPPED) {
  g_input.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + in_size);
  g_output.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + out_size);
  g_same_buffer = in == out;
  return code == 0x220444;  // IOCTL_USB_HUB_CYCLE_PORT
}

// Swaps this program's DeviceIoControl import for `target`; the old one back.
void* SwapDeviceIoControl(void* target) {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
  for (; entry->Name != 0; ++entry) {
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
          std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name,
                      "DeviceIoControl") != 0) {
        continue;
      }
      DWORD protection = 0;
      VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
      void* old = reinterpret_cast<void*>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(target);
      VirtualProtect(slot, sizeof(*slot), protection, &protection);
      return old;
    }
  }
  return nullptr;
}

TEST(HubCyclePortTest, ParamsGoInAndASeparateZeroed16ByteBufferComesBack) {
  wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  ASSERT_NE(GetTempFileNameW(folder, L"hub", 0, file), 0u);
  const std::u16string path(file, file + lstrlenW(file));
  uint32_t error = 0;
  std::unique_ptr<UsbHub> hub =
      WindowsUsbHubApi().OpenHubWithAccess(path, HubAccess::kRead, &error);
  ASSERT_NE(hub, nullptr) << error;
  void* original = SwapDeviceIoControl(reinterpret_cast<void*>(&Record));
  ASSERT_NE(original, nullptr);
  EXPECT_TRUE(hub->CyclePort(3, &error));
  SwapDeviceIoControl(original);
  hub.reset();
  DeleteFileW(file);
  EXPECT_EQ(g_input, (std::vector<uint8_t>{3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(g_same_buffer);
  EXPECT_EQ(g_output, std::vector<uint8_t>(16, 0));
}

}  // namespace
}  // namespace vek_native
