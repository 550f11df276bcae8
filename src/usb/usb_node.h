// The per-device-node record the USB diagnostics and the device-node listing
// share, and the texts that describe a node's state.
#ifndef VEK_USB_USB_NODE_H_
#define VEK_USB_USB_NODE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "channels/encodable_value.h"
#include "hid/device_tree.h"

namespace vek_native {

// Configuration-manager registry properties (CM_DRP_*).
enum class DevNodeProperty : uint32_t {
  kDeviceDescription = 1,
  kService = 5,
  kClass = 8,
  kClassGuid = 9,
  kDriver = 10,
  kFriendlyName = 13,
  kLocationInformation = 14,
};

constexpr uint32_t kProblemDisabled = 22;
constexpr uint32_t kProblemPhantom = 45;
constexpr uint32_t kDnStarted = 0x8;
constexpr uint32_t kCmNoSuchDevInst = 13;

// What the registry and the status of a device node say.
class DevNodeProperties {
 public:
  virtual ~DevNodeProperties() = default;
  // ReadDevNodeRegistryString: a REG_SZ property of 1..65536 bytes as UTF-8
  // up to its first 0 unit; "" for anything else.
  virtual std::string ReadDevNodeRegistryString(uint32_t node, DevNodeProperty property) = 0;
  // CM_Get_DevNode_Status: the CONFIGRET, and the status bits and problem.
  virtual uint32_t GetStatus(uint32_t node, uint32_t* status, uint32_t* problem) = 0;
};

struct UsbNodeRecord {
  std::string instance_id;
  std::string description;
  std::string friendly_name;
  std::string class_name;
  std::string class_guid;
  std::string service;
  std::string driver_key;
  std::string parent_instance_id;
  std::string location_info;
  std::string bus_type;
  uint32_t problem_code = 0;
  std::string problem_text;
  std::string device_status;
  bool is_hid_collection = false;
  uint32_t vendor_id = 0;
  uint32_t product_id = 0;
  std::string usb_instance_id;
  bool has_hid_collections = false;
};

// The short text of a problem number ("" for 0).
std::string ProblemText(uint32_t problem);
// What the user can do about a problem; "" when there is no advice.
std::string_view ProblemAdvice(uint32_t problem);
// The label of the hub's speed byte.
std::string_view SpeedLabel(uint8_t speed);

// The four hex digits after "VID_" and after "PID_" (ASCII case ignored);
// a value whose digits are missing or not hex stays 0.
void ParseVidPid(std::string_view instance_id, uint32_t* vendor_id, uint32_t* product_id);

// An ID of a USB device node itself: USB\ and no "&MI_" (case ignored).
bool IsUsbDeviceInstanceId(std::string_view instance_id);

// The USB device ID at or above `node`: the record's own ID when it is one,
// else the first such ID of the node and its ancestors, eight nodes at most.
std::string FindUsbNodeInstanceId(DeviceTree& tree, uint32_t node, const UsbNodeRecord& record);

UsbNodeRecord BuildUsbNodeRecord(DeviceTree& tree, DevNodeProperties& properties, uint32_t node,
                                 const std::string& instance_id_hint);

// The record as the user interface receives it.
EncodableValue UsbNodeMap(const UsbNodeRecord& record);

#ifdef _WIN32
// CM_Get_DevNode_Registry_PropertyW and CM_Get_DevNode_Status (stateless).
DevNodeProperties& WindowsDevNodeProperties();
#endif

}  // namespace vek_native

#endif  // VEK_USB_USB_NODE_H_
