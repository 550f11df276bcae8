#include "capture/usb_enumeration_capture.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "capture/trace_text.h"
#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr uint64_t kFileTimeAt1970 = 116444736000000000ULL;

void SetMessage(std::string* message, std::string text) {
  if (message != nullptr) *message = std::move(text);
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

std::string InDirectory(const std::string& directory, const char* name) {
  return directory + "\\" + name;
}

int64_t MicrosSince1970(uint64_t file_time) {
  if (file_time < kFileTimeAt1970) return 0;
  return static_cast<int64_t>((file_time - kFileTimeAt1970) / 10);
}

uint32_t ElapsedMs(int64_t from, int64_t to) {
  const int64_t micros = std::max<int64_t>(to - from, 0);
  return static_cast<uint32_t>((micros + 999) / 1000);
}

}  // namespace

int32_t ClampUsbCaptureDuration(int32_t duration_ms) {
  return std::min(std::max(duration_ms, 2000), 30000);
}

int32_t ClampUsbCaptureTimeout(int32_t timeout_ms) {
  return std::min(std::max(timeout_ms, 5000), 120000);
}

std::string FormatCaptureLocalTime(const CaptureLocalTime& time) {
  char text[64];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                static_cast<unsigned>(time.year), static_cast<unsigned>(time.month),
                static_cast<unsigned>(time.day), static_cast<unsigned>(time.hour),
                static_cast<unsigned>(time.minute), static_cast<unsigned>(time.second),
                static_cast<unsigned>(time.millisecond));
  return text;
}

std::string FormatUsbCaptureMeta(const UsbCaptureMeta& meta) {
  std::string skipped;
  for (const std::string& name : meta.skipped_providers) {
    if (!skipped.empty()) skipped += ',';
    skipped += name;
  }
  std::string text;
  text += "captureStartUs=" + std::to_string(meta.capture_start_us) + "\n";
  text += "captureStartWallUs=" + std::to_string(meta.capture_start_wall_us) + "\n";
  text += "capturedAt=" + WithoutLineBreaks(meta.captured_at) + "\n";
  text += "durationMs=" + std::to_string(meta.duration_ms) + "\n";
  text += "resetMs=" + std::to_string(meta.reset_ms) + "\n";
  text += "skippedProviders=" + WithoutLineBreaks(skipped) + "\n";
  text += "error=" + WithoutLineBreaks(meta.error) + "\n";
  return text;
}

UsbCaptureMeta ParseUsbCaptureMeta(std::string_view text) {
  UsbCaptureMeta meta;  // a missing or bad number stays 0
  ParseInt64Strict(MetaValue(text, "captureStartUs"), &meta.capture_start_us);
  ParseInt64Strict(MetaValue(text, "captureStartWallUs"), &meta.capture_start_wall_us);
  ParseUnsignedNumber(MetaValue(text, "durationMs"), &meta.duration_ms);
  ParseUnsignedNumber(MetaValue(text, "resetMs"), &meta.reset_ms);
  const std::string skipped = MetaValue(text, "skippedProviders");
  size_t start = 0;
  while (start <= skipped.size()) {
    size_t end = skipped.find(',', start);
    if (end == std::string::npos) end = skipped.size();
    const std::string_view piece =
        TrimAsciiSpace(std::string_view(skipped).substr(start, end - start));
    if (!piece.empty()) meta.skipped_providers.push_back(RepairUtf8(piece));
    start = end + 1;
  }
  meta.captured_at = RepairUtf8(MetaValue(text, "capturedAt"));
  meta.error = RepairUtf8(MetaValue(text, "error"));
  return meta;
}

std::string BuildUsbCaptureSummary(const std::vector<TraceEventRecord>& events,
                                   const std::vector<std::string>& skipped_providers,
                                   bool truncated) {
  size_t with_data = 0;
  std::set<std::string> providers;
  for (const TraceEventRecord& event : events) {
    if (!event.data_hex.empty()) ++with_data;
    providers.insert(event.provider);
  }
  std::string text = "抓取到 " + std::to_string(events.size()) + " 个事件（" +
                     std::to_string(with_data) + " 条含数据负载），来自 " +
                     std::to_string(providers.size()) + " 个提供程序";
  if (!skipped_providers.empty()) {
    text += "；未能启用：";
    for (size_t i = 0; i < skipped_providers.size(); ++i) {
      if (i > 0) text += "、";
      text += skipped_providers[i];
    }
  }
  if (truncated) {
    text += "；事件数量超过上限 " + std::to_string(kMaxTraceEventRecords) + "，已截断";
  }
  return text + "。";
}

EncodableValue UsbCaptureResultToValue(const UsbCaptureResult& result) {
  EncodableList events;
  events.reserve(result.events.size());
  for (const TraceEventRecord& event : result.events) {
    EncodableMap fields;
    for (const auto& [key, value] : event.fields)
      fields[EncodableValue(key)] = EncodableValue(value);
    EncodableMap map;
    // Integers the program sends are 64-bit, whatever width the record keeps.
    map[EncodableValue("offsetMs")] = EncodableValue(int64_t{event.offset_ms});
    map[EncodableValue("timestampUs")] = EncodableValue(event.timestamp_us);
    map[EncodableValue("provider")] = EncodableValue(event.provider);
    map[EncodableValue("eventId")] = EncodableValue(static_cast<int64_t>(event.event_id));
    map[EncodableValue("level")] = EncodableValue(event.level);
    map[EncodableValue("task")] = EncodableValue(event.task);
    map[EncodableValue("opcode")] = EncodableValue(event.opcode);
    map[EncodableValue("channel")] = EncodableValue(event.channel);
    map[EncodableValue("message")] = EncodableValue(event.message);
    map[EncodableValue("dataHex")] = EncodableValue(event.data_hex);
    map[EncodableValue("fields")] = EncodableValue(std::move(fields));
    events.emplace_back(std::move(map));
  }
  EncodableMap map;
  map[EncodableValue("usbInstanceId")] = EncodableValue(RepairUtf8(result.usb_instance_id));
  map[EncodableValue("vidPid")] = EncodableValue(result.vid_pid);
  map[EncodableValue("durationMs")] = EncodableValue(static_cast<int64_t>(result.duration_ms));
  map[EncodableValue("resetMs")] = EncodableValue(static_cast<int64_t>(result.reset_ms));
  map[EncodableValue("events")] = EncodableValue(std::move(events));
  map[EncodableValue("tracePath")] = EncodableValue(RepairUtf8(result.trace_path));
  map[EncodableValue("truncated")] = EncodableValue(result.truncated);
  map[EncodableValue("summary")] = EncodableValue(result.summary);
  map[EncodableValue("capturedAt")] = EncodableValue(result.captured_at);
  return EncodableValue(std::move(map));
}

HelperLaunchValues UsbCaptureLaunchValues(const std::string& usb_instance_id, int32_t duration_ms,
                                          bool include_hid_reports, int32_t timeout_ms) {
  HelperLaunchValues values;
  values.helper_switch = kUsbCaptureSwitch;
  values.parameters = {HelperParameter::Text(usb_instance_id), HelperParameter::Number(duration_ms),
                       HelperParameter::Number(include_hid_reports ? 1 : 0),
                       HelperParameter::Number(timeout_ms)};
  values.result_prefix = kUsbCaptureDirectoryPrefix;
  values.result_kind = ResultLocationKind::kDirectory;
  values.directory_files = {kUsbCaptureMetaFile, kUsbCaptureEventsFile, kUsbCaptureTraceFile};
  values.initialise_com = false;
  values.temp_directory_failure = {"无法获取系统临时目录（错误码 ", "）。"};
  values.create_directory_failure = {"无法创建 USB 抓包临时目录（错误码 ", "）。"};
  values.own_path_failure = {"无法获取 vek_tool.exe 路径（错误码 ", "）。"};
  values.declined_message = "用户取消了管理员授权（UAC），未执行 USB 抓包。";
  values.start_failure = {"无法以管理员身份启动 USB 抓包（错误码 ", "）。"};
  const uint32_t limit =
      static_cast<uint32_t>(timeout_ms) + static_cast<uint32_t>(duration_ms) + 30000;
  values.wait_limit_ms = limit;
  values.wait_ending = HelperWaitEnding::kAnyButSignalled;
  values.timeout_message = "USB 抓包超时（等待 " + std::to_string(limit) + " 毫秒）。";
  values.exit_code_failure = {"无法获取 USB 抓包 helper 退出码（错误码 ", "）。"};
  values.remove_result_on_timeout = true;
  return values;
}

void RemoveCaptureDirectory(FileSystem& files, const std::string& directory) {
  uint32_t ignored = 0;
  for (const char* name : {kUsbCaptureMetaFile, kUsbCaptureEventsFile, kUsbCaptureTraceFile}) {
    files.RemoveFile(InDirectory(directory, name), &ignored);
  }
  files.RemoveEmptyDirectory(directory, &ignored);
}

int RunUsbEnumerationCaptureHelper(CaptureHelperSystem& system, const std::string& usb_instance_id,
                                   int32_t duration_ms, bool /*include_hid_reports*/,
                                   int32_t /*timeout_ms*/, const std::string& capture_directory) {
  FileSystem& files = *system.files;
  // An elevated process creates and writes only its own capture directories,
  // never a path someone passed it on the command line.
  if (!IsResultLocationFor(files, capture_directory, kUsbCaptureDirectoryPrefix)) return 1;
  uint32_t ignored = 0;
  files.MakeDirectory(capture_directory, &ignored);
  const std::string meta_path = InDirectory(capture_directory, kUsbCaptureMetaFile);
  const std::u16string xml_path =
      Utf8ToUtf16(InDirectory(capture_directory, kUsbCaptureEventsFile));

  UsbCaptureMeta meta;
  meta.captured_at = FormatCaptureLocalTime(system.local_time());
  const auto finish = [&](std::string error) {
    meta.error = std::move(error);
    WriteWholeFile(files, meta_path, FormatUsbCaptureMeta(meta));
    return meta.error.empty() ? 0 : 1;
  };

  std::string error;
  HubPortCycler::HubHandle hub = nullptr;
  uint32_t port = 0;
  if (system.hub == nullptr) return finish(kNoHubRequestsMessage);
  if (!system.hub->OpenParentHub(usb_instance_id, &hub, &port, &error)) {
    return finish(error.empty() ? "无法打开设备的父集线器" : error);
  }

  // Destroying the session stops it and deletes its trace file on every path.
  TraceSession session(system.trace);
  if (!StartTraceSession(session, &error)) {
    system.hub->CloseHub(hub);
    return finish(error);
  }
  for (const CaptureProvider& provider : kCaptureProviderTable) {
    if (!EnableTraceProvider(session, provider.guid, nullptr)) {
      meta.skipped_providers.push_back(provider.name);
    }
  }
  if (meta.skipped_providers.size() == kCaptureProviderCount) {
    system.hub->CloseHub(hub);
    return finish("所有 USB / HID 类 ETW 提供程序都无法启用，未执行 USB 抓包。");
  }

  const CaptureLocalTime start = system.local_time();
  meta.captured_at = FormatCaptureLocalTime(start);
  uint64_t wall = 0;
  meta.capture_start_wall_us = system.to_file_time(start, &wall) ? MicrosSince1970(wall) : 0;
  meta.capture_start_us = MicrosSince1970(system.system_file_time());

  const int64_t t0 = system.now_micros();
  if (!system.hub->CyclePort(hub, port, &error)) {
    system.hub->CloseHub(hub);
    return finish(error.empty() ? "端口复位请求失败" : error);
  }
  meta.reset_ms = ElapsedMs(t0, system.now_micros());
  system.sleep(duration_ms > 0 ? static_cast<uint32_t>(duration_ms) : 2000);
  meta.duration_ms = ElapsedMs(t0, system.now_micros());
  StopTraceSession(session);
  system.hub->CloseHub(hub);

  if (!ConvertTraceToXml(*system.trace, session.log_path(), xml_path, &error)) {
    return finish(error);
  }
  return finish("");
}

bool CaptureUsbEnumeration(const UsbCaptureCaller& caller, const std::string& usb_instance_id,
                           int32_t duration_ms, bool include_hid_reports, int32_t timeout_ms,
                           UsbCaptureResult* result, bool* cancelled, std::string* error) {
  *result = UsbCaptureResult();
  *cancelled = false;
  UsbInstanceId id;
  if (!ParseUsbInstanceId(usb_instance_id, &id)) {
    SetMessage(error, InvalidUsbInstanceIdMessage(usb_instance_id));
    return false;
  }
  duration_ms = ClampUsbCaptureDuration(duration_ms);
  timeout_ms = ClampUsbCaptureTimeout(timeout_ms);

  UsbCaptureCapabilities capabilities;
  if (!ProbeUsbCaptureSupport(*caller.support, usb_instance_id, &capabilities)) {
    SetMessage(error, capabilities.reason.empty() ? "USB 抓包当前不可用。" : capabilities.reason);
    return false;
  }

  HelperLaunchValues values =
      UsbCaptureLaunchValues(usb_instance_id, duration_ms, include_hid_reports, timeout_ms);
  if (caller.run_helper) {
    values.run_in_process = [&](const std::string& directory) {
      return static_cast<uint32_t>(caller.run_helper(usb_instance_id, duration_ms,
                                                     include_hid_reports, timeout_ms, directory));
    };
  }
  FileSystem& files = *caller.files;
  HelperRunResult run;
  if (!LaunchElevatedHelper(*caller.launcher, files, values, &run)) {
    *cancelled = run.cancelled;
    SetMessage(error, run.message);
    return false;
  }
  const std::string& directory = run.result_location;
  const auto fail = [&](const std::string& text) {
    RemoveCaptureDirectory(files, directory);
    SetMessage(error, RepairUtf8(text));
    return false;
  };

  std::string meta_text, read_error;
  const bool meta_read =
      ReadWholeFile(files, InDirectory(directory, kUsbCaptureMetaFile), &meta_text, &read_error);
  if (run.exit_code != 0) {
    std::string message = meta_read ? MetaValue(meta_text, "error") : std::string();
    if (message.empty()) {
      message = "USB 抓包 helper 失败" + ExitCodeSuffix(run.exit_code) + "。";
    }
    return fail(message);
  }
  if (!meta_read) return fail("无法读取 USB 抓包结果：" + read_error);

  const std::string trace_path = InDirectory(directory, kUsbCaptureEventsFile);
  std::string xml;
  if (!ReadWholeFile(files, trace_path, &xml, &read_error)) {
    return fail("USB 抓包未生成事件跟踪文件：" + read_error);
  }

  const UsbCaptureMeta meta = ParseUsbCaptureMeta(meta_text);
  result->usb_instance_id = usb_instance_id;
  result->vid_pid = FormatVidPid(id.vendor_id, id.product_id);
  result->duration_ms = meta.duration_ms;
  result->reset_ms = meta.reset_ms;
  result->trace_path = trace_path;
  result->captured_at = meta.captured_at;
  ParseTraceEvents(xml, meta.capture_start_us, meta.capture_start_wall_us, include_hid_reports,
                   &result->events, &result->truncated);
  result->summary =
      BuildUsbCaptureSummary(result->events, meta.skipped_providers, result->truncated);
  return true;
}

}  // namespace vek_native
