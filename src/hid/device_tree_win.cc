#include <windows.h>
#include <cfgmgr32.h>
#include <devpropdef.h>

#include "common/text.h"
#include "hid/device_tree.h"

namespace vek_native {
namespace {

// CM_Get_Device_IDW's buffer: MAX_DEVICE_ID_LEN (200) units and a terminator.
constexpr ULONG kDeviceIdUnits = 201;
// The property buffer of a LocationInfo read, in bytes.
constexpr ULONG kLocationBytes = 1024;
// DEVPKEY_Device_LocationInfo, spelled out so no devpkey.h/initguid.h
// ordering is needed.
constexpr DEVPROPKEY kLocationInfoKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 15};

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

  uint32_t LocateNode(const std::string& instance_id, uint32_t* node) override {
    std::wstring wide = Utf8ToWide(instance_id);
    DEVINST located = 0;
    const CONFIGRET result = CM_Locate_DevNodeW(&located, wide.data(), 0);
    *node = result == CR_SUCCESS ? static_cast<uint32_t>(located) : 0;
    return static_cast<uint32_t>(result);
  }

  uint32_t ParentNode(uint32_t node, uint32_t* parent) override {
    DEVINST found = 0;
    const CONFIGRET result = CM_Get_Parent(&found, node, 0);
    *parent = result == CR_SUCCESS ? static_cast<uint32_t>(found) : 0;
    return static_cast<uint32_t>(result);
  }

  uint32_t NodeInstanceId(uint32_t node, std::string* instance_id) override {
    wchar_t id[kDeviceIdUnits] = {};
    const CONFIGRET result = CM_Get_Device_IDW(node, id, kDeviceIdUnits - 1, 0);
    if (result != CR_SUCCESS) return static_cast<uint32_t>(result);
    *instance_id = WideToUtf8(id);
    return 0;
  }

  bool ReadLocationInfo(uint32_t node, std::u16string* text) override {
    wchar_t buffer[kLocationBytes / sizeof(wchar_t) + 1] = {};
    DEVPROPTYPE type = 0;
    ULONG size = kLocationBytes;
    const CONFIGRET result = CM_Get_DevNode_PropertyW(node, &kLocationInfoKey, &type,
                                                      reinterpret_cast<PBYTE>(buffer), &size, 0);
    if (result != CR_SUCCESS || type != DEVPROP_TYPE_STRING) return false;
    text->assign(reinterpret_cast<const char16_t*>(buffer));
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
