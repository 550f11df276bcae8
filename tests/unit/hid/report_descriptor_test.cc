// The analysis on hand-made descriptors: one broken descriptor per finding,
// the item texts the recorded devices do not reach, layouts through decoding.
#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hid/hid_usage_names.h"
#include "support/hex.h"

namespace vek_native {
namespace {

using vek_test::FromHex;

// A three-button wheel mouse in the boot layout. Offsets: 24 the buttons'
// Input, 48 the X/Y/wheel Input.
const char kMouse[] =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0";

// The same with Report ID 1 (at 6), so every later offset moves by 2.
const char kMouseWithId[] =
    "05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 "
    "75 05 81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0";

// A boot keyboard with a five-LED output report.
const char kKeyboard[] =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01 95 06 "
    "26 FF 00 19 00 2A FF 00 81 00 05 08 19 01 29 05 25 01 75 01 95 05 91 02 95 03 91 01 C0";

// Every finding, as "severity code@offset", in order. A descriptor that starts
// with "+" is the body of a Generic Desktop mouse collection (at offset 6).
// Contexts: packet size, whether caps are known, their page, usage and
// report lengths, boot protocol.
TEST(ReportDescriptorFindings, OneBrokenDescriptorPerFinding) {
  const struct {
    const char* descriptor;
    HidAnalysisContext context;
    std::vector<std::string> findings;
  } rows[] = {
      {kMouse, {4, true, 1, 2, {5}, 2}, {}},  // its boot interface, packet and the stack's bytes
      {kKeyboard, {0, false, 0, 0, {}, 1}, {}},
      {"05 01 09 02 A1 01 C0 26 FF", {}, {"error truncated-item@7"}},
      {"+FE 02 10 AA BB", {}, {"warning long-item@6"}},
      {"+0C 68 D0",
       {},
       {"warning reserved-item@6", "warning reserved-item@7", "warning reserved-item@8"}},
      {"+C0", {}, {"error end-collection-without-collection@7"}},
      {"+09 01 A1 00", {}, {"error unclosed-collection@4"}},
      {"+A4 B4 B4", {}, {"error pop-without-push@8"}},
      {"09 02 A1 01 15 00 25 01 75 01 95 01 09 01 81 02 C0",
       {},
       {"error missing-usage-page@2", "error missing-usage-page@14"}},
      {"+15 00 25 01 95 01 09 30 81 02", {}, {"error missing-report-size@14"}},
      {"+15 00 25 01 75 01 09 30 81 02", {}, {"error missing-report-count@14"}},
      // A 4-byte usage carries its page; a range whose other end has none does not.
      {"0B 02 00 01 00 A1 01 0B 30 00 01 00 75 08 95 01 81 02 19 01 2B 03 00 00 00 81 02 C0",
       {},
       {"error missing-usage-page@25"}},
      {"+15 00 25 01 75 00 95 01 09 30 81 02", {}, {"warning zero-report-size@16"}},
      {"+15 00 25 01 75 01 95 00 09 30 81 02", {}, {"warning zero-report-count@16"}},
      {"+15 05 25 01 75 08 95 01 09 30 81 02", {}, {"error logical-minimum-above-maximum@8"}},
      // 0 to 255 written as "25 FF": only a warning, as Linux reads it unsigned.
      {"+15 00 25 FF 75 08 95 02 09 30 81 02 09 31 81 02",
       {},
       {"warning logical-minimum-above-maximum@8"}},
      // 0 to 16 in 4 bits, told once for the two Inputs; -128 to 128 and -129 to 127 in 8.
      {"+15 00 25 10 75 04 95 01 09 30 81 02 09 31 81 02",
       {},
       {"warning extent-exceeds-report-size@16"}},
      {"+15 80 26 80 00 75 08 95 01 09 30 81 02", {}, {"warning extent-exceeds-report-size@17"}},
      {"+16 7F FF 25 7F 75 08 95 01 09 30 81 02", {}, {"warning extent-exceeds-report-size@17"}},
      {"+05 09 19 05 29 01 15 00 25 01 75 01 95 05 81 02",
       {},
       {"error usage-minimum-above-maximum@20"}},
      {"+85 00 15 00 25 01 75 08 95 01 09 30 81 02", {}, {"error report-id-zero@6"}},
      {"+86 00 01 15 00 25 01 75 08 95 01 09 30 81 02", {}, {"error report-id-out-of-range@6"}},
      {"+15 00 25 01 75 08 95 01 09 30 81 02 85 02 09 31 81 02", {}, {"error mixed-report-ids@16"}},
      // ID 255 in three collections: told once.
      {"+85 FF 15 00 25 01 75 08 95 01 09 30 81 02 C0 09 06 A1 01 85 FF 09 31 81 02 C0 09 06 A1 "
       "01 85 FF 09 31 81 02",
       {},
       {"info redundant-global@25", "error report-id-in-two-collections@29",
        "info redundant-global@36"}},
      {"05 01 15 00 25 01 75 08 95 01 09 30 81 02", {}, {"error main-item-outside-collection@12"}},
      {"+A9 01 09 30 09 31 15 00 25 01 75 08 95 01 81 02", {}, {"error unbalanced-delimiter@6"}},
      {kMouseWithId, {4}, {"warning report-exceeds-packet@26"}},  // 5 bytes with the ID
      {kMouse, {0, true, 1, 2, {6}}, {"warning caps-length-mismatch@4"}},
      {kMouse, {0, true, 1, 6, {5}}, {"warning caps-collection-missing@0"}},
      {kMouseWithId, {0, false, 0, 0, {}, 2}, {"warning boot-layout-mismatch@26"}},
      {kMouse, {0, false, 0, 0, {}, 1}, {"warning boot-layout-mismatch@24"}},
      {kKeyboard, {0, false, 0, 0, {}, 2}, {"warning boot-layout-mismatch@20"}},
      // 8 bytes, but no modifier bits; the modifiers, and six keys as values, not an array.
      {"+05 07 19 E0 29 E7 75 01 95 08 81 02 95 01 75 08 81 01 95 06 81 02",
       {0, false, 0, 0, {}, 1},
       {"warning boot-layout-mismatch@16"}},
      {"+75 08 95 08 81 02", {0, false, 0, 0, {}, 1}, {"warning boot-layout-mismatch@10"}},
      {"05 01 09 02 A1 01 C0", {0, false, 0, 0, {}, 2}, {"warning boot-layout-mismatch@0"}},
      // A Logical Maximum without a minimum, and a Usage Minimum without a
      // maximum (half a range): nothing to say.
      {"+05 09 19 01 25 FF 75 08 95 01 81 02", {}, {}},
      // 2^64 - 2^33 + 1 bits: not wrapped to a short report, refused as impossible.
      {"+77 FF FF FF FF 97 FF FF FF FF 09 30 81 02", {}, {"error impossible-report-length@18"}},
      // Button 1 as an extended usage up to Generic Desktop 3.
      {"+1B 01 00 09 00 29 03 75 01 95 03 81 02", {}, {"error usage-range-across-pages@17"}},
  };
  for (const auto& row : rows) {
    std::string descriptor = row.descriptor;
    if (descriptor[0] == '+') descriptor = "05 01 09 02 A1 01 " + descriptor.substr(1) + " C0";
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(FromHex(descriptor), row.context);
    std::vector<std::string> findings;
    for (const HidFinding& finding : analysis.findings) {
      findings.push_back(std::string(HidSeverityName(finding.severity)) + " " + finding.code + "@" +
                         std::to_string(finding.offset));
    }
    EXPECT_EQ(findings, row.findings) << row.descriptor;
  }
  // Texts with numbers worked out: the bytes left, which system reads what,
  // the byte that makes an item unknown.
  const std::pair<const char*, const char*> texts[] = {
      {"05 01 09 02 A1 01 C0 FE 05",
       "条目 Long Item 声明 5 个数据字节，描述符只剩 0 字节（条目被截断）"},
      {"05 01 09 02 A1 01 15 00 25 FF 75 08 95 01 09 30 81 02 C0",
       "逻辑最小值 0 大于逻辑最大值 -1：最大值按有符号数写成，Windows 读作 -1，Linux "
       "读作无符号的 255；应把它写成更长的正数"},
      {"F4",
       "保留的条目类型或标签（前缀字节 0xF4）：HID 1.11 没有定义它，主机的解析器会忽略或拒绝它"},
  };
  for (const auto& [descriptor, text] : texts) {
    EXPECT_EQ(AnalyzeHidReportDescriptor(FromHex(descriptor), {}).findings.at(0).message, text);
  }
}

// Texts hid-tools' comments do not cover: vendor and reserved values, units,
// extended usages, long, reserved and truncated items.
TEST(ReportDescriptorItems, TextsInTheConventionalForm) {
  // The last item's text, and where it ends.
  const std::pair<const char*, const char*> rows[] = {
      {"06 00 FF", "Usage Page (Vendor-defined 0xFF00)"},
      {"05 01 0B 38 02 0C 00", "Usage (Consumer: AC Pan)"},
      {"A1 80", "Collection (Vendor-defined 0x80)"},
      {"81 7E", "Input (Data,Var,Rel,Wrap,NLin,NPrf,Null)"},
      {"66 81 F0", "Unit (SI Linear: Centimeter^-8*Seconds^-1)"},
      {"67 11 00 00 10", "Unit (SI Linear: Centimeter)"},  // the reserved nibble
      {"FE 02 1A AA BB", "Long Item (tag 0x1A, 2 bytes)"},
      {"C4", "Reserved Global (tag 12)"},
      {"68", "Reserved Local (tag 6)"},
      {"A9 01", "Delimiter (Open)"},
      {"17 00 00 00 80", "Logical Minimum (-2147483648)"},
      {"26 FF", "Logical Maximum (truncated)"},
      {"FE 05 10 AA", "Long Item (truncated)"},
  };
  for (const auto& [hex, text] : rows) {
    const std::vector<uint8_t> bytes = FromHex(hex);
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(bytes, HidAnalysisContext());
    EXPECT_EQ(analysis.items.back().offset + analysis.items.back().length, bytes.size()) << hex;
    EXPECT_EQ(HidItemText(analysis.items.back()), text) << hex;
  }
  // Names at the edges of their computed runs and value ranges.
  std::string names = HidCollectionKindText(7) + "|" + HidCollectionKindText(0xFF) + "|" +
                      HidCollectionKindText(0x1AB) + "|" + HidUnitText(0) + "|" +
                      HidUnitText(0xF00F) + "|" + HidUnitText(0x1A0) + "|" + HidUnitText(0x15) +
                      "|" + HidUnitText(0x1000014) + "|" + HidMainFlagsText(kMainFeature, 0x180) +
                      "|" + HidMainFlagsText(kMainInput, 0x80) + "|" +
                      UsageText(kUsagePageButton, 0) + "|" + UsageText(kUsagePageButton, 5);
  for (const uint16_t usage :
       {0x03, 0x04, 0x1D, 0x1E, 0x26, 0x27, 0x39, 0x3A, 0x45, 0x46, 0x58, 0x59, 0x61,
        0x62, 0x63, 0x67, 0x68, 0x73, 0x74, 0x86, 0x87, 0x8F, 0x90, 0x98, 0x99, 0xE8}) {
    names += "|" + UsageText(kUsagePageKeyboard, usage);
  }
  EXPECT_EQ(names,
            "Reserved 0x07|Vendor-defined 0xFF|Reserved 0x01AB|None|Vendor-defined 0x0000F00F|"
            "0x000001A0|0x00000015|English Rotation: Degrees*Candela|Data,Arr,Abs,Vol,Buf|"
            "Data,Arr,Abs|No Button Pressed|Button 5|ErrorUndefined|A|Z|1|9|0|Caps Lock|F1|F12|"
            "Print Screen|Keypad Enter|Keypad 1|Keypad 9|Keypad 0|Keypad .|Keypad =|F13|F24|"
            "Execute|Keypad Equal Sign|International1|International9|LANG1|LANG9|Alternate Erase|"
            "0x00E8");
}

TEST(ReportDescriptorDecoding, ReportsIntoUsagesAndValues) {
  // 12-bit signed X and Y, and a battery level written 0..255 as "25 FF".
  const char kTwelveBitMouse[] =
      "05 01 09 02 A1 01 85 02 05 01 09 30 09 31 16 01 F8 26 FF 07 75 0C 95 02 81 06 "
      "05 06 09 20 15 00 25 FF 75 08 95 01 81 02 C0";
  // Push and Pop, a delimited set of alternative usages (Button 2 is an alias
  // of Button 1), a Usage Page set after its usages, a 4-byte usage.
  const char kGamepad[] =
      "05 01 09 05 A1 01 85 01 05 09 19 01 29 0A 15 00 25 01 75 01 95 0A 81 02 75 06 95 01 81 03 "
      "A4 09 30 0B 38 02 0C 00 05 01 16 01 F8 26 FF 07 75 0C 95 02 81 06 B4 85 02 "
      "A9 01 09 01 09 02 A9 00 95 08 91 02 C0";
  const HidReportKind kIn = HidReportKind::kInput;
  // Expected: the report ID, then "usage=value" with the usage in hex with its
  // page, then finding codes.
  const struct {
    const char* descriptor;
    HidReportKind kind;
    std::string report;
    const char* decoded;
  } rows[] = {
      // As Windows hands it over, with the 0 in front.
      {kMouse, kIn, "00 07 80 7F FF", "0: 90001=1 90002=1 90003=1 10030=-128 10031=127 10038=-1"},
      {kMouse, kIn, "04 05", "0: 90001=0 90002=0 90003=1 10030=5 report-too-short"},
      {kMouse, kIn, "01 05 FB 01 00",
       "0: 90001=1 90002=0 90003=0 10030=5 10031=-5 10038=1 "
       "report-too-long"},
      {kKeyboard, kIn, "02 00 04 05 00 00 00 00",
       "0: 700e0=0 700e1=1 700e2=0 700e3=0 700e4=0 700e5=0 700e6=0 700e7=0 70004=4 70005=5"},
      {kKeyboard, HidReportKind::kOutput, "05", "0: 80001=1 80002=0 80003=1 80004=0 80005=0"},
      {kTwelveBitMouse, kIn, "02 FF FF 7F C8", "2: 10030=-1 10031=2047 60020=200"},
      {kTwelveBitMouse, kIn, "03 00", "3: unknown-report-id"},
      {kGamepad, kIn, "01 01 02 FF FF 7F",
       "1: 90001=1 90002=0 90003=0 90004=0 90005=0 90006=0 90007=0 90008=0 90009=0 9000a=1 "
       "10030=-1 c0238=2047"},
      {kGamepad, HidReportKind::kOutput, "02 41 10 04 41 10 04",
       "2: 90001=1 90001=1 90001=1 90001=1 90001=1 90001=1 90001=1 90001=1"},
      {kMouse, kIn, "", "-1: empty-report"},
      // Past Logical Maximum an array value selects no control, though usages remain.
      {"05 01 09 06 A1 01 05 09 19 01 29 04 15 01 25 02 75 08 95 02 81 00 C0", kIn, "01 03",
       "0: 90001=1"},
      // A hat switch beside Cnst,Var padding.
      {"05 01 09 05 A1 01 09 39 15 00 25 07 75 04 95 01 81 42 81 03 C0", kIn, "F3", "0: 10039=3"},
      // A Usage before a range: in declared order, the range in place.
      {"05 01 09 02 A1 01 05 09 09 05 19 01 29 03 75 01 95 04 15 00 25 01 81 02 C0", kIn, "0F",
       "0: 90005=1 90001=1 90002=1 90003=1"},
      // 65 bits, and 2^31 elements: raw bits.
      {"05 01 09 02 A1 01 75 41 95 01 09 30 81 02 C0", kIn, "FF FF FF FF FF FF FF FF FF",
       "0: raw=65b:ff01 fields-as-raw-bits"},
      {"05 01 09 02 A1 01 75 01 97 00 00 00 80 09 30 81 02 C0", kIn, std::string(1200, '5'),
       "0: raw=4800b:5555 report-too-short fields-as-raw-bits"},
  };
  for (const auto& row : rows) {
    const HidReportAnalysis analysis =
        AnalyzeHidReportDescriptor(FromHex(row.descriptor), HidAnalysisContext());
    HidDecodedReport decoded;
    decoded.values.push_back({});  // left over from an earlier report
    decoded.findings.push_back({});
    DecodeHidReport(analysis, row.kind, FromHex(row.report), &decoded);
    std::string text = std::to_string(decoded.report_id) + ":";
    for (const HidDecodedValue& value : decoded.values) {
      char usage[16];
      std::snprintf(usage, sizeof(usage), " %x=", value.usage);
      text += usage + std::to_string(value.value);
    }
    for (const HidRawField& raw : decoded.raw_fields) {  // its first byte and its last
      text += " raw=" + std::to_string(raw.bits) +
              "b:" + vek_test::ToHex({decoded.raw_bytes[raw.begin], decoded.raw_bytes.back()});
    }
    for (const HidFinding& finding : decoded.findings) text += std::string(" ") + finding.code;
    EXPECT_EQ(text, row.decoded) << row.report;
  }
}

}  // namespace
}  // namespace vek_native
