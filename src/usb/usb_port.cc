#include "usb/usb_port.h"

#include <climits>

#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char16_t kPortMarker[] = u"Port_#";
constexpr char kHubInterfaceGuid[] = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";

bool IsWideSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

bool SetMessage(std::string* message, std::string text) {
  if (message != nullptr) *message = std::move(text);
  return false;
}

}  // namespace

uint32_t ParsePortFromLocation(std::u16string_view location) {
  const size_t at = location.find(kPortMarker);
  if (at == std::u16string_view::npos) return 0;
  size_t p = at + (sizeof(kPortMarker) / sizeof(char16_t) - 1);
  while (p < location.size() && IsWideSpace(location[p])) ++p;
  bool negative = false;
  if (p < location.size() && (location[p] == u'+' || location[p] == u'-')) {
    negative = location[p] == u'-';
    ++p;
  }
  // Accumulating past the valid range is pointless: wcstol would clamp to
  // LONG_MAX/LONG_MIN, which are out of range too.
  uint64_t value = 0;
  bool any_digit = false;
  for (; p < location.size() && location[p] >= u'0' && location[p] <= u'9'; ++p) {
    any_digit = true;
    if (value <= kMaxHubPort) value = value * 10 + static_cast<uint64_t>(location[p] - u'0');
  }
  if (!any_digit || negative) return 0;
  if (value < kMinHubPort || value > kMaxHubPort) return 0;
  return static_cast<uint32_t>(value);
}

std::string HubInterfacePath(std::string_view hub_instance_id) {
  std::string path = "\\\\?\\";
  for (char c : hub_instance_id) {
    if (c >= 'A' && c <= 'Z') {
      path.push_back(static_cast<char>(c - 'A' + 'a'));
    } else if (c == '\\') {
      path.push_back('#');
    } else {
      path.push_back(c);
    }
  }
  path.push_back('#');
  path += kHubInterfaceGuid;
  return path;
}

bool ResolveUsbDevicePort(DeviceTree& tree, const std::string& instance_id, uint32_t* node,
                          uint32_t* port, std::string* message) {
  *node = 0;
  *port = 0;
  if (instance_id.empty()) return SetMessage(message, kEmptyUsbInstanceIdMessage);
  uint32_t current = 0;
  const uint32_t located = tree.LocateNode(instance_id, &current);
  if (located != 0) {
    return SetMessage(message, "无法定位 USB 设备节点" + CmErrorSuffix(located));
  }
  for (int examined = 1;; ++examined) {
    std::u16string location;
    if (tree.ReadLocationInfo(current, &location)) {
      const uint32_t found = ParsePortFromLocation(location);
      if (found != 0) {
        *node = current;
        *port = found;
        return true;
      }
    }
    if (examined == kPortWalkNodes) break;
    uint32_t parent = 0;
    if (tree.ParentNode(current, &parent) != 0) break;
    current = parent;
  }
  return SetMessage(message, kNoPortInLocationMessage);
}

bool OpenParentUsbHub(DeviceTree& tree, UsbHubApi& hubs, const std::string& instance_id,
                      std::unique_ptr<UsbHub>* hub, uint32_t* port, std::string* message) {
  hub->reset();
  *port = 0;
  uint32_t node = 0;
  uint32_t found_port = 0;
  if (!ResolveUsbDevicePort(tree, instance_id, &node, &found_port, message)) return false;
  uint32_t hub_node = 0;
  const uint32_t parent_result = tree.ParentNode(node, &hub_node);
  if (parent_result != 0) {
    return SetMessage(message, "无法定位父 USB 集线器节点" + CmErrorSuffix(parent_result));
  }
  std::string hub_id;
  const uint32_t id_result = tree.NodeInstanceId(hub_node, &hub_id);
  if (id_result != 0) {
    return SetMessage(message, "无法获取父 USB 集线器的设备实例 ID" + CmErrorSuffix(id_result));
  }
  const std::string path = HubInterfacePath(hub_id);
  const std::u16string wide_path = Utf8ToUtf16(path);
  uint32_t error = 0;
  std::unique_ptr<UsbHub> opened = hubs.OpenHubWithAccess(wide_path, HubAccess::kReadWrite, &error);
  if (!opened) {
    opened = hubs.OpenHubWithAccess(wide_path, HubAccess::kRead, &error);
  }
  if (!opened) {
    return SetMessage(message, "无法打开 USB 集线器 " + path + ErrorCodeSuffix(error));
  }
  *hub = std::move(opened);
  *port = found_port;
  return true;
}

}  // namespace vek_native
