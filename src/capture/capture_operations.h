// The capture feature's operations for the bridge and the helper modes.
#ifndef VEK_CAPTURE_CAPTURE_OPERATIONS_H_
#define VEK_CAPTURE_CAPTURE_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bridge/bridge_operations.h"
#include "capture/capture_system.h"
#include "capture/helper_mode_operations.h"
#include "capture/trace_xml.h"

namespace vek_native {

// The device's parent hub port, from the USB inspection; an empty function
// means "not resolvable", so the checks report the device as not on a hub.
using HubPortResolver = std::function<bool(const std::string& usb_instance_id, uint32_t* port)>;

std::vector<CapturedHidDescriptor> ToCapturedHidDescriptors(
    const std::vector<HidDescriptorCapture>& records);

// `hub` (the USB inspection's port requests) may be null: the captures then
// fail with a message instead of cycling the port. It must outlive the
// operations.
void PlugCaptureOperations(BridgeOperations& operations, HubPortResolver resolve_hub_port,
                           HubPortCycler* hub);
void PlugCaptureHelperModes(HelperModeOperations& modes, HubPortCycler* hub);

}  // namespace vek_native

#endif  // VEK_CAPTURE_CAPTURE_OPERATIONS_H_
