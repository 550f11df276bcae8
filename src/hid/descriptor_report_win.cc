// The HID stack's raw report-descriptor request and indexed strings.
#include <windows.h>

#include <winioctl.h>
extern "C" {
#include <hidsdi.h>
}

#include "hid/descriptor_report.h"
#include "hid/hub_api.h"

namespace vek_native {

namespace {

// IOCTL_HID_GET_REPORT_DESCRIPTOR as user mode reaches it: device type
// FILE_DEVICE_KEYBOARD, function 1, METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD kGetReportDescriptor =
    CTL_CODE(FILE_DEVICE_KEYBOARD, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
static_assert(kGetReportDescriptor == 0x000B0004, "report descriptor IOCTL");

class WinHidDescriptorRequests : public HidDescriptorRequests {
 public:
  bool GetRawReportDescriptor(HidDevice& device, std::vector<uint8_t>* buffer, uint32_t* returned,
                              uint32_t* error) override {
    DWORD bytes = 0;
    const BOOL ok =
        DeviceIoControl(static_cast<HANDLE>(device.NativeHandle()), kGetReportDescriptor, nullptr,
                        0, buffer->data(), static_cast<DWORD>(buffer->size()), &bytes, nullptr);
    *error = ok ? 0 : GetLastError();
    *returned = bytes;
    return ok != FALSE;
  }
  bool GetIndexedString(HidDevice& device, uint32_t index, char16_t* buffer,
                        uint32_t buffer_bytes) override {
    return HidD_GetIndexedString(static_cast<HANDLE>(device.NativeHandle()), index, buffer,
                                 buffer_bytes) != FALSE;
  }
};

}  // namespace

HidDescriptorRequests& WindowsHidDescriptorRequests() {
  static WinHidDescriptorRequests requests;
  return requests;
}

void PlugHidDescriptorOperations(BridgeOperations& ops) {
  BindHidDescriptorOperations(ops, WindowsHidDeviceApi(), WindowsDeviceTree(), WindowsUsbHubApi(),
                              WindowsHidDescriptorRequests());
}

}  // namespace vek_native
