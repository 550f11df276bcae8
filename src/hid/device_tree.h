// The configuration manager's device tree, as the HID and USB features walk it:
// from one device instance ID to its parent's.
#ifndef VEK_HID_DEVICE_TREE_H_
#define VEK_HID_DEVICE_TREE_H_

#include <cstdint>
#include <string>

namespace vek_native {

class DeviceTree {
 public:
  virtual ~DeviceTree() = default;
  // The instance ID of the parent node of `instance_id` (CM_Locate_DevNodeW
  // with flags 0, CM_Get_Parent, CM_Get_Device_IDW into 201 UTF-16 units).
  // False with the failing CONFIGRET in *cm_error when any step fails.
  virtual bool GetParentInstanceId(const std::string& instance_id, std::string* parent_id,
                                   uint32_t* cm_error) = 0;
};

#ifdef _WIN32
// The process's configuration-manager implementation (stateless).
DeviceTree& WindowsDeviceTree();
#endif

}  // namespace vek_native

#endif  // VEK_HID_DEVICE_TREE_H_
