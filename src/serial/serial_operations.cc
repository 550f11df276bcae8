#include "serial/serial_operations.h"

#include <memory>
#include <utility>

#include "serial/serial_connections.h"

namespace vek_native {

void BindSerialOperations(BridgeOperations& ops, SerialPortApi& api, SerialPortSource& source,
                          EventEmitter emit) {
  auto table = std::make_shared<SerialConnections>(api, std::move(emit));
  ops.list_serial_ports = [&source](EncodableValue* value, std::string* message) {
    std::vector<SerialPortRecord> ports;
    if (!ListSerialPorts(source, &ports, message)) return false;
    if (value) *value = SerialPortsToValue(ports);
    return true;
  };
  ops.open_serial = [table](const std::string& port, int64_t baud_rate, int64_t* handle,
                            std::string* message) {
    return table->OpenSerialPort(port, baud_rate, handle, message);
  };
  ops.write_serial = [table](int64_t handle, const std::vector<uint8_t>& data,
                             std::string* message) {
    return table->WriteSerialPort(handle, data, message);
  };
  ops.close_serial = [table](int64_t handle) { table->CloseSerialPort(handle); };
  ops.close_all_serial = [table] { table->CloseAllSerialPorts(); };
}

}  // namespace vek_native
