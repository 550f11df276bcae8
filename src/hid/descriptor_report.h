// The descriptor report of one HID collection ("readHidDescriptors"): the
// report descriptor (raw, or rebuilt for the collections of its USB
// interface), caps, strings, and the USB descriptors read through the hub.
#ifndef VEK_HID_DESCRIPTOR_REPORT_H_
#define VEK_HID_DESCRIPTOR_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_operations.h"
#include "channels/encodable_value.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hub_api.h"

namespace vek_native {

// The two HID requests the report makes beyond the device API.
class HidDescriptorRequests {
 public:
  virtual ~HidDescriptorRequests() = default;
  // DeviceIoControl with IOCTL 0x000B0004 (the HID stack's raw report
  // descriptor), no input, `buffer` as output. False with the error.
  virtual bool GetRawReportDescriptor(HidDevice& device, std::vector<uint8_t>* buffer,
                                      uint32_t* returned, uint32_t* error) = 0;
  // HidD_GetIndexedString into `buffer` of `buffer_bytes` bytes.
  virtual bool GetIndexedString(HidDevice& device, uint32_t index, char16_t* buffer,
                                uint32_t buffer_bytes) = 0;
};

constexpr uint32_t kErrorInsufficientBuffer = 122;

// The pass-through read: 4096 bytes, doubled on ERROR_INSUFFICIENT_BUFFER,
// at most four calls; empty when nothing came back.
std::vector<uint8_t> ReadRawReportDescriptor(HidDescriptorRequests& requests, HidDevice& device);

// The HID collections among `entries` (the enumerated HID interfaces) of the
// same USB interface as `path`, by collection number then path; `path` alone
// when its parent is unknown.
std::vector<std::string> FindSiblingCollections(const std::vector<HidInterfaceEntry>& entries,
                                                const std::string& path);

// The descriptor report map, or false with the failure message.
bool ReadHidDescriptors(HidDeviceApi& api, DeviceTree& tree, UsbHubApi& hubs,
                        HidDescriptorRequests& requests, const std::string& path,
                        EncodableValue* report, std::string* message);

// Fills read_hid_descriptors over the given platform, which must outlive the
// operations, and the report descriptor analysis operations.
void BindHidDescriptorOperations(BridgeOperations& ops, HidDeviceApi& api, DeviceTree& tree,
                                 UsbHubApi& hubs, HidDescriptorRequests& requests);

#ifdef _WIN32
HidDescriptorRequests& WindowsHidDescriptorRequests();
// The same over hid.dll, SetupAPI, the configuration manager and the hubs.
void PlugHidDescriptorOperations(BridgeOperations& ops);
#endif

}  // namespace vek_native

#endif  // VEK_HID_DESCRIPTOR_REPORT_H_
