// Plugs the HID listing, input and write operations into the bridge.
#ifndef VEK_HID_HID_OPERATIONS_H_
#define VEK_HID_HID_OPERATIONS_H_

#include "bridge/bridge_operations.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"

namespace vek_native {

// Fills list_hid_devices, open_hid_input, close_hid_input,
// close_all_hid_inputs, write_hid_report and read_hid_report over the given
// platform. The
// reader table is owned by the filled operations: it lives as long as a copy
// of them does, and closes its readers when the last copy goes. `api` and
// `tree` must outlive the operations.
void BindHidOperations(BridgeOperations& ops, HidDeviceApi& api, DeviceTree& tree,
                       EventEmitter emit);

#ifdef _WIN32
// The same over hid.dll, SetupAPI and the configuration manager.
void PlugHidOperations(BridgeOperations& ops, EventEmitter emit);
#endif

}  // namespace vek_native

#endif  // VEK_HID_HID_OPERATIONS_H_
