// Raw HID report descriptors as the device sends them: an elevated helper
// traces the HID class driver while the device's hub port is cycled and
// writes the descriptors it logged to a result file the caller reads.
#ifndef VEK_CAPTURE_HID_DESCRIPTOR_CAPTURE_H_
#define VEK_CAPTURE_HID_DESCRIPTOR_CAPTURE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_support.h"
#include "capture/capture_system.h"
#include "capture/elevated_helper.h"
#include "capture/helper_mode_operations.h"
#include "capture/trace_xml.h"

namespace vek_native {

inline constexpr char kHidCaptureResultPrefix[] = "vek_tool_capture_";
inline constexpr char kHidCaptureNoEventMessage[] =
    "未捕获到该设备的报告描述符事件（设备可能未重新枚举）";
inline constexpr char kHidCaptureFailedMessage[] = "抓取 HID 报告描述符失败";

constexpr int32_t kHidCaptureMinTimeoutMs = 5000;
constexpr int32_t kHidCaptureMaxTimeoutMs = 180000;
constexpr uint32_t kHidCaptureWaitMarginMs = 15000;

int32_t ClampHidCaptureTimeout(int32_t timeout_ms);
// How long the helper waits after the port cycle for the descriptors.
uint32_t HidCaptureSettleMs(int32_t timeout_ms);

// One line per record: path "|" declared length "|" upper-case hex "\r\n", in
// ascending interface order.
std::string FormatHidCaptureResult(const std::vector<HidDescriptorCapture>& records);
// The records of a result file; malformed lines are skipped. Every text is
// valid UTF-8.
std::vector<HidDescriptorCapture> ParseHidCaptureResult(std::string_view text);

// The helper's launch values for a device, interface and clamped time-out.
HelperLaunchValues HidCaptureLaunchValues(const std::string& usb_instance_id,
                                          int32_t interface_number, int32_t timeout_ms);

// The capture itself: 0 success, 1 failure, 2 no descriptor event for the
// device. `message` explains a non-zero result.
int CaptureHidDescriptorsOnce(CaptureHelperSystem& system, const std::string& usb_instance_id,
                              int32_t interface_number, int32_t timeout_ms,
                              const std::string& out_file_path, std::string* message);

// The helper mode: refuses a result path outside its own result locations,
// then captures and leaves the message in the error file on failure.
int RunHidDescriptorCaptureHelper(CaptureHelperSystem& system, const std::string& usb_instance_id,
                                  int32_t interface_number, int32_t timeout_ms,
                                  const std::string& out_file_path, std::string* message);

// The caller's side of a capture.
struct HidCaptureCaller {
  ProcessLauncher* launcher = nullptr;
  FileSystem* files = nullptr;
  const CaptureSupportQueries* support = nullptr;
  // RunHidDescriptorCaptureHelper in this process, for an elevated caller.
  std::function<int(const std::string& usb_instance_id, int32_t interface_number,
                    int32_t timeout_ms, const std::string& out_file_path, std::string* message)>
      run_helper;
};

bool CaptureHidReportDescriptors(const HidCaptureCaller& caller, const std::string& usb_instance_id,
                                 int32_t interface_number, int32_t timeout_ms,
                                 std::vector<HidDescriptorCapture>* records, bool* cancelled,
                                 std::string* error = nullptr);

}  // namespace vek_native

#endif  // VEK_CAPTURE_HID_DESCRIPTOR_CAPTURE_H_
