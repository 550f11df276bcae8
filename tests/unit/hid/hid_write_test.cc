#include "hid/hid_write.h"

#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

FakeHidDeviceSpec Device(uint16_t output_length, uint16_t feature_length) {
  FakeHidDeviceSpec spec;
  spec.path = "p";
  spec.caps.output_report_byte_length = output_length;
  spec.caps.feature_report_byte_length = feature_length;
  return spec;
}

TEST(WriteHidReportTest, ZeroExtensionToTheReportLength) {
  FakeHidDeviceSpec no_caps = Device(9, 9);
  no_caps.has_preparsed_data = false;
  struct Case {
    const char* name;
    FakeHidDeviceSpec spec;
    HidReportKind kind;
    std::vector<uint8_t> data;
    std::vector<uint8_t> sent;
  } cases[] = {
      {"2 bytes to a 9-byte output report",
       Device(9, 0),
       HidReportKind::kOutput,
       {0x01, 0x7f},
       {0x01, 0x7f, 0, 0, 0, 0, 0, 0, 0}},
      {"12 bytes go out whole",
       Device(9, 0),
       HidReportKind::kOutput,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"feature uses the feature length",
       Device(9, 4),
       HidReportKind::kFeature,
       {0x05},
       {0x05, 0, 0, 0}},
      {"exact length", Device(3, 0), HidReportKind::kOutput, {1, 2, 3}, {1, 2, 3}},
      {"unreadable caps: the data as given", no_caps, HidReportKind::kOutput, {1, 2}, {1, 2}},
  };
  for (Case& c : cases) {
    FakeHidDeviceApi api({c.spec});
    std::string message;
    ASSERT_TRUE(WriteHidReport(api, "p", c.data, c.kind, &message)) << c.name << message;
    auto& state = api.State("p");
    const auto& calls =
        c.kind == HidReportKind::kFeature ? state.set_feature_calls : state.write_file_calls;
    ASSERT_EQ(calls.size(), 1u) << c.name;
    EXPECT_EQ(calls[0], c.sent) << c.name;
    EXPECT_TRUE(state.set_output_calls.empty()) << c.name;
    EXPECT_EQ(api.OpenHandles("p"), 0) << c.name;
  }
}

TEST(WriteHidReportTest, SetOutputReportTakesWhatWriteFileRefuses) {
  for (bool short_write : {false, true}) {
    FakeHidDeviceSpec spec = Device(4, 0);
    spec.write_file_fails = !short_write;
    spec.write_file_short = short_write;
    spec.opens = {HidAccess::kRead};  // the read-only fallback still writes
    FakeHidDeviceApi api({spec});
    std::string message;
    EXPECT_TRUE(WriteHidReport(api, "p", {0x02}, HidReportKind::kOutput, &message)) << message;
    const auto& state = api.State("p");
    ASSERT_EQ(state.set_output_calls.size(), 1u);
    EXPECT_EQ(state.set_output_calls[0], (std::vector<uint8_t>{0x02, 0, 0, 0}));
  }
}

TEST(WriteHidReportTest, Messages) {
  FakeHidDeviceSpec refuses_all = Device(4, 4);
  refuses_all.write_file_fails = true;
  refuses_all.set_output_fails = true;
  refuses_all.set_feature_fails = true;
  FakeHidDeviceSpec closed = Device(4, 4);
  closed.opens = {HidAccess::kAttributesOnly};

  struct Case {
    const char* name;
    FakeHidDeviceSpec spec;
    std::string path;
    std::vector<uint8_t> data;
    HidReportKind kind;
    std::string message;
  } cases[] = {
      {"empty path", Device(4, 4), "", {1}, HidReportKind::kOutput, "HID 写入参数为空"},
      {"empty data", Device(4, 4), "p", {}, HidReportKind::kFeature, "HID 写入参数为空"},
      {"no open", closed, "p", {1}, HidReportKind::kOutput, "打开 HID 设备失败（Win32 错误码 5）"},
      {"output refused",
       refuses_all,
       "p",
       {1},
       HidReportKind::kOutput,
       "写入 HID Output 报告失败（Win32 错误码 31）"},
      {"feature refused",
       refuses_all,
       "p",
       {1},
       HidReportKind::kFeature,
       "写入 HID Feature 报告失败（Win32 错误码 31）"},
  };
  for (Case& c : cases) {
    FakeHidDeviceApi api({c.spec});
    std::string message;
    EXPECT_FALSE(WriteHidReport(api, c.path, c.data, c.kind, &message)) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(api.OpenHandles("p"), 0) << c.name;
  }
}

}  // namespace
}  // namespace vek_native
