#include "rawinput/rawinput_devices.h"

#include <utility>

namespace vek_native {

const char* RawInputDeviceTypeName(uint32_t type) {
  switch (type) {
    case kRawInputTypeMouse:
      return "mouse";
    case kRawInputTypeKeyboard:
      return "keyboard";
    case kRawInputTypeHid:
      return "hid";
    default:
      return "unknown";
  }
}

const char* RawInputFallbackName(uint32_t type) {
  switch (type) {
    case kRawInputTypeMouse:
      return "鼠标";
    case kRawInputTypeKeyboard:
      return "键盘";
    case kRawInputTypeHid:
      return "HID 设备";
    default:
      return "未知输入设备";
  }
}

std::string NormalizeRawInputDevicePath(std::string name) {
  // The prefix is ASCII, so testing it on the UTF-8 text is the same as on the
  // UTF-16 name the system returned.
  if (name.compare(0, 4, "\\??\\") == 0) name.replace(0, 4, "\\\\?\\");
  return name;
}

std::string ReadRawInputDevicePath(RawInputDeviceApi& api, uint64_t device) {
  if (device == 0) return std::string();
  return NormalizeRawInputDevicePath(api.ReadDeviceName(device));
}

std::string ReadRawInputDeviceName(RawInputDeviceApi& api, const std::string& path, uint32_t type) {
  if (!path.empty()) {
    std::string product = api.ReadProductString(path);
    if (!product.empty()) return product;
  }
  return RawInputFallbackName(type);
}

EncodableList ListRawInputDevices(RawInputDeviceApi& api) {
  EncodableList devices;
  for (uint64_t device : api.ListDeviceHandles()) {
    // An entry the system left unfilled has no information to read.
    uint32_t type = 0;
    if (device == 0 || !api.ReadDeviceType(device, &type)) continue;
    std::string path = ReadRawInputDevicePath(api, device);
    std::string name = ReadRawInputDeviceName(api, path, type);
    EncodableMap record;
    record[EncodableValue("path")] = EncodableValue(std::move(path));
    record[EncodableValue("name")] = EncodableValue(std::move(name));
    record[EncodableValue("type")] = EncodableValue(RawInputDeviceTypeName(type));
    record[EncodableValue("isMouse")] = EncodableValue(type == kRawInputTypeMouse);
    record[EncodableValue("isKeyboard")] = EncodableValue(type == kRawInputTypeKeyboard);
    devices.emplace_back(std::move(record));
  }
  return devices;
}

}  // namespace vek_native
