#include <windows.h>
#include <cfgmgr32.h>

#include "common/text.h"
#include "hid/device_tree.h"

namespace vek_native {
namespace {

// CM_Get_Device_IDW's buffer: MAX_DEVICE_ID_LEN (200) units and a terminator.
constexpr ULONG kDeviceIdUnits = 201;

class WinDeviceTree : public DeviceTree {
 public:
  bool GetParentInstanceId(const std::string& instance_id, std::string* parent_id,
                           uint32_t* cm_error) override {
    std::wstring wide = Utf8ToWide(instance_id);
    DEVINST node = 0;
    CONFIGRET result = CM_Locate_DevNodeW(&node, wide.data(), 0);
    if (result != CR_SUCCESS) return Fail(result, cm_error);
    DEVINST parent = 0;
    result = CM_Get_Parent(&parent, node, 0);
    if (result != CR_SUCCESS) return Fail(result, cm_error);
    wchar_t id[kDeviceIdUnits] = {};
    result = CM_Get_Device_IDW(parent, id, kDeviceIdUnits, 0);
    if (result != CR_SUCCESS) return Fail(result, cm_error);
    id[kDeviceIdUnits - 1] = 0;
    *parent_id = WideToUtf8(id);
    return true;
  }

 private:
  static bool Fail(CONFIGRET result, uint32_t* cm_error) {
    *cm_error = static_cast<uint32_t>(result);
    return false;
  }
};

}  // namespace

DeviceTree& WindowsDeviceTree() {
  static WinDeviceTree tree;
  return tree;
}

}  // namespace vek_native
