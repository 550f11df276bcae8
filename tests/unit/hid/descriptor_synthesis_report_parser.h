// An independent HID report descriptor reader for tests: walks the items the
// way a host parser does (globals with push/pop, locals cleared by main items,
// collections nested) and adds up the bits of every report.
#ifndef VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_
#define VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vek_test {

struct ParsedReportDescriptor {
  bool ok = false;
  std::string error;
  bool uses_report_ids = false;
  int top_level_collections = 0;
  // Bits per (main type 0 Input / 1 Output / 2 Feature, report ID).
  std::map<std::pair<int, int>, uint64_t> report_bits;
  int main_items = 0;

  // The report byte length Windows would give (report ID byte included).
  uint32_t ByteLength(int type) const {
    uint64_t longest = 0;
    bool any = false;
    for (const auto& entry : report_bits) {
      if (entry.first.first == type) {
        longest = std::max(longest, entry.second);
        any = true;
      }
    }
    return any ? static_cast<uint32_t>((longest + 7) / 8 + 1) : 0;
  }
};

inline ParsedReportDescriptor ParseReportDescriptor(const std::vector<uint8_t>& bytes) {
  ParsedReportDescriptor out;
  struct Globals {
    uint32_t report_size = 0;
    uint32_t report_count = 0;
    uint32_t report_id = 0;
    bool has_usage_page = false;
  };
  Globals globals;
  std::vector<Globals> stack;
  int depth = 0;
  size_t p = 0;
  auto fail = [&](const std::string& why) {
    out.ok = false;
    out.error = why + " at offset " + std::to_string(p);
    return out;
  };
  while (p < bytes.size()) {
    const uint8_t prefix = bytes[p];
    if (prefix == 0xFE) {  // long item
      if (bytes.size() - p < 3) return fail("long item header cut");
      const size_t size = bytes[p + 1];
      if (bytes.size() - p - 3 < size) return fail("long item data cut");
      p += 3 + size;
      continue;
    }
    const size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    if (bytes.size() - p - 1 < size) return fail("item data cut");
    uint32_t data = 0;
    for (size_t i = 0; i < size; ++i) data |= static_cast<uint32_t>(bytes[p + 1 + i]) << (8 * i);
    const int type = (prefix >> 2) & 3;
    const int tag = prefix >> 4;
    if (type == 0) {  // main
      switch (tag) {
        case 8:
        case 9:
        case 11: {
          if (globals.report_size == 0 && globals.report_count != 0)
            return fail("main item without Report Size");
          const int report_type = tag == 8 ? 0 : (tag == 9 ? 1 : 2);
          out.report_bits[{report_type, static_cast<int>(globals.report_id)}] +=
              static_cast<uint64_t>(globals.report_size) * globals.report_count;
          ++out.main_items;
          break;
        }
        case 10:
          if (depth == 0) ++out.top_level_collections;
          ++depth;
          break;
        case 12:
          if (depth == 0) return fail("End Collection without Collection");
          --depth;
          break;
        default:
          return fail("unknown main item");
      }
    } else if (type == 1) {  // global
      switch (tag) {
        case 0:
          globals.has_usage_page = true;
          break;
        case 7:
          globals.report_size = data;
          break;
        case 8:
          if (data == 0 || data > 255) return fail("bad Report ID");
          globals.report_id = data;
          out.uses_report_ids = true;
          break;
        case 9:
          globals.report_count = data;
          break;
        case 10:
          stack.push_back(globals);
          break;
        case 11:
          if (stack.empty()) return fail("Pop without Push");
          globals = stack.back();
          stack.pop_back();
          break;
        default:
          break;
      }
    } else if (type == 3) {
      return fail("reserved item type");
    }
    p += 1 + size;
  }
  if (depth != 0) return fail("collection left open");
  out.ok = true;
  return out;
}

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_DESCRIPTOR_SYNTHESIS_REPORT_PARSER_H_
