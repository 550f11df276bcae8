// The operations the bridge provides itself: the keyboard block and the save
// dialog. Windows only (bridge_own_operations_win.cc).
#ifndef VEK_BRIDGE_BRIDGE_OWN_OPERATIONS_H_
#define VEK_BRIDGE_BRIDGE_OWN_OPERATIONS_H_

#include "bridge/bridge_operations.h"

namespace vek_native {

// Fills start_key_block, stop_key_block and pick_save_file.
void PlugBridgeOwnOperations(BridgeOperations& ops);

}  // namespace vek_native

#endif  // VEK_BRIDGE_BRIDGE_OWN_OPERATIONS_H_
