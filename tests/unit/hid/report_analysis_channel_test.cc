// The analysis on the channel: "analyzeHidReportDescriptor" and
// "decodeHidReport" through the bridge (argument checks, replies), and the
// analysis "readHidDescriptors" carries, with what the USB interface and the
// HID stack say about the device.
#include <gtest/gtest.h>

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
using V = EncodableValue;

using vek_test::FromHex;

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(V(key));
}
const EncodableValue& Nth(const EncodableValue& list, size_t index) {
  return std::get<EncodableList>(list).at(index);
}

// A boot mouse: buttons 1-3, 5 bits of padding, X, Y and wheel of 8 bits.
const char kBootMouse[] =
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
    return AttachedBridgeTest::Call(method, V(std::move(arguments)));
  }
};

EncodableValue Blob(const std::vector<uint8_t>& bytes) { return V(bytes); }

TEST_F(AnalysisBridgeTest, BadArgumentsAnswerAtOnceWithTheirCodes) {
  const EncodableValue mouse = Blob(FromHex(kBootMouse));
  const EncodableValue none;
  // Arguments left null are not passed.
  const struct {
    const char* method;
    EncodableValue descriptor, report, kind, packet;
    const char* code;
    const char* message;
  } rows[] = {
      {"analyzeHidReportDescriptor", V(EncodableList{V(5)}), none, none, none,
       "hid-invalid-descriptor", "缺少 descriptor 参数"},
      {"analyzeHidReportDescriptor", Blob(std::vector<uint8_t>(65536, 0xC0)), none, none, none,
       "hid-invalid-descriptor", "报告描述符超过 65535 字节（HID 类描述符的长度字段只有 16 位）"},
      {"analyzeHidReportDescriptor", mouse, none, none, V(int64_t{65536}), "hid-invalid-argument",
       "maxPacketSize 参数必须在 0 到 65535 之间"},
      {"decodeHidReport", mouse, none, none, none, "hid-invalid-report", "缺少 report 参数"},
      {"decodeHidReport", mouse, Blob({}), none, none, "hid-invalid-report", "报告数据为空"},
      {"decodeHidReport", mouse, Blob({1}), V("Input"), none, "hid-invalid-argument",
       "kind 参数只能是 input、output 或 feature"},
      {"decodeHidReport", mouse, Blob(std::vector<uint8_t>(6)), none, none, "hid-invalid-report",
       "报告长 6 字节，超过描述符中最长的输入报告（5 字节，含报告 ID "
       "字节）：它不可能是这个描述符的报告"},
      {"encodeHidReport", mouse, none, V("both"), none, "hid-invalid-argument",
       "kind 参数只能是 input、output 或 feature"},
      {"encodeHidReport", mouse, none, V("feature"), none, "hid-encode-failed",
       "描述符中没有 feature 报告"},
  };
  for (const auto& row : rows) {
    EncodableMap arguments;
    const std::pair<const char*, const EncodableValue*> given[] = {{"descriptor", &row.descriptor},
                                                                   {"report", &row.report},
                                                                   {"kind", &row.kind},
                                                                   {"maxPacketSize", &row.packet}};
    for (const auto& [key, value] : given) {
      if (!value->IsNull()) arguments[V(key)] = *value;
    }
    auto reply = Call(row.method, arguments);
    EXPECT_EQ(reply->code, row.code) << row.message;
    EXPECT_EQ(reply->message, row.message);
  }
}

// The end-to-end test checks item texts, lengths, finding codes and values;
// here the Base64 form, a whole item and usage map, the finding's text and
// the report kind.
TEST_F(AnalysisBridgeTest, Base64DescriptorAndReportKind) {
  auto reply =
      Call("analyzeHidReportDescriptor",
           {{V("descriptor"), V("BQEJAqEBCQGhAAUJGQEpAxUAJQGVA3UBgQKVAXUFgQEFAQkwCTEJOBWBJX91"
                                "CJUDgQbAwA==")},
            {V("maxPacketSize"), V(3)}});
  ASSERT_EQ(reply->kind, ReplyRecord::kSuccess);
  const EncodableValue& analysis = reply->value;
  EXPECT_EQ(Nth(At(analysis, "items"), 24),
            V(EncodableMap{{V("offset"), V(int64_t{48})},
                           {V("bytes"), Blob({0x81, 0x06})},
                           {V("type"), V("main")},
                           {V("tag"), V(int64_t{8})},
                           {V("value"), V(int64_t{6})},
                           {V("depth"), V(int64_t{2})},
                           {V("truncated"), V(false)},
                           {V("text"), V("Input (Data,Var,Rel)")}}));
  const EncodableValue& axes = Nth(At(Nth(At(analysis, "reports"), 0), "fields"), 2);
  EXPECT_EQ(Nth(At(axes, "usages"), 2), V(EncodableMap{{V("usagePage"), V(int64_t{1})},
                                                       {V("usage"), V(int64_t{0x38})},
                                                       {V("name"), V("Wheel")}}));
  EXPECT_EQ(At(Nth(At(analysis, "findings"), 0), "message"),
            V("输入报告在总线上长 4 字节，超过中断输入端点的最大包长 3 "
              "字节，一个报告要分成多个事务传输"));
  EXPECT_EQ(At(analysis, "ofReconstruction"), V(false));
  // 65,535 reserved items: the first 4096 listed, 8 findings and one that
  // stands for the rest.
  auto zeros =
      Call("analyzeHidReportDescriptor", {{V("descriptor"), Blob(std::vector<uint8_t>(65535))}});
  EXPECT_EQ(std::get<EncodableList>(At(zeros->value, "items")).size(), kHidMapMaxItems);
  EXPECT_EQ(At(zeros->value, "itemCount"), V(int64_t{65535}));
  const EncodableValue& folded = Nth(At(zeros->value, "findings"), kHidFindingsPerCode);
  EXPECT_EQ(At(folded, "count"), V(int64_t{65535 - kHidFindingsPerCode}));
  EXPECT_EQ(std::get<EncodableList>(At(folded, "offsets")).size(), kHidFoldedOffsets);
  auto feature = Call("decodeHidReport", {{V("descriptor"), Blob(FromHex(kBootMouse))},
                                          {V("report"), Blob({0x01})},
                                          {V("kind"), V("feature")}});
  EXPECT_EQ(At(Nth(At(feature->value, "findings"), 0), "code"), V("unknown-report-id"));
  // Button 2 pressed, behind the leading 0 of a report without ID.
  EncodableMap button{{V("usagePage"), V(9)}, {V("usage"), V(2)}};
  auto encoded = Call("encodeHidReport", {{V("descriptor"), Blob(FromHex(kBootMouse))},
                                          {V("kind"), V("input")},
                                          {V("values"), V(EncodableList{button})}});
  EXPECT_EQ(encoded->value, Blob({0, 2, 0, 0, 0}));
  // Buttons, padding, a 72-bit field, a one-key array; an output and a feature report; a
  // physical collection inside. The top-level collection has the report lengths.
  const EncodableValue fielded = Blob(FromHex(
      "05 01 09 02 A1 01 05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02 75 05 95 01 81 03 05 01 "
      "09 30 75 48 81 02 05 07 19 00 29 FF 26 FF 00 75 08 81 00 95 02 91 01 95 03 B1 01 A1 00 C0 "
      "C0"));
  const EncodableValue analyzed =
      Call("analyzeHidReportDescriptor", {{V("descriptor"), fielded}})->value;
  const EncodableValue& top = Nth(At(analyzed, "collections"), 0);
  EXPECT_EQ(At(top, "inputReportByteLength"), V(int64_t{12}));
  EXPECT_EQ(At(top, "outputReportByteLength"), V(int64_t{3}));
  EXPECT_EQ(At(top, "featureReportByteLength"), V(int64_t{4}));
  EXPECT_EQ(std::get<EncodableMap>(Nth(At(analyzed, "collections"), 1)).size(), 7u);
  // Decoded fields as "bit offset, a for an array: usage=value ..., raw bytes".
  auto decoded =
      Call("decodeHidReport", {{V("descriptor"), fielded},
                               {V("report"), Blob(FromHex("05 11 22 33 44 55 66 77 88 99 04"))}});
  std::string fields;
  for (const EncodableValue& field : std::get<EncodableList>(At(decoded->value, "fields"))) {
    fields += std::to_string(At(field, "bitOffset").LongValue()) +
              (std::get<bool>(At(field, "array")) ? "a:" : ":");
    for (const EncodableValue& v : std::get<EncodableList>(At(field, "values"))) {
      fields += " " + std::to_string(At(v, "usage").LongValue()) + "=" +
                std::to_string(At(v, "value").LongValue());
    }
    const EncodableValue& raw = At(field, "raw");
    fields +=
        (raw.IsNull() ? "" : " " + vek_test::ToHex(std::get<std::vector<uint8_t>>(raw))) + ";";
  }
  EXPECT_EQ(fields, "0: 1=1 2=0 3=1;8: 112233445566778899;80a: 4=4;");
  // 1,030 one-bit buttons: the first 1,024 are given, a finding tells of the rest.
  std::string buttons = "05 09 09 01 A1 01 75 01 95 01 ";
  for (int i = 0; i < 1030; ++i) buttons += "09 01 81 02 ";
  auto most = Call("decodeHidReport", {{V("descriptor"), Blob(FromHex(buttons + "C0"))},
                                       {V("report"), Blob(std::vector<uint8_t>(129))}});
  EXPECT_EQ(std::get<EncodableList>(At(most->value, "fields")).size(), kHidDecodeMaxFields);
  EXPECT_EQ(At(Nth(At(most->value, "findings"), 0), "code"), V("fields-not-decoded"));
}

// "readHidDescriptors" of a mouse on interface 0 of a USB device whose hub
// answers with its configuration.
const std::string kPath =
    "\\\\?\\hid#vid_046d&pid_c077&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kUsbInterface = "USB\\VID_046D&PID_C077&MI_00\\6&1";
const std::string kUsbDevice = "USB\\VID_046D&PID_C077\\5&1";
const std::string kDriverKey = "{36fc9e60-c465-11cf-8056-444553540000}\\0007";

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

TEST(AnalysisInDescriptorReportTest, TheInterfaceAndTheHidStackJudgeTheRawDescriptor) {
  fake::FakeHidDeviceSpec mouse;
  vek_test::FakeUsbDevice device;
  Requests requests;
  mouse.path = kPath;
  mouse.parent_instance_id = kUsbInterface;
  mouse.attributes = {0x046d, 0xc077, 0x7200};
  mouse.caps.usage_page = 1;
  mouse.caps.usage = 2;
  mouse.caps.input_report_byte_length = 6;
  fake::FakeDeviceTree tree({{kUsbInterface, kUsbDevice}, {kUsbDevice, "USB\\ROOT_HUB\\4&1"}});
  device.device_descriptor = FromHex("12 01 00 02 00 00 00 08 6d 04 77 c0 00 72 01 02 00 01");
  device.driver_key = kDriverKey;
  device.Set(1, 0, 0, 0x80, device.device_descriptor);
  // Interface 0: boot mouse, an 8-byte interrupt OUT endpoint, then the
  // 4-byte interrupt IN one. Interface 1: a plain HID interface with a
  // 64-byte endpoint.
  device.Set(2, 0, 0, 0x80,
             FromHex("09 02 42 00 02 01 00 A0 32 "
                     "09 04 00 00 02 03 01 02 00 09 21 11 01 00 01 22 34 00 "
                     "07 05 01 03 08 00 0A 07 05 81 03 04 00 0A "
                     "09 04 01 00 01 03 00 00 00 09 21 11 01 00 01 22 34 00 07 05 82 03 40 00 01"));
  EncodableValue analysis;
  // The finding codes and offsets of "reportDescriptorAnalysis".
  const auto findings = [&] {
    fake::FakeHidDeviceApi hid;
    hid.Add(mouse);
    vek_test::FakeUsbHubApi hubs;
    hubs.driver_keys[kUsbDevice] = kDriverKey;
    hubs.AddHub(u"hub").ports[1] = device;
    EncodableValue report;
    std::string message;
    EXPECT_TRUE(ReadHidDescriptors(hid, tree, hubs, requests, kPath, &report, &message)) << message;
    analysis = At(report, "reportDescriptorAnalysis");
    std::vector<std::string> codes;
    for (const EncodableValue& finding : std::get<EncodableList>(At(analysis, "findings"))) {
      codes.push_back(std::get<std::string>(At(finding, "code")) + "@" +
                      std::to_string(At(finding, "offset").LongValue()));
    }
    return codes;
  };
  // 5 bytes on the bus through a 4-byte endpoint, not the boot layout; the
  // stack's 6 bytes agree with the layout.
  requests.raw = FromHex(kWideMouse);
  EXPECT_EQ(findings(),
            (std::vector<std::string>{"report-exceeds-packet@24", "boot-layout-mismatch@24"}));
  EXPECT_EQ(At(analysis, "ofReconstruction"), V(false));
  mouse.caps.input_report_byte_length = 5;
  EXPECT_EQ(findings(),
            (std::vector<std::string>{"report-exceeds-packet@24", "caps-length-mismatch@4",
                                      "boot-layout-mismatch@24"}));
  // When the hub refuses interface 0's report descriptor and gives interface
  // 1's, this collection's caps do not judge it.
  requests.raw.clear();
  device.Set(0x22, 0, 1, 0x81, FromHex(kBootMouse));
  mouse.caps.input_report_byte_length = 99;
  EXPECT_EQ(findings(), std::vector<std::string>());
  EXPECT_EQ(std::get<EncodableList>(At(analysis, "reports")).size(), 1u);
}

}  // namespace
}  // namespace vek_native
