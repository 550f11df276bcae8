// The report descriptor analysis on the channel: its map forms, the context a
// USB interface gives it, and the two bridge operations built on it.
#ifndef VEK_HID_REPORT_ANALYSIS_MAP_H_
#define VEK_HID_REPORT_ANALYSIS_MAP_H_

#include <cstdint>
#include <vector>

#include "bridge/bridge_operations.h"
#include "channels/encodable_value.h"
#include "hid/report_descriptor.h"
#include "hid/usb_descriptors.h"

namespace vek_native {

// The analysis as a map: "items", "collections", "reports", "findings" (lists
// of maps) and "ofReconstruction" (the descriptor was rebuilt, so findings
// about its form are about the rebuilt bytes). `descriptor` is the analysed
// descriptor, for the items' bytes. So that a reply stays in proportion to a
// hostile descriptor, each kind of entry is listed up to its bound below (the
// first ones, in order), with the totals beside: "itemCount",
// "collectionCount", "reportCount", and each report's "fieldCount" and each
// field's "usageCount".
constexpr size_t kHidMapMaxItems = 4096;
constexpr size_t kHidMapMaxCollections = 1024;
constexpr size_t kHidMapMaxReports = 1024;
constexpr size_t kHidMapMaxFields = 1024;  // over all listed reports
constexpr size_t kHidMapMaxUsages = 4096;  // over all listed fields
EncodableValue HidReportAnalysisMap(const HidReportAnalysis& analysis, ByteSpan descriptor,
                                    bool of_reconstruction);

// A decoded report as {"reportId", "fields", "findings"}; a field given as
// raw bits has them in "raw" (else null).
EncodableValue HidDecodedReportMap(const HidDecodedReport& report);

// The endpoint and boot context of the interface numbered `interface_number`
// (its first alternate setting found): the max packet size of its first
// interrupt IN endpoint, and the boot protocol when its subclass is 1.
HidAnalysisContext UsbInterfaceAnalysisContext(
    const std::vector<UsbConfigurationRecord>& configurations, uint8_t interface_number);

// Fills analyze_hid_report_descriptor, decode_hid_report and
// encode_hid_report (pure computations: they need no platform).
void BindHidAnalysisOperations(BridgeOperations& ops);

}  // namespace vek_native

#endif  // VEK_HID_REPORT_ANALYSIS_MAP_H_
