// Decoding one report on a precomputed layout: no allocation once the output's
// buffers have grown, so a user interface can decode every report of an 8 kHz
// device.
#include <algorithm>
#include <string>
#include <vector>

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

// The usage an array element's value selects, or 0 when no control is on:
// the declared usages in order, ranges expanded in place; `ends` is scratch.
uint32_t ArrayUsage(const HidField& field, int64_t value, std::vector<uint64_t>* ends) {
  if (value < field.logical_minimum || value > field.logical_maximum) return 0;
  const uint64_t index = static_cast<uint64_t>(value - field.logical_minimum);
  uint32_t usage = 0;
  if (!field.usage_spans.empty()) {
    // ends[i]: the usages of spans 0..i; looked up by halving, as a field can
    // declare thousands of usages.
    const std::vector<uint64_t>& end = *ends;
    const auto it = std::upper_bound(end.begin(), end.end(), index);
    if (it != end.end()) {
      const HidUsageSpan& span = field.usage_spans[static_cast<size_t>(it - end.begin())];
      const uint64_t before = it == end.begin() ? 0 : *(it - 1);
      usage = span.minimum + static_cast<uint32_t>(index - before);
    }
  } else if (field.has_usage_range) {
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

void SpanEnds(const HidField& field, std::vector<uint64_t>* ends) {
  ends->clear();
  uint64_t total = 0;
  for (const HidUsageSpan& span : field.usage_spans) {
    if (span.minimum <= span.maximum) total += uint64_t{span.maximum} - span.minimum + 1;
    ends->push_back(total);
  }
}

// The usages of a variable field's elements one after the other, without
// walking the declared usages again for each element.
class UsageCursor {
 public:
  explicit UsageCursor(const HidField& field) : field_(field) {}
  uint32_t Next(uint32_t element) {
    const std::vector<HidUsageSpan>& spans = field_.usage_spans;
    if (spans.empty()) return HidVariableUsage(field_, element);
    while (span_ < spans.size() && spans[span_].minimum > spans[span_].maximum) ++span_;
    if (span_ == spans.size()) return last_;  // the last usage repeats
    const HidUsageSpan& span = spans[span_];
    last_ = span.minimum + into_;
    if (last_ == span.maximum) {
      ++span_;
      into_ = 0;
    } else {
      ++into_;
    }
    return last_;
  }

 private:
  const HidField& field_;
  size_t span_ = 0;
  uint32_t into_ = 0;
  uint32_t last_ = 0;
};

// `bits` bits of `data` from `bit` on, packed from bit 0 into `out`.
void AppendBits(const uint8_t* data, uint64_t bit, uint64_t bits, std::vector<uint8_t>* out) {
  const size_t first = static_cast<size_t>(bit / 8);
  const uint32_t shift = static_cast<uint32_t>(bit % 8);
  const size_t bytes = static_cast<size_t>((bits + 7) / 8);
  const size_t begin = out->size();
  out->resize(begin + bytes);
  uint8_t* to = out->data() + begin;
  // The source holds every bit asked for, so byte first + i + 1 exists
  // whenever bit 8 * i + (8 - shift) is one of them (unshifted, its bits land
  // past the output byte).
  for (size_t i = 0; i < bytes; ++i) {
    uint32_t byte = data[first + i] >> shift;
    if (uint64_t{8} * i + (8 - shift) < bits) byte |= data[first + i + 1] << (8 - shift);
    to[i] = static_cast<uint8_t>(byte);
  }
  if (bits % 8 != 0) to[bytes - 1] &= static_cast<uint8_t>((1u << (bits % 8)) - 1);
}

}  // namespace

uint64_t HidLongestReport(const HidReportAnalysis& analysis, HidReportKind kind) {
  uint64_t longest = 0;
  for (const HidReportLayout& report : analysis.reports) {
    if (report.kind == kind) longest = std::max(longest, report.ByteLength());
  }
  return std::min(longest, kHidMaxReportBytes);
}

uint32_t HidArrayUsage(const HidField& field, int64_t value) {
  std::vector<uint64_t> ends;
  SpanEnds(field, &ends);
  return ArrayUsage(field, value, &ends);
}

void DecodeHidReport(const HidReportAnalysis& analysis, HidReportKind kind, ByteSpan report,
                     HidDecodedReport* out) {
  out->report_id = -1;
  out->layout = nullptr;
  out->values.clear();
  out->findings.clear();
  out->raw_fields.clear();
  out->raw_bytes.clear();
  out->decoded_fields = 0;
  out->refused = false;
  const std::string kind_text = KindText(kind);
  if (report.size == 0) {
    out->findings.push_back({HidSeverity::kError, 0, "empty-report", "报告是空的"});
    return;
  }
  const uint64_t longest = HidLongestReport(analysis, kind);
  if (longest != 0 && report.size > longest) {
    out->refused = true;
    out->findings.push_back(
        {HidSeverity::kError, 0, "report-longer-than-descriptor",
         "报告长 " + std::to_string(report.size) + " 字节，超过描述符中最长的" + kind_text +
             "报告（" + std::to_string(longest) + " 字节，含报告 ID 字节" +
             (longest == kHidMaxReportBytes ? "；HID 协议栈的报告最长 65535 字节" : "") +
             "）：它不可能是这个描述符的报告"});
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
  // The analysis's own length, so that both always name the same number.
  const uint64_t expected = layout->ByteLength() - 1;
  // Windows hands a report of a descriptor without IDs over with a 0 in front.
  if (!analysis.uses_report_ids && report.size == expected + 1 && report.data[0] == 0) start = 1;
  const uint64_t payload = report.size - start;
  if (payload < expected) {
    // As the analysis says: a saturated length is no number of bytes.
    const std::string wanted = layout->bit_length == kHidSaturatedBitLength
                                   ? "的长度超出 64 位整数的范围"
                                   : "应有 " + std::to_string(expected) + " 字节数据";
    out->findings.push_back({HidSeverity::kError, 0, "report-too-short",
                             kind_text + "报告" + wanted + "，实际只有 " + std::to_string(payload) +
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
  uint64_t elements_left = kHidDecodeMaxElements;
  size_t not_decoded = 0;
  for (size_t f = 0; f < layout->fields.size(); ++f) {
    const HidField& field = layout->fields[f];
    if (field.IsConstant()) continue;
    if (out->decoded_fields == kHidDecodeMaxFields) {
      ++not_decoded;
      continue;
    }
    ++out->decoded_fields;
    if (field.bit_size == 0 || field.bit_offset >= available) continue;
    const uint64_t fit = (available - field.bit_offset) / field.bit_size;
    const uint64_t count = fit < field.count ? fit : field.count;
    if (field.bit_size > 64 || count > elements_left) {
      const uint64_t bits =
          std::min(available - field.bit_offset, uint64_t{field.bit_size} * field.count);
      out->raw_fields.push_back({static_cast<uint32_t>(f), bits, out->raw_bytes.size(),
                                 static_cast<size_t>((bits + 7) / 8)});
      AppendBits(data, field.bit_offset, bits, &out->raw_bytes);
      continue;
    }
    elements_left -= count;
    const bool is_signed = field.IsSigned();
    UsageCursor usages(field);
    if (!field.IsVariable() && !field.usage_spans.empty()) SpanEnds(field, &out->span_ends);
    for (uint64_t e = 0; e < count; ++e) {
      const uint64_t raw = ExtractBits(data, field.bit_offset + e * field.bit_size, field.bit_size);
      const int64_t value =
          is_signed ? SignExtendBits(raw, field.bit_size) : static_cast<int64_t>(raw);
      if (field.IsVariable()) {
        out->values.push_back(
            {static_cast<uint32_t>(f), usages.Next(static_cast<uint32_t>(e)), value});
        continue;
      }
      const uint32_t usage = ArrayUsage(field, value, &out->span_ends);
      if (usage != 0) out->values.push_back({static_cast<uint32_t>(f), usage, value});
    }
  }
  if (!out->raw_fields.empty()) {
    out->findings.push_back(
        {HidSeverity::kInfo, 0, "fields-as-raw-bits",
         std::to_string(out->raw_fields.size()) +
             " 个字段以原始位给出，没有逐个元素的值：元素宽于 64 位，或整个报告超过 " +
             std::to_string(kHidDecodeMaxElements) + " 个元素"});
  }
  if (not_decoded != 0) {
    out->findings.push_back({HidSeverity::kInfo, 0, "fields-not-decoded",
                             "报告有 " + std::to_string(out->decoded_fields + not_decoded) +
                                 " 个非常量字段，只解码了前 " +
                                 std::to_string(kHidDecodeMaxFields) + " 个"});
  }
}

}  // namespace vek_native
