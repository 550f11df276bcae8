// Plugs raw input listing and capture into the bridge's operation table.
#ifndef VEK_RAWINPUT_RAWINPUT_OPERATIONS_H_
#define VEK_RAWINPUT_RAWINPUT_OPERATIONS_H_

#include <cstdint>
#include <functional>

#include "bridge/bridge_operations.h"

namespace vek_native {

// Fills list_raw_input_devices, start_raw_input, stop_raw_input and
// set_raw_input_window with the process-wide raw input capture, which sends
// its batches and summaries through emit and reports dropped_count() (the
// event stream's DroppedEventCount) in every summary. Windows only.
void PlugRawInputOperations(BridgeOperations& ops, EventEmitter emit,
                            std::function<uint64_t()> dropped_count);

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAWINPUT_OPERATIONS_H_
