// One-shot output and feature report writes: each opens the path afresh,
// writes one report and closes it again.
#ifndef VEK_HID_HID_WRITE_H_
#define VEK_HID_HID_WRITE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_device_api.h"
#include "hid/report_descriptor.h"  // HidReportKind

namespace vek_native {

// The report as sent: `data` extended with zero bytes up to `report_length`;
// longer data is sent unchanged. No report-ID byte is added.
std::vector<uint8_t> PadHidReport(const std::vector<uint8_t>& data, uint16_t report_length);

// "writeHidOutput" / "writeHidFeature". False with the message when the
// arguments are empty, the device does not open or the report is refused.
// `kind` is kOutput or kFeature.
bool WriteHidReport(HidDeviceApi& api, const std::string& path, const std::vector<uint8_t>& data,
                    HidReportKind kind, std::string* message);

}  // namespace vek_native

#endif  // VEK_HID_HID_WRITE_H_
