// An independent HID report descriptor reader for tests: walks the items as a
// host parser does and adds up the bits of every report. Push, Pop and long
// items, which neither rebuilder writes, make it fail.
#ifndef VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_
#define VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vek_test {

struct ParsedReportDescriptor {
  bool ok = false;
  std::string error;
  int top_level_collections = 0;
  // Bits per (main item type: 0 Input, 1 Output, 2 Feature; report ID).
  std::map<std::pair<int, uint32_t>, uint64_t> report_bits;

  // The report byte length Windows declares: the longest report, and the
  // report-ID byte.
  uint32_t ByteLength(int type) const {
    uint64_t longest = 0;
    for (const auto& report : report_bits) {
      if (report.first.first == type) longest = std::max(longest, (report.second + 7) / 8 + 1);
    }
    return static_cast<uint32_t>(longest);
  }
};

inline ParsedReportDescriptor ParseReportDescriptor(const std::vector<uint8_t>& bytes) {
  ParsedReportDescriptor out;
  uint32_t size = 0, count = 0, id = 0;
  int depth = 0;
  for (size_t p = 0, n = 0; p < bytes.size(); p += 1 + n) {
    const uint8_t prefix = bytes[p];
    n = (prefix & 3) == 3 ? 4 : (prefix & 3);
    out.error = "item at offset " + std::to_string(p);
    if (prefix == 0xFE || bytes.size() - p - 1 < n) return out;
    uint32_t data = 0;
    for (size_t i = 0; i < n; ++i) data |= uint32_t{bytes[p + 1 + i]} << (8 * i);
    const int tag = prefix & 0xFC;
    if (tag == 0x80 || tag == 0x90 || tag == 0xB0) {  // Input, Output, Feature
      out.report_bits[{tag == 0x80 ? 0 : tag == 0x90 ? 1 : 2, id}] += uint64_t{size} * count;
    } else if (tag == 0xA0 && depth++ == 0) {  // Collection
      ++out.top_level_collections;
    } else if ((tag == 0xC0 && --depth < 0) || tag == 0xA4 || tag == 0xB4 ||  // End, Push, Pop
               (tag == 0x84 && (data == 0 || data > 255))) {                  // Report ID
      return out;
    }
    size = tag == 0x74 ? data : size;    // Report Size
    count = tag == 0x94 ? data : count;  // Report Count
    id = tag == 0x84 ? data : id;
  }
  out.ok = depth == 0;
  out.error = out.ok ? "" : "a collection left open";
  return out;
}

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_
