#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <memory>
#include <vector>

#include "common/text.h"
#include "usb/usb_hub_win.h"

namespace vek_native {
namespace {

// usbioctl.h's codes: FILE_DEVICE_USB (0x22), METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD kIoctlGetNodeInformation = 0x220408;
constexpr DWORD kIoctlGetDescriptorFromNodeConnection = 0x220410;
constexpr DWORD kIoctlGetNodeConnectionDriverKeyName = 0x220420;
constexpr DWORD kIoctlGetNodeConnectionInformationEx = 0x220448;
constexpr DWORD kIoctlHubCyclePort = 0x220444;
// The descriptor request's input: ConnectionIndex and the setup packet.
constexpr DWORD kDescriptorRequestInputBytes = 12;

// USB_CYCLE_PORT_PARAMS.
struct CyclePortParams {
  ULONG connection_index;
  ULONG status_returned;
};
static_assert(sizeof(CyclePortParams) == 8, "USB_CYCLE_PORT_PARAMS is 8 bytes");

const GUID kHubInterfaceGuid = {
    0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};

class WinUsbHub : public UsbHub {
 public:
  explicit WinUsbHub(HANDLE handle) : handle_(handle) {}
  ~WinUsbHub() override { CloseHandle(handle_); }
  WinUsbHub(const WinUsbHub&) = delete;
  WinUsbHub& operator=(const WinUsbHub&) = delete;

  bool GetNodeInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                          uint32_t* error) override {
    return Control(kIoctlGetNodeInformation, buffer, static_cast<DWORD>(buffer->size()), returned,
                   error);
  }
  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
    return Control(kIoctlGetNodeConnectionInformationEx, buffer, static_cast<DWORD>(buffer->size()),
                   returned, error);
  }
  bool GetConnectionDriverKeyName(std::vector<uint8_t>* buffer, uint32_t* returned,
                                  uint32_t* error) override {
    return Control(kIoctlGetNodeConnectionDriverKeyName, buffer, static_cast<DWORD>(buffer->size()),
                   returned, error);
  }
  bool GetDescriptorFromNodeConnection(std::vector<uint8_t>* buffer, uint32_t* returned,
                                       uint32_t* error) override {
    const DWORD input = buffer->size() < kDescriptorRequestInputBytes
                            ? static_cast<DWORD>(buffer->size())
                            : kDescriptorRequestInputBytes;
    return Control(kIoctlGetDescriptorFromNodeConnection, buffer, input, returned, error);
  }
  bool CyclePort(uint32_t port, uint32_t* error) override {
    CyclePortParams params = {port, 0};
    uint8_t output[16] = {};
    DWORD returned = 0;
    if (DeviceIoControl(handle_, kIoctlHubCyclePort, &params, sizeof(params), output,
                        sizeof(output), &returned, nullptr)) {
      return true;
    }
    *error = GetLastError();
    return false;
  }

 private:
  bool Control(DWORD code, std::vector<uint8_t>* buffer, DWORD input_bytes, uint32_t* returned,
               uint32_t* error) {
    DWORD done = 0;
    if (DeviceIoControl(handle_, code, buffer->data(), input_bytes, buffer->data(),
                        static_cast<DWORD>(buffer->size()), &done, nullptr)) {
      *returned = done;
      return true;
    }
    *returned = 0;
    *error = GetLastError();
    return false;
  }
  HANDLE handle_;
};

class WinUsbHubApi : public UsbHubApi {
 public:
  std::vector<std::u16string> ListHubPaths() override {
    std::vector<std::u16string> paths;
    HDEVINFO set = SetupDiGetClassDevsW(&kHubInterfaceGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kHubInterfaceGuid, i, &data);
         ++i) {
      DWORD needed = 0;
      SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
      if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
      std::vector<uint8_t> storage(needed + sizeof(wchar_t));
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) continue;
      paths.push_back(reinterpret_cast<const char16_t*>(detail->DevicePath));
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
  }

  std::unique_ptr<UsbHub> OpenHubWithAccess(const std::u16string& hub_path, HubAccess access,
                                            uint32_t* error) override {
    DWORD rights = GENERIC_READ | GENERIC_WRITE;
    if (access == HubAccess::kWrite) rights = GENERIC_WRITE;
    if (access == HubAccess::kRead) rights = GENERIC_READ;
    HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(hub_path.c_str()), rights,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<WinUsbHub>(handle);
  }
};

}  // namespace

UsbHubApi& WindowsUsbHubApi() {
  static WinUsbHubApi api;
  return api;
}

}  // namespace vek_native
