// The method table of "vek_tool/native": argument checks, defaults and
// clamping, the feature operation each method calls, and the replies.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <unordered_map>
#include <utility>

#include "bridge/bridge_arguments.h"
#include "bridge/native_bridge.h"
#include "bridge/valid_utf8_result.h"
#include "common/clock.h"

namespace vek_native {

namespace {

using Outcome = NativeBridge::AsyncOutcome;
using Reply = std::unique_ptr<MethodResult>;

// Everything a method handler needs; handlers are plain functions of it.
struct CallContext {
  NativeBridge& bridge;
  const BridgeOperations& ops;
  const EncodableValue* args;
  Reply& result;
};

constexpr int64_t kHidCaptureTimeoutMinMs = 5000;
constexpr int64_t kHidCaptureTimeoutMaxMs = 180000;
// wDescriptorLength of the HID class descriptor and wMaxPacketSize are 16 bits.
constexpr size_t kMaxReportDescriptorBytes = 65535;
constexpr int64_t kMaxPacketSizeArgument = 65535;

void NotImplemented(CallContext& c) { c.result->NotImplemented(); }

// A path, port name or instance ID that goes on to a Windows call. Missing
// (or ""), when `missing` is given: `code` with `missing`. Longer than any
// Windows call takes: refused under the same code, before a system call (or a
// message echoing it) sees it. False once an error has been answered.
bool WindowsTextArgument(CallContext& c, const char* key, const char* code, const char* missing,
                         std::string* value) {
  *value = StringArgument(c.args, key);
  if (missing != nullptr && value->empty()) {
    c.result->Error(code, missing);
    return false;
  }
  if (FitsWindowsText(*value)) return true;
  static_assert(kMaxWindowsTextUnits == 32767, "the message names the limit");
  c.result->Error(code,
                  std::string(key) + " 参数超过 32767 个 UTF-16 码元（Windows 能处理的最大长度）");
  return false;
}

// A synchronous operation's reply: the value, or the code with whatever
// message the operation wrote (possibly none).
void ReplyValue(CallContext& c, bool ok, const EncodableValue& value, const char* code,
                const std::string& message) {
  if (ok) {
    c.result->Success(value);
  } else {
    c.result->Error(code, message);
  }
}

void ReplyNull(CallContext& c, bool ok, const char* code, const std::string& message) {
  ReplyValue(c, ok, EncodableValue(), code, message);
}

// The message of a failed job: the operation's own, else a fallback.
std::string MessageOr(const std::string& message, const char* fallback) {
  return message.empty() ? std::string(fallback) : message;
}

// A job reading one value for one device: `op(id, &value, &message)` on a
// worker; a failure answers `code` with the operation's message, else
// `fallback`.
using ReadOperation =
    std::function<bool(const std::string& id, EncodableValue* value, std::string* message)>;
void RunReadJob(CallContext& c, ReadOperation op, std::string id, const char* code,
                const char* fallback) {
  c.bridge.RunAsync(
      [op = std::move(op), id = std::move(id), code, fallback](WindowHandle, Outcome* out) {
        std::string message;
        out->success = op(id, &out->value, &message);
        if (!out->success) {
          out->error_code = code;
          out->error_message = MessageOr(message, fallback);
        }
      },
      std::move(c.result));
}

EncodableValue DescriptorMaps(const std::vector<CapturedHidDescriptor>& records) {
  EncodableList list;
  list.reserve(records.size());
  for (const CapturedHidDescriptor& record : records) {
    EncodableMap map;
    map[EncodableValue("instancePath")] = EncodableValue(record.instance_path);
    map[EncodableValue("reportDescriptor")] = EncodableValue(record.report_descriptor);
    map[EncodableValue("declaredLength")] = EncodableValue(int64_t{record.declared_length});
    map[EncodableValue("interfaceNumber")] = EncodableValue(int64_t{record.interface_number});
    map[EncodableValue("vendorId")] = EncodableValue(int64_t{record.vendor_id});
    map[EncodableValue("productId")] = EncodableValue(int64_t{record.product_id});
    list.push_back(EncodableValue(std::move(map)));
  }
  return EncodableValue(std::move(list));
}

void ListHidDevices(CallContext& c) {
  if (!c.ops.list_hid_devices) return NotImplemented(c);
  EncodableValue value;
  std::string message;
  const bool ok = c.ops.list_hid_devices(&value, &message);
  ReplyValue(c, ok, value, "hid-list-failed", message);
}

void ReadHidDescriptors(CallContext& c) {
  std::string path;
  if (!WindowsTextArgument(c, "path", "hid-invalid-path", "缺少 path 参数", &path)) return;
  if (!c.ops.read_hid_descriptors) return NotImplemented(c);
  RunReadJob(c, c.ops.read_hid_descriptors, path, "hid-descriptors-failed", "");
}

// The "descriptor" argument of the two analysis methods: present, not empty,
// and no longer than a HID class descriptor can declare. False once an error
// has been answered.
bool ReadDescriptorArgument(CallContext& c, std::vector<uint8_t>* descriptor) {
  const char* problem = nullptr;
  if (!BytesArgument(c.args, "descriptor", descriptor)) {
    problem = "缺少 descriptor 参数";
  } else if (descriptor->empty()) {
    problem = "报告描述符为空";
  } else if (descriptor->size() > kMaxReportDescriptorBytes) {
    problem = "报告描述符超过 65535 字节（HID 类描述符的长度字段只有 16 位）";
  }
  if (problem) c.result->Error("hid-invalid-descriptor", problem);
  return problem == nullptr;
}

void AnalyzeHidReportDescriptor(CallContext& c) {
  std::vector<uint8_t> descriptor;
  if (!ReadDescriptorArgument(c, &descriptor)) return;
  const int64_t max_packet_size = IntegerArgument(c.args, "maxPacketSize", 0);
  if (max_packet_size < 0 || max_packet_size > kMaxPacketSizeArgument) {
    return c.result->Error("hid-invalid-argument", "maxPacketSize 参数必须在 0 到 65535 之间");
  }
  if (!c.ops.analyze_hid_report_descriptor) return NotImplemented(c);
  c.result->Success(
      c.ops.analyze_hid_report_descriptor(descriptor, static_cast<uint32_t>(max_packet_size)));
}

void DecodeHidReport(CallContext& c) {
  std::vector<uint8_t> descriptor;
  if (!ReadDescriptorArgument(c, &descriptor)) return;
  std::vector<uint8_t> report;
  if (!BytesArgument(c.args, "report", &report)) {
    return c.result->Error("hid-invalid-report", "缺少 report 参数");
  }
  if (report.empty()) return c.result->Error("hid-invalid-report", "报告数据为空");
  std::string kind = StringArgument(c.args, "kind");
  if (kind.empty()) kind = "input";
  // In the HID stack's order: HidP_Input, HidP_Output, HidP_Feature.
  static const char* const kKinds[] = {"input", "output", "feature"};
  const auto found = std::find(std::begin(kKinds), std::end(kKinds), kind);
  if (found == std::end(kKinds)) {
    return c.result->Error("hid-invalid-argument", "kind 参数只能是 input、output 或 feature");
  }
  if (!c.ops.decode_hid_report) return NotImplemented(c);
  EncodableValue value;
  std::string message;
  const bool ok = c.ops.decode_hid_report(
      descriptor, report, static_cast<int>(found - std::begin(kKinds)), &value, &message);
  ReplyValue(c, ok, value, "hid-invalid-report", message);
}

void CaptureHidReportDescriptors(CallContext& c) {
  std::string id;
  if (!WindowsTextArgument(c, "usbInstanceId", "capture-invalid-device", "缺少 usbInstanceId 参数",
                           &id)) {
    return;
  }
  const int32_t interface_number = LowInt32(IntegerArgument(c.args, "interfaceNumber", -1));
  const int32_t timeout_ms = LowInt32(std::clamp(IntegerArgument(c.args, "timeoutMs", 35000),
                                                 kHidCaptureTimeoutMinMs, kHidCaptureTimeoutMaxMs));
  if (!c.ops.capture_hid_report_descriptors) return NotImplemented(c);
  auto op = c.ops.capture_hid_report_descriptors;
  c.bridge.RunAsync(
      [op, id, interface_number, timeout_ms](WindowHandle, Outcome* out) {
        std::vector<CapturedHidDescriptor> records;
        bool cancelled = false;
        std::string message;
        out->success = op(id, interface_number, timeout_ms, &records, &cancelled, &message);
        if (out->success) {
          out->value = DescriptorMaps(records);
          return;
        }
        out->error_code = cancelled ? "capture-cancelled" : "capture-failed";
        out->error_message =
            MessageOr(message, cancelled ? "用户取消了管理员授权" : "抓取 HID 报告描述符失败");
      },
      std::move(c.result));
}

void ListUsbDeviceNodes(CallContext& c) {
  const bool include_hid_children = BoolArgument(c.args, "includeHidChildren", false);
  if (!c.ops.list_usb_device_nodes) return NotImplemented(c);
  EncodableValue nodes;
  std::string message;
  const bool ok = c.ops.list_usb_device_nodes(include_hid_children, &nodes, &message);
  ReplyValue(c, ok, nodes, "hid-list-failed", message);
}

void ReadUsbDeviceDiagnostics(CallContext& c) {
  std::string id;
  if (!WindowsTextArgument(c, "instanceId", "no-diagnostics", "缺少 instanceId 参数", &id)) return;
  if (!c.ops.read_usb_device_diagnostics) return NotImplemented(c);
  RunReadJob(c, c.ops.read_usb_device_diagnostics, id, "no-diagnostics",
             "读取 USB 设备诊断信息失败");
}

void ResetHidDevice(CallContext& c) {
  std::string id;
  if (!WindowsTextArgument(c, "usbInstanceId", "reset-failed", "缺少 usbInstanceId 参数", &id)) {
    return;
  }
  if (!c.ops.reset_usb_device) return NotImplemented(c);
  auto op = c.ops.reset_usb_device;
  c.bridge.RunAsync(
      [op, id](WindowHandle, Outcome* out) {
        bool cancelled = false;  // A refused elevation is a failed reset too.
        std::string message;
        out->success = op(id, &out->value, &cancelled, &message);
        if (!out->success) {
          out->error_code = "reset-failed";
          out->error_message = MessageOr(message, "复位 USB 设备失败");
        }
      },
      std::move(c.result));
}

void UsbCaptureCapabilities(CallContext& c) {
  std::string id;
  if (!WindowsTextArgument(c, "usbInstanceId", "capture-failed", "缺少 usbInstanceId 参数", &id)) {
    return;
  }
  if (!c.ops.usb_capture_capabilities) return NotImplemented(c);
  c.result->Success(c.ops.usb_capture_capabilities(id));
}

void CaptureUsbEnumeration(CallContext& c) {
  std::string id;
  if (!WindowsTextArgument(c, "usbInstanceId", "capture-failed", "缺少 usbInstanceId 参数", &id)) {
    return;
  }
  const int32_t duration_ms = LowInt32(IntegerArgument(c.args, "durationMs", 6000));
  const bool include_hid_reports = BoolArgument(c.args, "includeHidReports", true);
  const int32_t timeout_ms = LowInt32(IntegerArgument(c.args, "timeoutMs", 90000));
  if (!c.ops.capture_usb_enumeration) return NotImplemented(c);
  auto op = c.ops.capture_usb_enumeration;
  c.bridge.RunAsync(
      [op, id, duration_ms, include_hid_reports, timeout_ms](WindowHandle, Outcome* out) {
        bool cancelled = false;
        std::string message;
        out->success =
            op(id, duration_ms, include_hid_reports, timeout_ms, &out->value, &cancelled, &message);
        if (out->success) return;
        out->error_code = cancelled ? "capture-cancelled" : "capture-failed";
        out->error_message =
            MessageOr(message, cancelled ? "用户取消了管理员授权" : "抓取 USB 枚举事件失败");
      },
      std::move(c.result));
}

// An integer argument that is absent reads as this.
constexpr int64_t kAbsentInteger = INT64_MIN;

void OpenHidInput(CallContext& c) {
  std::string path;
  if (!WindowsTextArgument(c, "path", "hid-invalid-path", "缺少 path 参数", &path)) return;
  HidInputOptions options;
  options.decode = BoolArgument(c.args, "decode", false);
  const int64_t buffers = IntegerArgument(c.args, "inputBuffers", kAbsentInteger);
  if (buffers != kAbsentInteger) {
    if (buffers < kMinHidInputBuffers || buffers > kMaxHidInputBuffers) {
      return c.result->Error("hid-invalid-argument", "inputBuffers 参数必须在 2 到 512 之间");
    }
    options.input_buffers = static_cast<uint32_t>(buffers);
  }
  if (!c.ops.open_hid_input) return NotImplemented(c);
  std::string message;
  const bool ok = c.ops.open_hid_input(path, options, &message);
  ReplyNull(c, ok, "hid-open-input-failed", message);
}

// "reportId": 0 to 255, default 0. False once an error has been answered.
bool ReadReportIdArgument(CallContext& c, uint8_t* report_id) {
  const int64_t id = IntegerArgument(c.args, "reportId", 0);
  if (id < 0 || id > 255) {
    c.result->Error("hid-invalid-argument", "reportId 参数必须在 0 到 255 之间");
    return false;
  }
  *report_id = static_cast<uint8_t>(id);
  return true;
}

// The HID stack's report kinds, in its order (HidP_Input, HidP_Output,
// HidP_Feature).
constexpr int kInputKind = 0;
constexpr int kFeatureKind = 2;

void ReadHidReport(CallContext& c, int kind) {
  std::string path;
  if (!WindowsTextArgument(c, "path", "hid-invalid-path", "缺少 path 参数", &path)) return;
  uint8_t report_id = 0;
  if (!ReadReportIdArgument(c, &report_id)) return;
  const bool decode = BoolArgument(c.args, "decode", false);
  if (!c.ops.read_hid_report) return NotImplemented(c);
  auto read = c.ops.read_hid_report;
  // A job: a device may take its time to answer a control request.
  RunReadJob(
      c,
      [read, kind, report_id, decode](const std::string& id, EncodableValue* value,
                                      std::string* message) {
        return read(id, kind, report_id, decode, value, message);
      },
      path, kind == kFeatureKind ? "hid-read-feature-failed" : "hid-read-input-failed", "");
}

void ReadHidFeature(CallContext& c) { ReadHidReport(c, kFeatureKind); }
void ReadHidInputReport(CallContext& c) { ReadHidReport(c, kInputKind); }

void EncodeHidReport(CallContext& c) {
  std::vector<uint8_t> descriptor;
  if (!ReadDescriptorArgument(c, &descriptor)) return;
  std::string kind = StringArgument(c.args, "kind");
  if (kind.empty()) kind = "output";
  static const char* const kKinds[] = {"input", "output", "feature"};
  const auto found = std::find(std::begin(kKinds), std::end(kKinds), kind);
  if (found == std::end(kKinds)) {
    return c.result->Error("hid-invalid-argument", "kind 参数只能是 input、output 或 feature");
  }
  uint8_t report_id = 0;
  if (!ReadReportIdArgument(c, &report_id)) return;
  std::vector<HidUsageValue> values;
  if (const EncodableList* list = ListArgument(c.args, "values")) {
    for (size_t i = 0; i < list->size(); ++i) {
      const EncodableValue* entry = &(*list)[i];
      const int64_t page = IntegerArgument(entry, "usagePage", -1);
      const int64_t usage = IntegerArgument(entry, "usage", -1);
      if (page < 0 || page > 0xFFFF || usage < 0 || usage > 0xFFFF) {
        return c.result->Error("hid-invalid-argument",
                               "values 的第 " + std::to_string(i + 1) +
                                   " 项要有 usagePage 与 usage（0 到 65535 的整数）");
      }
      // A usage given without a value is pressed.
      values.push_back({static_cast<uint16_t>(page), static_cast<uint16_t>(usage),
                        IntegerArgument(entry, "value", 1)});
    }
  }
  if (!c.ops.encode_hid_report) return NotImplemented(c);
  EncodableValue value;
  std::string message;
  const bool ok = c.ops.encode_hid_report(descriptor, static_cast<int>(found - std::begin(kKinds)),
                                          report_id, values, &value, &message);
  ReplyValue(c, ok, value, "hid-encode-failed", message);
}

void CloseHidInput(CallContext& c) {
  // Not validated: an empty path is handed on.
  const std::string path = StringArgument(c.args, "path");
  if (!c.ops.close_hid_input) return NotImplemented(c);
  c.ops.close_hid_input(path);
  c.result->Success();
}

void WriteHidReport(CallContext& c, bool feature) {
  std::string path;
  if (!WindowsTextArgument(c, "path", "hid-invalid-path", "缺少 path 参数", &path)) return;
  std::vector<uint8_t> data;
  if (!BytesArgument(c.args, "data", &data)) {
    return c.result->Error("hid-invalid-data", "缺少 data 参数");
  }
  if (!c.ops.write_hid_report) return NotImplemented(c);
  std::string message;
  const bool ok = c.ops.write_hid_report(path, data, feature, &message);
  ReplyNull(c, ok, feature ? "hid-write-feature-failed" : "hid-write-output-failed", message);
}

void WriteHidOutput(CallContext& c) { WriteHidReport(c, false); }
void WriteHidFeature(CallContext& c) { WriteHidReport(c, true); }

void ListRawInputDevices(CallContext& c) {
  if (!c.ops.list_raw_input_devices) return NotImplemented(c);
  c.result->Success(c.ops.list_raw_input_devices());
}

void StartRawInput(CallContext& c) {
  RawInputOptions options;
  options.chatter_threshold_ms =
      LowInt32(std::clamp(IntegerArgument(c.args, "chatterThresholdMs", kDefaultChatterThresholdMs),
                          kMinChatterThresholdMs, kMaxChatterThresholdMs));
  options.own_thread = BoolArgument(c.args, "ownThread", false);
  if (!c.ops.start_raw_input) return NotImplemented(c);
  std::string message;
  const bool ok = c.ops.start_raw_input(options, &message);
  ReplyNull(c, ok, "raw-input-start-failed", message);
}

void StopRawInput(CallContext& c) {
  if (!c.ops.stop_raw_input) return NotImplemented(c);
  c.ops.stop_raw_input();
  c.result->Success();
}

void ListSerialPorts(CallContext& c) {
  if (!c.ops.list_serial_ports) return NotImplemented(c);
  EncodableValue value;
  std::string message;
  const bool ok = c.ops.list_serial_ports(&value, &message);
  ReplyValue(c, ok, value, "serial-list-failed", message);
}

void OpenSerial(CallContext& c) {
  std::string port;
  if (!WindowsTextArgument(c, "port", "serial-invalid-port", "缺少 port 参数", &port)) return;
  const int64_t baud_rate = IntegerArgument(c.args, "baudRate", 9600);
  if (!c.ops.open_serial) return NotImplemented(c);
  int64_t handle = 0;
  std::string message;
  const bool ok = c.ops.open_serial(port, baud_rate, &handle, &message);
  ReplyValue(c, ok, EncodableValue(handle), "serial-open-failed", message);
}

void WriteSerial(CallContext& c) {
  const int64_t handle = IntegerArgument(c.args, "handle", 0);
  std::vector<uint8_t> data;
  if (!BytesArgument(c.args, "data", &data)) {
    return c.result->Error("serial-invalid-data", "缺少 data 参数");
  }
  if (!c.ops.write_serial) return NotImplemented(c);
  std::string message;
  const bool ok = c.ops.write_serial(handle, data, &message);
  ReplyNull(c, ok, "serial-write-failed", message);
}

void CloseSerial(CallContext& c) {
  const int64_t handle = IntegerArgument(c.args, "handle", 0);
  if (!c.ops.close_serial) return NotImplemented(c);
  c.ops.close_serial(handle);
  c.result->Success();
}

void NowMicrosMethod(CallContext& c) {
  c.result->Success(EncodableValue(static_cast<int64_t>(NowMicros())));
}

void StartKeyBlock(CallContext& c) {
  if (!c.ops.start_key_block) return NotImplemented(c);
  std::string message;
  const bool ok = c.ops.start_key_block(&message);
  ReplyValue(c, ok, EncodableValue(true), "key-block-start-failed",
             MessageOr(message, "无法安装键盘钩子（WH_KEYBOARD_LL）"));
}

void StopKeyBlock(CallContext& c) {
  if (!c.ops.stop_key_block) return NotImplemented(c);
  c.ops.stop_key_block();
  c.result->Success();
}

void PickSaveFile(CallContext& c) {
  std::string suggested_name;
  std::string default_directory;
  if (!WindowsTextArgument(c, "suggestedName", "file-dialog-failed", nullptr, &suggested_name) ||
      !WindowsTextArgument(c, "defaultDirectory", "file-dialog-failed", nullptr,
                           &default_directory)) {
    return;
  }
  std::string filter_name = StringArgument(c.args, "filterName");
  if (filter_name.empty()) filter_name = "HTML 报告";
  std::vector<std::string> extensions = StringListArgument(c.args, "filterExtensions");
  if (extensions.empty()) extensions.push_back("html");
  if (!c.ops.pick_save_file) return NotImplemented(c);
  auto op = c.ops.pick_save_file;
  c.bridge.RunAsync(
      [op, suggested_name, default_directory, filter_name, extensions](WindowHandle owner,
                                                                       Outcome* out) {
        std::string path;
        std::string message;
        out->success =
            op(owner, suggested_name, default_directory, filter_name, extensions, &path, &message);
        if (out->success) {
          // An empty path is a cancelled dialog: success with null.
          if (!path.empty()) out->value = EncodableValue(std::move(path));
          return;
        }
        out->error_code = "file-dialog-failed";
        out->error_message = message;
      },
      std::move(c.result));
}

using Handler = void (*)(CallContext& c);

const std::unordered_map<std::string, Handler>& MethodTable() {
  static const auto* const table = new std::unordered_map<std::string, Handler>{
      {"listHidDevices", ListHidDevices},
      {"readHidDescriptors", ReadHidDescriptors},
      {"captureHidReportDescriptors", CaptureHidReportDescriptors},
      {"analyzeHidReportDescriptor", AnalyzeHidReportDescriptor},
      {"decodeHidReport", DecodeHidReport},
      {"encodeHidReport", EncodeHidReport},
      {"listUsbDeviceNodes", ListUsbDeviceNodes},
      {"readUsbDeviceDiagnostics", ReadUsbDeviceDiagnostics},
      {"resetHidDevice", ResetHidDevice},
      {"usbCaptureCapabilities", UsbCaptureCapabilities},
      {"captureUsbEnumeration", CaptureUsbEnumeration},
      {"openHidInput", OpenHidInput},
      {"closeHidInput", CloseHidInput},
      {"writeHidOutput", WriteHidOutput},
      {"writeHidFeature", WriteHidFeature},
      {"readHidFeature", ReadHidFeature},
      {"readHidInputReport", ReadHidInputReport},
      {"listRawInputDevices", ListRawInputDevices},
      {"startRawInput", StartRawInput},
      {"stopRawInput", StopRawInput},
      {"listSerialPorts", ListSerialPorts},
      {"openSerial", OpenSerial},
      {"writeSerial", WriteSerial},
      {"closeSerial", CloseSerial},
      {"nowMicros", NowMicrosMethod},
      {"startKeyBlock", StartKeyBlock},
      {"stopKeyBlock", StopKeyBlock},
      {"pickSaveFile", PickSaveFile},
  };
  return *table;
}

}  // namespace

void NativeBridge::HandleMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (!result) return;
  // Every reply, from a method or a job, leaves through this result. (Events
  // need no such pass: "hidInput" carries a path made valid when its reader
  // opened, raw input the paths Windows names in UTF-16, converted to valid
  // UTF-8, and "serial" no text at all; so the event stream pays nothing.)
  result = std::make_unique<ValidUtf8Result>(std::move(result));
  const auto& table = MethodTable();
  auto it = table.find(call.method_name());
  if (it == table.end()) {
    result->NotImplemented();
    return;
  }
  CallContext context{*this, operations_, call.arguments(), result};
  it->second(context);
}

}  // namespace vek_native
