#include "capture/capture_support.h"

#include <algorithm>

#include "capture/trace_text.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char kTracerptMissing[] =
    "系统未找到 tracerpt.exe（%SystemRoot%\\System32\\tracerpt.exe），无法解析 ETW 跟踪文件。";

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

std::string InvalidUsbInstanceIdMessage(const std::string& usb_instance_id) {
  return "usbInstanceId 不是有效的 USB 设备实例路径：" + EchoedInstanceId(usb_instance_id);
}

bool ParseFakeBuildValue(const std::u16string& value, uint32_t length, uint32_t* build) {
  if (length < 1 || length > 31 || value.size() < length) return false;
  // Only digits: a sign or blanks would otherwise slip a wrapped or odd value
  // past the conversion.
  uint64_t number = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const char16_t c = value[i];
    if (c < u'0' || c > u'9') return false;
    number = number * 10 + static_cast<uint32_t>(c - u'0');
    if (number > 0xFFFFFFFFULL) return false;
  }
  if (number == 0) return false;
  *build = static_cast<uint32_t>(number);
  return true;
}

bool CaptureSystemBuild(const CaptureSupportQueries& queries, uint32_t* build) {
  std::u16string value;
  uint32_t length = 0;
  if (queries.read_fake_build_variable && queries.read_fake_build_variable(&value, &length) &&
      ParseFakeBuildValue(value, length, build)) {
    return true;
  }
  return queries.read_system_build && queries.read_system_build(build);
}

bool ProbeUsbCaptureSupport(const CaptureSupportQueries& queries,
                            const std::string& usb_instance_id,
                            UsbCaptureCapabilities* capabilities) {
  UsbCaptureCapabilities& out = *capabilities;
  out = UsbCaptureCapabilities();

  UsbInstanceId id;
  if (!ParseUsbInstanceId(usb_instance_id, &id)) {
    out.reason = InvalidUsbInstanceIdMessage(usb_instance_id);
    return false;
  }

  uint32_t build = 0;
  if (!CaptureSystemBuild(queries, &build)) {
    out.reason = "无法确定 Windows 版本，无法确认 ETW 抓包支持。";
    return false;
  }
  out.system_build = build;
  if (build < kMinimumCaptureBuild) {
    out.reason =
        "当前系统不支持 ETW 抓包（需要 Windows 8.1 及以上；Windows 7/8 缺少 USB 与 HID 类 ETW "
        "报告描述符事件，且端口复位 IOCTL 不支持）。";
    return false;
  }

  std::vector<TraceGuid> guids;
  std::string message;
  if (!queries.list_provider_guids || !queries.list_provider_guids(&guids, &message)) {
    out.reason = RepairUtf8(message);
    if (out.reason.empty()) out.reason = "无法枚举系统 ETW 提供程序。";
    return false;
  }
  for (const CaptureProvider& provider : kCaptureProviderTable) {
    if (std::find(guids.begin(), guids.end(), provider.guid) == guids.end()) {
      out.missing_providers.push_back(provider.name);
    }
  }

  uint32_t port = 0;
  out.hub_port_found =
      queries.resolve_hub_port && queries.resolve_hub_port(usb_instance_id, &port) && port >= 1;
  out.tracerpt_available = queries.is_tracerpt_available && queries.is_tracerpt_available();

  if (out.missing_providers.size() == kCaptureProviderCount) {
    out.reason = "系统未提供任何 USB / HID 类 ETW 提供程序，无法抓取 USB 枚举事件。";
  } else if (!out.hub_port_found) {
    out.reason = "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取）。";
  } else if (out.tracerpt_available) {
    out.supported = true;
  } else {
    out.reason = kTracerptMissing;
  }
  return out.supported;
}

EncodableValue UsbCaptureCapabilitiesToValue(const UsbCaptureCapabilities& capabilities) {
  EncodableList missing;
  for (const std::string& name : capabilities.missing_providers) missing.emplace_back(name);
  EncodableMap map;
  map[EncodableValue("supported")] = EncodableValue(capabilities.supported);
  map[EncodableValue("reason")] = EncodableValue(capabilities.reason);
  map[EncodableValue("systemBuild")] =
      EncodableValue(static_cast<int64_t>(capabilities.system_build));
  map[EncodableValue("missingProviders")] = EncodableValue(std::move(missing));
  map[EncodableValue("needsAdmin")] = EncodableValue(capabilities.needs_admin);
  map[EncodableValue("hubPortFound")] = EncodableValue(capabilities.hub_port_found);
  map[EncodableValue("tracerptAvailable")] = EncodableValue(capabilities.tracerpt_available);
  return EncodableValue(std::move(map));
}

bool CheckHidCaptureSupport(const CaptureSupportQueries& queries,
                            const std::string& usb_instance_id, std::string* error) {
  UsbInstanceId id;
  if (!ParseUsbInstanceId(usb_instance_id, &id)) {
    SetError(error, InvalidUsbInstanceIdMessage(usb_instance_id));
    return false;
  }
  // An unknown version does not refuse: the provider check below still
  // decides whether the events exist.
  uint32_t build = 0;
  if (CaptureSystemBuild(queries, &build) && build < kMinimumCaptureBuild) {
    SetError(error,
             "当前系统不支持 ETW 抓包（需要 Windows 8.1 及以上；Windows 7/8 缺少 HID 类 ETW "
             "报告描述符事件，且端口复位 IOCTL 不支持）。");
    return false;
  }
  std::string message;
  if (!queries.has_hid_class_provider || !queries.has_hid_class_provider(&message)) {
    message = RepairUtf8(message);
    if (message.empty()) {
      message =
          "系统未提供 HID 类 ETW 提供程序（Microsoft-Windows-Input-HIDCLASS），"
          "无法抓取原始报告描述符。";
    }
    SetError(error, message);
    return false;
  }
  uint32_t port = 0;
  if (!queries.resolve_hub_port || !queries.resolve_hub_port(usb_instance_id, &port) || port < 1) {
    SetError(error, "该设备不在 USB 集线器端口上（蓝牙/虚拟 HID 等无法用 ETW 抓取原始描述符）。");
    return false;
  }
  if (!queries.is_tracerpt_available || !queries.is_tracerpt_available()) {
    SetError(error, kTracerptMissing);
    return false;
  }
  return true;
}

}  // namespace vek_native
