#include "serial/serial_ports.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace vek_native {
namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kDevPropString = 18;

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
  TableSource(std::vector<SerialTypedValue> comm, std::vector<SerialTypedValue> devices)
      : comm_(std::move(comm)), devices_(std::move(devices)) {}
  std::vector<SerialTypedValue> ReadSerialCommValues() override { return comm_; }
  std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override { return devices_; }

 private:
  std::vector<SerialTypedValue> comm_, devices_;
};

TEST(SerialPortsTest, DeviceNameKeys) {
  const std::pair<const char*, const char*> cases[] = {
      {"USB Serial Device (COM5)", "com5"},
      {"Bluetooth Link (COM7) (Standard)", "com7"},
      {"Modem (x(COM9))", "x(com9"},
      {"No parentheses", ""},
      {"Empty ()", ""},
      {"Unclosed (COM3", ""},
      {") (COM4)", "com4"},
      {"Ünïcode (cOm12)", "com12"},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialPortKeyOfDeviceName(c.first), c.second) << c.first;
}

TEST(SerialPortsTest, NamesSkipOtherTypesAndEmptyText) {
  TableSource source(
      {
          Text(kRegSz, "COM3"), Text(kRegBinary, "COM4"), Text(kRegSz, ""),
          SerialTypedValue{kRegSz, {0x43}},  // one byte: too short
          Text(kRegSz, "COM7", false),       // no terminator
          Text(kRegSz, "COM3"),              // duplicates kept
      },
      {});
  EXPECT_EQ(ReadSerialPortNames(source), (std::vector<std::string>{"COM3", "COM7", "COM3"}));
}

TEST(SerialPortsTest, ListMatchesDescriptionsCaseInsensitively) {
  TableSource source(
      {Text(kRegSz, "COM5"), Text(kRegSz, "com5"), Text(kRegSz, "COM8"), Text(kRegSz, "COM7")},
      {
          Text(kDevPropString, "USB Serial Device (COM5)"),
          Text(kDevPropString, "Not listed (COM9)"),
          Text(kRegBinary, "Wrong type (COM8)"),
          Text(kDevPropString, "Old name (COM7)"),
          Text(kDevPropString, "Bluetooth Link (COM7) (Standard)"),
      });
  std::vector<SerialPortRecord> ports;
  std::string message;
  ASSERT_TRUE(ListSerialPorts(source, &ports, &message));
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].port, "COM5");
  EXPECT_EQ(ports[0].description, "USB Serial Device (COM5)");
  EXPECT_EQ(ports[1].port, "com5");
  EXPECT_EQ(ports[1].description, "USB Serial Device (COM5)");
  EXPECT_EQ(ports[2].description, "");
  EXPECT_EQ(ports[3].description, "Bluetooth Link (COM7) (Standard)");  // later wins
  EXPECT_FALSE(ListSerialPorts(source, nullptr, &message));

  const EncodableValue value = SerialPortsToValue(ports);
  const auto& first = std::get<EncodableMap>(std::get<EncodableList>(value).at(0));
  EXPECT_EQ(std::get<std::string>(first.at(EncodableValue("port"))), "COM5");
  EXPECT_EQ(std::get<std::string>(first.at(EncodableValue("description"))),
            "USB Serial Device (COM5)");
}

}  // namespace
}  // namespace vek_native
