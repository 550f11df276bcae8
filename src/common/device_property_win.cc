#include "common/device_property_win.h"

namespace vek_native {

bool ReadDeviceProperty(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data,
                        const DEVPROPKEY& key, DEVPROPTYPE* type, std::vector<uint8_t>* bytes) {
  bytes->clear();
  DWORD size = 0;
  SetupDiGetDevicePropertyW(device_info_set, device_info_data, &key, type, nullptr, 0, &size, 0);
  if (size < 2) return false;
  // Only `size` bytes are offered, so the two spare zero bytes stay zero.
  std::vector<uint8_t> buffer(static_cast<size_t>(size) + 2, 0);
  if (!SetupDiGetDevicePropertyW(device_info_set, device_info_data, &key, type, buffer.data(), size,
                                 nullptr, 0)) {
    return false;
  }
  *bytes = std::move(buffer);
  return true;
}

}  // namespace vek_native
