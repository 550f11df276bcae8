// Building a report from usage values on a descriptor's layout: the inverse
// of DecodeHidReport, for writing reports by meaning.
#ifndef VEK_HID_REPORT_ENCODE_H_
#define VEK_HID_REPORT_ENCODE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_operations.h"
#include "hid/report_descriptor.h"

namespace vek_native {

// The bytes of the report of `kind` and `report_id`, as Windows takes them:
// the ID byte first (0 without IDs), then the layout's bytes, zero where no
// value is given. A variable field's element takes the value given for its
// usage (the k-th entry of a usage goes to the k-th element that has it); an
// array field reports the usages given as pressed (their values are not
// read) and its free elements as "nothing". False with the message for an
// unknown report, a usage the report does not have or has no room left for,
// and a value outside its field's logical extent or bits: never clamped.
bool EncodeHidReport(const HidReportAnalysis& analysis, HidReportKind kind, uint8_t report_id,
                     const std::vector<HidUsageValue>& values, std::vector<uint8_t>* report,
                     std::string* message);

}  // namespace vek_native

#endif  // VEK_HID_REPORT_ENCODE_H_
