// Synthesising a HID report descriptor from the capability records the HID
// class driver exposes (HIDP_CAPS, button caps, value caps). The result is a
// flat Application collection per HID collection; it describes the same
// report layout as the device's descriptor but is not byte-identical to it.
#ifndef VEK_HID_DESCRIPTOR_SYNTHESIS_H_
#define VEK_HID_DESCRIPTOR_SYNTHESIS_H_

#include <cstdint>
#include <vector>

namespace vek_native {

// The fields of HIDP_CAPS the synthesis and the caps gathering use.
struct HidCapsRecord {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
  uint16_t InputReportByteLength = 0;
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  uint16_t NumberLinkCollectionNodes = 0;
  uint16_t NumberInputButtonCaps = 0;
  uint16_t NumberInputValueCaps = 0;
  uint16_t NumberOutputButtonCaps = 0;
  uint16_t NumberOutputValueCaps = 0;
  uint16_t NumberFeatureButtonCaps = 0;
  uint16_t NumberFeatureValueCaps = 0;
};

// The fields of HIDP_BUTTON_CAPS used; usage_min/usage_max hold Range.UsageMin
// and Range.UsageMax when is_range, usage_min holds NotRange.Usage otherwise.
struct ButtonCapsRecord {
  uint16_t UsagePage = 0;
  uint8_t ReportID = 0;
  uint16_t BitField = 0;
  bool IsRange = false;
  bool IsAbsolute = true;
  uint16_t ReportCount = 0;
  uint16_t UsageMin = 0;
  uint16_t UsageMax = 0;
};

// The fields of HIDP_VALUE_CAPS used (usages as for buttons).
struct ValueCapsRecord {
  uint16_t UsagePage = 0;
  uint8_t ReportID = 0;
  bool IsRange = false;
  bool IsAbsolute = true;
  bool HasNull = false;
  uint16_t BitSize = 0;
  uint16_t ReportCount = 0;
  int32_t LogicalMin = 0;
  int32_t LogicalMax = 0;
  int32_t PhysicalMin = 0;
  int32_t PhysicalMax = 0;
  uint16_t UsageMin = 0;
  uint16_t UsageMax = 0;
};

enum HidReportType { kHidInput = 0, kHidOutput = 1, kHidFeature = 2 };

// One collection's capabilities; lists indexed by HidReportType.
struct CapabilitySet {
  HidCapsRecord caps;
  std::vector<ButtonCapsRecord> buttons[3];
  std::vector<ValueCapsRecord> values[3];
};

// The synthesised descriptor of one collection (never empty: at least the
// Usage Page, Usage, Collection and End Collection items).
std::vector<uint8_t> SynthesizeDescriptor(const CapabilitySet& set);

}  // namespace vek_native

#endif  // VEK_HID_DESCRIPTOR_SYNTHESIS_H_
