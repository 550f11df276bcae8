// The hubs of this machine: SetupAPI for the hub interfaces, CreateFileW to
// open one and DeviceIoControl for each request.
#ifndef VEK_USB_USB_HUB_WIN_H_
#define VEK_USB_USB_HUB_WIN_H_

#include "hid/hub_api.h"

namespace vek_native {

// Stateless; shared by every caller.
UsbHubApi& WindowsUsbHubApi();

}  // namespace vek_native

#endif  // VEK_USB_USB_HUB_WIN_H_
