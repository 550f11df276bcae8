#include "rawinput/rawinput_devices.h"

#include <memory>
#include <utility>

#include "common/text.h"

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

namespace {

constexpr size_t kProductStringUnits = 256;

// The product string, "" when the device cannot be opened or has none.
std::string ReadProductString(HidDeviceApi& hid, const std::string& path) {
  uint32_t error = 0;
  std::unique_ptr<HidDevice> device = hid.Open(path, HidAccess::kRead, false, &error);
  // Keyboards and mice are held exclusively by the system; an open without
  // access rights still answers the string requests.
  if (!device) device = hid.Open(path, HidAccess::kAttributesOnly, false, &error);
  if (!device) return std::string();
  char16_t buffer[kProductStringUnits] = {};
  const bool ok = device->GetString(HidStringKind::kProduct, buffer, sizeof(buffer));
  device.reset();
  if (!ok || buffer[0] == 0) return std::string();
  size_t length = 0;
  while (length < kProductStringUnits && buffer[length] != 0) ++length;
  return Utf16ToUtf8(std::u16string_view(buffer, length));
}

}  // namespace

std::string ReadRawInputDeviceName(HidDeviceApi& hid, const std::string& path, uint32_t type) {
  if (!path.empty()) {
    std::string product = ReadProductString(hid, path);
    if (!product.empty()) return product;
  }
  return RawInputFallbackName(type);
}

EncodableList ListRawInputDevices(RawInputDeviceApi& api, HidDeviceApi& hid) {
  EncodableList devices;
  for (uint64_t device : api.ListDeviceHandles()) {
    // An entry the system left unfilled has no information to read.
    uint32_t type = 0;
    if (device == 0 || !api.ReadDeviceType(device, &type)) continue;
    std::string path = ReadRawInputDevicePath(api, device);
    std::string name = ReadRawInputDeviceName(hid, path, type);
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
