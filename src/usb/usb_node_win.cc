#include <windows.h>
#include <cfgmgr32.h>

#include <vector>

#include "common/device_property_win.h"
#include "common/text.h"
#include "usb/usb_node.h"

namespace vek_native {
namespace {

// Registry strings larger than this are not device-node facts.
constexpr ULONG kMaxRegistryStringBytes = 65536;

class WinDevNodeProperties : public DevNodeProperties {
 public:
  std::string ReadDevNodeRegistryString(uint32_t node, DevNodeProperty property) override {
    const ULONG code = static_cast<ULONG>(property);
    ULONG type = 0;
    DWORD size = 0;
    if (!SizeProbe(
            [&](DWORD* required) {
              return CM_Get_DevNode_Registry_PropertyW(node, code, &type, nullptr, required, 0);
            },
            1, &size) ||
        size > kMaxRegistryStringBytes) {
      return "";
    }
    std::vector<wchar_t> buffer(size / 2 + 1, 0);
    ULONG filled = static_cast<ULONG>((buffer.size() - 1) * sizeof(wchar_t));
    if (CM_Get_DevNode_Registry_PropertyW(node, code, &type, buffer.data(), &filled, 0) !=
            CR_SUCCESS ||
        type != REG_SZ) {
      return "";
    }
    buffer.back() = 0;
    return WideToUtf8(buffer.data());
  }

  uint32_t GetStatus(uint32_t node, uint32_t* status, uint32_t* problem) override {
    ULONG bits = 0;
    ULONG number = 0;
    const CONFIGRET result = CM_Get_DevNode_Status(&bits, &number, node, 0);
    *status = bits;
    *problem = number;
    return static_cast<uint32_t>(result);
  }
};

}  // namespace

DevNodeProperties& WindowsDevNodeProperties() {
  static WinDevNodeProperties properties;
  return properties;
}

}  // namespace vek_native
