// Device-information sets, phantom look-ups and the HID interfaces with their
// device nodes, through SetupAPI and the configuration manager.
#include <windows.h>
// Must follow windows.h.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <vector>

#include "common/scoped_win.h"
#include "common/text.h"
#include "hid/hid_device_api_win.h"
#include "usb/usb_node_listing.h"

namespace vek_native {
namespace {

static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA layout");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32, "SP_DEVICE_INTERFACE_DATA layout");
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfAllClasses == DIGCF_ALLCLASSES &&
                  kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE,
              "SetupDiGetClassDevsW flags");

// SetupDiGetDeviceInstanceIdW's buffer: MAX_DEVICE_ID_LEN and a terminator.
constexpr DWORD kInstanceIdUnits = 201;

const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kHidInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kUsbSetupClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID kHidSetupClass = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
const GUID kOtherSetupClass = {
    0x4D36E97E, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

const GUID* ClassGuid(DeviceInfoClass device_class) {
  switch (device_class) {
    case DeviceInfoClass::kUsbDeviceInterface:
      return &kUsbDeviceInterface;
    case DeviceInfoClass::kHidInterface:
      return &kHidInterface;
    case DeviceInfoClass::kUsbSetupClass:
      return &kUsbSetupClass;
    case DeviceInfoClass::kHidSetupClass:
      return &kHidSetupClass;
    case DeviceInfoClass::kOtherSetupClass:
      return &kOtherSetupClass;
    case DeviceInfoClass::kNone:
      break;
  }
  return nullptr;
}

class WinUsbNodeSource : public UsbNodeSource {
 public:
  bool ReadDeviceInfoSet(const DeviceInfoQuery& query,
                         std::vector<DeviceInfoEntry>* devices) override {
    const std::wstring enumerator =
        query.enumerator != nullptr ? Utf8ToWide(query.enumerator) : std::wstring();
    const ScopedDeviceInfoList list(SetupDiGetClassDevsW(
        ClassGuid(query.device_class), query.enumerator != nullptr ? enumerator.c_str() : nullptr,
        nullptr, query.flags));
    if (!list.IsValid()) return false;
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA data = {};
      data.cbSize = sizeof(data);
      if (!SetupDiEnumDeviceInfo(list.Get(), index, &data)) break;
      wchar_t id[kInstanceIdUnits] = {};
      if (!SetupDiGetDeviceInstanceIdW(list.Get(), &data, id, kInstanceIdUnits, nullptr)) continue;
      id[kInstanceIdUnits - 1] = 0;
      devices->push_back({static_cast<uint32_t>(data.DevInst), WideToUtf8(id)});
    }
    return true;
  }

  uint32_t LocateNodeOrPhantom(const std::string& instance_id, uint32_t* node) override {
    std::wstring wide = Utf8ToWide(instance_id);
    DEVINST located = 0;
    const CONFIGRET result =
        CM_Locate_DevNodeW(&located, wide.empty() ? nullptr : &wide[0], CM_LOCATE_DEVNODE_PHANTOM);
    *node = result == CR_SUCCESS ? static_cast<uint32_t>(located) : 0;
    return static_cast<uint32_t>(result);
  }

  bool ListHidInterfaceNodes(std::vector<HidInterfaceNode>* interfaces, uint32_t* error) override {
    return ForEachPresentHidInterface(
        [interfaces](const std::string& path, HDEVINFO, SP_DEVINFO_DATA* info) {
          interfaces->push_back({path, static_cast<uint32_t>(info->DevInst)});
        },
        error);
  }

  uint32_t ThreadLastError() override { return GetLastError(); }
};

}  // namespace

UsbNodeSource& WindowsUsbNodeSource() {
  static WinUsbNodeSource source;
  return source;
}

}  // namespace vek_native
