#include "serial/serial_ports.h"

#include "common/text.h"

namespace vek_native {
namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kDevPropTypeString = 18;

}  // namespace

std::string SerialTextFromUtf16(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return Utf16ToUtf8(text);
}

std::string SerialPortKeyOfDeviceName(const std::string& device_name) {
  const size_t open = device_name.find('(');
  if (open == std::string::npos) return "";
  const size_t close = device_name.find(')', open + 1);
  if (close == std::string::npos || close == open + 1) return "";
  return AsciiLower(device_name.substr(open + 1, close - open - 1));
}

std::vector<std::string> ReadSerialPortNames(SerialPortSource& source) {
  std::vector<std::string> names;
  for (const SerialTypedValue& value : source.ReadSerialCommValues()) {
    if (value.type != kRegSz || value.data.size() < 2) continue;
    std::string name = SerialTextFromUtf16(value.data);
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

std::map<std::string, std::string> ReadSerialPortDescriptions(SerialPortSource& source) {
  std::map<std::string, std::string> table;
  for (const SerialTypedValue& value : source.ReadPortsClassDeviceNames()) {
    if (value.type != kDevPropTypeString || value.data.size() < 2) continue;
    std::string name = SerialTextFromUtf16(value.data);
    std::string key = SerialPortKeyOfDeviceName(name);
    if (key.empty()) continue;
    table[key] = std::move(name);
  }
  return table;
}

bool ListSerialPorts(SerialPortSource& source, std::vector<SerialPortRecord>* ports,
                     std::string* message) {
  if (!ports) {
    if (message) *message = "缺少串口列表输出";
    return false;
  }
  ports->clear();
  const std::vector<std::string> names = ReadSerialPortNames(source);
  const std::map<std::string, std::string> descriptions = ReadSerialPortDescriptions(source);
  for (const std::string& name : names) {
    auto it = descriptions.find(AsciiLower(name));
    ports->push_back({name, it == descriptions.end() ? std::string() : it->second});
  }
  return true;
}

EncodableValue SerialPortsToValue(const std::vector<SerialPortRecord>& ports) {
  EncodableList list;
  for (const SerialPortRecord& record : ports) {
    EncodableMap map;
    map[EncodableValue("port")] = EncodableValue(record.port);
    map[EncodableValue("description")] = EncodableValue(record.description);
    list.emplace_back(std::move(map));
  }
  return EncodableValue(std::move(list));
}

}  // namespace vek_native
