// Plugs serial listing and connections into the bridge.
#ifndef VEK_SERIAL_SERIAL_OPERATIONS_H_
#define VEK_SERIAL_SERIAL_OPERATIONS_H_

#include "bridge/bridge_operations.h"
#include "serial/serial_port_api.h"
#include "serial/serial_ports.h"

namespace vek_native {

// Fills list_serial_ports, open_serial, write_serial, close_serial and
// close_all_serial. The port table is owned by the filled operations: it
// lives as long as a copy of them does and closes its ports when the last copy
// goes. `api` and `source` must outlive the operations.
void BindSerialOperations(BridgeOperations& ops, SerialPortApi& api, SerialPortSource& source,
                          EventEmitter emit);

#ifdef _WIN32
// Overlapped port I/O and the registry/SetupAPI listing source (process-wide).
SerialPortApi& WindowsSerialPortApi();
SerialPortSource& WindowsSerialPortSource();

// The same over the registry, SetupAPI and overlapped port I/O.
void PlugSerialOperations(BridgeOperations& ops, EventEmitter emit);
#endif

}  // namespace vek_native

#endif  // VEK_SERIAL_SERIAL_OPERATIONS_H_
