#include "common/device_property_win.h"

namespace vek_native {

static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "detail header layout");

bool ReadDeviceProperty(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data,
                        const DEVPROPKEY& key, DEVPROPTYPE expected_type,
                        std::vector<uint8_t>* bytes) {
  bytes->clear();
  DEVPROPTYPE type = 0;
  DWORD size = 0;
  if (!SizeProbe(
          [&](DWORD* required) {
            return SetupDiGetDevicePropertyW(device_info_set, device_info_data, &key, &type,
                                             nullptr, 0, required, 0);
          },
          2, &size)) {
    return false;
  }
  // Only `size` bytes are offered, so the two spare zero bytes stay zero.
  std::vector<uint8_t> buffer(static_cast<size_t>(size) + 2, 0);
  if (!SetupDiGetDevicePropertyW(device_info_set, device_info_data, &key, &type, buffer.data(),
                                 size, nullptr, 0) ||
      type != expected_type) {
    return false;
  }
  *bytes = std::move(buffer);
  return true;
}

std::wstring ReadInterfacePath(HDEVINFO device_info_set, SP_DEVICE_INTERFACE_DATA* interface_data,
                               SP_DEVINFO_DATA* device_info_data) {
  DWORD size = 0;
  if (!SizeProbe(
          [&](DWORD* required) {
            return SetupDiGetDeviceInterfaceDetailW(device_info_set, interface_data, nullptr, 0,
                                                    required, nullptr);
          },
          sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), &size)) {
    return L"";
  }
  // Zero-filled with room for a terminator the system might not write.
  std::vector<uint8_t> storage(size + sizeof(wchar_t), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(device_info_set, interface_data, detail, size, nullptr,
                                        device_info_data)) {
    return L"";
  }
  return detail->DevicePath;
}

}  // namespace vek_native
