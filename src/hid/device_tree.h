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

  // Node-level steps for walks that need the device node itself (the hub-port
  // walk). Each returns the CONFIGRET (0 on success). A tree that only knows
  // instance IDs reports every node as missing (CR_NO_SUCH_DEVNODE).
  static constexpr uint32_t kNoSuchDevNode = 0x0D;
  // CM_Locate_DevNodeW with flags 0: present nodes only.
  virtual uint32_t LocateNode(const std::string& /*instance_id*/, uint32_t* node) {
    *node = 0;
    return kNoSuchDevNode;
  }
  // CM_Get_Parent with flags 0.
  virtual uint32_t ParentNode(uint32_t /*node*/, uint32_t* parent) {
    *parent = 0;
    return kNoSuchDevNode;
  }
  // CM_Get_Device_IDW into 201 zero-filled units (length 200), as UTF-8 up to
  // the first 0 unit.
  virtual uint32_t NodeInstanceId(uint32_t /*node*/, std::string* /*instance_id*/) {
    return kNoSuchDevNode;
  }
  // DEVPKEY_Device_LocationInfo through CM_Get_DevNode_PropertyW into a
  // zero-filled 1024-byte buffer: true with the text up to its first 0 unit
  // when the read succeeds and the property is a DEVPROP_TYPE_STRING.
  virtual bool ReadLocationInfo(uint32_t /*node*/, std::u16string* /*text*/) { return false; }
};

#ifdef _WIN32
// The process's configuration-manager implementation (stateless).
DeviceTree& WindowsDeviceTree();
#endif

}  // namespace vek_native

#endif  // VEK_HID_DEVICE_TREE_H_
