#include "usb/usb_node.h"

#include "common/text.h"

namespace vek_native {
namespace {

constexpr int kUsbIdWalkNodes = 8;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiUpper(text.substr(0, prefix.size())) == prefix;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the text is upper-cased before
}

uint32_t FourHexAfter(const std::string& upper, std::string_view marker) {
  const size_t at = upper.find(marker);
  if (at == std::string::npos) return 0;
  const size_t digits = at + marker.size();
  if (upper.size() < digits + 4) return 0;
  uint32_t value = 0;
  for (size_t i = digits; i < digits + 4; ++i) {
    const int digit = HexValue(upper[i]);
    if (digit < 0) return 0;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

}  // namespace

std::string ProblemText(uint32_t problem) {
  switch (problem) {
    case 0:
      return "";
    case 1:
      return "未配置";
    case 10:
      return "无法启动";
    case 14:
      return "需要重启后生效";
    case 18:
      return "需要重新安装驱动程序";
    case 19:
      return "注册表损坏";
    case 24:
      return "设备不存在";
    case 28:
      return "驱动未安装";
    case 31:
      return "无法加载驱动程序";
    case 43:
      return "驱动程序报告设备失败";
    case 45:
      return "设备未连接";
    default:
      return "错误代码 " + std::to_string(problem);
  }
}

std::string_view ProblemAdvice(uint32_t problem) {
  switch (problem) {
    case 10:
      return "常见原因是 USB "
             "描述符不合法、供电不足或端口接触不良；可尝试一键复位端口、更换线缆或换一个 USB "
             "端口。";
    case 14:
      return "设备已启动但配置变更尚未生效，重启 Windows 后可恢复。";
    case 18:
      return "驱动安装不完整，请在设备管理器中卸载设备后重新安装厂商驱动。";
    case 19:
      return "设备注册表信息损坏，可尝试卸载设备后重新扫描硬件改动。";
    case 22:
      return "设备被禁用，请在设备管理器中重新启用。";
    case 24:
      return "设备已不在位（残留节点），可以忽略或卸载该幽灵设备。";
    case 28:
      return "系统没有设备驱动，请安装厂商驱动或让 Windows Update 安装。";
    case 31:
      return "驱动加载失败，通常需要在设备管理器中卸载设备后重新安装驱动。";
    case 43:
      return "驱动报告设备失败，常见于 HID "
             "报告描述符无法解析或固件异常，可尝试复位端口后重新插拔。";
    case 45:
      return "设备当前未连接（幽灵节点），可忽略或卸载。";
    default:
      return "";
  }
}

std::string_view SpeedLabel(uint8_t speed) {
  switch (speed) {
    case 0:
      return "低速（1.5 Mbps）";
    case 1:
      return "全速（12 Mbps）";
    case 2:
      return "高速（480 Mbps）";
    case 3:
      return "超速（5 Gbps 及以上）";
    default:
      return "未知";
  }
}

void ParseVidPid(std::string_view instance_id, uint32_t* vendor_id, uint32_t* product_id) {
  const std::string upper = AsciiUpper(instance_id);
  *vendor_id = FourHexAfter(upper, "VID_");
  *product_id = FourHexAfter(upper, "PID_");
}

bool IsUsbDeviceInstanceId(std::string_view instance_id) {
  return StartsWithIgnoringCase(instance_id, "USB\\") &&
         AsciiUpper(instance_id).find("&MI_") == std::string::npos;
}

std::string FindUsbNodeInstanceId(DeviceTree& tree, uint32_t node, const UsbNodeRecord& record) {
  if (IsUsbDeviceInstanceId(record.instance_id)) return record.instance_id;
  uint32_t current = node;
  for (int examined = 1;; ++examined) {
    std::string id;
    if (tree.NodeInstanceId(current, &id) == 0 && IsUsbDeviceInstanceId(id)) return id;
    if (examined == kUsbIdWalkNodes) return "";
    uint32_t parent = 0;
    if (tree.ParentNode(current, &parent) != 0) return "";
    current = parent;
  }
}

UsbNodeRecord BuildUsbNodeRecord(DeviceTree& tree, DevNodeProperties& properties, uint32_t node,
                                 const std::string& instance_id_hint) {
  UsbNodeRecord record;
  record.instance_id = instance_id_hint;
  if (record.instance_id.empty() && tree.NodeInstanceId(node, &record.instance_id) != 0) {
    record.instance_id.clear();
  }
  record.description =
      properties.ReadDevNodeRegistryString(node, DevNodeProperty::kDeviceDescription);
  record.friendly_name = properties.ReadDevNodeRegistryString(node, DevNodeProperty::kFriendlyName);
  record.class_name = properties.ReadDevNodeRegistryString(node, DevNodeProperty::kClass);
  // A USB instance ID wins over the HID class; anything else is taken as USB.
  const bool hid_node = !StartsWithIgnoringCase(record.instance_id, "USB\\") &&
                        (StartsWithIgnoringCase(record.instance_id, "HID\\") ||
                         AsciiUpper(record.class_name) == "HIDCLASS");
  record.bus_type = hid_node ? "HID" : "USB";
  record.class_guid = properties.ReadDevNodeRegistryString(node, DevNodeProperty::kClassGuid);
  record.service = properties.ReadDevNodeRegistryString(node, DevNodeProperty::kService);
  record.driver_key = properties.ReadDevNodeRegistryString(node, DevNodeProperty::kDriver);
  record.location_info =
      properties.ReadDevNodeRegistryString(node, DevNodeProperty::kLocationInformation);
  uint32_t parent = 0;
  if (tree.ParentNode(node, &parent) == 0) {
    std::string parent_id;
    if (tree.NodeInstanceId(parent, &parent_id) == 0) record.parent_instance_id = parent_id;
  }
  uint32_t status = 0;
  uint32_t problem = 0;
  const uint32_t status_result = properties.GetStatus(node, &status, &problem);
  if (status_result == 0 || status_result == kCmNoSuchDevInst) {
    if (status_result == kCmNoSuchDevInst) problem = kProblemPhantom;
    record.problem_code = problem;
    record.problem_text = ProblemText(problem);
    if (problem == kProblemDisabled) {
      record.device_status = "已禁用";
    } else if (problem != 0) {
      record.device_status = "有问题";
    } else if ((status & kDnStarted) != 0) {
      record.device_status = "已启动";
    } else {
      record.device_status = "未知";
    }
  } else {
    record.device_status = "未知";
  }
  record.is_hid_collection = AsciiUpper(record.instance_id).find("&COL") != std::string::npos;
  ParseVidPid(record.instance_id, &record.vendor_id, &record.product_id);
  record.usb_instance_id = FindUsbNodeInstanceId(tree, node, record);
  return record;
}

EncodableValue UsbNodeMap(const UsbNodeRecord& r) {
  EncodableMap map;
  auto put = [&map](const char* key, EncodableValue value) {
    map[EncodableValue(key)] = std::move(value);
  };
  put("instanceId", EncodableValue(r.instance_id));
  put("description", EncodableValue(r.description));
  put("friendlyName", EncodableValue(r.friendly_name));
  put("className", EncodableValue(r.class_name));
  put("classGuid", EncodableValue(r.class_guid));
  put("service", EncodableValue(r.service));
  put("driverKey", EncodableValue(r.driver_key));
  put("parentInstanceId", EncodableValue(r.parent_instance_id));
  put("locationInfo", EncodableValue(r.location_info));
  put("busType", EncodableValue(r.bus_type));
  put("problemCode", EncodableValue(static_cast<int64_t>(r.problem_code)));
  put("problemText", EncodableValue(r.problem_text));
  put("deviceStatus", EncodableValue(r.device_status));
  put("isHidCollection", EncodableValue(r.is_hid_collection));
  put("vendorId", EncodableValue(static_cast<int64_t>(r.vendor_id)));
  put("productId", EncodableValue(static_cast<int64_t>(r.product_id)));
  put("usbInstanceId", EncodableValue(r.usb_instance_id));
  put("hasHidCollections", EncodableValue(r.has_hid_collections));
  return EncodableValue(std::move(map));
}

}  // namespace vek_native
