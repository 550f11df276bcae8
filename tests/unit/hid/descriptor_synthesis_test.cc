#include "hid/descriptor_synthesis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reconstruct_pp_data_cases.h"
#include "unit/hid/descriptor_synthesis_report_parser.h"
#include "unit/hid/reconstruct_pp_data.h"
#include "unit/hid/usb_descriptors_test_json.h"

namespace vek_native {
namespace {

using vek_test::FromHex;
using vek_test::ParseReportDescriptor;

ButtonCapsRecord Buttons(uint16_t page, uint8_t id, uint16_t min, uint16_t max, uint16_t bit_field,
                         uint16_t count) {
  ButtonCapsRecord b;
  b.UsagePage = page;
  b.ReportID = id;
  b.IsRange = max != min;
  b.UsageMin = min;
  b.UsageMax = max;
  b.BitField = bit_field;
  b.ReportCount = count;
  return b;
}

ValueCapsRecord Value(uint16_t page, uint8_t id, uint16_t usage, uint16_t bits, uint16_t count,
                      int32_t logical_min, int32_t logical_max) {
  ValueCapsRecord v;
  v.UsagePage = page;
  v.ReportID = id;
  v.UsageMin = usage;
  v.BitSize = bits;
  v.ReportCount = count;
  v.LogicalMin = logical_min;
  v.LogicalMax = logical_max;
  return v;
}

CapabilitySet Caps(uint16_t page, uint16_t usage, uint16_t input, uint16_t output,
                   uint16_t feature) {
  CapabilitySet set;
  set.caps.usage_page = page;
  set.caps.usage = usage;
  set.caps.input_report_byte_length = input;
  set.caps.output_report_byte_length = output;
  set.caps.feature_report_byte_length = feature;
  return set;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Every report of a synthesized descriptor is exactly as long as the caps
// declare for its type (less the report-ID byte when IDs are used); a type of
// length 0 has no limit and is not checked.
void ExpectReportsFillTheirLengths(const CapabilitySet& set,
                                   const vek_test::ParsedReportDescriptor& parsed) {
  bool ids = false;
  for (int t = 0; t < 3; ++t) {
    for (const auto& b : set.buttons[t]) ids = ids || b.ReportID != 0;
    for (const auto& v : set.values[t]) ids = ids || v.ReportID != 0;
  }
  EXPECT_EQ(parsed.uses_report_ids, ids);
  const uint16_t lengths[3] = {set.caps.input_report_byte_length,
                               set.caps.output_report_byte_length,
                               set.caps.feature_report_byte_length};
  for (const auto& report : parsed.report_bits) {
    const int type = report.first.first;
    if (lengths[type] == 0) continue;
    uint32_t limit = lengths[type] * 8u;
    if (ids && limit >= 8) limit -= 8;
    EXPECT_EQ(report.second, limit) << "type " << type << " report " << report.first.second;
  }
}

TEST(SynthesizeDescriptor, WorkedExample) {
  CapabilitySet set = Caps(0x01, 0x02, 5, 0, 0);
  ButtonCapsRecord buttons = Buttons(0x09, 0, 1, 3, 0x02, 3);
  set.buttons[kHidInput].push_back(buttons);
  ValueCapsRecord axes = Value(0x01, 0, 0x30, 8, 2, -127, 127);
  axes.IsRange = true;
  axes.UsageMax = 0x31;
  axes.IsAbsolute = false;
  set.values[kHidInput].push_back(axes);
  const std::vector<uint8_t> bytes = SynthesizeDescriptor(set);
  EXPECT_EQ(Hex(bytes),
            "05 01 09 02 A1 01 05 09 15 00 25 01 75 01 95 03 19 01 29 03 81 02 05 01 15 81 25 7F "
            "75 08 95 02 19 30 29 31 81 06 75 01 95 15 81 01 C0");
  const auto parsed = ParseReportDescriptor(bytes);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  ExpectReportsFillTheirLengths(set, parsed);
}

struct SynthesisCase {
  const char* name;
  CapabilitySet set;
  const char* hex;
};

std::vector<SynthesisCase> Cases() {
  std::vector<SynthesisCase> cases;
  cases.push_back(
      {"no records, usage page 0 becomes 1", Caps(0, 0, 0, 0, 0), "05 01 09 00 A1 01 C0"});
  {
    CapabilitySet s = Caps(0xFF00, 0x01, 3, 0, 3);
    s.buttons[kHidInput].push_back(Buttons(0x09, 3, 1, 1, 0x02, 1));
    s.buttons[kHidInput].push_back(Buttons(0x09, 1, 2, 2, 0x02, 1));
    s.values[kHidFeature].push_back(Value(0xFF00, 2, 0x10, 16, 1, 0, 1000));
    cases.push_back(
        {"report IDs 3, 1, 2 come out as 1, 2, 3", s,
         "06 00 FF 09 01 A1 01 "
         "85 01 05 09 15 00 25 01 75 01 95 01 09 02 81 02 75 01 95 0F 81 01 75 01 95 10 B1 01 "
         "85 02 75 01 95 10 81 01 06 00 FF 15 00 26 E8 03 75 10 95 01 09 10 B1 02 "
         "85 03 05 09 15 00 25 01 75 01 95 01 09 01 81 02 75 01 95 0F 81 01 75 01 95 10 B1 01 "
         "C0"});
  }
  {
    CapabilitySet s = Caps(0x01, 0x06, 9, 0, 0);
    s.buttons[kHidInput].push_back(Buttons(0x07, 1, 0xE0, 0xE7, 0x02, 8));
    cases.push_back({"with report IDs a 9-byte input is 64 bits", s,
                     "05 01 09 06 A1 01 85 01 05 07 15 00 25 01 75 01 95 08 19 E0 29 E7 81 02 75 "
                     "01 95 38 81 01 C0"});
  }
  {
    CapabilitySet s = Caps(0x01, 0x06, 3, 0, 0);
    s.values[kHidInput].push_back(Value(0x01, 0, 0x30, 8, 1, 0, 255));
    s.buttons[kHidInput].push_back(Buttons(0x07, 0, 0, 255, 0x00, 1));
    cases.push_back({"logical maximum 255: signed for values, unsigned for arrays", s,
                     "05 01 09 06 A1 01 05 07 15 00 25 FF 75 08 95 01 19 00 29 FF 81 00 "
                     "05 01 15 00 26 FF 00 75 08 95 01 09 30 81 02 75 01 95 08 81 01 C0"});
  }
  {
    CapabilitySet s = Caps(0x01, 0x02, 1, 0, 0);
    s.buttons[kHidInput].push_back(Buttons(0x09, 0, 1, 12, 0x02, 12));
    s.buttons[kHidInput].push_back(Buttons(0x09, 0, 13, 13, 0x02, 1));
    cases.push_back({"a field too long is shortened, a full report takes nothing more", s,
                     "05 01 09 02 A1 01 05 09 15 00 25 01 75 01 95 08 19 01 29 0C 81 02 C0"});
  }
  {
    CapabilitySet s = Caps(0x01, 0x02, 2, 0, 0);
    ValueCapsRecord wide = Value(0x01, 0, 0x30, 12, 1, 0, 4095);
    s.values[kHidInput].push_back(wide);
    s.values[kHidInput].push_back(wide);
    cases.push_back(
        {"a value that no longer fits at all writes nothing", s,
         "05 01 09 02 A1 01 05 01 15 00 26 FF 0F 75 0C 95 01 09 30 81 02 75 01 95 04 81 01 C0"});
  }
  {
    CapabilitySet s = Caps(0x0C, 0x01, 3, 2, 4);
    s.values[kHidInput].push_back(Value(0x0C, 5, 0xE0, 16, 1, -32768, 32767));
    cases.push_back({"a report ID with only input records gets constant output and feature", s,
                     "05 0C 09 01 A1 01 85 05 05 0C 16 00 80 26 FF 7F 75 10 95 01 09 E0 81 02 "
                     "75 01 95 08 91 01 75 01 95 18 B1 01 C0"});
  }
  {
    CapabilitySet s = Caps(0xFF00, 0x01, 10000, 0, 0);
    s.values[kHidInput].push_back(Value(0xFF00, 0, 0x01, 8, 1, 0, 255));
    cases.push_back({"fill above 65535 bits is split", s,
                     "06 00 FF 09 01 A1 01 06 00 FF 15 00 26 FF 00 75 08 95 01 09 01 81 02 "
                     "75 01 96 FF FF 81 01 75 01 96 79 38 81 01 C0"});
  }
  {
    CapabilitySet s = Caps(0x0D, 0x04, 0, 0, 0);
    ValueCapsRecord v = Value(0x0D, 0, 0x30, 32, 1, -129, 100000);
    v.HasNull = true;
    v.PhysicalMin = 0;
    v.PhysicalMax = -1;
    ValueCapsRecord r = Value(0x01, 0, 0x38, 0, 0, -1, 1);
    r.IsAbsolute = false;
    r.HasNull = true;
    s.values[kHidInput].push_back(v);
    s.values[kHidInput].push_back(r);
    ButtonCapsRecord rel = Buttons(0x09, 0, 1, 1, 0x06, 0);
    rel.IsAbsolute = false;
    s.buttons[kHidInput].push_back(rel);
    cases.push_back({"no length limit; null state, physical range, wide values, defaults", s,
                     "05 0D 09 04 A1 01 05 09 15 00 25 01 75 01 95 01 09 01 81 06 "
                     "05 0D 16 7F FF 27 A0 86 01 00 35 00 45 FF 75 20 95 01 09 30 81 42 "
                     "05 01 15 FF 25 01 75 08 95 01 09 38 81 46 C0"});
  }
  {
    CapabilitySet s = Caps(0x01, 0x80, 2, 0, 0);
    ButtonCapsRecord array = Buttons(0x01, 0, 0x81, 0x83, 0x00, 0);
    s.buttons[kHidInput].push_back(array);
    cases.push_back({"array count from its usage range", s,
                     "05 01 09 80 A1 01 05 01 15 00 25 83 75 08 95 02 19 81 29 83 81 00 C0"});
  }
  return cases;
}

TEST(SynthesizeDescriptor, EdgeCases) {
  for (const SynthesisCase& c : Cases()) {
    const std::vector<uint8_t> bytes = SynthesizeDescriptor(c.set);
    EXPECT_EQ(Hex(bytes), c.hex) << c.name;
    const auto parsed = ParseReportDescriptor(bytes);
    EXPECT_TRUE(parsed.ok) << c.name << ": " << parsed.error;
    SCOPED_TRACE(c.name);
    ExpectReportsFillTheirLengths(c.set, parsed);
  }
}

// The reader used below is first held against real descriptors.
TEST(ReportDescriptorReader, ReadsRealDescriptors) {
  int count = 0;
  for (const char* file :
       {"hid_report_descriptors/hid-tools_test_report_descriptors.json",
        "hid_report_descriptors/chromium_test_report_descriptors_partial.json"}) {
    const vek_test::Json root = vek_test::LoadJson(vek_test::SharedTestData(file));
    for (const vek_test::Json& d : root["descriptors"].items) {
      const std::vector<uint8_t> bytes = FromHex(d["hex"].text);
      const auto parsed = ParseReportDescriptor(bytes);
      EXPECT_TRUE(parsed.ok) << d["name"].text << ": " << parsed.error;
      EXPECT_GT(parsed.top_level_collections, 0) << d["name"].text;
      ++count;
    }
  }
  EXPECT_EQ(count, 142);
  // The FIDO key: 64-byte input and output reports, no report IDs.
  const auto fido = ParseReportDescriptor(
      FromHex("06d0f10901a1010920150026ff007508954081020921150026ff00750895409102c0"));
  ASSERT_TRUE(fido.ok);
  EXPECT_FALSE(fido.uses_report_ids);
  EXPECT_EQ(fido.ByteLength(0), 65u);
  EXPECT_EQ(fido.ByteLength(1), 65u);
  EXPECT_EQ(fido.ByteLength(2), 0u);
  EXPECT_FALSE(ParseReportDescriptor({0x05, 0x01, 0xA1, 0x01}).ok);  // left open
  EXPECT_FALSE(ParseReportDescriptor({0x05, 0x01, 0x26, 0xFF}).ok);  // cut item
  EXPECT_FALSE(ParseReportDescriptor({0xC0}).ok);
}

class RecordedDump : public ::testing::TestWithParam<const char*> {
 protected:
  std::string Path(const std::string& suffix) const {
    return std::string(VEK_PP_DATA_DIR) + "/" + GetParam() + suffix;
  }
};

// hidapi's expected reconstructions describe reports exactly as long as the
// preparsed data says: a check of the reader and of the dump loader together.
TEST_P(RecordedDump, ReaderAgreesWithTheRecordedLengths) {
  vek_test::PpDataDump dump;
  std::string error;
  ASSERT_TRUE(vek_test::LoadPpDataDump(Path(".pp_data"), &dump, &error)) << error;
  const auto parsed = ParseReportDescriptor(vek_test::LoadByteListing(Path("_expected.rpt_desc")));
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.ByteLength(0), dump.capabilities.caps.input_report_byte_length);
  EXPECT_EQ(parsed.ByteLength(1), dump.capabilities.caps.output_report_byte_length);
  EXPECT_EQ(parsed.ByteLength(2), dump.capabilities.caps.feature_report_byte_length);
}

// Caps synthesis of real devices: a clean descriptor with one collection
// whose every report fills exactly the length the caps declare.
TEST_P(RecordedDump, SynthesisFromRealCapsIsConsistent) {
  vek_test::PpDataDump dump;
  std::string error;
  ASSERT_TRUE(vek_test::LoadPpDataDump(Path(".pp_data"), &dump, &error)) << error;
  const CapabilitySet& set = dump.capabilities;
  const std::vector<uint8_t> bytes = SynthesizeDescriptor(set);
  const auto parsed = ParseReportDescriptor(bytes);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.top_level_collections, 1);
  ExpectReportsFillTheirLengths(set, parsed);
}

INSTANTIATE_TEST_SUITE_P(HidapiDumps, RecordedDump, ::testing::ValuesIn(kPpDataCases),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
}  // namespace vek_native
