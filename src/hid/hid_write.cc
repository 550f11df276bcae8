#include "hid/hid_write.h"

#include <memory>

#include "common/format.h"
#include "hid/hid_devices.h"

namespace vek_native {

std::vector<uint8_t> PadHidReport(const std::vector<uint8_t>& data, uint16_t report_length) {
  std::vector<uint8_t> report = data;
  if (report.size() < report_length) report.resize(report_length, 0);
  return report;
}

bool WriteHidReport(HidDeviceApi& api, const std::string& path, const std::vector<uint8_t>& data,
                    HidReportKind kind, std::string* message) {
  if (path.empty() || data.empty()) {
    *message = "HID 写入参数为空";
    return false;
  }
  std::unique_ptr<HidDevice> device = OpenHidDevice(api, path, message);
  if (!device || !ConfirmHidCollection(*device, message)) return false;

  // Unreadable caps leave the lengths 0: the data then goes out as given.
  HidCaps caps;
  ReadHidCaps(*device, &caps);
  const bool feature = kind == HidReportKind::kFeature;
  std::vector<uint8_t> report = PadHidReport(
      data, feature ? caps.feature_report_byte_length : caps.output_report_byte_length);

  uint32_t error = 0;
  uint32_t count = 0;
  bool written = feature ? device->SetFeature(&report, &error)
                         : device->WriteReport(report, &count, &error) && count == report.size();
  // Some collections take output reports only over the control pipe.
  if (!written && !feature) written = device->SetOutputReport(&report, &error);
  if (!written) {
    *message =
        FormatWin32Failure(feature ? "写入 HID Feature 报告" : "写入 HID Output 报告", error);
  }
  return written;
}

}  // namespace vek_native
