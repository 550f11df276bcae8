// USB hubs through SetupAPI, the configuration manager and the hub driver's
// IOCTLs. Each operation is one platform call; the request layouts and every
// decision live in hub_requests.cc.
#include <windows.h>
// Must follow windows.h.
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>
// usbioctl.h needs winioctl.h first.
#include <usbioctl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/device_property_win.h"
#include "common/scoped_win.h"
#include "common/text.h"
#include "hid/hub_api.h"
#include "hid/hub_requests.h"
#include "hid/usb_descriptors.h"

namespace vek_native {

// The portable code lays these buffers out by hand.
static_assert(sizeof(USB_NODE_INFORMATION) == kNodeInformationSize, "USB_NODE_INFORMATION");
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX) + 30 * sizeof(USB_PIPE_INFO) ==
                  kConnectionInformationSize,
              "USB_NODE_CONNECTION_INFORMATION_EX with 30 pipes");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor) ==
                  kConnectionDeviceDescriptorOffset,
              "DeviceDescriptor");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, Speed) == kConnectionSpeedOffset,
              "Speed");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceAddress) ==
                  kConnectionDeviceAddressOffset,
              "DeviceAddress");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus) ==
                  kConnectionStatusOffset,
              "ConnectionStatus");
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) ==
                  kNodeNumberOfPortsOffset,
              "bNumberOfPorts");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == kDescriptorRequestHeaderSize,
              "USB_DESCRIPTOR_REQUEST");
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == 0x00220410, "descriptor IOCTL");
static_assert(IOCTL_USB_HUB_CYCLE_PORT == 0x00220444, "cycle port IOCTL");
static_assert(sizeof(USB_CYCLE_PORT_PARAMS) == 8, "USB_CYCLE_PORT_PARAMS");
static_assert(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME == 0x00220420, "driver key IOCTL");
static_assert(IOCTL_USB_GET_NODE_INFORMATION == 0x00220408, "node IOCTL");
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == 0x00220448, "connection IOCTL");

namespace {

// The output buffer of a port cycle request.
constexpr size_t kCyclePortOutputBytes = 16;

// GUID_DEVINTERFACE_USB_HUB.
const GUID kUsbHubInterface = {
    0xF18A0E88, 0xC30C, 0x11D0, {0x88, 0x15, 0x00, 0xA0, 0xC9, 0x06, 0xBE, 0xD8}};

class WinUsbHub : public UsbHub {
 public:
  explicit WinUsbHub(ScopedHandle handle) : handle_(std::move(handle)) {}

  bool GetNodeInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                          uint32_t* error) override {
    return Control(IOCTL_USB_GET_NODE_INFORMATION, buffer, buffer->size(), returned, error);
  }
  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
    return Control(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, buffer, buffer->size(), returned,
                   error);
  }
  bool GetConnectionDriverKeyName(std::vector<uint8_t>* buffer, uint32_t* returned,
                                  uint32_t* error) override {
    return Control(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, buffer, buffer->size(), returned,
                   error);
  }
  bool GetDescriptorFromNodeConnection(std::vector<uint8_t>* buffer, uint32_t* returned,
                                       uint32_t* error) override {
    return Control(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer,
                   kDescriptorRequestHeaderSize, returned, error);
  }
  bool CyclePort(uint32_t port, uint32_t* error) override {
    // USB_CYCLE_PORT_PARAMS with the port goes in; the answer comes back in a
    // separate zeroed 16-byte buffer, the shape that has cycled ports on real
    // hubs.
    USB_CYCLE_PORT_PARAMS params = {};
    params.ConnectionIndex = port;
    uint8_t output[kCyclePortOutputBytes] = {};
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(handle_.Get(), IOCTL_USB_HUB_CYCLE_PORT, &params,
                                    sizeof(params), output, sizeof(output), &bytes, nullptr);
    *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }

 private:
  bool Control(DWORD code, std::vector<uint8_t>* buffer, size_t input_size, uint32_t* returned,
               uint32_t* error) {
    DWORD bytes = 0;
    const BOOL ok =
        DeviceIoControl(handle_.Get(), code, buffer->data(), static_cast<DWORD>(input_size),
                        buffer->data(), static_cast<DWORD>(buffer->size()), &bytes, nullptr);
    *error = ok ? 0 : GetLastError();
    *returned = bytes;
    return ok != FALSE;
  }

  ScopedHandle handle_;
};
static_assert(!std::is_copy_constructible_v<WinUsbHub>, "owns the hub handle");

class WinUsbHubApi : public UsbHubApi {
 public:
  std::vector<std::u16string> ListHubPaths() override {
    std::vector<std::u16string> paths;
    const ScopedDeviceInfoList list(SetupDiGetClassDevsW(&kUsbHubInterface, nullptr, nullptr,
                                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list.IsValid()) return paths;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data = {};
      data.cbSize = sizeof(data);
      if (!SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &kUsbHubInterface, index, &data)) break;
      const std::wstring path = ReadInterfacePath(list.Get(), &data, nullptr);
      if (!path.empty()) paths.emplace_back(path.begin(), path.end());
    }
    return paths;
  }

  std::unique_ptr<UsbHub> OpenHubWithAccess(const std::u16string& hub_path, HubAccess access,
                                            uint32_t* error) override {
    const DWORD rights = access == HubAccess::kReadWrite ? (GENERIC_READ | GENERIC_WRITE)
                         : access == HubAccess::kWrite   ? GENERIC_WRITE
                                                         : GENERIC_READ;
    const std::wstring path(hub_path.begin(), hub_path.end());
    ScopedHandle handle(CreateFileW(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid()) {
      *error = GetLastError();
      return nullptr;
    }
    return std::make_unique<WinUsbHub>(std::move(handle));
  }

  std::string DriverKeyOf(const std::string& instance_id) override {
    std::wstring id = Utf8ToWide(instance_id);
    DEVINST node = 0;
    if (id.empty() || CM_Locate_DevNodeW(&node, &id[0], CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
      return "";
    wchar_t key[512] = {};
    ULONG size = sizeof(key) - sizeof(wchar_t);
    ULONG type = 0;
    if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_DRIVER, &type, key, &size, 0) !=
            CR_SUCCESS ||
        type != REG_SZ) {
      return "";
    }
    return WideToUtf8(key);
  }
};

}  // namespace

UsbHubApi& WindowsUsbHubApi() {
  static WinUsbHubApi api;
  return api;
}

}  // namespace vek_native
