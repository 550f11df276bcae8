#include "capture/trace_text.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

// The readers that use these hold them to most of their rules; these are the
// rules those leave open.
TEST(TraceTextTest, HexIdsAndEntities) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(HexToBytes(" 0X0a 0B\r\n", &bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0A, 0x0B}));
  for (const char* refused : {"050", "05-01", "   ", "0x", "0x 0x05"}) {
    EXPECT_FALSE(HexToBytes(refused, &bytes)) << refused;
    EXPECT_TRUE(bytes.empty()) << refused;
  }
  UsbInstanceId id;
  ASSERT_TRUE(ParseUsbInstanceId("usb\\pid_abcd&vid_1234&mi_0g\\5", &id));
  EXPECT_EQ(id.vendor_id, 0x1234u);
  EXPECT_EQ(id.product_id, 0xABCDu);
  EXPECT_EQ(id.interface_number, -1);
  EXPECT_FALSE(ParseUsbInstanceId("USB\\VID_046D&PID_C5", &id));
  // The round trips of every character through the five names and numeric
  // references are the entity fuzzer's. Beyond Unicode, surrogates and bad
  // numbers give nothing, unknown names stay as written, and the decimal
  // branch takes what the number parser takes.
  EXPECT_EQ(DecodeXmlEntities("&lt;&quot;&apos;&gt;&amp;&#65;&#X4e2d;"), "<\"'>&A\xE4\xB8\xAD");
  EXPECT_EQ(DecodeXmlEntities("x&#x110000;y&#xD800;z&#56320;&#x;&#;&#xZZ;&#99999999999;"), "xyz");
  EXPECT_EQ(DecodeXmlEntities("&#0x41;&#65abc;&foo; a & b; &&amp; c &"),
            "AA&foo; a & b; &&amp; c &");
}

// To microseconds since 1970 as UTC: the zone is not applied, the whole
// seconds must lie after 1970 and the date must exist.
TEST(TraceTextTest, EventTimes) {
  int64_t micros = 7;
  EXPECT_TRUE(ParseEventTime("2024-02-29t10:00:00.123456789+08:00", &micros));
  EXPECT_EQ(micros, 1709200800123456);
  EXPECT_TRUE(ParseEventTime("2023-12-31T23:59:59Z", &micros));
  EXPECT_EQ(micros, 1704067199000000);
  for (const char* refused :
       {"1970-01-01T00:00:00.5Z", "2023-02-29T00:00:00Z", "2024-01-32T00:00:00Z",
        "2024-04-31T00:00:00Z", "2024-13-01T00:00:00Z", "2024-00-01T00:00:00Z",
        "2024-01-00T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z",
        "2024-01-01T00:00:60Z", "2024-01-01 00:00:00Z"}) {
    EXPECT_FALSE(ParseEventTime(refused, &micros)) << refused;
  }
}

}  // namespace
}  // namespace vek_native
