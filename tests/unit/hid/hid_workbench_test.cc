// Reports read on request and reports built from values, on fake collections made from hidapi's
// recorded Windows devices. Decodings are checked against the same bytes decoded with hidapi's own
// rebuild of each collection's descriptor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_report_read.h"
#include "hid/report_analysis_map.h"
#include "hid/report_encode.h"
#include "unit/hid/hid_test_data.h"

namespace vek_native {
namespace {

using vek_test::FromHex;
using vek_test::ToHex;

constexpr char kMouse[] = "046D_C077_0002_0001";     // input 5 bytes, no report IDs
constexpr char kNumbered[] = "047F_C056_0003_FFA0";  // feature 3 bytes with ID 0x1B

TEST(HidReportsOnRequest, AnswerWhatTheDeviceSentAndDecodeIt) {
  fake::FakeHidDeviceSpec mouse = vek_test::RecordedCollection(kMouse);
  mouse.path = "mouse";
  mouse.caps.input_report_byte_length = 5;
  mouse.input_answers[0] = FromHex("0001FB0501");
  fake::FakeHidDeviceSpec numbered = vek_test::RecordedCollection(kNumbered);
  numbered.path = "numbered";
  numbered.caps.feature_report_byte_length = 3;
  numbered.feature_answers = {{0x1B, FromHex("1B0102")}, {0x14, FromHex("14")}, {0x15, {}}};
  fake::FakeHidDeviceSpec file;  // not a HID collection
  file.path = "file";
  file.has_attributes = file.has_preparsed_data = false;
  fake::FakeHidDeviceApi api({mouse, numbered, file});
  const auto kIn = HidReportKind::kInput;
  const auto kFeature = HidReportKind::kFeature;
  const struct {
    const char* path;
    HidReportKind kind;
    uint8_t id;
    const char* recording;  // decode, and compare with hidapi's rebuild
    std::string expected;   // the data, or the message
  } rows[] = {
      {"mouse", kIn, 0, kMouse, "0001fb0501"},
      {"numbered", kFeature, 0x1B, kNumbered, "1b0102"},
      {"numbered", kFeature, 0x14, nullptr, "14"},  // one byte of three: not padded
      {"numbered", kFeature, 0x15, nullptr,
       "HidD_GetFeature 读取 ID 为 21 的 Feature 报告：设备没有返回任何数据"},
      {"numbered", kFeature, 7, nullptr,
       "HidD_GetFeature 读取 ID 为 7 的 Feature 报告失败（Win32 错误码 31）"},
      {"mouse", kFeature, 0, nullptr, "该集合没有 Feature 报告（caps 中的报告长度为 0 或读不到）"},
      {"file", kIn, 0, nullptr, "该路径不是 HID 设备（HID 类驱动无法读取它的属性）"},
      {"nowhere", kIn, 0, nullptr, "打开 HID 设备失败（Win32 错误码 2）"},
      {"", kIn, 0, nullptr, "HID 设备路径为空"},
  };
  for (const auto& row : rows) {
    EncodableValue reply;
    std::string message;
    if (!ReadHidReport(api, row.path, row.kind, row.id, row.recording, &reply, &message)) {
      EXPECT_EQ(message, row.expected);
      continue;
    }
    const EncodableMap& map = std::get<EncodableMap>(reply);
    const auto data = std::get<std::vector<uint8_t>>(map.at(EncodableValue("data")));
    EXPECT_EQ(ToHex(data), row.expected);
    EXPECT_EQ(map.at(EncodableValue("reportId")).LongValue(), row.id);
    EXPECT_EQ(map.size(), row.recording ? 4u : 2u);  // fields and findings with decoding
    if (!row.recording) continue;
    // As decodeHidReport gives them with hidapi's rebuild of the collection.
    const HidReportAnalysis analysis =
        AnalyzeHidReportDescriptor(vek_test::HidapiRebuild({row.recording}), HidAnalysisContext());
    HidDecodedReport oracle;
    DecodeHidReport(analysis, row.kind, data, &oracle);
    EncodableMap decoded = map;
    decoded.erase(EncodableValue("data"));
    EXPECT_EQ(EncodableValue(decoded), HidDecodedReportMap(oracle)) << row.path;
  }
  EXPECT_EQ(api.OpenHandles("mouse") + api.OpenHandles("numbered"), 0);
}

// A boot keyboard: modifiers, a constant byte, six key slots (usages 0-255),
// and five LEDs with three bits of padding in its output report.
const char kKeyboard[] =
    "05010906A101050719E029E7150025017501950881029501750881019506"
    "26FF0019002AFF008100050819012905250175019505910295039101C0";
// A vendor array of two bytes (0 to 255) with one listed usage: its
// "nothing" is 1, the first value past the usages.
const char kVendorArray[] = "0600FF0901A1010901150026FF00750895028100C0";
// A mouse with report ID 2: X of -127..127 and Y of 0..300, both in 8 bits.
const char kMouseWithId[] = "05010902A101850209301581257F75089501810209311500262C01750895018102C0";
// X of -1..1 in 64 bits; a feature report of 65535 bytes of data.
const char kWide[] = "05010902A101093015FF25017540950181020931750896FFFFB102C0";

TEST(EncodeHidReport, BuildsTheBytesOrRefusesWhatTheReportCannotCarry) {
  const auto analysis = [](const char* hex) {
    return AnalyzeHidReportDescriptor(FromHex(hex), HidAnalysisContext());
  };
  const HidReportAnalysis keyboard = analysis(kKeyboard), mouse = analysis(kMouseWithId),
                          vendor = analysis(kVendorArray), wide = analysis(kWide);
  const auto kOut = HidReportKind::kOutput;
  const auto kIn = HidReportKind::kInput;
  const HidUsageValue kCapsLock{0x08, 0x02, 1}, kKeyA{0x07, 0x04, 1};
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
      {wide, kIn, 0, {{0x01, 0x30, -1}}, "00ffffffffffffffff"},
      {wide, HidReportKind::kFeature, 0, {}, "feature 报告超过 65535 字节，无法构造"},
      {keyboard, kOut, 1, {}, "该描述符不使用报告 ID，reportId 只能是 0"},
      {keyboard, HidReportKind::kFeature, 0, {}, "描述符中没有 feature 报告"},
      {mouse, kIn, 9, {}, "描述符中没有 ID 为 9 的 input 报告"},
      {keyboard, kOut, 0, {{0xFF0A, 0xBC, 1}}, "output 报告中没有 用法 0xff0a:0x00bc"},
      {keyboard, kIn, 0, {{0, 0, 1}}, "input 报告中没有 用法 0x0000:0x0000"},  // "nothing"
      {keyboard, kOut, 0, {{8, 2, 2}}, "用法 0x0008:0x0002 的值 2 超出逻辑范围 0 到 1（1 位）"},
      {mouse, kIn, 2, {{1, 49, 256}}, "用法 0x0001:0x0031 的值 256 超出逻辑范围 0 到 300（8 位）"},
      {keyboard, kIn, 0, std::vector<HidUsageValue>(7, kKeyA),
       "input 报告中 用法 0x0007:0x0004 的位置已经用完（给出的次数多于报告中的元素）"},
      {keyboard, kOut, 0, std::vector<HidUsageValue>(2, kCapsLock),
       "output 报告中 用法 0x0008:0x0002 的位置已经用完（给出的次数多于报告中的元素）"},
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
