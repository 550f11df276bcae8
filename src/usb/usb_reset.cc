#include "usb/usb_reset.h"

#include <memory>

#include "capture/capture_support.h"
#include "capture/trace_text.h"
#include "common/format.h"
#include "usb/usb_port.h"

namespace vek_native {
namespace {

constexpr char kInvalidIdMessage[] = "usbInstanceId 不是有效的 USB 设备实例路径。";
constexpr char kResetSucceededMessage[] = "USB 端口复位成功，设备将重新枚举（约 3-5 秒）。";
constexpr char kResetFailedMessage[] = "USB 端口复位失败。";

std::string BlankLineBreaks(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

bool Fail(std::string* message, std::string text) {
  if (message != nullptr) *message = std::move(text);
  return false;
}

HelperLaunchValues ResetLaunchValues(const UsbResetContext& context,
                                     const std::string& instance_id) {
  HelperLaunchValues values;
  values.helper_switch = kResetHelperSwitch;
  values.parameters.push_back(HelperParameter::Text(instance_id));
  values.result_prefix = kResetResultPrefix;
  values.result_kind = ResultLocationKind::kFile;
  values.initialise_com = false;
  values.temp_directory_failure = {"无法获取系统临时目录（错误码 ", "）。"};
  values.own_path_failure = {"无法获取 vek_tool.exe 路径（错误码 ", "）。"};
  values.declined_message = "用户取消了管理员授权（UAC），未复位设备。";
  values.start_failure = {"无法以管理员身份复位设备（错误码 ", "）。"};
  values.timeout_message = "USB 端口复位超时。";
  values.exit_code_failure = {"无法获取 USB 复位 helper 退出码（错误码 ", "）。"};
  values.wait_limit_ms = kResetWaitLimitMs;
  values.wait_ending = HelperWaitEnding::kAnyButSignalled;
  values.remove_result_on_timeout = false;
  values.run_in_process = [context, instance_id](const std::string& location) {
    return RunUsbPortReset(context, instance_id, location);
  };
  return values;
}

}  // namespace

bool CycleHubPort(UsbHub& hub, uint32_t port, std::string* message) {
  uint32_t error = 0;
  if (hub.CyclePort(port, &error)) return true;
  return Fail(message, "USB 端口复位失败" + ErrorCodeSuffix(error));
}

std::string FormatUsbResetResultFile(const UsbResetResult& result) {
  std::string text;
  text += "success=" + std::string(result.success ? "1" : "0") + "\n";
  text += "elapsedMs=" + std::to_string(result.elapsed_ms) + "\n";
  text += "message=" + BlankLineBreaks(result.message) + "\n";
  text += "vidPid=" + result.vid_pid + "\n";
  return text;
}

uint32_t RunUsbPortReset(const UsbResetContext& context, const std::string& instance_id,
                         const std::string& result_path) {
  UsbResetResult result;
  UsbInstanceId parsed;
  if (!ParseUsbInstanceId(instance_id, &parsed)) {
    result.message = kInvalidIdMessage;
  } else {
    result.vid_pid = FormatVidPid(parsed.vendor_id, parsed.product_id);
    const uint64_t t0 = context.now_micros();
    std::unique_ptr<UsbHub> hub;
    uint32_t port = 0;
    std::string message;
    if (!OpenParentUsbHub(*context.tree, *context.hubs, instance_id, &hub, &port, &message)) {
      result.message = message;
    } else {
      const bool cycled = CycleHubPort(*hub, port, &message);
      const uint64_t t1 = context.now_micros();
      // A clock that stepped back counts as no time rather than wrapping.
      const uint64_t spent = t1 > t0 ? t1 - t0 : 0;
      result.elapsed_ms = (spent + 999) / 1000;
      result.success = cycled;
      result.message = cycled ? kResetSucceededMessage : message;
    }
  }
  WriteWholeFile(*context.fs, result_path, FormatUsbResetResultFile(result));
  return result.success ? 0 : 1;
}

int RunResetUsbDeviceHelperMode(const UsbResetContext& context, const std::string& instance_id,
                                const std::string& result_path) {
  if (!IsResultLocationFor(*context.fs, result_path, kResetResultPrefix)) return 1;
  return static_cast<int>(RunUsbPortReset(context, instance_id, result_path));
}

bool ResetUsbDevice(const UsbResetContext& context, const std::string& instance_id,
                    UsbResetResult* result, bool* cancelled, std::string* message) {
  if (result == nullptr) return Fail(message, "输出参数为空");
  *result = UsbResetResult();
  if (cancelled != nullptr) *cancelled = false;
  UsbInstanceId parsed;
  if (!ParseUsbInstanceId(instance_id, &parsed)) {
    return Fail(message, InvalidUsbInstanceIdMessage(instance_id));
  }
  const HelperLaunchValues values = ResetLaunchValues(context, instance_id);
  HelperRunResult run;
  if (!LaunchElevatedHelper(*context.launcher, *context.fs, values, &run)) {
    if (cancelled != nullptr) *cancelled = run.cancelled;
    return Fail(message, run.message);
  }
  std::string text;
  std::string read_message;
  const bool read = ReadWholeFile(*context.fs, run.result_location, &text, &read_message);
  RemoveResultLocation(*context.fs, values, run.result_location);
  if (!read) return Fail(message, "无法读取 USB 复位结果：" + read_message);

  result->success = MetaValue(text, "success") == "1";
  uint32_t elapsed = 0;
  if (ParseUnsignedNumber(MetaValue(text, "elapsedMs"), &elapsed)) result->elapsed_ms = elapsed;
  result->message = MetaValue(text, "message");
  result->vid_pid = MetaValue(text, "vidPid");
  if (result->vid_pid.empty()) result->vid_pid = FormatVidPid(parsed.vendor_id, parsed.product_id);
  if (run.exit_code == 0 && result->success) {
    if (message != nullptr) *message = result->message;
    return true;
  }
  return Fail(message, result->message.empty() ? kResetFailedMessage : result->message);
}

}  // namespace vek_native
