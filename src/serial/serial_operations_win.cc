#include "serial/serial_operations.h"

namespace vek_native {

void PlugSerialOperations(BridgeOperations& ops, EventEmitter emit) {
  BindSerialOperations(ops, WindowsSerialPortApi(), WindowsSerialPortSource(), std::move(emit));
}

}  // namespace vek_native
