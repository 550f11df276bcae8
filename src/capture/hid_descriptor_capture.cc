#include "capture/hid_descriptor_capture.h"

#include <algorithm>
#include <utility>

#include "capture/trace_text.h"
#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

void SetMessage(std::string* message, std::string text) {
  if (message != nullptr) *message = std::move(text);
}

std::string ErrorFilePath(const std::string& result_path) { return result_path + ".err"; }

void RemoveQuietly(FileSystem& files, const std::string& path) {
  uint32_t ignored = 0;
  files.RemoveFile(path, &ignored);
}

}  // namespace

int32_t ClampHidCaptureTimeout(int32_t timeout_ms) {
  return std::min(std::max(timeout_ms, kHidCaptureMinTimeoutMs), kHidCaptureMaxTimeoutMs);
}

uint32_t HidCaptureSettleMs(int32_t timeout_ms) {
  const int32_t t = std::max<int32_t>(timeout_ms, 2000);
  return static_cast<uint32_t>(std::min(std::max(t / 3, 2000), 6000));
}

std::string FormatHidCaptureResult(const std::vector<HidDescriptorCapture>& records) {
  std::vector<const HidDescriptorCapture*> ordered;
  ordered.reserve(records.size());
  for (const HidDescriptorCapture& record : records) ordered.push_back(&record);
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) {
    return a->interface_number < b->interface_number;
  });
  std::string text;
  for (const HidDescriptorCapture* record : ordered) {
    // A line break or bar inside the path would split the line on reading.
    std::string path = record->instance_path;
    std::replace_if(
        path.begin(), path.end(), [](char c) { return c == '\r' || c == '\n' || c == '|'; }, '_');
    text += path;
    text += '|';
    text += std::to_string(record->declared_length);
    text += '|';
    text += BytesToHex(record->descriptor);
    text += "\r\n";
  }
  return text;
}

std::vector<HidDescriptorCapture> ParseHidCaptureResult(std::string_view text) {
  std::vector<HidDescriptorCapture> records;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = TrimAsciiSpace(text.substr(start, end - start));
    start = end + 1;
    if (line.empty()) continue;
    const size_t first = line.find('|');
    const size_t last = line.rfind('|');
    if (first == std::string_view::npos || first == last) continue;
    HidDescriptorCapture record;
    if (!HexToBytes(line.substr(last + 1), &record.descriptor)) continue;
    record.instance_path = RepairUtf8(line.substr(0, first));
    uint32_t declared = 0;  // stays 0 when missing or bad
    ParseUnsignedNumber(line.substr(first + 1, last - first - 1), &declared);
    record.declared_length = static_cast<int32_t>(declared);
    if (record.declared_length < 1)
      record.declared_length = static_cast<int32_t>(record.descriptor.size());
    UsbInstanceId id;
    if (ParseUsbInstanceId(record.instance_path, &id)) {
      record.vendor_id = id.vendor_id;
      record.product_id = id.product_id;
      record.interface_number = id.interface_number;
    }
    records.push_back(std::move(record));
  }
  return records;
}

HelperLaunchValues HidCaptureLaunchValues(const std::string& usb_instance_id,
                                          int32_t interface_number, int32_t timeout_ms) {
  HelperLaunchValues values;
  values.helper_switch = kHidCaptureSwitch;
  values.parameters = {HelperParameter::Text(usb_instance_id),
                       HelperParameter::Number(interface_number),
                       HelperParameter::Number(timeout_ms)};
  values.result_prefix = kHidCaptureResultPrefix;
  values.result_kind = ResultLocationKind::kFile;
  values.companion_suffixes = {".err"};
  values.initialise_com = true;
  values.temp_directory_failure = {"无法获取临时目录（错误码 ", "）"};
  values.own_path_failure = {"无法获取当前可执行文件路径（错误码 ", "）"};
  values.declined_message = "用户取消了管理员授权";
  values.start_failure = {"无法以管理员身份启动描述符抓取（错误码 ", "）"};
  values.no_handle_message = "无法获取管理员抓取进程句柄";
  values.timeout_message = "抓取 HID 报告描述符超时";
  values.exit_code_failure = {"无法获取抓取进程退出码（错误码 ", "）"};
  values.wait_limit_ms = static_cast<uint32_t>(timeout_ms) + kHidCaptureWaitMarginMs;
  values.wait_ending = HelperWaitEnding::kTimeoutOnly;
  values.remove_result_on_timeout = true;
  return values;
}

int CaptureHidDescriptorsOnce(CaptureHelperSystem& system, const std::string& usb_instance_id,
                              int32_t interface_number, int32_t timeout_ms,
                              const std::string& out_file_path, std::string* message) {
  UsbInstanceId id;
  if (!ParseUsbInstanceId(usb_instance_id, &id)) {
    SetMessage(message, InvalidUsbInstanceIdMessage(usb_instance_id));
    return 1;
  }
  if (interface_number < 0 && id.interface_number >= 0) interface_number = id.interface_number;
  const uint32_t settle_ms = HidCaptureSettleMs(timeout_ms);

  // The session's destructor stops it and deletes the trace file on every
  // path out of here; the XML dump is removed by hand.
  TraceSession session(system.trace);
  std::string xml_path;
  const auto finish = [&](int code, std::string text) {
    if (!xml_path.empty()) RemoveQuietly(*system.files, xml_path);
    if (code != 0) SetMessage(message, std::move(text));
    return code;
  };

  std::string error;
  if (!StartTraceSession(session, &error)) return finish(1, error);
  if (!EnableTraceProvider(session, kCaptureProviderTable[kHidClassProviderIndex].guid, &error)) {
    return finish(1, error);
  }

  HubPortCycler::HubHandle hub = nullptr;
  uint32_t port = 0;
  if (system.hub == nullptr) return finish(1, kNoHubRequestsMessage);
  if (!system.hub->OpenParentHub(usb_instance_id, &hub, &port, &error)) return finish(1, error);
  const bool cycled = system.hub->CyclePort(hub, port, &error);
  system.hub->CloseHub(hub);
  if (!cycled) return finish(1, error);

  system.sleep(settle_ms);
  StopTraceSession(session);

  const std::u16string xml_path16 = ReplaceExtension(session.log_path(), u".xml");
  xml_path = Utf16ToUtf8(xml_path16);
  if (!ConvertTraceToXml(*system.trace, session.log_path(), xml_path16, &error)) {
    return finish(1, error);
  }
  std::string xml;
  if (!ReadWholeFile(*system.files, xml_path, &xml, &error)) return finish(1, error);

  std::vector<HidDescriptorCapture> records;
  ParseHidDescriptorEvents(xml, id.vendor_id, id.product_id, interface_number, &records);
  if (records.empty()) return finish(2, kHidCaptureNoEventMessage);

  if (!WriteWholeFile(*system.files, out_file_path, FormatHidCaptureResult(records), &error)) {
    return finish(1, error);
  }
  return finish(0, "");
}

int RunHidDescriptorCaptureHelper(CaptureHelperSystem& system, const std::string& usb_instance_id,
                                  int32_t interface_number, int32_t timeout_ms,
                                  const std::string& out_file_path, std::string* message) {
  // An elevated process writes and deletes only its own result files, never
  // a path someone passed it on the command line.
  std::string refusal;
  if (!IsResultLocationFor(*system.files, out_file_path, kHidCaptureResultPrefix, &refusal)) {
    SetMessage(message, refusal);
    return 1;
  }
  const std::string error_path = ErrorFilePath(out_file_path);
  RemoveQuietly(*system.files, out_file_path);
  RemoveQuietly(*system.files, error_path);

  std::string text;
  const int code = CaptureHidDescriptorsOnce(system, usb_instance_id, interface_number, timeout_ms,
                                             out_file_path, &text);
  if (code != 0) {
    if (text.empty()) text = code == 2 ? kHidCaptureNoEventMessage : kHidCaptureFailedMessage;
    WriteWholeFile(*system.files, error_path, text);
    SetMessage(message, text);
  }
  return code;
}

bool CaptureHidReportDescriptors(const HidCaptureCaller& caller, const std::string& usb_instance_id,
                                 int32_t interface_number, int32_t timeout_ms,
                                 std::vector<HidDescriptorCapture>* records, bool* cancelled,
                                 std::string* error) {
  records->clear();
  *cancelled = false;
  timeout_ms = ClampHidCaptureTimeout(timeout_ms);

  std::string message;
  if (!CheckHidCaptureSupport(*caller.support, usb_instance_id, &message)) {
    SetMessage(error, message);
    return false;
  }

  HelperLaunchValues values = HidCaptureLaunchValues(usb_instance_id, interface_number, timeout_ms);
  std::string in_process_message;
  if (caller.run_helper) {
    values.run_in_process = [&](const std::string& location) {
      return static_cast<uint32_t>(caller.run_helper(usb_instance_id, interface_number, timeout_ms,
                                                     location, &in_process_message));
    };
  }
  FileSystem& files = *caller.files;
  HelperRunResult run;
  if (!LaunchElevatedHelper(*caller.launcher, files, values, &run)) {
    *cancelled = run.cancelled;
    SetMessage(error, run.message);
    return false;
  }
  const auto fail = [&](const std::string& text) {
    RemoveResultLocation(files, values, run.result_location);
    SetMessage(error, RepairUtf8(text));
    return false;
  };

  if (run.exit_code != 0) {
    if (run.ran_in_process) {
      return fail(in_process_message.empty() ? kHidCaptureFailedMessage : in_process_message);
    }
    std::string text;
    ReadWholeFile(files, ErrorFilePath(run.result_location), &text);
    text = std::string(TrimAsciiSpace(text));
    if (text.empty()) {
      text = run.exit_code == 2 ? std::string(kHidCaptureNoEventMessage)
                                : "抓取失败" + ExitCodeSuffix(run.exit_code);
    }
    return fail(text);
  }

  std::string text;
  std::string read_error;
  const bool read = ReadWholeFile(files, run.result_location, &text, &read_error);
  RemoveResultLocation(files, values, run.result_location);
  if (!read) {
    SetMessage(error, read_error.empty() ? "无法读取抓取结果" : read_error);
    return false;
  }
  *records = ParseHidCaptureResult(text);
  if (records->empty()) {
    SetMessage(error, "抓取结果为空（未解析到报告描述符）");
    return false;
  }
  return true;
}

}  // namespace vek_native
