// Synthesising a HID report descriptor from the capability records the HID
// class driver exposes (HIDP_CAPS, button caps, value caps). The result is a
// flat Application collection per HID collection; it describes the same
// report layout as the device's descriptor but is not byte-identical to it.
#ifndef VEK_HID_DESCRIPTOR_SYNTHESIS_H_
#define VEK_HID_DESCRIPTOR_SYNTHESIS_H_

#include <array>
#include <cstdint>
#include <vector>

namespace vek_native {

// HIDP_CAPS, field for field (the reserved words left out): what HidP_GetCaps
// reports and what the synthesis reads.
struct HidCaps {
  uint16_t usage = 0;
  uint16_t usage_page = 0;
  uint16_t input_report_byte_length = 0;
  uint16_t output_report_byte_length = 0;
  uint16_t feature_report_byte_length = 0;
  uint16_t number_link_collection_nodes = 0;
  uint16_t number_input_button_caps = 0;
  uint16_t number_input_value_caps = 0;
  uint16_t number_input_data_indices = 0;
  uint16_t number_output_button_caps = 0;
  uint16_t number_output_value_caps = 0;
  uint16_t number_output_data_indices = 0;
  uint16_t number_feature_button_caps = 0;
  uint16_t number_feature_value_caps = 0;
  uint16_t number_feature_data_indices = 0;
};

// The fields of HIDP_BUTTON_CAPS used; usage_min/usage_max hold Range.UsageMin
// and Range.UsageMax when is_range, usage_min holds NotRange.Usage otherwise.
struct ButtonCapsRecord {
  uint16_t usage_page = 0;
  uint8_t report_id = 0;
  uint16_t bit_field = 0;
  bool is_range = false;
  bool is_absolute = true;
  uint16_t report_count = 0;
  uint16_t usage_min = 0;
  uint16_t usage_max = 0;
};

// The fields of HIDP_VALUE_CAPS used (usages as for buttons).
struct ValueCapsRecord {
  uint16_t usage_page = 0;
  uint8_t report_id = 0;
  bool is_range = false;
  bool is_absolute = true;
  bool has_null = false;
  uint16_t bit_size = 0;
  uint16_t report_count = 0;
  int32_t logical_min = 0;
  int32_t logical_max = 0;
  int32_t physical_min = 0;
  int32_t physical_max = 0;
  uint16_t usage_min = 0;
  uint16_t usage_max = 0;
};

enum HidReportType { kHidInput = 0, kHidOutput = 1, kHidFeature = 2 };

// One collection's capabilities; lists indexed by HidReportType.
struct CapabilitySet {
  HidCaps caps;
  std::array<std::vector<ButtonCapsRecord>, 3> buttons;
  std::array<std::vector<ValueCapsRecord>, 3> values;
};

// The synthesised descriptor of one collection (never empty: at least the
// Usage Page, Usage, Collection and End Collection items).
std::vector<uint8_t> SynthesizeDescriptor(const CapabilitySet& set);

}  // namespace vek_native

#endif  // VEK_HID_DESCRIPTOR_SYNTHESIS_H_
