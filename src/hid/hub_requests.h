// Reading a HID device's USB descriptors through the hub port it hangs on.
#ifndef VEK_HID_HUB_REQUESTS_H_
#define VEK_HID_HUB_REQUESTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hub_api.h"
#include "hid/usb_descriptors.h"

namespace vek_native {

// Buffer sizes of the hub IOCTLs (packed structures of usbioctl.h).
constexpr size_t kNodeInformationSize = 76;
constexpr size_t kConnectionInformationSize = 365;
constexpr size_t kDriverKeyNameBufferSize = 1024;
constexpr uint32_t kMaxHubPorts = 127;

// Offsets inside USB_NODE_CONNECTION_INFORMATION_EX.
constexpr size_t kConnectionDeviceDescriptorOffset = 4;
constexpr size_t kConnectionSpeedOffset = 23;
constexpr size_t kConnectionDeviceAddressOffset = 25;
constexpr size_t kConnectionStatusOffset = 31;
// Offset of bNumberOfPorts inside USB_NODE_INFORMATION.
constexpr size_t kNodeNumberOfPortsOffset = 6;

// One GET_DESCRIPTOR through the hub. Empty on failure; `error` (optional)
// receives the Windows error of a failed call, 0 when the call succeeded but
// returned no descriptor bytes.
std::vector<uint8_t> GetDescriptorFromHub(UsbHub& hub, uint32_t port, uint8_t descriptor_type,
                                          uint8_t descriptor_index, uint16_t w_index,
                                          uint8_t bm_request, uint32_t length,
                                          uint32_t* error = nullptr);

// The driver key name of the device on a port; "" when unreadable.
std::string GetDriverKeyName(UsbHub& hub, uint32_t port);

// Opens a hub for read/write, then write, then read; null and the last
// Windows error when every attempt fails.
std::unique_ptr<UsbHub> OpenHub(UsbHubApi& api, const std::u16string& hub_path, uint32_t* error);

struct HubPortLocation {
  bool found = false;
  std::u16string hub_path;
  uint32_t port = 0;
  std::vector<uint8_t> device_descriptor;
  uint8_t speed = 0;
  uint8_t address = 0;
};

// The hub port of the device with the given IDs whose driver key matches;
// without a key match, the first port with the IDs in enumeration order.
HubPortLocation FindHubPort(UsbHubApi& api, uint16_t vendor_id, uint16_t product_id,
                            const std::string& driver_key);

// Everything the hub tells about the USB device behind a HID collection path,
// found among `interfaces` (the enumerated HID interfaces).
UsbDescriptorRecord ReadUsbDescriptorsForHidPath(const std::vector<HidInterfaceEntry>& interfaces,
                                                 DeviceTree& tree, UsbHubApi& hubs,
                                                 const std::string& hid_path, uint16_t vendor_id,
                                                 uint16_t product_id);
// The same, enumerating the HID interfaces first.
UsbDescriptorRecord ReadUsbDescriptorsForHidPath(HidDeviceApi& hid, DeviceTree& tree,
                                                 UsbHubApi& hubs, const std::string& hid_path,
                                                 uint16_t vendor_id, uint16_t product_id);

// The present HID interfaces; empty when they cannot be enumerated.
std::vector<HidInterfaceEntry> ListHidInterfaces(HidDeviceApi& hid);

// The parent instance ID of the first entry whose path equals `hid_path`
// ignoring ASCII case; "" when none is found or it has none.
std::string ParentInstanceIdOfHidPath(const std::vector<HidInterfaceEntry>& entries,
                                      const std::string& hid_path);

// The report-descriptor request lengths for a declared length D.
std::vector<uint32_t> ReportDescriptorRequestLengths(uint32_t declared_length);

// Configuration `index` through the hub: the 9-byte header first, then the
// whole wTotalLength when it is plausible; 4096 bytes at once when the header
// is refused. Empty when nothing of at least 9 bytes came back.
std::vector<uint8_t> ReadConfiguration(UsbHub& hub, uint32_t port, uint8_t index);

struct ReportDescriptorAttempt {
  std::vector<uint8_t> bytes;  // empty when no request succeeded
  bool truncated = false;      // a reply looked right but was shorter than declared
  size_t received = 0;         // the first truncated reply's length
};

// One interface's report descriptor through the hub, trying every recipient
// and length; the first reply that looks like a report descriptor and is not
// shorter than `declared` (0: unknown) wins. A failed call's Windows error is
// kept in `last_error`.
ReportDescriptorAttempt RequestReportDescriptor(UsbHub& hub, uint32_t port,
                                                uint8_t interface_number, uint16_t declared,
                                                uint32_t* last_error);

}  // namespace vek_native

#endif  // VEK_HID_HUB_REQUESTS_H_
