// The USB inspection operations the bridge dispatches to and the helper mode
// the elevated instance runs.
#ifndef VEK_USB_USB_OPERATIONS_H_
#define VEK_USB_USB_OPERATIONS_H_

#include "bridge/bridge_operations.h"
#include "capture/capture_operations.h"
#include "capture/capture_system.h"
#include "channels/encodable_value.h"
#include "host/helper_mode_operations.h"
#include "usb/usb_reset.h"

namespace vek_native {

// The reset result as the user interface receives it.
EncodableValue UsbResetResultMap(const UsbResetResult& result);

#ifdef _WIN32
void PlugUsbOperations(BridgeOperations& operations);
void PlugResetUsbHelperMode(HelperModeOperations& modes);
// The captures cycle the device's hub port through these; both live for the
// whole process.
HubPortResolver UsbCaptureHubPortResolver();
HubPortCycler& UsbCaptureHubPortCycler();
#endif

}  // namespace vek_native

#endif  // VEK_USB_USB_OPERATIONS_H_
