// Decoding one report on a precomputed layout: no allocation once the output's
// buffers have grown, so a user interface can decode every report of an 8 kHz
// device.
#include <string>

#include "hid/report_descriptor.h"

namespace vek_native {

namespace {

const char* KindText(HidReportKind kind) {
  switch (kind) {
    case HidReportKind::kInput:
      return "输入";
    case HidReportKind::kOutput:
      return "输出";
    case HidReportKind::kFeature:
      return "特性";
  }
  return "输入";
}

// `bits` (1 to 64) little-endian bits from `bit` on; the caller has checked
// that they lie inside the data.
uint64_t ExtractBits(const uint8_t* data, uint64_t bit, uint32_t bits) {
  uint64_t result = 0;
  uint32_t got = 0;
  size_t byte = static_cast<size_t>(bit / 8);
  uint32_t shift = static_cast<uint32_t>(bit % 8);
  while (got < bits) {
    result |= static_cast<uint64_t>(data[byte] >> shift) << got;
    got += 8 - shift;
    shift = 0;
    ++byte;
  }
  return bits == 64 ? result : result & ((uint64_t{1} << bits) - 1);
}

int64_t SignExtendBits(uint64_t value, uint32_t bits) {
  if (bits == 64) return static_cast<int64_t>(value);
  const uint64_t sign = uint64_t{1} << (bits - 1);
  return (value & sign) ? static_cast<int64_t>(value | ~((uint64_t{1} << bits) - 1))
                        : static_cast<int64_t>(value);
}

}  // namespace

uint32_t HidArrayUsage(const HidField& field, int64_t value) {
  if (value < field.logical_minimum || value > field.logical_maximum) return 0;
  const uint64_t index = static_cast<uint64_t>(value - field.logical_minimum);
  uint32_t usage = 0;
  if (field.has_usage_range) {
    if (field.usage_minimum > field.usage_maximum ||
        index > field.usage_maximum - field.usage_minimum) {
      return 0;
    }
    usage = field.usage_minimum + static_cast<uint32_t>(index);
  } else if (index < field.usages.size()) {
    usage = field.usages[static_cast<size_t>(index)];
  }
  // Usage 0 of every page means "nothing" (the keyboard's no-event code).
  return (usage & 0xFFFF) == 0 ? 0 : usage;
}

void DecodeHidReport(const HidReportAnalysis& analysis, HidReportKind kind, ByteSpan report,
                     HidDecodedReport* out) {
  out->report_id = -1;
  out->layout = nullptr;
  out->values.clear();
  out->findings.clear();
  const std::string kind_text = KindText(kind);
  if (report.size == 0) {
    out->findings.push_back({HidSeverity::kError, 0, "empty-report", "报告是空的"});
    return;
  }
  size_t start = analysis.uses_report_ids ? 1 : 0;
  const uint8_t id = analysis.uses_report_ids ? report.data[0] : 0;
  out->report_id = id;
  const HidReportLayout* layout = analysis.FindReport(kind, id);
  if (!layout) {
    out->findings.push_back({HidSeverity::kError, 0, "unknown-report-id",
                             analysis.uses_report_ids ? "描述符中没有 ID 为 " + std::to_string(id) +
                                                            " 的" + kind_text + "报告"
                                                      : "描述符中没有" + kind_text + "报告"});
    return;
  }
  out->layout = layout;
  const uint64_t expected = (layout->bit_length + 7) / 8;
  // Windows hands a report of a descriptor without IDs over with a 0 in front.
  if (!analysis.uses_report_ids && report.size == expected + 1 && report.data[0] == 0) start = 1;
  const uint64_t payload = report.size - start;
  if (payload < expected) {
    out->findings.push_back({HidSeverity::kError, 0, "report-too-short",
                             kind_text + "报告应有 " + std::to_string(expected) +
                                 " 字节数据，实际只有 " + std::to_string(payload) +
                                 " 字节，超出部分的字段没有解码"});
  } else if (payload > expected) {
    out->findings.push_back(
        {HidSeverity::kInfo, 0, "report-too-long",
         kind_text + "报告应有 " + std::to_string(expected) + " 字节数据，实际有 " +
             std::to_string(payload) +
             " 字节：多出的字节不属于任何字段（Windows 会把同一集合的报告补齐到最长报告的长度）"});
  }
  const uint8_t* data = report.data + start;
  const uint64_t available = payload * 8;
  for (size_t f = 0; f < layout->fields.size(); ++f) {
    const HidField& field = layout->fields[f];
    if (field.IsConstant() || field.bit_size == 0 || field.bit_size > 64) continue;
    if (field.bit_offset >= available) continue;
    const uint64_t fit = (available - field.bit_offset) / field.bit_size;
    const uint64_t count = fit < field.count ? fit : field.count;
    const bool is_signed = field.IsSigned();
    for (uint64_t e = 0; e < count; ++e) {
      const uint64_t raw = ExtractBits(data, field.bit_offset + e * field.bit_size, field.bit_size);
      const int64_t value =
          is_signed ? SignExtendBits(raw, field.bit_size) : static_cast<int64_t>(raw);
      if (field.IsVariable()) {
        out->values.push_back(
            {static_cast<uint32_t>(f), HidVariableUsage(field, static_cast<uint32_t>(e)), value});
        continue;
      }
      const uint32_t usage = HidArrayUsage(field, value);
      if (usage != 0) out->values.push_back({static_cast<uint32_t>(f), usage, value});
    }
  }
}

}  // namespace vek_native
