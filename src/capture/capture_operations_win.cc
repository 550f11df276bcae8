#include "capture/capture_operations.h"

#include <utility>

#include "capture/capture_support.h"

namespace vek_native {

void PlugCaptureOperations(BridgeOperations& operations, HubPortResolver resolve_hub_port) {
  const CaptureSupportQueries queries = SystemCaptureSupportQueries(std::move(resolve_hub_port));
  operations.usb_capture_capabilities = [queries](const std::string& usb_instance_id) {
    UsbCaptureCapabilities capabilities;
    ProbeUsbCaptureSupport(queries, usb_instance_id, &capabilities);
    return UsbCaptureCapabilitiesToValue(capabilities);
  };
}

}  // namespace vek_native
