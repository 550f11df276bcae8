// Two-call queries: a size probe, then the read into a buffer of that size.
// Every such query in the program goes through SizeProbe, so an answer that
// breaks the protocol is refused in one place.
#ifndef VEK_COMMON_DEVICE_PROPERTY_WIN_H_
#define VEK_COMMON_DEVICE_PROPERTY_WIN_H_

#include <windows.h>
// clang-format off
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>
// clang-format on

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vek_native {

// Whether the first call of a two-call query answered "the buffer is too
// small": a BOOL call fails with ERROR_INSUFFICIENT_BUFFER, a configuration
// manager call returns CR_BUFFER_SMALL.
inline bool AskedForBuffer(BOOL result) {
  return !result && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}
inline bool AskedForBuffer(CONFIGRET result) { return result == CR_BUFFER_SMALL; }

// The first call of a two-call query: `probe(&size)` asks for the size with
// no buffer, must answer that the buffer is too small and report at least
// `minimum` bytes. A probe that succeeds without a buffer has told us nothing
// we can read into, so that is a failure too.
template <typename Probe>
bool SizeProbe(Probe&& probe, DWORD minimum, DWORD* size) {
  *size = 0;
  return AskedForBuffer(probe(size)) && *size >= minimum;
}

// The property's bytes: its reported size plus two zero bytes, so a string
// property is terminated even when the system stored it without its
// terminator. False when the property is missing, shorter than one UTF-16
// unit, not of `expected_type`, or cannot be read.
bool ReadDeviceProperty(HDEVINFO device_info_set, SP_DEVINFO_DATA* device_info_data,
                        const DEVPROPKEY& key, DEVPROPTYPE expected_type,
                        std::vector<uint8_t>* bytes);

// The device path of one interface of `device_info_set`, and its device-info
// entry into *device_info_data when that is not null; "" when the details
// cannot be read.
std::wstring ReadInterfacePath(HDEVINFO device_info_set, SP_DEVICE_INTERFACE_DATA* interface_data,
                               SP_DEVINFO_DATA* device_info_data);

}  // namespace vek_native

#endif  // VEK_COMMON_DEVICE_PROPERTY_WIN_H_
