// The capture feature's operations for the bridge and the helper modes.
#ifndef VEK_CAPTURE_CAPTURE_OPERATIONS_H_
#define VEK_CAPTURE_CAPTURE_OPERATIONS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "bridge/bridge_operations.h"

namespace vek_native {

// The device's parent hub port, from the USB inspection; an empty function
// means "not resolvable", so the checks report the device as not on a hub.
using HubPortResolver = std::function<bool(const std::string& usb_instance_id, uint32_t* port)>;

void PlugCaptureOperations(BridgeOperations& operations, HubPortResolver resolve_hub_port);

}  // namespace vek_native

#endif  // VEK_CAPTURE_CAPTURE_OPERATIONS_H_
