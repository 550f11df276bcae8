#include "hid/hid_operations.h"

namespace vek_native {

void PlugHidOperations(BridgeOperations& ops, EventEmitter emit) {
  BindHidOperations(ops, WindowsHidDeviceApi(), WindowsDeviceTree(), std::move(emit));
}

}  // namespace vek_native
