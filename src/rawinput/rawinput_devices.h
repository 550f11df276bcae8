// Which keyboards, mice and other raw input devices the system knows, under the
// same device path that raw input events carry, with a readable name for each.
#ifndef VEK_RAWINPUT_RAWINPUT_DEVICES_H_
#define VEK_RAWINPUT_RAWINPUT_DEVICES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "hid/hid_device_api.h"

namespace vek_native {

// RAWINPUTHEADER.dwType / RID_DEVICE_INFO.dwType values.
inline constexpr uint32_t kRawInputTypeMouse = 0;
inline constexpr uint32_t kRawInputTypeKeyboard = 1;
inline constexpr uint32_t kRawInputTypeHid = 2;

// The operating system's raw input device queries. A device is named by its
// raw input handle, carried as a 64-bit value (0 is the null handle).
class RawInputDeviceApi {
 public:
  virtual ~RawInputDeviceApi() = default;
  // GetRawInputDeviceList: every listed handle in the order returned (entries
  // the system left unfilled are 0); empty when the list cannot be read.
  virtual std::vector<uint64_t> ListDeviceHandles() = 0;
  // GetRawInputDeviceInfoW(RIDI_DEVICEINFO): the device's dwType.
  virtual bool ReadDeviceType(uint64_t device, uint32_t* type) = 0;
  // GetRawInputDeviceInfoW(RIDI_DEVICENAME): the name up to its first 0 unit,
  // as UTF-8, exactly as the system gives it; "" when it cannot be read.
  virtual std::string ReadDeviceName(uint64_t device) = 0;
};

// "mouse", "keyboard", "hid" or "unknown".
const char* RawInputDeviceTypeName(uint32_t type);

// The name shown when a device has no readable product string.
const char* RawInputFallbackName(uint32_t type);

// Device names of the native NT form ("\??\...") become the Win32 form
// ("\\?\...") that the HID stack and CreateFileW use; the prefix test is exact
// and case-sensitive, and every other name is kept as it is.
std::string NormalizeRawInputDevicePath(std::string name);

// The normalised device name of a raw input handle; "" for a null handle or
// an unreadable name.
std::string ReadRawInputDevicePath(RawInputDeviceApi& api, uint64_t device);

// The HID product string of the device at path (opened for reading, else
// without access rights), or the fallback name of its type; never empty.
std::string ReadRawInputDeviceName(HidDeviceApi& hid, const std::string& path, uint32_t type);

// The "listRawInputDevices" result: one record per device whose information
// can be read, in the system's order. Never fails.
EncodableList ListRawInputDevices(RawInputDeviceApi& api, HidDeviceApi& hid);

#ifdef _WIN32
// The system's raw input device queries (user32).
RawInputDeviceApi& SystemRawInputDeviceApi();
#endif

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAWINPUT_DEVICES_H_
