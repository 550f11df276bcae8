// Whether an event-trace capture can work for a device on this system, checked
// without elevation before the user is asked for administrator rights: the
// Windows build, the registered trace providers, the device's hub port and the
// trace converter. Every system query is injected, so each decision is made
// and tested here without Windows.
#ifndef VEK_CAPTURE_CAPTURE_SUPPORT_H_
#define VEK_CAPTURE_CAPTURE_SUPPORT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/trace_session.h"
#include "channels/encodable_value.h"

namespace vek_native {

// Builds before Windows 8.1 lack the USB and HID class trace events and the
// port-reset request.
constexpr uint32_t kMinimumCaptureBuild = 9600;
inline constexpr char kFakeBuildVariable[] = "VEK_TOOL_CAPTURE_FAKE_BUILD";

// The system queries of the checks. An empty function counts as a failed
// query.
struct CaptureSupportQueries {
  // GetEnvironmentVariableW into a 32-unit buffer: the returned length and
  // the text it wrote (false when the variable is unset).
  std::function<bool(std::u16string* value, uint32_t* length)> read_fake_build_variable;
  // RtlGetVersion's dwBuildNumber; false when the function is missing or fails.
  std::function<bool(uint32_t* build)> read_system_build;
  std::function<bool(std::vector<TraceGuid>* guids, std::string* error)> list_provider_guids;
  std::function<bool(std::string* error)> has_hid_class_provider;
  // The hub port number of the device; false when it cannot be resolved.
  std::function<bool(const std::string& usb_instance_id, uint32_t* port)> resolve_hub_port;
  std::function<bool()> is_tracerpt_available;
};

struct UsbCaptureCapabilities {
  bool supported = false;
  std::string reason;
  uint32_t system_build = 0;
  std::vector<std::string> missing_providers;
  bool needs_admin = true;
  bool hub_port_found = false;
  bool tracerpt_available = false;
};

// The override's value when the variable holds a whole non-zero decimal
// number that fits 32 bits in 1 to 31 units; otherwise false.
bool ParseFakeBuildValue(const std::u16string& value, uint32_t length, uint32_t* build);

// The build number the checks use: the override first, then the system's.
bool CaptureSystemBuild(const CaptureSupportQueries& queries, uint32_t* build);

// Always fills `capabilities`; returns whether a capture can be attempted.
bool ProbeUsbCaptureSupport(const CaptureSupportQueries& queries,
                            const std::string& usb_instance_id,
                            UsbCaptureCapabilities* capabilities);
EncodableValue UsbCaptureCapabilitiesToValue(const UsbCaptureCapabilities& capabilities);

bool CheckHidCaptureSupport(const CaptureSupportQueries& queries,
                            const std::string& usb_instance_id, std::string* error = nullptr);

// "usbInstanceId 不是有效的 USB 设备实例路径：" + the ID, shared by every capture.
std::string InvalidUsbInstanceIdMessage(const std::string& usb_instance_id);

#ifdef _WIN32
// The system's answers; `resolve_hub_port` is supplied by the caller since
// the hub port resolution belongs to the USB inspection.
CaptureSupportQueries SystemCaptureSupportQueries(
    std::function<bool(const std::string& usb_instance_id, uint32_t* port)> resolve_hub_port);
#endif

}  // namespace vek_native

#endif  // VEK_CAPTURE_CAPTURE_SUPPORT_H_
