#include "hid/report_encode.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"

namespace vek_native {

namespace {

// The HID stack's report byte lengths are 16-bit (HIDP_CAPS).
constexpr uint64_t kMaxReportBytes = 65535;

std::string UsageName(uint32_t usage) {
  return "用法 0x" + HexDigits(usage >> 16, 4, false) + ":0x" + HexDigits(usage & 0xFFFF, 4, false);
}

// Whether the field's elements are something a report can carry.
bool Carried(const HidField& field) {
  return !field.IsConstant() && field.bit_size >= 1 && field.bit_size <= 64;
}

bool FitsBits(const HidField& field, int64_t value) {
  const uint32_t bits = field.bit_size;
  if (field.IsSigned()) {
    if (bits == 64) return true;
    const int64_t half = int64_t{1} << (bits - 1);
    return value >= -half && value < half;
  }
  return value >= 0 && (bits >= 63 || value < (int64_t{1} << bits));
}

void PutBits(uint8_t* data, uint64_t bit, uint32_t bits, uint64_t value) {
  for (uint32_t i = 0; i < bits; ++i, ++bit) {
    const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
    if ((value >> i) & 1) {
      data[bit / 8] |= mask;
    } else {
      data[bit / 8] &= static_cast<uint8_t>(~mask);
    }
  }
}

// The element value that selects `usage`; false when the array has none.
bool ArrayValueOf(const HidField& field, uint32_t usage, int64_t* value) {
  if ((usage & 0xFFFF) == 0) return false;  // "nothing" is not a control
  uint64_t index = 0;
  if (field.has_usage_range) {
    if (usage < field.usage_minimum || usage > field.usage_maximum) return false;
    index = usage - field.usage_minimum;
  } else {
    index = field.usages.size();
    for (size_t i = 0; i < field.usages.size(); ++i) {
      if (field.usages[i] == usage) {
        index = i;
        break;
      }
    }
  }
  if (index > static_cast<uint64_t>(INT64_MAX) ||
      static_cast<int64_t>(index) > field.logical_maximum - field.logical_minimum) {
    return false;
  }
  *value = field.logical_minimum + static_cast<int64_t>(index);
  return FitsBits(field, *value) && HidArrayUsage(field, *value) == usage;
}

// What a free array element holds: a value that selects nothing, preferring
// 0, then the values just outside the logical extent, then the first index
// past the usages. Vendor arrays whose every value selects a control (bytes
// declared as an array) have none; their free elements hold 0.
int64_t ArrayNothing(const HidField& field) {
  const uint64_t usages = field.has_usage_range && field.usage_maximum >= field.usage_minimum
                              ? uint64_t{field.usage_maximum} - field.usage_minimum + 1
                              : field.usages.size();
  const int64_t candidates[] = {0, field.logical_minimum - 1, field.logical_maximum + 1,
                                field.logical_minimum,
                                field.logical_minimum + static_cast<int64_t>(usages)};
  for (int64_t candidate : candidates) {
    if (FitsBits(field, candidate) && HidArrayUsage(field, candidate) == 0) return candidate;
  }
  return 0;
}

std::string ReportName(const HidReportAnalysis& analysis, HidReportKind kind, uint8_t id) {
  return analysis.uses_report_ids
             ? "ID 为 " + std::to_string(id) + " 的 " + HidReportKindName(kind) + " 报告"
             : std::string(HidReportKindName(kind)) + " 报告";
}

}  // namespace

bool EncodeHidReport(const HidReportAnalysis& analysis, HidReportKind kind, uint8_t report_id,
                     const std::vector<HidUsageValue>& values, std::vector<uint8_t>* report,
                     std::string* message) {
  if (!analysis.uses_report_ids && report_id != 0) {
    *message = "该描述符不使用报告 ID，reportId 只能是 0";
    return false;
  }
  const HidReportLayout* layout = analysis.FindReport(kind, report_id);
  if (!layout) {
    *message = "描述符中没有 " + ReportName(analysis, kind, report_id);
    return false;
  }
  if (layout->ByteLength() > kMaxReportBytes) {
    *message = ReportName(analysis, kind, report_id) + "超过 65535 字节，无法构造";
    return false;
  }
  report->assign(static_cast<size_t>(layout->ByteLength()), 0);
  (*report)[0] = report_id;
  uint8_t* data = report->data() + 1;

  const std::vector<HidField>& fields = layout->fields;
  // Per field: the elements taken so far (variable fields), or the next free
  // element (arrays).
  std::vector<std::vector<bool>> taken(fields.size());
  std::vector<uint32_t> next_free(fields.size(), 0);
  for (size_t f = 0; f < fields.size(); ++f) {
    const HidField& field = fields[f];
    if (!Carried(field)) continue;
    if (field.IsVariable()) {
      taken[f].assign(field.count, false);
      continue;
    }
    const uint64_t nothing = static_cast<uint64_t>(ArrayNothing(field));
    for (uint32_t e = 0; e < field.count; ++e) {
      PutBits(data, field.bit_offset + uint64_t{e} * field.bit_size, field.bit_size, nothing);
    }
  }

  for (const HidUsageValue& entry : values) {
    const uint32_t usage = uint32_t{entry.usage_page} << 16 | entry.usage;
    bool present = false;  // the report has the usage, placed or not
    bool placed = false;
    for (size_t f = 0; f < fields.size() && !placed; ++f) {
      const HidField& field = fields[f];
      if (!Carried(field)) continue;
      if (field.IsVariable()) {
        for (uint32_t e = 0; e < field.count && !placed; ++e) {
          if (HidVariableUsage(field, e) != usage) continue;
          present = true;
          if (taken[f][e]) continue;
          if (entry.value < field.logical_minimum || entry.value > field.logical_maximum ||
              !FitsBits(field, entry.value)) {
            *message = UsageName(usage) + " 的值 " + std::to_string(entry.value) +
                       " 超出逻辑范围 " + std::to_string(field.logical_minimum) + " 到 " +
                       std::to_string(field.logical_maximum) + "（" +
                       std::to_string(field.bit_size) + " 位）";
            return false;
          }
          PutBits(data, field.bit_offset + uint64_t{e} * field.bit_size, field.bit_size,
                  static_cast<uint64_t>(entry.value));
          taken[f][e] = true;
          placed = true;
        }
        continue;
      }
      int64_t value = 0;
      if (!ArrayValueOf(field, usage, &value)) continue;
      present = true;
      if (next_free[f] >= field.count) continue;
      PutBits(data, field.bit_offset + uint64_t{next_free[f]} * field.bit_size, field.bit_size,
              static_cast<uint64_t>(value));
      ++next_free[f];
      placed = true;
    }
    if (!placed) {
      *message = present ? ReportName(analysis, kind, report_id) + "中 " + UsageName(usage) +
                               " 的位置已经用完（给出的次数多于报告中的元素）"
                         : ReportName(analysis, kind, report_id) + "中没有 " + UsageName(usage);
      return false;
    }
  }
  return true;
}

}  // namespace vek_native
