// The analysis against what other programs made of the same descriptors:
// the Windows HID stack's report lengths for 25 real devices, hid-tools'
// item comments and descriptors, and umockdev's USB recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "hid/report_analysis_map.h"
#include "hid/report_descriptor.h"
#include "hid/report_encode.h"
#include "reconstruct_pp_data_cases.h"
#include "support/hex.h"
#include "unit/hid/hid_test_data.h"

namespace vek_native {
namespace {

// The lines of a file under tests/data.
std::vector<std::string> Lines(const std::string& relative) {
  std::istringstream text(vek_test::ReadTestData(relative));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// The bytes of a "_real.rpt_desc" listing. Contributors dumped them in two
// forms: where a file has "0x05, 0x01, // Usage Page" lines those are the
// descriptor (some files also carry a raw dump of the whole device), else each
// line ends with the item's bytes ("Usage Page (Generic Desktop) 05 01").
std::vector<uint8_t> ReadListing(const std::string& path) {
  const std::vector<std::string> lines = Lines(path);
  const auto code = [](const std::string& line) {
    const size_t at = line.find_first_not_of("# \t");
    return at != std::string::npos && line.compare(at, 2, "0x") == 0;
  };
  const bool c_style = std::any_of(lines.begin(), lines.end(), code);
  std::vector<uint8_t> bytes;
  for (const std::string& line : lines) {
    const size_t start = std::min(line.find_first_not_of("# \t"), line.size());
    std::istringstream words(line.substr(start, line.find("//") - start));
    std::vector<std::string> tokens;
    for (std::string token; words >> token;) tokens.push_back(token);
    size_t first = tokens.size();
    const auto hex = [](const std::string& t) {
      return t.size() == 2 && std::isxdigit(static_cast<unsigned char>(t[0])) &&
             std::isxdigit(static_cast<unsigned char>(t[1]));
    };
    while (first > 0 && !c_style && hex(tokens[first - 1])) --first;
    for (size_t i = c_style && code(line) ? 0 : first; i < tokens.size(); ++i) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(tokens[i], nullptr, 16)));
    }
  }
  return bytes;
}

// A .pp_data dump's "pp_data->KEY = value" lines by KEY ("caps_info[0]->FirstCap",
// "cap[3]->UsagePage"): what HidP_GetCaps and the value and button caps returned.
std::map<std::string, int64_t> PpData(const std::string& path) {
  std::map<std::string, int64_t> values;
  for (const std::string& line : Lines(path)) {
    char key[96];
    long long value = 0;
    if (std::sscanf(line.c_str(), "pp_data->%95s = %lli", key, &value) == 2) values[key] = value;
  }
  return values;
}

const HidCollection* TopLevel(const HidReportAnalysis& analysis, uint32_t usage) {
  for (const HidCollection& collection : analysis.collections) {
    if (collection.parent < 0 && collection.usage == usage) return &collection;
  }
  return nullptr;
}

std::vector<std::string> Codes(const std::vector<HidFinding>& findings, HidSeverity severity) {
  std::vector<std::string> codes;
  for (const HidFinding& finding : findings) {
    if (finding.severity == severity) codes.push_back(finding.code);
  }
  return codes;
}

// hid-tools' kernel-test descriptors, with the item comments of the 24 whose
// sources comment every byte group.
struct ToolsDescriptor {
  std::string source;
  std::vector<uint8_t> bytes;
  std::vector<std::pair<std::string, std::string>> items;  // hex, comment
};

std::vector<ToolsDescriptor> LoadHidTools() {
  std::vector<ToolsDescriptor> all;
  for (const std::string& line : Lines("hid_tools/report_descriptors.txt")) {
    if (line.rfind("D ", 0) == 0) {
      all.push_back({line.substr(2), {}, {}});
    } else if (line.rfind("H ", 0) == 0 && !all.empty()) {
      all.back().bytes = vek_test::FromHex(line.substr(2));
    } else if (line.rfind("I ", 0) == 0 && !all.empty()) {
      const size_t tab = line.find('\t');
      all.back().items.emplace_back(line.substr(2, tab - 2), line.substr(tab + 1));
    }
  }
  return all;
}

std::string SourceName(const ToolsDescriptor& d) { return d.source.substr(0, d.source.find(' ')); }

TEST(HidToolsDescriptors, SplitIntoWholeItemsWithTheOneRealError) {
  const std::vector<ToolsDescriptor> all = LoadHidTools();
  ASSERT_EQ(all.size(), 137u);
  std::vector<std::string> errors;
  for (const ToolsDescriptor& d : all) {
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(d.bytes, HidAnalysisContext());
    uint32_t next = 0, open = 0;  // whole items, one after the other; collections open
    for (const HidItem& item : analysis.items) {
      next = item.offset == next && !item.truncated ? next + item.length : ~0u;
      open -= (d.bytes[item.offset] & 0xFC) == 0xC0;  // an End Collection is outside its own
      EXPECT_EQ(item.depth, open) << d.source << " @" << item.offset;
      open += (d.bytes[item.offset] & 0xFC) == 0xA0;
    }
    EXPECT_EQ(next, d.bytes.size()) << d.source;
    EXPECT_FALSE(analysis.reports.empty()) << d.source;
    for (const std::string& code : Codes(analysis.findings, HidSeverity::kError)) {
      errors.push_back(SourceName(d) + " " + code);
    }
  }
  // A hand-made mouse that sends its buttons and X/Y without an ID and its
  // wheel and resolution multiplier with IDs 26 and 18.
  EXPECT_EQ(errors, std::vector<std::string>{"tests_kernel/test_hid_core.py:38 mixed-report-ids"});
}

std::string Trim(const std::string& text, const char* junk = " \t") {
  const size_t first = text.find_first_not_of(junk);
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(junk) - first + 1);
}

// What a hid-decode comment says, in a comparable form: the item's name and
// the text in its parentheses, without depth dots, offsets and remarks.
std::pair<std::string, std::string> CommentParts(const std::string& comment) {
  std::string text = Trim(comment.substr(0, comment.find(" #")), ". \t");
  const size_t close = text.rfind(')');
  const size_t open = text.find(" (");
  if (open == std::string::npos || close == std::string::npos) {
    // "End Collection     52": the name, then the byte offset some sources add.
    text = Trim(text, " \t,");
    const size_t gap = text.find("  ");
    return {gap == std::string::npos ? text : text.substr(0, gap), ""};
  }
  return {text.substr(0, open), text.substr(open + 2, close - open - 2)};
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A number as hid-decode writes one: "0130h", "Vendor Usage 0x20", "224", "-127".
bool ParseCommentNumber(std::string text, int64_t* value) {
  int base = 16;
  if (text.find("0x") != std::string::npos) {
    text = text.substr(text.find("0x") + 2);
  } else if (!text.empty() && text.back() == 'h') {
    text.pop_back();
  } else {
    base = 10;
  }
  if (text.empty() || text.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF"
                                                        : "-0123456789") != std::string::npos) {
    return false;
  }
  *value = std::stoll(text, nullptr, base);
  return true;
}

// Main item flags named in a "Data,Var,Abs" or "Variable, Relative" list.
uint32_t FlagBits(const std::string& list) {
  static const std::map<std::string, uint32_t> kBits = {
      {"cnst", kFlagConstant},      {"constant", kFlagConstant}, {"var", kFlagVariable},
      {"variable", kFlagVariable},  {"rel", kFlagRelative},      {"relative", kFlagRelative},
      {"wrap", kFlagWrap},          {"nlin", kFlagNonLinear},    {"nprf", kFlagNoPreferred},
      {"nopref", kFlagNoPreferred}, {"null", kFlagNullState},    {"null state", kFlagNullState},
      {"vol", kFlagVolatile},       {"buf", kFlagBufferedBytes}};
  uint32_t bits = 0;
  std::stringstream tokens(list);
  for (std::string token; std::getline(tokens, token, ',');) {
    token = Lower(Trim(token));
    auto it = kBits.find(token);
    if (it != kBits.end()) bits |= it->second;
  }
  return bits;
}

// Where hid-decode and this program name the same thing differently.
const std::map<std::string, std::string> kSameName = {
    {"page desktop", "generic desktop"},
    {"page keyboard", "keyboard/keypad"},
    {"page leds", "led"},
    {"page consumer devices", "consumer"},
    {"page digitizer", "digitizers"},
    {"page vendor defined page 1", "vendor-defined 0xff00"},
    {"volume up", "volume increment"},
    {"volume down", "volume decrement"},
    {"al consumer control config", "al consumer control configuration"}};

bool IsNamedPage(uint32_t page) {
  return page == 0x01 || page == 0x07 || page == 0x08 || page == 0x09 || page == 0x0C ||
         page == 0x0D;
}

// The comparison of one item: "" when it agrees, "skip" when the two cannot
// be compared, else what differs.
std::string CompareItem(const HidItem& item, const std::string& comment) {
  const auto [name, argument] = CommentParts(comment);
  const std::string text = HidItemText(item);
  const size_t open = text.find(" (");
  const std::string my_name = text.substr(0, open);
  const std::string my_argument =
      open == std::string::npos ? "" : text.substr(open + 2, text.size() - open - 3);
  if (name != my_name) return "name";
  int64_t number = 0;
  const bool numeric = ParseCommentNumber(argument, &number);
  if (name == "Input" || name == "Output" || name == "Feature") {
    return FlagBits(argument) == FlagBits(my_argument) ? "" : "flags";
  }
  if (name == "Unit Exponent") {
    // hid-decode prints the exponent's nibble as it is stored: 13 for -3.
    return numeric && (number >= 8 ? number - 16 : number) == HidItemValue(item) ? "" : "exponent";
  }
  if (name == "Unit") return "skip";  // hid-decode names only some; the unit table checks them
  if (name == "Usage Page" || name == "Usage" || name == "Usage Minimum" ||
      name == "Usage Maximum") {
    if (numeric) return number == (item.data & 0xFFFF) ? "" : "usage number";
    // Usages of pages this program shows by number (vendor-defined pages,
    // which hid-tools names after what Wacom puts there, and pages without a
    // name table here, such as Generic Device Controls).
    const uint32_t page = name == "Usage Page"  ? item.data & 0xFFFF
                          : item.data_size == 4 ? item.data >> 16
                                                : item.usage_page;
    if (!IsNamedPage(page)) return "skip";
    const auto same = kSameName.find((name == "Usage Page" ? "page " : "") + Lower(argument));
    const std::string expected = same == kSameName.end() ? Lower(argument) : same->second;
    return expected == Lower(my_argument) ? "" : "usage name";
  }
  if (name == "Collection") return argument == my_argument ? "" : "collection";
  if (argument.empty()) return my_argument.empty() ? "" : "argument";
  if (numeric && number == HidItemValue(item)) return "";
  // hid-decode reads a maximum written as a negative number unsigned (as
  // Linux does when the minimum is not negative); the item itself is signed.
  const bool maximum = name == "Logical Maximum" || name == "Physical Maximum";
  return maximum && numeric && HidItemValue(item) < 0 && number == item.data ? "" : "value";
}

TEST(HidToolsDescriptors, ItemMeaningsAgreeWithTheSourcesComments) {
  size_t compared = 0;
  std::vector<std::string> differences;
  for (const ToolsDescriptor& d : LoadHidTools()) {
    if (d.items.empty()) continue;
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(d.bytes, HidAnalysisContext());
    ASSERT_EQ(analysis.items.size(), d.items.size()) << d.source;
    for (size_t i = 0; i < d.items.size(); ++i) {
      const HidItem& item = analysis.items[i];
      const std::vector<uint8_t> bytes(d.bytes.begin() + item.offset,
                                       d.bytes.begin() + item.offset + item.length);
      ASSERT_EQ(vek_test::ToHex(bytes), d.items[i].first) << d.source << " item " << i;
      const std::string difference = CompareItem(item, d.items[i].second);
      if (difference == "skip") continue;
      ++compared;
      if (!difference.empty()) {
        differences.push_back(SourceName(d) + " @" + std::to_string(item.offset) + " " +
                              difference);
      }
    }
  }
  EXPECT_GE(compared, 2850u);
  // Comments that do not describe their bytes: the deep-nesting test copies
  // the mouse's "Usage (Pointer)" onto usage 1 of the Button page, and one
  // keyboard comments its padding "81 01" (Cnst,Arr,Abs) like the line above.
  std::vector<std::string> wrong_comments;
  for (int offset = 38; offset <= 102; offset += 4) {
    wrong_comments.push_back("tests_kernel/test_hid_core.py:38 @" + std::to_string(offset) +
                             " usage name");
  }
  wrong_comments.push_back("tests_kernel/test_keyboard.py:221 @26 flags");
  EXPECT_EQ(differences, wrong_comments);
}

// umockdev recordings from Linux: a device's "descriptors" attribute (device
// descriptor, then the configuration) and its hidraw node's report descriptor.
std::string Attribute(const std::string& file, const std::string& key) {
  for (const std::string& line : Lines("umockdev/" + file)) {
    if (line.rfind("H: " + key + "=", 0) == 0) return line.substr(key.size() + 4);
  }
  return "";
}

std::vector<UsbConfigurationRecord> Configuration(const std::string& file) {
  const std::vector<uint8_t> usb = vek_test::FromHex(Attribute(file, "descriptors"));
  EXPECT_GT(usb.size(), 18u);
  return {ParseConfiguration(ByteSpan(usb.data() + 18, usb.size() - 18))};
}

TEST(UsbDumps, InterfacesGiveTheirBootProtocolAndPacketSize) {
  // The Kinesis keyboard: a boot keyboard interface with an 8-byte interrupt
  // endpoint, then a plain HID interface with a 4-byte one.
  const auto keyboard = Configuration("usbkbd.umockdev");
  EXPECT_EQ(UsbInterfaceAnalysisContext(keyboard, 0).boot_protocol, 1);
  EXPECT_EQ(UsbInterfaceAnalysisContext(keyboard, 0).max_packet_size, 8u);
  EXPECT_EQ(UsbInterfaceAnalysisContext(keyboard, 1).boot_protocol, 0);
  EXPECT_EQ(UsbInterfaceAnalysisContext(keyboard, 1).max_packet_size, 4u);
  auto protocol_only = keyboard;  // a protocol means nothing without the boot subclass
  protocol_only[0].interfaces[1].bInterfaceProtocol = 2;
  EXPECT_EQ(UsbInterfaceAnalysisContext(protocol_only, 1).boot_protocol, 0);
  // A Yubico FIDO key: its HID class descriptor announces exactly the report
  // descriptor's bytes, and CTAPHID's 64-byte reports without IDs fill its
  // 64-byte packets: no error, no warning (the output report repeats its
  // globals, only worth an info).
  const auto fido = Configuration("fido2.umockdev");
  const std::vector<uint8_t> descriptor =
      vek_test::FromHex(Attribute("fido2.umockdev", "report_descriptor"));
  const HidReportAnalysis analysis =
      AnalyzeHidReportDescriptor(descriptor, UsbInterfaceAnalysisContext(fido, 0));
  EXPECT_EQ(Codes(analysis.findings, HidSeverity::kError), std::vector<std::string>());
  EXPECT_EQ(Codes(analysis.findings, HidSeverity::kWarning), std::vector<std::string>());
  ASSERT_EQ(analysis.collections.size(), 1u);
  EXPECT_EQ(analysis.collections[0].report_byte_length,
            (std::array<uint32_t, kHidReportKinds>{65, 65, 0}));
}

std::string Span(int64_t minimum, int64_t maximum) {
  return std::to_string(minimum) + "-" + std::to_string(maximum) + " ";
}

class WindowsReportLengths : public ::testing::TestWithParam<const char*> {};

// File names are VID_PID_USAGE_USAGEPAGE; the .pp_data is one top-level
// collection, the real descriptor may hold all of the interface's.
TEST_P(WindowsReportLengths, EqualTheHidStacksCaps) {
  const std::string name = GetParam();
  const uint32_t usage = static_cast<uint32_t>(std::stoul(name.substr(10, 4), nullptr, 16));
  const uint32_t page = static_cast<uint32_t>(std::stoul(name.substr(15, 4), nullptr, 16));
  const std::vector<uint8_t> descriptor = ReadListing("hidapi_pp_data/" + name + "_real.rpt_desc");
  // With the same caps as context the agreement check finds nothing to say,
  // and these working devices have no error in their descriptors' form.
  HidAnalysisContext context;
  context.has_caps = true;
  context.caps_usage_page = static_cast<uint16_t>(page);
  context.caps_usage = static_cast<uint16_t>(usage);
  std::map<std::string, int64_t> pp = PpData("hidapi_pp_data/" + name + ".pp_data");
  for (size_t kind = 0; kind < kHidReportKinds; ++kind) {
    context.caps_report_byte_length[kind] =
        static_cast<uint32_t>(pp["caps_info[" + std::to_string(kind) + "]->ReportByteLength"]);
  }
  const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, context);
  const HidCollection* collection = TopLevel(analysis, page << 16 | usage);
  ASSERT_NE(collection, nullptr);
  EXPECT_EQ(collection->report_byte_length, context.caps_report_byte_length);
  EXPECT_EQ(Codes(analysis.findings, HidSeverity::kError), std::vector<std::string>());
  for (const HidFinding& finding : analysis.findings) {
    EXPECT_NE(std::string(finding.code).rfind("caps-", 0), 0u) << finding.message;
  }
  // The usages the stack gave each field, a variable field's by element and an
  // array's in data index order, are the field's declared usages in declared
  // order (the last one repeating over the elements left).
  std::map<const HidField*, std::map<int64_t, std::string>> stack;
  for (size_t kind = 0; kind < kHidReportKinds; ++kind) {
    const std::string info = "caps_info[" + std::to_string(kind) + "]->";
    for (int64_t n = pp[info + "FirstCap"]; n < pp[info + "LastCap"]; ++n) {
      const auto cap = [&](const std::string& key) {
        return pp["cap[" + std::to_string(n) + "]->" + key];
      };
      if (cap("IsPadding") || cap("IsAlias")) continue;
      const int64_t bit = (cap("BytePosition") - 1) * 8 + cap("BitPosition");
      for (const HidReportLayout& report : analysis.reports) {
        for (const HidField& f : report.fields) {
          if (static_cast<size_t>(report.kind) == kind && report.id == cap("ReportID") &&
              &analysis.collections[static_cast<size_t>(report.top_level)] == collection &&
              bit >= int64_t(f.bit_offset) &&
              bit < int64_t(f.bit_offset + uint64_t{f.bit_size} * f.count)) {
            const std::string r = cap("IsRange") ? "Range." : "NotRange.";
            stack[&f][f.IsVariable() ? bit
                                     : cap(r + (cap("IsRange") ? "DataIndexMin" : "DataIndex"))] =
                Span(cap("UsagePage") << 16 | cap(r + (cap("IsRange") ? "UsageMin" : "Usage")),
                     cap("UsagePage") << 16 | cap(r + (cap("IsRange") ? "UsageMax" : "Usage")));
          }
        }
      }
    }
  }
  for (const auto& [field, by_index] : stack) {
    std::string theirs, ours;
    for (const auto& entry : by_index) theirs += entry.second;
    for (const HidUsageSpan& span : field->usage_spans) ours += Span(span.minimum, span.maximum);
    if (field->IsVariable()) ours.resize(theirs.size());  // usages no element takes go unused
    EXPECT_EQ(ours, theirs) << name << " field at " << field->offset;
  }
}

INSTANTIATE_TEST_SUITE_P(RealDevices, WindowsReportLengths, ::testing::ValuesIn(kPpDataCases));

// Encoding values and decoding the report gives them back, for every report
// of every real descriptor here (hidapi's devices as written and as rebuilt):
// a value drawn from each variable element's extent, and up to three
// controls pressed in each array.
TEST(EncodeHidReport, DecodingGivesTheValuesBackForEveryRealReport) {
  std::vector<std::vector<uint8_t>> descriptors = {
      vek_test::FromHex(Attribute("fido2.umockdev", "report_descriptor"))};
  for (const ToolsDescriptor& d : LoadHidTools()) descriptors.push_back(d.bytes);
  for (const std::string name : kPpDataCases) {
    descriptors.push_back(ReadListing("hidapi_pp_data/" + name + "_real.rpt_desc"));
    descriptors.push_back(vek_test::HidapiRebuild({name.c_str()}));
  }
  size_t values = 0;
  std::mt19937_64 random(1);
  for (const std::vector<uint8_t>& descriptor : descriptors) {
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    for (const HidReportLayout& layout : analysis.reports) {
      if (analysis.FindReport(layout.kind, layout.id) != &layout) continue;
      std::vector<HidUsageValue> given;
      std::vector<std::tuple<uint32_t, uint32_t, int64_t>> want, got;  // field, usage, value
      std::vector<uint32_t> left(layout.fields.size(), 0);             // values expected per field
      for (uint32_t f = 0; f < layout.fields.size(); ++f) {
        const HidField& field = layout.fields[f];
        if (field.IsConstant() || field.bit_size == 0 || field.bit_size > 64) continue;
        const int64_t min = field.logical_minimum, max = field.logical_maximum;
        const uint64_t span = static_cast<uint64_t>(max) - static_cast<uint64_t>(min) + 1;
        const auto fits = [&](int64_t v) {  // in the extent and in the bits
          const uint32_t bits = field.bit_size - (field.IsSigned() ? 1 : 0);
          return v >= min && v <= max &&
                 (bits >= 63 || (v < (int64_t{1} << bits) && v >= -(int64_t{1} << bits)));
        };
        const bool variable = field.IsVariable();
        for (uint32_t e = 0; e < (variable ? field.count : std::min(field.count, 3u)); ++e) {
          int64_t value = variable ? min + static_cast<int64_t>(span ? random() % span : 0)
                                   : min + int64_t{e} * 7 + 1;
          if (variable && !fits(value)) value = min;
          const uint32_t usage =
              variable ? HidVariableUsage(field, e) : HidArrayUsage(field, value);
          if (!fits(value) || usage == 0) break;
          given.push_back(
              {static_cast<uint16_t>(usage >> 16), static_cast<uint16_t>(usage), value});
          want.emplace_back(f, usage, value);
          ++left[f];
        }
      }
      std::vector<uint8_t> report;
      std::string message;
      SCOPED_TRACE(std::to_string(&descriptor - &descriptors[0]) + " " +
                   HidReportKindName(layout.kind) + " " + std::to_string(layout.id));
      ASSERT_TRUE(EncodeHidReport(analysis, layout.kind, layout.id, given, &report, &message))
          << message;
      HidDecodedReport decoded;
      DecodeHidReport(analysis, layout.kind, report, &decoded);
      // Arrays give back what is pressed, and vendor arrays whose every value
      // is a control their free elements too: the first ones of each field.
      for (const HidDecodedValue& v : decoded.values) {
        if (left[v.field] > 0 && left[v.field]--) got.emplace_back(v.field, v.usage, v.value);
      }
      EXPECT_EQ(got, want);
      values += given.size();
    }
  }
  EXPECT_GE(values, 5000u);
}

}  // namespace
}  // namespace vek_native
