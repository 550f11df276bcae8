// The USB inspection operations the bridge dispatches to and the helper mode
// the elevated instance runs.
#ifndef VEK_USB_USB_OPERATIONS_H_
#define VEK_USB_USB_OPERATIONS_H_

#include "bridge/bridge_operations.h"
#include "capture/capture_operations.h"
#include "capture/capture_system.h"
#include "capture/helper_mode_operations.h"
#include "channels/encodable_value.h"
#include "usb/usb_diagnostics.h"
#include "usb/usb_node_listing.h"
#include "usb/usb_reset.h"

namespace vek_native {

// The reset result as the user interface receives it.
EncodableValue UsbResetResultMap(const UsbResetResult& result);

// "listUsbDeviceNodes": the listing as a list of node maps, in listing order.
bool ListUsbDeviceNodeMaps(const UsbNodeSystem& system, bool include_hid_children,
                           EncodableValue* nodes, std::string* message);

// "readUsbDeviceDiagnostics": the report map.
bool ReadUsbDiagnosticsMap(const UsbDiagnosticsSystem& system, const std::string& instance_id,
                           EncodableValue* report, std::string* message);

#ifdef _WIN32
void PlugUsbOperations(BridgeOperations& operations);
void PlugResetUsbHelperMode(HelperModeOperations& modes);
// The captures cycle the device's hub port through these; both live for the
// whole process.
HubPortResolver UsbCaptureHubPortResolver();
HubPortCycler& UsbCaptureHubPortCycler();
// The reset over the system's device tree, hubs, files and processes.
UsbResetContext SystemUsbResetContext();
#endif

}  // namespace vek_native

#endif  // VEK_USB_USB_OPERATIONS_H_
