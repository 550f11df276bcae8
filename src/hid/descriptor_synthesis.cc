#include "hid/descriptor_synthesis.h"

#include <algorithm>
#include <set>

namespace vek_native {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

constexpr uint8_t kTagUsagePage = 0;
constexpr uint8_t kTagLogicalMinimum = 1;
constexpr uint8_t kTagLogicalMaximum = 2;
constexpr uint8_t kTagPhysicalMinimum = 3;
constexpr uint8_t kTagPhysicalMaximum = 4;
constexpr uint8_t kTagReportSize = 7;
constexpr uint8_t kTagReportCount = 9;
constexpr uint8_t kTagUsage = 0;
constexpr uint8_t kTagUsageMinimum = 1;
constexpr uint8_t kTagUsageMaximum = 2;
constexpr uint8_t kTagCollection = 10;
constexpr uint8_t kMainTags[3] = {8, 9, 11};  // Input, Output, Feature
constexpr uint8_t kReportIdPrefix = 0x85;
constexpr uint8_t kEndCollection = 0xC0;
constexpr uint32_t kMaxCount = 65535;

class ItemWriter {
 public:
  explicit ItemWriter(std::vector<uint8_t>* out) : out_(out) {}

  void Unsigned(uint8_t tag, ItemType type, uint32_t value) {
    const int size = value <= 0xFF ? 1 : (value <= 0xFFFF ? 2 : 4);
    Write(tag, type, value, size);
  }

  void Signed(uint8_t tag, ItemType type, int32_t value) {
    const int size =
        (value >= -128 && value <= 127) ? 1 : (value >= -32768 && value <= 32767 ? 2 : 4);
    Write(tag, type, static_cast<uint32_t>(value), size);
  }

  void Byte(uint8_t value) { out_->push_back(value); }

 private:
  void Write(uint8_t tag, ItemType type, uint32_t value, int size) {
    const uint8_t size_code = size == 4 ? 3 : static_cast<uint8_t>(size);
    out_->push_back(static_cast<uint8_t>(tag * 16 + type * 4 + size_code));
    for (int i = 0; i < size; ++i) out_->push_back(static_cast<uint8_t>(value >> (8 * i)));
  }

  std::vector<uint8_t>* out_;
};

// Shortens a field so it ends within the report (a `limit` of 0: none; the
// position never passes it): returns the bits written (0: write nothing) and
// advances the bit position. Counts and sizes are 16-bit, so the bits fit.
uint32_t Fit(uint32_t limit, uint32_t* position, uint32_t* count, uint32_t size) {
  if (limit > 0) *count = std::min(*count, (limit - *position) / size);
  if (*count == 0) return 0;
  const uint32_t bits = *count * size;
  *position += bits;
  return bits;
}

void WriteUsages(ItemWriter& w, uint16_t minimum, uint16_t maximum) {
  if (maximum > minimum) {
    w.Unsigned(kTagUsageMinimum, kLocal, minimum);
    w.Unsigned(kTagUsageMaximum, kLocal, maximum);
  } else {
    w.Unsigned(kTagUsage, kLocal, minimum);
  }
}

void ButtonRule(ItemWriter& w, uint8_t main_tag, uint32_t limit, uint32_t* position,
                const ButtonCapsRecord& b) {
  const uint16_t minimum = b.usage_min;
  const uint16_t maximum = b.is_range ? b.usage_max : minimum;
  const uint32_t n = (b.is_range && maximum >= minimum) ? uint32_t{maximum} - minimum + 1 : 1;
  uint32_t count = b.report_count != 0 ? b.report_count : std::min(n, kMaxCount);
  const bool variable = b.bit_field != 0;
  const uint32_t size = variable ? 1 : 8;
  if (Fit(limit, position, &count, size) == 0) return;
  w.Unsigned(kTagUsagePage, kGlobal, b.usage_page);
  w.Unsigned(kTagLogicalMinimum, kGlobal, 0);
  w.Unsigned(kTagLogicalMaximum, kGlobal, variable ? 1 : maximum);
  w.Unsigned(kTagReportSize, kGlobal, size);
  w.Unsigned(kTagReportCount, kGlobal, count);
  WriteUsages(w, minimum, maximum);
  w.Unsigned(main_tag, kMain, variable ? (b.is_absolute ? 0x02 : 0x06) : 0x00);
}

void ValueRule(ItemWriter& w, uint8_t main_tag, uint32_t limit, uint32_t* position,
               const ValueCapsRecord& v) {
  const uint16_t minimum = v.usage_min;
  const uint16_t maximum = v.is_range ? v.usage_max : minimum;
  uint32_t count = v.report_count != 0 ? v.report_count : 1;
  const uint32_t size = v.bit_size != 0 ? v.bit_size : 8;
  if (Fit(limit, position, &count, size) == 0) return;
  w.Unsigned(kTagUsagePage, kGlobal, v.usage_page);
  w.Signed(kTagLogicalMinimum, kGlobal, v.logical_min);
  w.Signed(kTagLogicalMaximum, kGlobal, v.logical_max);
  if (v.physical_min != 0 || v.physical_max != 0) {
    w.Signed(kTagPhysicalMinimum, kGlobal, v.physical_min);
    w.Signed(kTagPhysicalMaximum, kGlobal, v.physical_max);
  }
  w.Unsigned(kTagReportSize, kGlobal, size);
  w.Unsigned(kTagReportCount, kGlobal, count);
  WriteUsages(w, minimum, maximum);
  w.Unsigned(main_tag, kMain, (v.is_absolute ? 0x02u : 0x06u) | (v.has_null ? 0x40u : 0u));
}

void FillRule(ItemWriter& w, uint8_t main_tag, uint32_t limit, uint32_t position) {
  if (limit == 0) return;  // the position never passes a limit
  for (uint32_t remaining = limit - position; remaining > 0;) {
    const uint32_t chunk = std::min(remaining, kMaxCount);
    w.Unsigned(kTagReportSize, kGlobal, 1);
    w.Unsigned(kTagReportCount, kGlobal, chunk);
    w.Unsigned(main_tag, kMain, 0x01);
    remaining -= chunk;
  }
}

}  // namespace

std::vector<uint8_t> SynthesizeDescriptor(const CapabilitySet& set) {
  // The report IDs the records use, in order (0: the collection has none).
  std::set<uint8_t> ids;
  for (int t = 0; t < 3; ++t) {
    for (const auto& b : set.buttons[t]) ids.insert(b.report_id);
    for (const auto& v : set.values[t]) ids.insert(v.report_id);
  }

  std::vector<uint8_t> out;
  ItemWriter w(&out);
  w.Unsigned(kTagUsagePage, kGlobal, set.caps.usage_page != 0 ? set.caps.usage_page : 1);
  w.Unsigned(kTagUsage, kLocal, set.caps.usage);
  w.Unsigned(kTagCollection, kMain, 1);

  const uint16_t lengths[3] = {set.caps.input_report_byte_length,
                               set.caps.output_report_byte_length,
                               set.caps.feature_report_byte_length};
  for (uint8_t id : ids) {
    if (id != 0) {
      w.Byte(kReportIdPrefix);
      w.Byte(id);
    }
    for (int t = 0; t < 3; ++t) {
      // The HID stack's report lengths count the report ID byte also when a
      // collection has no IDs (it is 0 then), so the report's own bits are
      // always one byte fewer; without IDs, taking the whole length would
      // describe a report one byte longer than the device sends.
      uint32_t limit = uint32_t{lengths[t]} * 8;
      if (limit >= 8) limit -= 8;
      uint32_t position = 0;
      for (const auto& b : set.buttons[t]) {
        if (b.report_id == id) ButtonRule(w, kMainTags[t], limit, &position, b);
      }
      for (const auto& v : set.values[t]) {
        if (v.report_id == id) ValueRule(w, kMainTags[t], limit, &position, v);
      }
      FillRule(w, kMainTags[t], limit, position);
    }
  }
  w.Byte(kEndCollection);
  return out;
}

}  // namespace vek_native
