// What is wrong with one USB or HID device: its node record and ancestors, the
// hub port it sits on, what the hub says about the connection, whether its
// configuration and HID report descriptors can be read, and plain-language
// notes with advice.
#ifndef VEK_USB_USB_DIAGNOSTICS_H_
#define VEK_USB_USB_DIAGNOSTICS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "hid/hid_device_api.h"
#include "hid/hub_api.h"
#include "hid/report_descriptor.h"
#include "usb/usb_node.h"
#include "usb/usb_node_listing.h"

namespace vek_native {

// USB_NODE_CONNECTION_INFORMATION_EX without pipes, and what is read from it.
constexpr size_t kConnectionInfoFixedSize = 35;
// The smallest buffer of the second attempt: room for one pipe.
constexpr size_t kConnectionInfoRetryMinimum = 52;

struct HubConnectionInfo {
  uint8_t device_descriptor_length = 0;  // DeviceDescriptor.bLength
  uint8_t speed = 0;                     // Speed
};

// An error or warning in the report descriptor of one HID interface, read
// through the hub.
struct UsbHidDescriptorFinding {
  uint8_t interface_number = 0;
  HidFinding finding;
};

struct UsbDiagnosticsReport {
  bool has_node = false;
  UsbNodeRecord node;
  std::vector<UsbNodeRecord> ancestors;
  std::map<std::string, std::string> properties;
  std::vector<std::string> notes;
  std::string hub_path;
  uint32_t hub_port = 0;
  std::string speed;
  uint32_t device_descriptor_length = 0;
  bool configuration_descriptor_available = false;
  bool report_descriptor_available = false;
  uint32_t hid_collection_count = 0;
  // Interface by interface, in the order of the configuration descriptor.
  std::vector<UsbHidDescriptorFinding> hid_descriptor_findings;
};

// Everything the diagnostics talk to.
struct UsbDiagnosticsSystem {
  UsbNodeSystem nodes;
  UsbHubApi* hubs = nullptr;
  HidDeviceApi* hid = nullptr;
};

// The hub's connection information for a port (IOCTL 0x220448), retried once
// with the size the hub asks for. On failure `message` says why.
bool ReadHubConnectionInfo(UsbHub& hub, uint32_t port, HubConnectionInfo* info,
                           std::string* message);

// Whether the hub hands out the first 9 bytes of configuration 0. A refused
// request sets `message`; a short answer does not.
bool ProbeConfigurationDescriptor(UsbHub& hub, uint32_t port, std::string* message);

// Whether any present HID collection under the USB device yields its caps, and
// the link collections they hold. `message` keeps the first problem met.
// False only when the HID interfaces cannot be enumerated.
bool ProbeHidCollections(const UsbDiagnosticsSystem& system, const std::string& usb_instance_id,
                         bool* available, uint32_t* count, std::string* message);

// The report for one instance ID. Fails only without a report.
bool ReadUsbDiagnostics(const UsbDiagnosticsSystem& system, const std::string& instance_id,
                        UsbDiagnosticsReport* report, std::string* message);

// The report as the user interface receives it.
EncodableValue UsbDiagnosticsMap(const UsbDiagnosticsReport& report);

}  // namespace vek_native

#endif  // VEK_USB_USB_DIAGNOSTICS_H_
