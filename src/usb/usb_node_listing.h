// Every device node of the USB and HID device trees, present or not, as node
// records: what the user interface lists, and where the diagnostics look a
// device up.
#ifndef VEK_USB_USB_NODE_LISTING_H_
#define VEK_USB_USB_NODE_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "hid/device_tree.h"
#include "usb/usb_node.h"

namespace vek_native {

// The classes a device-information set can be built from.
enum class DeviceInfoClass {
  kNone,                // no class: all classes of an enumerator
  kUsbDeviceInterface,  // GUID_DEVINTERFACE_USB_DEVICE
  kHidInterface,        // the HID device-interface class
  kUsbSetupClass,       // setup class USB
  kHidSetupClass,       // setup class HIDClass
  kOtherSetupClass,     // setup class "Other devices"
};

// SetupDiGetClassDevsW flags.
constexpr uint32_t kDigcfPresent = 0x2;
constexpr uint32_t kDigcfAllClasses = 0x4;
constexpr uint32_t kDigcfDeviceInterface = 0x10;

// One SetupDiGetClassDevsW call.
struct DeviceInfoQuery {
  DeviceInfoClass device_class = DeviceInfoClass::kNone;
  const char* enumerator = nullptr;  // null: no enumerator
  uint32_t flags = 0;
};

// One device of a set: its node and its instance ID
// (SetupDiGetDeviceInstanceIdW into 201 units).
struct DeviceInfoEntry {
  uint32_t node = 0;
  std::string instance_id;
};

// One present HID device interface with the node it belongs to.
struct HidInterfaceNode {
  std::string path;
  uint32_t node = 0;
};

// The configuration-manager and SetupAPI steps the listing and the
// diagnostics take beyond the device tree's.
class UsbNodeSource {
 public:
  virtual ~UsbNodeSource() = default;
  // The devices of one set, in set order; devices whose instance ID cannot be
  // read are left out. False when the set cannot be built.
  virtual bool ReadDeviceInfoSet(const DeviceInfoQuery& query,
                                 std::vector<DeviceInfoEntry>* devices) = 0;
  // CM_Locate_DevNodeW with CM_LOCATE_DEVNODE_PHANTOM: present or not. The
  // CONFIGRET.
  virtual uint32_t LocateNodeOrPhantom(const std::string& instance_id, uint32_t* node) = 0;
  // The present interfaces of the HID interface class. False with the Windows
  // error when the class list cannot be built.
  virtual bool ListHidInterfaceNodes(std::vector<HidInterfaceNode>* interfaces,
                                     uint32_t* error) = 0;
  // GetLastError of the calling thread, for a failed step of another
  // interface that reports no code of its own; read right after that step.
  virtual uint32_t ThreadLastError() = 0;
};

// What the listing reads the device tree through.
struct UsbNodeSystem {
  DeviceTree* tree = nullptr;
  DevNodeProperties* properties = nullptr;
  UsbNodeSource* source = nullptr;
};

// The sets the listing reads, in order; a node enters from the first set that
// holds it.
std::vector<DeviceInfoQuery> UsbNodeListingQueries();

// The node records, HID collections left out unless asked for, devices without
// a problem first, each group in instance-ID order. Fails only without a list.
bool ListUsbDeviceNodes(const UsbNodeSystem& system, bool include_hid_children,
                        std::vector<UsbNodeRecord>* nodes, std::string* message);

#ifdef _WIN32
// SetupAPI and the configuration manager (stateless).
UsbNodeSource& WindowsUsbNodeSource();
#endif

}  // namespace vek_native

#endif  // VEK_USB_USB_NODE_LISTING_H_
