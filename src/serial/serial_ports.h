// "listSerialPorts": the port names of the registry's serial map, each with
// the name of the Ports-class device whose "(COMn)" ending matches it.
#ifndef VEK_SERIAL_SERIAL_PORTS_H_
#define VEK_SERIAL_SERIAL_PORTS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// One registry value or device property as read: its type and raw bytes.
struct SerialTypedValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Where the listing reads from. Failures only make the lists shorter.
class SerialPortSource {
 public:
  virtual ~SerialPortSource() = default;
  // The data of every value of HARDWARE\DEVICEMAP\SERIALCOMM that could be
  // read, in enumeration order.
  virtual std::vector<SerialTypedValue> ReadSerialCommValues() = 0;
  // The DEVPKEY_NAME property of every present Ports-class device that has one
  // of at least 2 bytes, in enumeration order.
  virtual std::vector<SerialTypedValue> ReadPortsClassDeviceNames() = 0;
};

struct SerialPortRecord {
  std::string port;
  std::string description;
};

// The UTF-16LE text of `data` up to its first 0 unit (an odd last byte is
// ignored), as UTF-8.
std::string SerialTextFromUtf16(const std::vector<uint8_t>& data);
// The lower-cased text between the first "(" and the first ")" after it;
// "" when there is none or it is empty.
std::string SerialPortKeyOfDeviceName(const std::string& device_name);

std::vector<std::string> ReadSerialPortNames(SerialPortSource& source);
std::map<std::string, std::string> ReadSerialPortDescriptions(SerialPortSource& source);
// False only when `ports` is null.
bool ListSerialPorts(SerialPortSource& source, std::vector<SerialPortRecord>* ports,
                     std::string* message);
// The records as the list of {"port", "description"} maps.
EncodableValue SerialPortsToValue(const std::vector<SerialPortRecord>& ports);

}  // namespace vek_native

#endif  // VEK_SERIAL_SERIAL_PORTS_H_
