#include "serial/serial_ports.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace vek_native {
namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kDevPropString = 18;

// UTF-16LE text as the registry and SetupAPI hand it out.
SerialTypedValue Text(uint32_t type, const std::string& utf8, bool terminate = true) {
  SerialTypedValue value{type, {}};
  std::u16string text = Utf8ToUtf16(utf8);
  if (terminate) text.push_back(0);
  for (char16_t unit : text) {
    value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return value;
}

// The registry's serial map and the Ports-class device names, as tables.
class TableSource : public SerialPortSource {
 public:
  std::vector<SerialTypedValue> ReadSerialCommValues() override { return comm; }
  std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override { return devices; }
  std::vector<SerialTypedValue> comm, devices;
};

// Names are listed in registry order, each with the device name whose first
// "(...)" holds it, ignoring ASCII case; a later name wins. Values of another
// type or without text are skipped.
TEST(SerialPortsTest, ListMatchesDescriptionsCaseInsensitively) {
  TableSource source;
  source.comm = {Text(kRegSz, "COM5"),  Text(kRegBinary, "COM4"),
                 Text(kRegSz, ""),      SerialTypedValue{kRegSz, {0x43}},  // one byte: too short
                 Text(kRegSz, "com5"),  Text(kRegSz, "COM4"),
                 Text(kRegSz, "COM12"), Text(kRegSz, "COM3"),
                 Text(kRegSz, "COM8"),  Text(kRegSz, "COM7", false)};  // no terminator
  source.devices = {Text(kDevPropString, "USB Serial Device (COM5)"),
                    Text(kRegBinary, "Wrong type (COM8)"),
                    Text(kDevPropString, ") (COM4)"),
                    Text(kDevPropString, "Ünïcode (cOm12)"),
                    Text(kDevPropString, "Unclosed (COM3"),
                    Text(kDevPropString, "Old (COM7)"),
                    Text(kDevPropString, "Bluetooth Link (com7) (Standard)")};
  std::vector<SerialPortRecord> ports;
  std::string message;
  ASSERT_TRUE(ListSerialPorts(source, &ports, &message));
  std::vector<std::pair<std::string, std::string>> listed;
  for (const SerialPortRecord& port : ports) listed.emplace_back(port.port, port.description);
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                        {"COM5", "USB Serial Device (COM5)"},
                        {"com5", "USB Serial Device (COM5)"},
                        {"COM4", ") (COM4)"},
                        {"COM12", "Ünïcode (cOm12)"},
                        {"COM3", ""},
                        {"COM8", ""},
                        {"COM7", "Bluetooth Link (com7) (Standard)"}}));
  EXPECT_FALSE(ListSerialPorts(source, nullptr, &message));
  EXPECT_EQ(std::get<EncodableList>(SerialPortsToValue(ports))[0],
            EncodableValue(EncodableMap{
                {EncodableValue("port"), EncodableValue("COM5")},
                {EncodableValue("description"), EncodableValue("USB Serial Device (COM5)")}}));
}

}  // namespace
}  // namespace vek_native
