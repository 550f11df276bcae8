// Windows-only pieces of the HID device API that name Windows types: the
// hid.dll headers (MinGW-w64 ships them without extern "C" and hidpi.h needs
// hidusage.h first) and the parent-ID property read on a device-info set.
#ifndef VEK_HID_HID_DEVICE_API_WIN_H_
#define VEK_HID_HID_DEVICE_API_WIN_H_

#include <windows.h>
#include <setupapi.h>
#include <winternl.h>  // NTSTATUS, which hidpi.h uses without including

extern "C" {
#include <hidusage.h>
#include <hidpi.h>
#include <hidsdi.h>
}

#include <cstdint>
#include <functional>
#include <string>

namespace vek_native {

// The DEVPKEY_Device_Parent string of one device-info entry, UTF-8; "" when
// it is absent, not a string, or cannot be read.
std::string ReadParentInstanceId(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data);

// Calls visit with the device path (UTF-8, never empty) and the device-info
// entry of every present HID interface; an interface whose details cannot be
// read is skipped. False with *error when the interface list cannot be had.
using HidInterfaceVisitor =
    std::function<void(const std::string& path, HDEVINFO list, SP_DEVINFO_DATA* info)>;
bool ForEachPresentHidInterface(const HidInterfaceVisitor& visit, uint32_t* error);

}  // namespace vek_native

#endif  // VEK_HID_HID_DEVICE_API_WIN_H_
