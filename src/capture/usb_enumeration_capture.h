// What the USB stack and the HID class driver log while one device is reset
// and enumerates again. An elevated helper traces the USB and HID providers
// around a hub port cycle and leaves a meta file and the XML dump in a fresh
// capture directory; the caller parses the events from there.
#ifndef VEK_CAPTURE_USB_ENUMERATION_CAPTURE_H_
#define VEK_CAPTURE_USB_ENUMERATION_CAPTURE_H_

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
#include "channels/encodable_value.h"

namespace vek_native {

inline constexpr char kUsbCaptureDirectoryPrefix[] = "vek_tool_usbcap_";
inline constexpr char kUsbCaptureMetaFile[] = "meta.txt";
inline constexpr char kUsbCaptureEventsFile[] = "events.xml";
inline constexpr char kUsbCaptureTraceFile[] = "capture.etl";

int32_t ClampUsbCaptureDuration(int32_t duration_ms);
int32_t ClampUsbCaptureTimeout(int32_t timeout_ms);

// "YYYY-MM-DD hh:mm:ss.mmm".
std::string FormatCaptureLocalTime(const CaptureLocalTime& time);

struct UsbCaptureMeta {
  int64_t capture_start_us = 0;
  int64_t capture_start_wall_us = 0;
  std::string captured_at;
  uint32_t duration_ms = 0;
  uint32_t reset_ms = 0;
  std::vector<std::string> skipped_providers;
  std::string error;
};

// key=value lines ended by "\n", in a fixed order; CR and LF are removed
// from the texts.
std::string FormatUsbCaptureMeta(const UsbCaptureMeta& meta);
UsbCaptureMeta ParseUsbCaptureMeta(std::string_view text);

struct UsbCaptureResult {
  std::string usb_instance_id;
  std::string vid_pid;
  uint32_t duration_ms = 0;
  uint32_t reset_ms = 0;
  std::vector<TraceEventRecord> events;
  std::string trace_path;
  bool truncated = false;
  std::string summary;
  std::string captured_at;
};

// "抓取到 N 个事件（M 条含数据负载），来自 P 个提供程序" and the skipped and
// truncated notes.
std::string BuildUsbCaptureSummary(const std::vector<TraceEventRecord>& events,
                                   const std::vector<std::string>& skipped_providers,
                                   bool truncated);
EncodableValue UsbCaptureResultToValue(const UsbCaptureResult& result);

HelperLaunchValues UsbCaptureLaunchValues(const std::string& usb_instance_id, int32_t duration_ms,
                                          bool include_hid_reports, int32_t timeout_ms);

// The helper mode: 0 success, 1 failure (message in the meta file). Refuses a
// directory that is not one of its own capture directories.
int RunUsbEnumerationCaptureHelper(CaptureHelperSystem& system, const std::string& usb_instance_id,
                                   int32_t duration_ms, bool include_hid_reports,
                                   int32_t timeout_ms, const std::string& capture_directory);

// Deletes the capture directory's files and then the directory.
void RemoveCaptureDirectory(FileSystem& files, const std::string& directory);

struct UsbCaptureCaller {
  ProcessLauncher* launcher = nullptr;
  FileSystem* files = nullptr;
  const CaptureSupportQueries* support = nullptr;
  // RunUsbEnumerationCaptureHelper in this process, for an elevated caller.
  std::function<int(const std::string& usb_instance_id, int32_t duration_ms,
                    bool include_hid_reports, int32_t timeout_ms,
                    const std::string& capture_directory)>
      run_helper;
};

bool CaptureUsbEnumeration(const UsbCaptureCaller& caller, const std::string& usb_instance_id,
                           int32_t duration_ms, bool include_hid_reports, int32_t timeout_ms,
                           UsbCaptureResult* result, bool* cancelled, std::string* error = nullptr);

}  // namespace vek_native

#endif  // VEK_CAPTURE_USB_ENUMERATION_CAPTURE_H_
