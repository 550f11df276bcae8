#include "unit/hid/reconstruct_pp_data.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace vek_test {

namespace {

// Layout of the preparsed data ("HidP KDR"): a 44-byte header, 104-byte caps,
// then 16-byte link-collection nodes at FirstByteOfLinkCollectionArray.
constexpr size_t kHeaderSize = 44;
constexpr size_t kCapSize = 104;
constexpr size_t kLinkNodeSize = 16;

void Put(std::vector<uint8_t>* blob, size_t offset, uint64_t value, int width) {
  if (blob->size() < offset + width) blob->resize(offset + width, 0);
  for (int i = 0; i < width; ++i) (*blob)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct CapFieldSpec {
  size_t offset;
  int width;  // bytes; 0 = flag bit `bit` in the byte at `offset`
  int bit;
};

const std::map<std::string, CapFieldSpec>& CapFields() {
  static const std::map<std::string, CapFieldSpec> fields{
      {"UsagePage", {0, 2, 0}},
      {"ReportID", {2, 1, 0}},
      {"BitPosition", {3, 1, 0}},
      {"BitSize", {4, 2, 0}},
      {"ReportCount", {6, 2, 0}},
      {"BytePosition", {8, 2, 0}},
      {"BitCount", {10, 2, 0}},
      {"BitField", {12, 4, 0}},
      {"NextBytePosition", {16, 2, 0}},
      {"LinkCollection", {18, 2, 0}},
      {"LinkUsagePage", {20, 2, 0}},
      {"LinkUsage", {22, 2, 0}},
      {"IsMultipleItemsForArray", {24, 0, 0}},
      {"IsPadding", {24, 0, 1}},
      {"IsButtonCap", {24, 0, 2}},
      {"IsAbsolute", {24, 0, 3}},
      {"IsRange", {24, 0, 4}},
      {"IsAlias", {24, 0, 5}},
      {"IsStringRange", {24, 0, 6}},
      {"IsDesignatorRange", {24, 0, 7}},
      {"Reserved1", {25, 3, 0}},
      {"Range.UsageMin", {60, 2, 0}},
      {"Range.UsageMax", {62, 2, 0}},
      {"Range.StringMin", {64, 2, 0}},
      {"Range.StringMax", {66, 2, 0}},
      {"Range.DesignatorMin", {68, 2, 0}},
      {"Range.DesignatorMax", {70, 2, 0}},
      {"Range.DataIndexMin", {72, 2, 0}},
      {"Range.DataIndexMax", {74, 2, 0}},
      {"NotRange.Usage", {60, 2, 0}},
      {"NotRange.Reserved1", {62, 2, 0}},
      {"NotRange.StringIndex", {64, 2, 0}},
      {"NotRange.Reserved2", {66, 2, 0}},
      {"NotRange.DesignatorIndex", {68, 2, 0}},
      {"NotRange.Reserved3", {70, 2, 0}},
      {"NotRange.DataIndex", {72, 2, 0}},
      {"NotRange.Reserved4", {74, 2, 0}},
      {"Button.LogicalMin", {76, 4, 0}},
      {"Button.LogicalMax", {80, 4, 0}},
      {"NotButton.HasNull", {76, 1, 0}},
      {"NotButton.Reserved4", {77, 3, 0}},
      {"NotButton.LogicalMin", {80, 4, 0}},
      {"NotButton.LogicalMax", {84, 4, 0}},
      {"NotButton.PhysicalMin", {88, 4, 0}},
      {"NotButton.PhysicalMax", {92, 4, 0}},
      {"Units", {96, 4, 0}},
      {"UnitsExp", {100, 4, 0}},
  };
  return fields;
}

const std::map<std::string, CapFieldSpec>& LinkFields() {
  static const std::map<std::string, CapFieldSpec> fields{
      {"LinkUsage", {0, 2, 0}},        {"LinkUsagePage", {2, 2, 0}}, {"Parent", {4, 2, 0}},
      {"NumberOfChildren", {6, 2, 0}}, {"NextSibling", {8, 2, 0}},   {"FirstChild", {10, 2, 0}},
  };
  return fields;
}

int64_t Number(const std::string& text) {
  return text.rfind("0x", 0) == 0 ? static_cast<int64_t>(std::stoull(text.substr(2), nullptr, 16))
                                  : std::stoll(text);
}

int32_t Signed(const std::vector<uint8_t>& blob, size_t offset) {
  return static_cast<int32_t>(blob[offset] | (blob[offset + 1] << 8) | (blob[offset + 2] << 16) |
                              (static_cast<uint32_t>(blob[offset + 3]) << 24));
}
uint16_t U16(const std::vector<uint8_t>& blob, size_t offset) {
  return static_cast<uint16_t>(blob[offset] | (blob[offset + 1] << 8));
}

}  // namespace

bool LoadPpDataDump(const std::string& path, PpDataDump* dump, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  static const std::regex line_re(
      R"(^pp_data->(\w+)(?:\[(\d+)\])?(?:->(?:pp_cap->)?([\w.\[\]]+))?\s*=\s*(\S+))");
  std::vector<uint8_t> header(kHeaderSize, 0);
  std::map<int, std::vector<uint8_t>> caps;
  std::map<int, std::vector<uint8_t>> links;
  uint16_t link_offset = 0;
  uint16_t link_count = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, line_re)) continue;
    const std::string name = m[1];
    const int index = m[2].matched ? std::stoi(m[2]) : -1;
    const std::string field = m[3];
    const int64_t value = Number(m[4]);
    if (name == "MagicKey") {
      // Printed byte by byte in memory order: 0x48696450204B4452 is "HidP KDR".
      for (int i = 0; i < 8; ++i)
        header[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (56 - 8 * i));
    } else if (name == "Usage") {
      Put(&header, 8, value, 2);
    } else if (name == "UsagePage") {
      Put(&header, 10, value, 2);
    } else if (name == "Reserved") {
      Put(&header, 12, value, 4);
    } else if (name == "caps_info") {
      static const std::map<std::string, size_t> offsets{
          {"FirstCap", 0}, {"NumberOfCaps", 2}, {"LastCap", 4}, {"ReportByteLength", 6}};
      auto it = offsets.find(field);
      if (it == offsets.end() || index < 0 || index > 2) continue;
      Put(&header, 16 + 8 * index + it->second, value, 2);
    } else if (name == "FirstByteOfLinkCollectionArray") {
      link_offset = static_cast<uint16_t>(value);
      Put(&header, 40, value, 2);
    } else if (name == "NumberLinkCollectionNodes") {
      link_count = static_cast<uint16_t>(value);
      Put(&header, 42, value, 2);
    } else if (name == "cap" && index >= 0) {
      std::vector<uint8_t>& cap = caps[index];
      cap.resize(kCapSize, 0);
      std::smatch token;
      static const std::regex token_re(R"(UnknownTokens\[(\d)\]\.(\w+))");
      if (std::regex_match(field, token, token_re)) {
        const size_t base = 28 + 8 * std::stoi(token[1]);
        if (token[2] == "Token") Put(&cap, base, value, 1);
        if (token[2] == "Reserved") Put(&cap, base + 1, value, 3);
        if (token[2] == "BitField") Put(&cap, base + 4, value, 4);
        continue;
      }
      auto it = CapFields().find(field);
      if (it == CapFields().end()) {
        *error = "unknown cap field " + field;
        return false;
      }
      if (it->second.width == 0) {
        if (value != 0) cap[it->second.offset] |= static_cast<uint8_t>(1u << it->second.bit);
      } else {
        Put(&cap, it->second.offset, static_cast<uint64_t>(value), it->second.width);
      }
    } else if (name == "LinkCollectionArray" && index >= 0) {
      std::vector<uint8_t>& node = links[index];
      node.resize(kLinkNodeSize, 0);
      auto it = LinkFields().find(field);
      if (it != LinkFields().end()) {
        Put(&node, it->second.offset, value, it->second.width);
      } else if (field == "CollectionType") {
        node[12] = static_cast<uint8_t>(value);
      } else if (field == "IsAlias") {
        if (value != 0) node[13] |= 1;
      } else if (field == "Reserved") {
        // 23 bits above IsAlias; all zero in the recordings.
        if (value != 0) {
          *error = "non-zero link collection Reserved";
          return false;
        }
      }
    }
  }
  if (U16(header, 0) == 0 || links.size() != link_count) {
    *error = "incomplete dump " + path;
    return false;
  }
  dump->blob = header;
  dump->blob.resize(kHeaderSize + link_offset + kLinkNodeSize * link_count, 0);
  for (const auto& entry : caps) {
    const size_t at = kHeaderSize + kCapSize * static_cast<size_t>(entry.first);
    if (at + kCapSize > kHeaderSize + link_offset) {
      *error = "cap outside the caps array";
      return false;
    }
    std::copy(entry.second.begin(), entry.second.end(), dump->blob.begin() + at);
  }
  for (const auto& entry : links) {
    std::copy(entry.second.begin(), entry.second.end(),
              dump->blob.begin() + kHeaderSize + link_offset + kLinkNodeSize * entry.first);
  }

  // The records HidP_GetCaps / HidP_GetButtonCaps / HidP_GetValueCaps give.
  vek_native::CapabilitySet& set = dump->capabilities;
  set = vek_native::CapabilitySet();
  set.caps.usage = U16(header, 8);
  set.caps.usage_page = U16(header, 10);
  set.caps.number_link_collection_nodes = link_count;
  uint16_t* lengths[3] = {&set.caps.input_report_byte_length, &set.caps.output_report_byte_length,
                          &set.caps.feature_report_byte_length};
  uint16_t* button_counts[3] = {&set.caps.number_input_button_caps,
                                &set.caps.number_output_button_caps,
                                &set.caps.number_feature_button_caps};
  uint16_t* value_counts[3] = {&set.caps.number_input_value_caps,
                               &set.caps.number_output_value_caps,
                               &set.caps.number_feature_value_caps};
  for (int t = 0; t < 3; ++t) {
    *lengths[t] = U16(header, 16 + 8 * t + 6);
    const uint16_t first = U16(header, 16 + 8 * t);
    const uint16_t last = U16(header, 16 + 8 * t + 4);
    for (uint16_t i = first; i < last; ++i) {
      const size_t at = kHeaderSize + kCapSize * i;
      const std::vector<uint8_t>& b = dump->blob;
      const uint8_t flags = b[at + 24];
      const bool is_range = (flags & 0x10) != 0;
      if (flags & 0x04) {
        vek_native::ButtonCapsRecord r;
        r.UsagePage = U16(b, at);
        r.ReportID = b[at + 2];
        r.BitField = static_cast<uint16_t>(U16(b, at + 12));
        r.IsRange = is_range;
        r.IsAbsolute = (flags & 0x08) != 0;
        r.ReportCount = U16(b, at + 6);
        r.UsageMin = U16(b, at + 60);
        r.UsageMax = is_range ? U16(b, at + 62) : 0;
        set.buttons[t].push_back(r);
        ++*button_counts[t];
      } else {
        vek_native::ValueCapsRecord r;
        r.UsagePage = U16(b, at);
        r.ReportID = b[at + 2];
        r.IsRange = is_range;
        r.IsAbsolute = (flags & 0x08) != 0;
        r.HasNull = b[at + 76] != 0;
        r.BitSize = U16(b, at + 4);
        r.ReportCount = U16(b, at + 6);
        r.LogicalMin = Signed(b, at + 80);
        r.LogicalMax = Signed(b, at + 84);
        r.PhysicalMin = Signed(b, at + 88);
        r.PhysicalMax = Signed(b, at + 92);
        r.UsageMin = U16(b, at + 60);
        r.UsageMax = is_range ? U16(b, at + 62) : 0;
        set.values[t].push_back(r);
        ++*value_counts[t];
      }
    }
  }
  return true;
}

std::vector<uint8_t> LoadByteListing(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<uint8_t> bytes;
  static const std::regex byte_re(R"(0x([0-9A-Fa-f]{2}))");
  const std::string s = text.str();
  for (std::sregex_iterator it(s.begin(), s.end(), byte_re), end; it != end; ++it) {
    bytes.push_back(static_cast<uint8_t>(std::stoi((*it)[1], nullptr, 16)));
  }
  return bytes;
}

}  // namespace vek_test
