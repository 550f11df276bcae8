// The analysis on the channel: "analyzeHidReportDescriptor" and
// "decodeHidReport" through the bridge (argument checks, replies), and the
// analysis "readHidDescriptors" carries, with what the USB interface and the
// HID stack say about the device.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "hid/descriptor_report.h"
#include "hid/report_analysis_map.h"
#include "support/hex.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/bridge/bridge_test_support.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

using testing_support::ReplyRecord;

std::vector<uint8_t> Bytes(const std::string& spaced_hex) {
  std::string hex;
  for (char c : spaced_hex) {
    if (c != ' ') hex += c;
  }
  return vek_test::FromHex(hex);
}

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}
const EncodableValue& Nth(const EncodableValue& list, size_t index) {
  return std::get<EncodableList>(list).at(index);
}
size_t Size(const EncodableValue& list) { return std::get<EncodableList>(list).size(); }

// A boot mouse: buttons 1-3, 5 bits of padding, X, Y and wheel of 8 bits.
const char kMouse[] =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 09 38 15 81 25 7F 75 08 95 03 81 06 C0 C0";

// The same mouse with 16-bit X and Y and no wheel: 5 bytes on the bus.
const char kWideMouse[] =
    "05 01 09 02 A1 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 05 "
    "81 01 05 01 09 30 09 31 16 01 80 26 FF 7F 75 10 95 02 81 06 C0 C0";

class AnalysisBridgeTest : public testing_support::AttachedBridgeTest<> {
 protected:
  BridgeOperations Operations() override {
    BridgeOperations ops;
    BindHidAnalysisOperations(ops);
    return ops;
  }
  std::shared_ptr<ReplyRecord> Call(const std::string& method, EncodableMap arguments) {
    return AttachedBridgeTest::Call(method, EncodableValue(std::move(arguments)));
  }
};

EncodableValue Blob(const std::vector<uint8_t>& bytes) { return EncodableValue(bytes); }

TEST_F(AnalysisBridgeTest, BadArgumentsAnswerAtOnceWithTheirCodes) {
  const EncodableValue mouse = Blob(Bytes(kMouse));
  const EncodableValue none;
  // Arguments left null are not passed.
  const struct {
    const char* method;
    EncodableValue descriptor, report, kind, packet;
    const char* code;
    const char* message;
  } rows[] = {
      {"analyzeHidReportDescriptor", none, none, none, none, "hid-invalid-descriptor",
       "缺少 descriptor 参数"},
      {"analyzeHidReportDescriptor", EncodableValue(EncodableList{EncodableValue(5)}), none, none,
       none, "hid-invalid-descriptor", "缺少 descriptor 参数"},
      {"analyzeHidReportDescriptor", Blob({}), none, none, none, "hid-invalid-descriptor",
       "报告描述符为空"},
      {"analyzeHidReportDescriptor", EncodableValue("=== "), none, none, none,
       "hid-invalid-descriptor", "报告描述符为空"},
      {"analyzeHidReportDescriptor", Blob(std::vector<uint8_t>(65536, 0xC0)), none, none, none,
       "hid-invalid-descriptor", "报告描述符超过 65535 字节（HID 类描述符的长度字段只有 16 位）"},
      {"analyzeHidReportDescriptor", mouse, none, none, EncodableValue(-1), "hid-invalid-argument",
       "maxPacketSize 参数必须在 0 到 65535 之间"},
      {"analyzeHidReportDescriptor", mouse, none, none, EncodableValue(int64_t{65536}),
       "hid-invalid-argument", "maxPacketSize 参数必须在 0 到 65535 之间"},
      {"decodeHidReport", none, Blob({1}), none, none, "hid-invalid-descriptor",
       "缺少 descriptor 参数"},
      {"decodeHidReport", mouse, none, none, none, "hid-invalid-report", "缺少 report 参数"},
      {"decodeHidReport", mouse, Blob({}), none, none, "hid-invalid-report", "报告数据为空"},
      {"decodeHidReport", mouse, Blob({1}), EncodableValue("Input"), none, "hid-invalid-argument",
       "kind 参数只能是 input、output 或 feature"},
  };
  for (const auto& row : rows) {
    EncodableMap arguments;
    const std::pair<const char*, const EncodableValue*> given[] = {{"descriptor", &row.descriptor},
                                                                   {"report", &row.report},
                                                                   {"kind", &row.kind},
                                                                   {"maxPacketSize", &row.packet}};
    for (const auto& [key, value] : given) {
      if (!value->IsNull()) arguments[EncodableValue(key)] = *value;
    }
    auto reply = Call(row.method, arguments);
    EXPECT_EQ(reply->kind, ReplyRecord::kError) << row.message;
    EXPECT_EQ(reply->code, row.code) << row.message;
    EXPECT_EQ(reply->message, row.message);
  }
}

TEST_F(AnalysisBridgeTest, AnalysisOfABase64DescriptorWithItsPacketSize) {
  // The 52-byte mouse, as Base64 text.
  auto reply = Call("analyzeHidReportDescriptor",
                    {{EncodableValue("descriptor"),
                      EncodableValue("BQEJAqEBCQGhAAUJGQEpAxUAJQGVA3UBgQKVAXUFgQEFAQkwCTEJOBWBJX91"
                                     "CJUDgQbAwA==")},
                     {EncodableValue("maxPacketSize"), EncodableValue(3)}});
  ASSERT_EQ(reply->kind, ReplyRecord::kSuccess);
  const EncodableValue& analysis = reply->value;
  EXPECT_EQ(At(analysis, "ofReconstruction"), EncodableValue(false));

  const EncodableValue& items = At(analysis, "items");
  ASSERT_EQ(Size(items), 27u);
  const EncodableValue& x_axes = Nth(items, 24);  // "81 06" at 48
  EXPECT_EQ(x_axes, EncodableValue(EncodableMap{
                        {EncodableValue("offset"), EncodableValue(int64_t{48})},
                        {EncodableValue("bytes"), Blob({0x81, 0x06})},
                        {EncodableValue("type"), EncodableValue("main")},
                        {EncodableValue("tag"), EncodableValue(int64_t{8})},
                        {EncodableValue("value"), EncodableValue(int64_t{6})},
                        {EncodableValue("depth"), EncodableValue(int64_t{2})},
                        {EncodableValue("truncated"), EncodableValue(false)},
                        {EncodableValue("text"), EncodableValue("Input (Data,Var,Rel)")},
                    }));
  EXPECT_EQ(At(Nth(items, 20), "value"), EncodableValue(int64_t{-127}));

  const EncodableValue& application = Nth(At(analysis, "collections"), 0);
  EXPECT_EQ(At(application, "kind"), EncodableValue("Application"));
  EXPECT_EQ(At(application, "name"), EncodableValue("Mouse"));
  EXPECT_EQ(At(application, "inputReportByteLength"), EncodableValue(int64_t{5}));

  ASSERT_EQ(Size(At(analysis, "reports")), 1u);
  const EncodableValue& input = Nth(At(analysis, "reports"), 0);
  EXPECT_EQ(At(input, "kind"), EncodableValue("input"));
  EXPECT_EQ(At(input, "collection"), EncodableValue(int64_t{0}));
  EXPECT_EQ(At(input, "bitLength"), EncodableValue(int64_t{32}));
  EXPECT_EQ(At(input, "byteLength"), EncodableValue(int64_t{5}));
  ASSERT_EQ(Size(At(input, "fields")), 3u);
  const EncodableValue& buttons = Nth(At(input, "fields"), 0);
  EXPECT_EQ(At(buttons, "flagsText"), EncodableValue("Data,Var,Abs"));
  EXPECT_EQ(At(At(buttons, "usageMaximum"), "name"), EncodableValue("Button 3"));
  const EncodableValue& axes = Nth(At(input, "fields"), 2);
  EXPECT_EQ(At(axes, "bitOffset"), EncodableValue(int64_t{8}));
  EXPECT_EQ(At(axes, "logicalMinimum"), EncodableValue(int64_t{-127}));
  EXPECT_TRUE(At(axes, "usageMinimum").IsNull());
  ASSERT_EQ(Size(At(axes, "usages")), 3u);
  EXPECT_EQ(Nth(At(axes, "usages"), 2),
            EncodableValue(EncodableMap{{EncodableValue("usagePage"), EncodableValue(int64_t{1})},
                                        {EncodableValue("usage"), EncodableValue(int64_t{0x38})},
                                        {EncodableValue("name"), EncodableValue("Wheel")}}));

  ASSERT_EQ(Size(At(analysis, "findings")), 1u);
  const EncodableValue& finding = Nth(At(analysis, "findings"), 0);
  EXPECT_EQ(At(finding, "severity"), EncodableValue("warning"));
  EXPECT_EQ(At(finding, "offset"), EncodableValue(int64_t{24}));
  EXPECT_EQ(At(finding, "code"), EncodableValue("report-exceeds-packet"));
  EXPECT_EQ(At(finding, "message"),
            EncodableValue("输入报告在总线上长 4 字节，超过中断输入端点的最大包长 3 "
                           "字节，一个报告要分成多个事务传输"));
}

TEST_F(AnalysisBridgeTest, DecodedMouseReport) {
  auto reply =
      Call("decodeHidReport", {{EncodableValue("descriptor"), Blob(Bytes(kMouse))},
                               {EncodableValue("report"), Blob({0x01, 0x05, 0xFB, 0xFF})}});
  ASSERT_EQ(reply->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(At(reply->value, "reportId"), EncodableValue(int64_t{0}));
  EXPECT_EQ(Size(At(reply->value, "findings")), 0u);
  const EncodableValue& fields = At(reply->value, "fields");
  ASSERT_EQ(Size(fields), 2u);  // the padding carries nothing
  EXPECT_EQ(At(Nth(fields, 0), "array"), EncodableValue(false));
  EXPECT_EQ(At(Nth(fields, 0), "bitOffset"), EncodableValue(int64_t{0}));
  std::map<std::string, int64_t> values;
  for (size_t f = 0; f < 2; ++f) {
    for (const EncodableValue& value : std::get<EncodableList>(At(Nth(fields, f), "values"))) {
      values[std::get<std::string>(At(value, "name"))] = At(value, "value").LongValue();
    }
  }
  EXPECT_EQ(
      values,
      (std::map<std::string, int64_t>{
          {"Button 1", 1}, {"Button 2", 0}, {"Button 3", 0}, {"X", 5}, {"Y", -5}, {"Wheel", -1}}));

  auto feature = Call("decodeHidReport", {{EncodableValue("descriptor"), Blob(Bytes(kMouse))},
                                          {EncodableValue("report"), Blob({0x01})},
                                          {EncodableValue("kind"), EncodableValue("feature")}});
  ASSERT_EQ(feature->kind, ReplyRecord::kSuccess);
  EXPECT_EQ(Size(At(feature->value, "fields")), 0u);
  EXPECT_EQ(At(Nth(At(feature->value, "findings"), 0), "code"),
            EncodableValue("unknown-report-id"));
}

// "readHidDescriptors" of a mouse on interface 0 of a USB device whose hub
// answers with its configuration.
const std::string kPath =
    "\\\\?\\hid#vid_046d&pid_c077&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kUsbInterface = "USB\\VID_046D&PID_C077&MI_00\\6&1";
const std::string kUsbDevice = "USB\\VID_046D&PID_C077\\5&1";
const std::string kDriverKey = "{36fc9e60-c465-11cf-8056-444553540000}\\0007";

class AnalysisInDescriptorReportTest : public ::testing::Test {
 protected:
  class Requests : public HidDescriptorRequests {
   public:
    bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
      if (raw.empty()) {
        *error = 50;
        return false;
      }
      std::copy(raw.begin(), raw.end(), buffer->begin());
      *returned = static_cast<uint32_t>(raw.size());
      return true;
    }
    bool GetIndexedString(HidDevice&, uint32_t, char16_t*, uint32_t) override { return false; }
    std::vector<uint8_t> raw;
  };

  void SetUp() override {
    mouse_.path = kPath;
    mouse_.parent_instance_id = kUsbInterface;
    mouse_.attributes = {0x046d, 0xc077, 0x7200};
    mouse_.caps.usage_page = 1;
    mouse_.caps.usage = 2;
    mouse_.caps.input_report_byte_length = 6;
    tree_ = fake::FakeDeviceTree({{kUsbInterface, kUsbDevice}, {kUsbDevice, "USB\\ROOT_HUB\\4&1"}});
    device_.device_descriptor = Bytes("12 01 00 02 00 00 00 08 6d 04 77 c0 00 72 01 02 00 01");
    device_.driver_key = kDriverKey;
    device_.Set(1, 0, 0, 0x80, device_.device_descriptor);
    // Interface 0: boot mouse, an 8-byte interrupt OUT endpoint, then the
    // 4-byte interrupt IN one. Interface 1: a plain HID interface with a
    // 64-byte endpoint.
    device_.Set(
        2, 0, 0, 0x80,
        Bytes("09 02 42 00 02 01 00 A0 32 "
              "09 04 00 00 02 03 01 02 00 09 21 11 01 00 01 22 34 00 "
              "07 05 01 03 08 00 0A 07 05 81 03 04 00 0A "
              "09 04 01 00 01 03 00 00 00 09 21 11 01 00 01 22 34 00 07 05 82 03 40 00 01"));
  }

  EncodableValue Analysis() {
    fake::FakeHidDeviceApi hid;
    hid.Add(mouse_);
    vek_test::FakeUsbHubApi hubs;
    hubs.driver_keys[kUsbDevice] = kDriverKey;
    hubs.AddHub(u"hub").ports[1] = device_;
    EncodableValue report;
    std::string message;
    EXPECT_TRUE(ReadHidDescriptors(hid, tree_, hubs, requests_, kPath, &report, &message))
        << message;
    return At(report, "reportDescriptorAnalysis");
  }

  static std::vector<std::string> Findings(const EncodableValue& analysis) {
    std::vector<std::string> findings;
    for (const EncodableValue& finding : std::get<EncodableList>(At(analysis, "findings"))) {
      findings.push_back(std::get<std::string>(At(finding, "code")) + "@" +
                         std::to_string(At(finding, "offset").LongValue()));
    }
    return findings;
  }

  fake::FakeHidDeviceSpec mouse_;
  fake::FakeDeviceTree tree_;
  vek_test::FakeUsbDevice device_;
  Requests requests_;
};

TEST_F(AnalysisInDescriptorReportTest, TheInterfaceAndTheHidStackJudgeTheRawDescriptor) {
  // 5 bytes on the bus through a 4-byte endpoint, not the boot layout; the
  // stack's 6 bytes agree with the layout.
  requests_.raw = Bytes(kWideMouse);
  const EncodableValue analysis = Analysis();
  EXPECT_EQ(At(analysis, "ofReconstruction"), EncodableValue(false));
  EXPECT_EQ(Findings(analysis),
            (std::vector<std::string>{"report-exceeds-packet@24", "boot-layout-mismatch@24"}));

  mouse_.caps.input_report_byte_length = 5;
  EXPECT_EQ(Findings(Analysis()),
            (std::vector<std::string>{"report-exceeds-packet@24", "caps-length-mismatch@4",
                                      "boot-layout-mismatch@24"}));
}

TEST_F(AnalysisInDescriptorReportTest, ADescriptorOfAnotherInterfaceIsNotHeldToThisOnesCaps) {
  // The hub refuses interface 0's report descriptor and gives interface 1's.
  device_.Set(0x22, 0, 1, 0x81, Bytes(kMouse));
  mouse_.caps.input_report_byte_length = 99;
  const EncodableValue analysis = Analysis();
  EXPECT_EQ(Findings(analysis), std::vector<std::string>());
  EXPECT_EQ(Size(At(analysis, "reports")), 1u);
}

TEST_F(AnalysisInDescriptorReportTest, ARebuiltDescriptorSaysSo) {
  // No raw bytes, no hub descriptor, no preparsed bytes for hidapi: the
  // descriptor is synthesised from the caps, with report ID 1.
  mouse_.caps.input_report_byte_length = 4;
  ButtonCapsRecord buttons;
  buttons.UsagePage = 9;
  buttons.ReportID = 1;
  buttons.BitField = 2;
  buttons.IsRange = true;
  buttons.UsageMin = 1;
  buttons.UsageMax = 3;
  buttons.ReportCount = 3;
  mouse_.buttons[kHidInput].push_back(buttons);
  mouse_.caps.number_input_button_caps = 1;
  const EncodableValue analysis = Analysis();
  EXPECT_EQ(At(analysis, "ofReconstruction"), EncodableValue(true));
  const EncodableValue& application = Nth(At(analysis, "collections"), 0);
  EXPECT_EQ(At(application, "inputReportByteLength"), EncodableValue(int64_t{4}));
  // The rebuilt bytes: ... 75 01 95 03 19 01 29 03 81 02 (@22) 75 01 (@24, the
  // size again) 95 15 81 01 C0: a report with an ID on a boot interface.
  EXPECT_EQ(Findings(analysis),
            (std::vector<std::string>{"redundant-global@24", "boot-layout-mismatch@22"}));
}

}  // namespace
}  // namespace vek_native
