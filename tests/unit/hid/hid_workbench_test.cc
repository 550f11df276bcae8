// Reports read on request, decoded input streams and reports built from
// values, on fake collections made from hidapi's recorded Windows devices.
// Decodings are checked against the same bytes decoded with hidapi's own
// rebuild of each collection's descriptor, and encoding against decoding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "hid/hid_input.h"
#include "hid/hid_report_read.h"
#include "hid/report_analysis_map.h"
#include "hid/report_encode.h"
#include "reconstruct_pp_data_cases.h"
#include "support/hex.h"
#include "unit/hid/hid_test_data.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;
using vek_test::FromHex;
using vek_test::ToHex;

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}

// Decoded values as " usage=value" words (from decodeHidReport's fields or an
// event's Int64List of pairs), then finding codes.
std::string Summary(const EncodableValue& fields, const EncodableValue* findings) {
  std::vector<int64_t> pairs;
  if (const auto* flat = std::get_if<std::vector<int64_t>>(&fields)) pairs = *flat;
  const EncodableList none;
  const auto* list = std::get_if<EncodableList>(&fields);
  for (const EncodableValue& field : list ? *list : none) {
    for (const EncodableValue& value : std::get<EncodableList>(At(field, "values"))) {
      pairs.push_back(At(value, "usagePage").LongValue() << 16 | At(value, "usage").LongValue());
      pairs.push_back(At(value, "value").LongValue());
    }
  }
  std::string text;
  for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
    char usage[24];
    std::snprintf(usage, sizeof(usage), " %llx=", static_cast<unsigned long long>(pairs[i]));
    text += usage + std::to_string(pairs[i + 1]);
  }
  for (const EncodableValue& f : findings ? std::get<EncodableList>(*findings) : none) {
    text += " " + std::get<std::string>(At(f, "code"));
  }
  return text;
}

// The same report decoded with hidapi's rebuild of the collection.
std::string HidapiDecoding(const char* recording, HidReportKind kind,
                           const std::vector<uint8_t>& report) {
  const HidReportAnalysis analysis =
      AnalyzeHidReportDescriptor(vek_test::HidapiRebuild({recording}), HidAnalysisContext());
  HidDecodedReport decoded;
  DecodeStackReport(analysis, kind, report, &decoded);
  const EncodableValue map = HidDecodedReportMap(decoded);
  return Summary(At(map, "fields"), &At(map, "findings"));
}

constexpr char kMouse[] = "046D_C077_0002_0001";     // input 5 bytes, no report IDs
constexpr char kRazer[] = "1532_00A3_0002_0001";     // feature 91 bytes, no report IDs
constexpr char kNumbered[] = "047F_C056_0003_FFA0";  // feature 3 bytes, IDs 3, 0x14, ...

FakeHidDeviceApi Devices() {
  FakeHidDeviceSpec mouse = vek_test::RecordedCollection(kMouse);
  mouse.path = "mouse";
  mouse.caps.input_report_byte_length = 5;
  mouse.input_answers[0] = FromHex("0001FB0501");
  FakeHidDeviceSpec razer = vek_test::RecordedCollection(kRazer);
  razer.path = "razer";
  razer.caps.feature_report_byte_length = 91;
  razer.feature_answers[0] = FromHex("0000FF00000000000006");  // short: 9 of 90 bytes
  FakeHidDeviceSpec numbered = vek_test::RecordedCollection(kNumbered);
  numbered.path = "numbered";
  numbered.caps.feature_report_byte_length = 3;
  numbered.feature_answers[3] = FromHex("030102");
  numbered.feature_answers[0x14] = {};
  FakeHidDeviceSpec file;
  file.path = "file";
  file.has_attributes = file.has_preparsed_data = false;
  return FakeHidDeviceApi({mouse, razer, numbered, file});
}

TEST(HidReportsOnRequest, AnswerWhatTheDeviceSentAndDecodeIt) {
  FakeHidDeviceApi api = Devices();
  const auto kIn = HidReportKind::kInput;
  const auto kFeature = HidReportKind::kFeature;
  const struct {
    const char* path;
    HidReportKind kind;
    uint8_t id;
    bool decode;
    std::string expected;  // "data summary" or the message
  } rows[] = {
      {"mouse", kIn, 0, false, "0001fb0501"},
      // Eight button bits, the last usage repeated over the five past Button 3.
      {"mouse", kIn, 0, true,
       "0001fb0501 90001=1 90002=0 90003=0 90003=0 90003=0 90003=0 90003=0 90003=0 10030=-5 "
       "10031=5 10038=1"},
      // Nine bytes answered of 90: the rest is not handed over as data.
      {"razer", kFeature, 0, true,
       "0000ff00000000000006" + HidapiDecoding(kRazer, kFeature, FromHex("0000FF00000000000006"))},
      {"numbered", kFeature, 3, true,
       "030102" + HidapiDecoding(kNumbered, kFeature, FromHex("030102"))},
      {"numbered", kFeature, 0x14, false,
       "HidD_GetFeature 读取 ID 为 20 的 Feature 报告：设备没有返回任何数据"},
      {"numbered", kFeature, 7, false,
       "HidD_GetFeature 读取 ID 为 7 的 Feature 报告失败（Win32 错误码 31）"},
      {"mouse", kFeature, 0, false, "该集合没有 Feature 报告（caps 中的报告长度为 0 或读不到）"},
      {"file", kIn, 0, false, "该路径不是 HID 设备（HID 类驱动无法读取它的属性）"},
      {"nowhere", kIn, 0, false, "打开 HID 设备失败（Win32 错误码 2）"},
  };
  for (const auto& row : rows) {
    EncodableValue reply;
    std::string message;
    std::string got = message;
    if (ReadHidReport(api, row.path, row.kind, row.id, row.decode, &reply, &message)) {
      EXPECT_EQ(At(reply, "reportId").LongValue(), row.id);
      got = ToHex(std::get<std::vector<uint8_t>>(At(reply, "data")));
      if (row.decode) got += Summary(At(reply, "fields"), &At(reply, "findings"));
      EXPECT_EQ(std::get<EncodableMap>(reply).size(), row.decode ? 4u : 2u);
    } else {
      got = message;
    }
    EXPECT_EQ(got, row.expected) << row.path << " " << int{row.id};
  }
  EXPECT_EQ(api.OpenHandles("mouse") + api.OpenHandles("razer") + api.OpenHandles("numbered"), 0);
}

TEST(DecodedHidInput, OptInPerPathAndFindingsForReportsOffTheLayout) {
  FakeHidDeviceApi api = Devices();
  std::mutex mutex;
  std::vector<EncodableMap> events;
  HidInputReaders readers(
      api,
      [&](EncodableMap&& event) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(event));
      },
      StartDetachedThread, MakeHidInputDecoder);
  std::string message;
  ASSERT_TRUE(readers.Open("mouse", {true, 64}, &message)) << message;
  ASSERT_TRUE(readers.Open("numbered", &message));
  EXPECT_EQ(api.State("mouse").input_buffers, 64u);
  // A second open asking for decoding the plain reader does not do.
  EXPECT_FALSE(readers.Open("numbered", {true, 0}, &message));
  EXPECT_TRUE(readers.Open("mouse", &message));
  api.PushReport("mouse", FromHex("0001FB0501"));
  api.PushReport("mouse", FromHex("0001"));  // too short for the layout
  api.PushReport("numbered", FromHex("030102"));
  api.WaitUntilDrained("mouse");
  api.WaitUntilDrained("numbered");
  readers.CloseAll();
  ASSERT_EQ(events.size(), 3u);
  std::vector<std::string> texts;
  for (const EncodableMap& event : events) {
    const EncodableValue map(event);
    const auto fields = event.find(EncodableValue("fields"));
    const auto findings = event.find(EncodableValue("findings"));
    texts.push_back(
        std::get<std::string>(At(map, "devicePath")) + " " + std::to_string(event.size()) + ":" +
        (fields == event.end()
             ? ""
             : Summary(fields->second, findings == event.end() ? nullptr : &findings->second)));
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "mouse 5: 90001=1 90002=0 90003=0 90003=0 90003=0 90003=0 90003=0 "
                       "90003=0 10030=-5 10031=5 10038=1",
                       "mouse 6: report-too-short", "numbered 4:"}));
}

// Builds a report from values within each field's extent, decodes it, and
// expects the values back: every report of every real descriptor in
// tests/data (hid-tools' kernel test devices, the umockdev FIDO key, and
// hidapi's 25 Windows devices as their makers wrote them and as rebuilt).
std::vector<std::pair<std::string, std::vector<uint8_t>>> RealDescriptors() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> all;
  std::istringstream tools(vek_test::ReadTestData("hid_tools/report_descriptors.txt"));
  std::string source;
  for (std::string line; std::getline(tools, line);) {
    if (line.rfind("D ", 0) == 0) source = line.substr(2);
    if (line.rfind("H ", 0) == 0) all.emplace_back(source, FromHex(line.substr(2)));
  }
  std::istringstream fido(vek_test::ReadTestData("umockdev/fido2.umockdev"));
  for (std::string line; std::getline(fido, line);) {
    if (line.rfind("H: report_descriptor=", 0) == 0) {
      all.emplace_back("fido2", FromHex(line.substr(21)));
    }
  }
  for (const char* name : kPpDataCases) {
    all.emplace_back(
        name, vek_test::ReadListing("hidapi_pp_data/" + std::string(name) + "_real.rpt_desc"));
    all.emplace_back(std::string(name) + " rebuilt", vek_test::HidapiRebuild({name}));
  }
  return all;
}

bool Fits(const HidField& field, int64_t value) {
  if (value < field.logical_minimum || value > field.logical_maximum) return false;
  if (field.bit_size >= 63) return true;
  const int64_t top = int64_t{1} << (field.IsSigned() ? field.bit_size - 1 : field.bit_size);
  return field.IsSigned() ? value >= -top && value < top : value < top;
}

TEST(EncodeHidReport, DecodingGivesTheValuesBackForEveryRealReport) {
  size_t reports = 0, values = 0;
  uint64_t seed = 1;
  for (const auto& [name, descriptor] : RealDescriptors()) {
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    for (const HidReportLayout& layout : analysis.reports) {
      if (analysis.FindReport(layout.kind, layout.id) != &layout) continue;
      std::vector<HidUsageValue> given;
      std::vector<HidDecodedValue> expected;
      for (uint32_t f = 0; f < layout.fields.size(); ++f) {
        const HidField& field = layout.fields[f];
        if (field.IsConstant() || field.bit_size == 0 || field.bit_size > 64) continue;
        for (uint32_t e = 0; e < field.count; ++e) {
          seed = seed * 6364136223846793005u + 1442695040888963407u;
          uint32_t usage = 0;
          int64_t value = 0;
          if (field.IsVariable()) {
            usage = HidVariableUsage(field, e);
            // A value drawn from the extent, else its ends.
            const uint64_t span = static_cast<uint64_t>(field.logical_maximum) -
                                  static_cast<uint64_t>(field.logical_minimum) + 1;
            value = field.logical_minimum + static_cast<int64_t>(span ? (seed >> 11) % span : 0);
            if (!Fits(field, value)) value = field.logical_minimum;
            if (!Fits(field, value)) break;
          } else {
            // Press a few controls of the array, one per element.
            if (e >= 3) break;
            const int64_t index = static_cast<int64_t>(e * 7 + 1);
            if (index > field.logical_maximum - field.logical_minimum) break;
            usage = field.has_usage_range ? field.usage_minimum + static_cast<uint32_t>(index)
                    : static_cast<size_t>(index) < field.usages.size()
                        ? field.usages[static_cast<size_t>(index)]
                        : 0;
            value = field.logical_minimum + index;
            if ((usage & 0xFFFF) == 0 || !Fits(field, value) ||
                (field.has_usage_range && usage > field.usage_maximum)) {
              break;
            }
          }
          given.push_back(
              {static_cast<uint16_t>(usage >> 16), static_cast<uint16_t>(usage), value});
          expected.push_back({f, usage, value});
        }
      }
      std::vector<uint8_t> report;
      std::string message;
      SCOPED_TRACE(name + " " + HidReportKindName(layout.kind) + " " + std::to_string(layout.id));
      ASSERT_TRUE(EncodeHidReport(analysis, layout.kind, layout.id, given, &report, &message))
          << message;
      EXPECT_EQ(report.size(), layout.ByteLength());
      HidDecodedReport decoded;
      DecodeHidReport(analysis, layout.kind, report, &decoded);
      // Variable fields give every element back, arrays what is pressed
      // (free elements of vendor arrays whose every value is a control too).
      std::vector<uint32_t> left(layout.fields.size(), 0);
      std::vector<std::string> got, want;
      const auto key = [](const HidDecodedValue& v) {
        return std::to_string(v.field) + ":" + std::to_string(v.usage) + "=" +
               std::to_string(v.value);
      };
      for (const HidDecodedValue& v : expected) {
        ++left[v.field];
        want.push_back(key(v));
      }
      for (const HidDecodedValue& v : decoded.values) {
        if (left[v.field] > 0 && left[v.field]--) got.push_back(key(v));
      }
      EXPECT_EQ(got, want);
      ++reports;
      values += given.size();
    }
  }
  EXPECT_GE(reports, 600u);
  EXPECT_GE(values, 5000u);
}

// A boot keyboard: modifiers, a constant byte, six key slots (usages 0-255),
// and five LEDs with three bits of padding in its output report.
const char kKeyboard[] =
    "05 01 09 06 A1 01 05 07 19 E0 29 E7 15 00 25 01 75 01 95 08 81 02 95 01 75 08 81 01 95 06 "
    "26 FF 00 19 00 2A FF 00 81 00 05 08 19 01 29 05 25 01 75 01 95 05 91 02 95 03 91 01 C0";
// A vendor array of two bytes (0 to 255) with one listed usage: its
// "nothing" is 1, the first value past the usages.
const char kVendorArray[] = "06 00 FF 09 01 A1 01 09 01 15 00 26 FF 00 75 08 95 02 81 00 C0";
// A mouse with report ID 2: X of -127..127 and Y of 0..300, both in 8 bits.
const char kMouseWithId[] =
    "05 01 09 02 A1 01 85 02 09 30 15 81 25 7F 75 08 95 01 81 02 09 31 15 00 26 2C 01 75 08 95 01 "
    "81 02 C0";

HidReportAnalysis Analysis(std::string spaced_hex) {
  spaced_hex.erase(std::remove(spaced_hex.begin(), spaced_hex.end(), ' '), spaced_hex.end());
  return AnalyzeHidReportDescriptor(FromHex(spaced_hex), HidAnalysisContext());
}

TEST(EncodeHidReport, RefusesWhatTheReportCannotCarry) {
  const HidReportAnalysis keyboard = Analysis(kKeyboard);
  const HidReportAnalysis mouse = Analysis(kMouseWithId);
  const HidReportAnalysis vendor = Analysis(kVendorArray);
  const auto kOut = HidReportKind::kOutput;
  const auto kIn = HidReportKind::kInput;
  const HidUsageValue kCapsLock{0x08, 0x02, 1};
  const HidUsageValue kKeyA{0x07, 0x04, 1};
  const struct {
    const HidReportAnalysis& analysis;
    HidReportKind kind;
    uint8_t id;
    std::vector<HidUsageValue> values;
    std::string expected;  // the bytes, or the message
  } rows[] = {
      {keyboard, kOut, 0, {kCapsLock}, "0002"},
      {keyboard, kOut, 0, {{0x08, 0x01, 1}, {0x08, 0x05, 1}, kCapsLock}, "0013"},
      {keyboard, kIn, 0, {kKeyA, {0x07, 0xE1, 1}, kKeyA}, "000200040400000000"},
      {mouse, kIn, 2, {{0x01, 0x31, 255}, {0x01, 0x30, -127}}, "0281ff"},
      {vendor, kIn, 0, {{0xFF00, 0x01, 1}}, "000001"},
      {keyboard, kOut, 1, {}, "该描述符不使用报告 ID，reportId 只能是 0"},
      {keyboard, HidReportKind::kFeature, 0, {}, "描述符中没有 feature 报告"},
      {mouse, kIn, 9, {}, "描述符中没有 ID 为 9 的 input 报告"},
      {keyboard, kOut, 0, {kKeyA}, "output 报告中没有 用法 0x0007:0x0004"},
      {keyboard, kIn, 0, {{0x07, 0x00, 1}}, "input 报告中没有 用法 0x0007:0x0000"},
      {keyboard,
       kOut,
       0,
       {{0x08, 0x02, 2}},
       "用法 0x0008:0x0002 的值 2 超出逻辑范围 0 到 1（1 位）"},
      {mouse,
       kIn,
       2,
       {{0x01, 0x30, 128}},
       "用法 0x0001:0x0030 的值 128 超出逻辑范围 -127 到 127（8 位）"},
      {mouse,
       kIn,
       2,
       {{0x01, 0x31, 256}},
       "用法 0x0001:0x0031 的值 256 超出逻辑范围 0 到 300（8 位）"},
      {keyboard, kIn, 0, std::vector<HidUsageValue>(7, kKeyA),
       "input 报告中 用法 0x0007:0x0004 的位置已经用完（给出的次数多于报告中的元素）"},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> report;
    std::string message;
    const bool ok = EncodeHidReport(row.analysis, row.kind, row.id, row.values, &report, &message);
    EXPECT_EQ(ok ? ToHex(report) : message, row.expected);
  }
}

}  // namespace
}  // namespace vek_native
