// The analysis on hand-made descriptors: one broken descriptor per finding,
// the layouts the HID rules give, item texts, and report decoding.
#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hid/hid_usage_names.h"
#include "support/hex.h"

namespace vek_native {
namespace {

std::vector<uint8_t> Bytes(const std::string& spaced_hex) {
  std::string hex;
  for (char c : spaced_hex) {
    if (c != ' ') hex += c;
  }
  return vek_test::FromHex(hex);
}

// A three-button wheel mouse without report IDs, in the boot layout: no
// finding at all. Offsets: 24 the buttons' Input, 48 the X/Y/wheel Input.
const char kMouse[] =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0";

// The same with Report ID 1 (at 6), so every later offset moves by 2.
const char kMouseWithId[] =
    "05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 "
    "75 05 81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0";

// A boot keyboard: modifier bits, a reserved byte, six key codes.
const char kKeyboard[] =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01 95 06 "
    "26 FF 00 19 00 2A FF 00 81 00 C0";

struct FindingRow {
  const char* name;
  const char* descriptor;
  HidAnalysisContext context;
  // Every finding, as "severity code@offset", in order.
  std::vector<std::string> findings;
  // The first finding's message, where a row checks it.
  const char* message = nullptr;
};

HidAnalysisContext Packet(uint32_t size) {
  HidAnalysisContext context;
  context.max_packet_size = size;
  return context;
}

HidAnalysisContext Caps(uint16_t page, uint16_t usage, uint32_t input) {
  HidAnalysisContext context;
  context.has_caps = true;
  context.caps_usage_page = page;
  context.caps_usage = usage;
  context.caps_report_byte_length = {input, 0, 0};
  return context;
}

HidAnalysisContext Boot(uint8_t protocol) {
  HidAnalysisContext context;
  context.boot_protocol = protocol;
  return context;
}

TEST(ReportDescriptorFindings, OneBrokenDescriptorPerFinding) {
  const std::vector<FindingRow> rows = {
      {"clean mouse", kMouse, {}, {}},
      {"clean mouse, its boot interface, a 4-byte packet and the stack's 5 bytes",
       kMouse,
       [] {
         HidAnalysisContext c = Caps(1, 2, 5);
         c.boot_protocol = 2;
         c.max_packet_size = 4;
         return c;
       }(),
       {}},
      {"clean boot keyboard", kKeyboard, Boot(1), {}},
      {"item cut by the end",
       "05 01 09 02 A1 01 C0 26 FF",
       {},
       {"error truncated-item@7"},
       "条目 Logical Maximum 声明 2 个数据字节，描述符只剩 1 字节（条目被截断）"},
      {"long item", "05 01 09 02 A1 01 FE 02 10 AA BB C0", {}, {"warning long-item@6"}},
      {"reserved global tag and reserved type",
       "05 01 09 02 A1 01 F4 0C C0",
       {},
       {"warning reserved-item@6", "warning reserved-item@7"}},
      {"End Collection too many",
       "05 01 09 02 A1 01 C0 C0",
       {},
       {"error end-collection-without-collection@7"}},
      {"outer collection left open",
       "05 01 09 02 A1 01 09 01 A1 00 C0",
       {},
       {"error unclosed-collection@4"}},
      {"Pop without Push", "05 01 09 02 A1 01 B4 C0", {}, {"error pop-without-push@6"}},
      {"usages before any Usage Page",
       "09 02 A1 01 15 00 25 01 75 01 95 01 09 01 81 02 C0",
       {},
       {"error missing-usage-page@2", "error missing-usage-page@14"}},
      {"no Report Size",
       "05 01 09 02 A1 01 15 00 25 01 95 01 09 30 81 02 C0",
       {},
       {"error missing-report-size@14"}},
      {"no Report Count",
       "05 01 09 02 A1 01 15 00 25 01 75 01 09 30 81 02 C0",
       {},
       {"error missing-report-count@14"}},
      {"Report Size 0",
       "05 01 09 02 A1 01 15 00 25 01 75 00 95 01 09 30 81 02 C0",
       {},
       {"warning zero-report-size@16"}},
      {"Report Count 0",
       "05 01 09 02 A1 01 15 00 25 01 75 01 95 00 09 30 81 02 C0",
       {},
       {"warning zero-report-count@16"}},
      {"logical 5 to 1",
       "05 01 09 02 A1 01 15 05 25 01 75 08 95 01 09 30 81 02 C0",
       {},
       {"error logical-minimum-above-maximum@8"}},
      {"logical 0 to 255 written as 25 FF",
       "05 01 09 02 A1 01 15 00 25 FF 75 08 95 02 09 30 81 02 09 31 81 02 C0",
       {},
       {"warning logical-minimum-above-maximum@8"},
       "逻辑最小值 0 大于逻辑最大值 -1：最大值按有符号数写成，Windows 读作 -1，Linux 读作无符号的 "
       "255；应把它写成更长的正数"},
      {"0 to 255 in 4 bits, told once for the two Inputs",
       "05 01 09 02 A1 01 15 00 26 FF 00 75 04 95 01 09 30 81 02 09 31 81 02 C0",
       {},
       {"warning extent-exceeds-report-size@17"}},
      {"-128 to 127 in 7 bits",
       "05 01 09 02 A1 01 15 80 25 7F 75 07 95 01 09 30 81 02 C0",
       {},
       {"warning extent-exceeds-report-size@16"}},
      {"Usage Minimum above Usage Maximum",
       "05 01 09 02 A1 01 05 09 19 05 29 01 15 00 25 01 75 01 95 05 81 02 C0",
       {},
       {"error usage-minimum-above-maximum@20"}},
      {"Report ID 0",
       "05 01 09 02 A1 01 85 00 15 00 25 01 75 08 95 01 09 30 81 02 C0",
       {},
       {"error report-id-zero@6"}},
      {"Report ID 256",
       "05 01 09 02 A1 01 86 00 01 15 00 25 01 75 08 95 01 09 30 81 02 C0",
       {},
       {"error report-id-out-of-range@6"}},
      {"an Input before the first Report ID",
       "05 01 09 02 A1 01 15 00 25 01 75 08 95 01 09 30 81 02 85 02 09 31 81 02 C0",
       {},
       {"error mixed-report-ids@16"}},
      {"Report ID 1 in two top-level collections",
       "05 01 09 02 A1 01 85 01 15 00 25 01 75 08 95 01 09 30 81 02 C0 "
       "09 06 A1 01 85 01 09 31 81 02 C0",
       {},
       {"info redundant-global@25", "error report-id-in-two-collections@29"}},
      {"an Input outside any collection",
       "05 01 15 00 25 01 75 08 95 01 09 30 81 02",
       {},
       {"error main-item-outside-collection@12"}},
      {"Delimiter (Open) never closed",
       "05 01 09 02 A1 01 A9 01 09 30 09 31 15 00 25 01 75 08 95 01 81 02 C0",
       {},
       {"error unbalanced-delimiter@6"}},
      {"Delimiter (Close) without Open",
       "05 01 09 02 A1 01 A9 00 C0",
       {},
       {"error unbalanced-delimiter@6"}},
      {"Usage Page set again to Generic Desktop",
       "05 01 09 02 A1 01 05 01 C0",
       {},
       {"info redundant-global@6"}},
      {"4 bytes on the bus, 3-byte packets",
       kMouse,
       Packet(3),
       {"warning report-exceeds-packet@24"}},
      {"with its ID 5 bytes on the bus, 4-byte packets",
       kMouseWithId,
       Packet(4),
       {"warning report-exceeds-packet@26"}},
      {"the stack says 6 input bytes", kMouse, Caps(1, 2, 6), {"warning caps-length-mismatch@4"}},
      {"the stack's collection is a keyboard",
       kMouse,
       Caps(1, 6, 5),
       {"warning caps-collection-missing@0"}},
      {"boot mouse whose report has an ID",
       kMouseWithId,
       Boot(2),
       {"warning boot-layout-mismatch@26"}},
      {"boot keyboard interface with a mouse",
       kMouse,
       Boot(1),
       {"warning boot-layout-mismatch@24"}},
      {"boot mouse interface with a keyboard",
       kKeyboard,
       Boot(2),
       {"warning boot-layout-mismatch@20"}},
  };
  for (const FindingRow& row : rows) {
    const HidReportAnalysis analysis =
        AnalyzeHidReportDescriptor(Bytes(row.descriptor), row.context);
    std::vector<std::string> findings;
    for (const HidFinding& finding : analysis.findings) {
      findings.push_back(std::string(HidSeverityName(finding.severity)) + " " + finding.code + "@" +
                         std::to_string(finding.offset));
      EXPECT_FALSE(finding.message.empty()) << row.name;
    }
    EXPECT_EQ(findings, row.findings) << row.name;
    if (row.message && !analysis.findings.empty()) {
      EXPECT_EQ(analysis.findings[0].message, row.message);
    }
  }
}

struct TextRow {
  const char* before;  // items that set the scene, e.g. the Usage Page
  const char* item;
  const char* text;
};

TEST(ReportDescriptorItems, TextsInTheConventionalForm) {
  const std::vector<TextRow> rows = {
      {"", "05 01", "Usage Page (Generic Desktop)"},
      {"", "06 00 FF", "Usage Page (Vendor-defined 0xFF00)"},
      {"", "05 88", "Usage Page (0x0088)"},
      {"05 01", "09 02", "Usage (Mouse)"},
      {"05 01", "09 39", "Usage (Hat Switch)"},
      {"05 01", "09 03", "Usage (0x0003)"},
      {"05 07", "19 E0", "Usage Minimum (Left Control)"},
      {"05 07", "09 04", "Usage (A)"},
      {"05 07", "09 1D", "Usage (Z)"},
      {"05 07", "09 1E", "Usage (1)"},
      {"05 07", "09 27", "Usage (0)"},
      {"05 07", "09 45", "Usage (F12)"},
      {"05 07", "09 68", "Usage (F13)"},
      {"05 07", "09 62", "Usage (Keypad 0)"},
      {"05 07", "09 28", "Usage (Enter)"},
      {"05 07", "09 87", "Usage (International1)"},
      {"05 07", "09 98", "Usage (LANG9)"},
      {"05 08", "09 02", "Usage (Caps Lock)"},
      {"05 09", "29 05", "Usage Maximum (Button 5)"},
      {"05 0C", "0A 38 02", "Usage (AC Pan)"},
      {"05 0C", "09 CD", "Usage (Play/Pause)"},
      {"05 0D", "09 42", "Usage (Tip Switch)"},
      {"06 00 FF", "09 01", "Usage (0x0001)"},
      {"05 01", "0B 38 02 0C 00", "Usage (Consumer: AC Pan)"},
      {"", "A1 00", "Collection (Physical)"},
      {"", "A1 01", "Collection (Application)"},
      {"", "A1 02", "Collection (Logical)"},
      {"", "A1 80", "Collection (Vendor-defined 0x80)"},
      {"", "A1 10", "Collection (Reserved 0x10)"},
      {"", "A2 00 01", "Collection (Reserved 0x0100)"},
      {"A1 01", "C0", "End Collection"},
      {"", "81 06", "Input (Data,Var,Rel)"},
      {"", "81 03", "Input (Cnst,Var,Abs)"},
      {"", "81 42", "Input (Data,Var,Abs,Null)"},
      {"", "81 7E", "Input (Data,Var,Rel,Wrap,NLin,NPrf,Null)"},
      {"", "81 80", "Input (Data,Arr,Abs)"},
      {"", "91 82", "Output (Data,Var,Abs,Vol)"},
      {"", "B2 02 01", "Feature (Data,Var,Abs,Buf)"},
      {"", "15 81", "Logical Minimum (-127)"},
      {"", "26 FF 00", "Logical Maximum (255)"},
      {"", "16 00 80", "Logical Minimum (-32768)"},
      {"", "27 FF FF FF FF", "Logical Maximum (-1)"},
      {"", "47 80 57 00 00", "Physical Maximum (22400)"},
      {"", "55 0E", "Unit Exponent (-2)"},
      {"", "55 07", "Unit Exponent (7)"},
      {"", "55 FD", "Unit Exponent (-3)"},
      {"", "65 00", "Unit (None)"},
      {"", "65 11", "Unit (SI Linear: Centimeter)"},
      {"", "65 14", "Unit (English Rotation: Degrees)"},
      {"", "66 11 F0", "Unit (SI Linear: Centimeter*Seconds^-1)"},
      {"", "67 01 E1 00 00", "Unit (SI Linear: Gram*Seconds^-2)"},
      {"", "66 E1 01", "Unit (SI Linear: Centimeter^-2*Gram)"},
      {"", "65 0F", "Unit (Vendor-defined 0x0000000F)"},
      {"", "67 11 00 00 10", "Unit (SI Linear: Centimeter)"},  // the reserved nibble
      {"", "75 08", "Report Size (8)"},
      {"", "85 02", "Report ID (2)"},
      {"", "95 03", "Report Count (3)"},
      {"", "A4", "Push"},
      {"", "B4", "Pop"},
      {"", "39 01", "Designator Index (1)"},
      {"", "79 04", "String Index (4)"},
      {"", "A9 01", "Delimiter (Open)"},
      {"", "A9 00", "Delimiter (Close)"},
      {"", "FE 02 10 AA BB", "Long Item (tag 0x10, 2 bytes)"},
      {"", "F4", "Reserved Global (tag 15)"},
      {"", "D0", "Reserved Main (tag 13)"},
      {"", "0C", "Reserved (tag 0)"},
      {"", "26 FF", "Logical Maximum (truncated)"},
      {"", "FE 05 10 AA", "Long Item (truncated)"},
  };
  for (const TextRow& row : rows) {
    const std::vector<uint8_t> before = Bytes(row.before);
    std::vector<uint8_t> bytes = before;
    const std::vector<uint8_t> item = Bytes(row.item);
    bytes.insert(bytes.end(), item.begin(), item.end());
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(bytes, HidAnalysisContext());
    ASSERT_FALSE(analysis.items.empty()) << row.item;
    const HidItem& last = analysis.items.back();
    EXPECT_EQ(last.offset, before.size()) << row.item;
    EXPECT_EQ(last.length, item.size()) << row.item;
    EXPECT_EQ(HidItemText(last), row.text) << row.item;
  }
}

// Push and Pop, a delimited set of alternative usages, report IDs and all
// three kinds, units: the fields land where the HID rules put them.
TEST(ReportDescriptorLayouts, FieldsAndReportsOfAGamepad) {
  const std::vector<uint8_t> descriptor = Bytes(
      "05 01 09 05 A1 01 85 01 "                                   // Game Pad, Report ID 1
      "05 09 19 01 29 0A 15 00 25 01 75 01 95 0A 81 02 "           // @22: buttons 1-10
      "75 06 95 01 81 03 "                                         // @28: 6 bits of padding
      "A4 05 01 09 30 09 31 16 01 F8 26 FF 07 75 0C 95 02 81 06 "  // @47: X, Y, 12 bits
      "B4 85 02 "                             // Pop: page 9, 0..1, size 6, count 1 again
      "A9 01 09 01 09 02 A9 00 95 08 91 02 "  // @62: Button 1 (Button 2 is an alias)
      "65 14 55 0E 75 01 B1 02 C0");          // @70: degrees, exponent -2
  const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
  EXPECT_TRUE(analysis.findings.empty());
  ASSERT_EQ(analysis.collections.size(), 1u);
  EXPECT_EQ(analysis.collections[0].report_byte_length,
            (std::array<uint32_t, kHidReportKinds>{6, 7, 2}));

  ASSERT_EQ(analysis.reports.size(), 3u);
  const HidReportLayout& input = analysis.reports[0];
  EXPECT_EQ(input.first_offset, 22u);
  ASSERT_EQ(input.fields.size(), 3u);
  const HidField& buttons = input.fields[0];
  EXPECT_EQ(buttons.count, 10u);
  EXPECT_EQ(buttons.usage_minimum, 0x00090001u);
  EXPECT_EQ(buttons.usage_maximum, 0x0009000Au);
  EXPECT_EQ(HidVariableUsage(buttons, 9), 0x0009000Au);
  EXPECT_EQ(HidVariableUsage(buttons, 12), 0x0009000Au);  // past the range: its maximum
  EXPECT_EQ(input.fields[1].bit_offset, 10u);
  EXPECT_TRUE(input.fields[1].IsConstant());
  const HidField& axes = input.fields[2];
  EXPECT_EQ(axes.offset, 47u);
  EXPECT_EQ(axes.bit_offset, 16u);
  EXPECT_EQ(axes.usages, (std::vector<uint32_t>{0x00010030, 0x00010031}));
  EXPECT_EQ(HidVariableUsage(axes, 5), 0x00010031u);  // the last usage repeats
  EXPECT_EQ(axes.logical_minimum, -2047);
  EXPECT_EQ(axes.logical_maximum, 2047);
  EXPECT_EQ(axes.flags, kFlagVariable | kFlagRelative);
  EXPECT_EQ(axes.collection, 0);

  const HidReportLayout& output = analysis.reports[1];
  EXPECT_EQ(output.id, 2);
  ASSERT_EQ(output.fields.size(), 1u);
  EXPECT_EQ(output.fields[0].bit_size, 6u);  // restored by Pop
  EXPECT_EQ(output.fields[0].count, 8u);
  EXPECT_EQ(output.fields[0].usage_page, kUsagePageButton);
  EXPECT_EQ(output.fields[0].usages, (std::vector<uint32_t>{0x00090001}));

  const HidReportLayout& feature = analysis.reports[2];
  ASSERT_EQ(feature.fields.size(), 1u);
  EXPECT_EQ(feature.fields[0].unit, 0x14u);
  EXPECT_EQ(feature.fields[0].unit_exponent, -2);
  EXPECT_TRUE(feature.fields[0].usages.empty());  // locals end with each main item
  EXPECT_EQ(analysis.FindReport(HidReportKind::kFeature, 2), &feature);
  EXPECT_EQ(analysis.FindReport(HidReportKind::kFeature, 1), nullptr);
}

// The Usage Page in force at the main item completes short usages, even one
// set after them; a 4-byte usage keeps its own page. Items nest by depth.
TEST(ReportDescriptorLayouts, UsagePagesResolveAtTheMainItem) {
  const std::vector<uint8_t> descriptor = Bytes(
      "05 01 09 02 A1 01 09 01 A1 00 "
      "09 38 0B 38 02 0C 00 05 01 15 81 25 7F 75 08 95 02 81 06 "
      "C0 C0");
  const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
  ASSERT_EQ(analysis.reports.size(), 1u);
  EXPECT_EQ(analysis.reports[0].fields[0].usages, (std::vector<uint32_t>{0x00010038, 0x000C0238}));
  EXPECT_EQ(analysis.reports[0].fields[0].collection, 1);
  ASSERT_EQ(analysis.collections.size(), 2u);
  EXPECT_EQ(analysis.collections[1].parent, 0);
  EXPECT_EQ(analysis.collections[1].depth, 1u);
  EXPECT_EQ(analysis.collections[1].usage, 0x00010001u);
  std::vector<uint32_t> depths;
  for (const HidItem& item : analysis.items) depths.push_back(item.depth);
  EXPECT_EQ(depths, (std::vector<uint32_t>{0, 0, 0, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 1, 0}));
}

struct DecodeRow {
  const char* name;
  const char* descriptor;
  HidReportKind kind;
  const char* report;
  int32_t report_id;
  // "usage=value" of every value, usage in hex with its page.
  std::vector<std::string> values;
  std::vector<std::string> findings;  // codes
};

// Boot keyboard with a five-LED output report.
const char kKeyboardWithLeds[] =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01 95 06 "
    "26 FF 00 19 00 2A FF 00 81 00 05 08 19 01 29 05 25 01 75 01 95 05 91 02 95 03 91 01 C0";

// A mouse with 12-bit signed X and Y (as Logitech's receivers send them) and
// an 8-bit battery level written 0..255 as "25 FF".
const char kTwelveBitMouse[] =
    "05 01 09 02 A1 01 85 02 05 01 09 30 09 31 16 01 F8 26 FF 07 75 0C 95 02 81 06 "
    "05 06 09 20 15 00 25 FF 75 08 95 01 81 02 C0";

TEST(ReportDescriptorDecoding, ReportsIntoUsagesAndValues) {
  const std::vector<DecodeRow> rows = {
      {"mouse as sent on the bus",
       kMouse,
       HidReportKind::kInput,
       "01 05 FB 01",
       0,
       {"90001=1", "90002=0", "90003=0", "10030=5", "10031=-5", "10038=1"},
       {}},
      {"mouse as Windows hands it over",
       kMouse,
       HidReportKind::kInput,
       "00 07 80 7F FF",
       0,
       {"90001=1", "90002=1", "90003=1", "10030=-128", "10031=127", "10038=-1"},
       {}},
      {"mouse report cut short",
       kMouse,
       HidReportKind::kInput,
       "04 05",
       0,
       {"90001=0", "90002=0", "90003=1", "10030=5"},
       {"report-too-short"}},
      {"mouse report padded",
       kMouse,
       HidReportKind::kInput,
       "01 05 FB 01 00 00",
       0,
       {"90001=1", "90002=0", "90003=0", "10030=5", "10031=-5", "10038=1"},
       {"report-too-long"}},
      {"mouse has no output report",
       kMouse,
       HidReportKind::kOutput,
       "01",
       0,
       {},
       {"unknown-report-id"}},
      {"keys A and B with Left Shift",
       kKeyboardWithLeds,
       HidReportKind::kInput,
       "02 00 04 05 00 00 00 00",
       0,
       {"700e0=0", "700e1=1", "700e2=0", "700e3=0", "700e4=0", "700e5=0", "700e6=0", "700e7=0",
        "70004=4", "70005=5"},
       {}},
      {"Num Lock and Scroll Lock on",
       kKeyboardWithLeds,
       HidReportKind::kOutput,
       "05",
       0,
       {"80001=1", "80002=0", "80003=1", "80004=0", "80005=0"},
       {}},
      {"12-bit X -1 and Y 2047, battery 200",
       kTwelveBitMouse,
       HidReportKind::kInput,
       "02 FF FF 7F C8",
       2,
       {"10030=-1", "10031=2047", "60020=200"},
       {}},
      {"report ID the descriptor lacks",
       kTwelveBitMouse,
       HidReportKind::kInput,
       "03 00",
       3,
       {},
       {"unknown-report-id"}},
      {"no bytes", kMouse, HidReportKind::kInput, "", -1, {}, {"empty-report"}},
      {"hat switch 3 beside Cnst,Var padding",
       "05 01 09 05 A1 01 09 39 15 00 25 07 75 04 95 01 81 42 81 03 C0",
       HidReportKind::kInput,
       "F3",
       0,
       {"10039=3"},
       {}},
  };
  for (const DecodeRow& row : rows) {
    const HidReportAnalysis analysis =
        AnalyzeHidReportDescriptor(Bytes(row.descriptor), HidAnalysisContext());
    HidDecodedReport decoded;
    decoded.values.push_back({});  // left over from an earlier report
    decoded.findings.push_back({});
    DecodeHidReport(analysis, row.kind, Bytes(row.report), &decoded);
    EXPECT_EQ(decoded.report_id, row.report_id) << row.name;
    std::vector<std::string> values;
    for (const HidDecodedValue& value : decoded.values) {
      char usage[16];
      std::snprintf(usage, sizeof(usage), "%x", value.usage);
      values.push_back(std::string(usage) + "=" + std::to_string(value.value));
    }
    EXPECT_EQ(values, row.values) << row.name;
    std::vector<std::string> findings;
    for (const HidFinding& finding : decoded.findings) findings.push_back(finding.code);
    EXPECT_EQ(findings, row.findings) << row.name;
  }
}

}  // namespace
}  // namespace vek_native
