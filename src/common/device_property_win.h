// Reading one device property of a device-information element through
// SetupAPI: a size probe, then the read into a buffer that ends in two spare
// zero bytes, so a string property is terminated even when the system stored
// it without its terminator.
#ifndef VEK_COMMON_DEVICE_PROPERTY_WIN_H_
#define VEK_COMMON_DEVICE_PROPERTY_WIN_H_

#include <windows.h>
// clang-format off
#include <devpropdef.h>
#include <setupapi.h>
// clang-format on

#include <cstdint>
#include <utility>
#include <vector>

namespace vek_native {

// The property's bytes (its reported size plus two zero bytes) and its type.
// False when the property is missing, shorter than one UTF-16 unit or cannot
// be read.
bool ReadDeviceProperty(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data,
                        const DEVPROPKEY& key, DEVPROPTYPE* type, std::vector<uint8_t>* bytes);

}  // namespace vek_native

#endif  // VEK_COMMON_DEVICE_PROPERTY_WIN_H_
