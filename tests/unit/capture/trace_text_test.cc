#include "capture/trace_text.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace vek_native {
namespace {

TEST(TrimAsciiSpaceTest, RemovesOnlyTheFourBlanks) {
  EXPECT_EQ(TrimAsciiSpace(" \t\r\nab c\n"), "ab c");
  EXPECT_EQ(TrimAsciiSpace("\v x \f"), "\v x \f");
  EXPECT_EQ(TrimAsciiSpace(" \r\n"), "");
}

TEST(DecodeXmlEntitiesTest, Table) {
  struct Case {
    const char* in;
    std::string out;
  };
  const Case cases[] = {
      {"&#x41;&#65;&amp;",
       "A"
       "A"
       "&"},
      {"&lt;a b=&quot;1&quot; c=&apos;2&apos;&gt;", "<a b=\"1\" c='2'>"},
      {"x&#x110000;y", "xy"},          // beyond Unicode: nothing
      {"x&#xD800;y&#56320;z", "xyz"},  // surrogates: nothing, output stays UTF-8
      {"&foo; &FOO;", "&foo; &FOO;"},  // unknown names stay as written
      {"a & b", "a & b"},              // lone ampersand, no semicolon at all
      {"a & b;", "a & b;"},            // the name " b" is unknown and copied
      {"&#x;&#;&#xZZ;&#99999999999;", ""},
      {"&#X4e2d;&#x1F600;", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {"&#0x41;", "A"},      // the decimal branch takes what the number parser takes
      {"&#65abc;", "A"},     // trailing characters after the digits are ignored
      {"&&amp;", "&&amp;"},  // the name "&amp" is unknown: copied with its ampersand and semicolon
      {"tail&", "tail&"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeXmlEntities(c.in), c.out) << c.in;
    EXPECT_TRUE(IsValidUtf8(DecodeXmlEntities(c.in))) << c.in;
  }
}

TEST(HexToBytesTest, Table) {
  struct Case {
    const char* in;
    bool ok;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {" 0x05 01\r\n", true, {0x05, 0x01}},
      {"0X0a0B", true, {0x0A, 0x0B}},
      {"0501F", false, {}},
      {"05-01", false, {}},
      {"", false, {}},
      {"   ", false, {}},
      {"0x", false, {}},
      {"0x 0x05", false, {}},  // only one prefix is skipped
      {"G0", false, {}},
      {"ff\t00", true, {0xFF, 0x00}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = {0xEE};
    EXPECT_EQ(HexToBytes(c.in, &bytes), c.ok) << c.in;
    EXPECT_EQ(bytes, c.bytes) << c.in;
  }
}

TEST(BytesToHexTest, UpperCaseWithoutSeparators) {
  const std::vector<uint8_t> bytes = {0x00, 0x0A, 0xF1, 0xFF};
  EXPECT_EQ(BytesToHex(bytes), "000AF1FF");
  EXPECT_EQ(BytesToHex(std::vector<uint8_t>()), "");
}

TEST(ParseUnsignedNumberTest, Table) {
  struct Case {
    const char* in;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {" 42 ", true, 42},
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"12abc", true, 12},
      {"0x", true, 0},
      {"0xZ", false, 0},
      {"", false, 0},
      {"  ", false, 0},
      {"abc", false, 0},
      {"4294967295", true, 0xFFFFFFFFu},
      {"4294967296", false, 0},
      {"0xFFFFFFFF", true, 0xFFFFFFFFu},
      {"0x100000000", false, 0},
      {"-1", false, 0},
      {"+1", false, 0},
      {"046D", true, 46},
  };
  for (const Case& c : cases) {
    uint32_t value = 7;
    EXPECT_EQ(ParseUnsignedNumber(c.in, &value), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.in;
    }
  }
}

TEST(ParseInt64StrictTest, Table) {
  struct Case {
    const char* in;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"1714557600000000", true, 1714557600000000},
      {" -5\n", true, -5},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"12x", false, 0},
      {"1 2", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    int64_t value = 7;
    EXPECT_EQ(ParseInt64Strict(c.in, &value), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.in;
    }
  }
}

TEST(ParseUsbInstanceIdTest, Table) {
  struct Case {
    const char* in;
    bool ok;
    uint32_t vid, pid;
    int32_t mi;
  };
  const Case cases[] = {
      {"USB\\VID_046D&PID_C52B&MI_01\\7&2F1A3C5B&0&0001", true, 0x046D, 0xC52B, 1},
      {"usb\\vid_046d&pid_c52b\\5&1a2b", true, 0x046D, 0xC52B, -1},
      {"USB\\VID_1234&PID_ABCD&MI_0G\\x", true, 0x1234, 0xABCD, -1},
      {"USB\\VID_1234&PID_ABCD&MI_1", true, 0x1234, 0xABCD, -1},
      {"USB\\PID_ABCD&VID_1234", true, 0x1234, 0xABCD, -1},
      {"HID\\VID_046D&PID_C52B", false, 0, 0, 0},
      {"USB\\VID_046&PID_C52B", false, 0, 0, 0},
      {"USB\\VID_046D&PID_C5", false, 0, 0, 0},
      {"USB\\PID_C52B", false, 0, 0, 0},
      {"USB", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    UsbInstanceId id;
    EXPECT_EQ(ParseUsbInstanceId(c.in, &id), c.ok) << c.in;
    if (!c.ok) continue;
    EXPECT_EQ(id.vendor_id, c.vid) << c.in;
    EXPECT_EQ(id.product_id, c.pid) << c.in;
    EXPECT_EQ(id.interface_number, c.mi) << c.in;
  }
}

TEST(ParseEventTimeTest, Table) {
  struct Case {
    const char* in;
    bool ok;
    int64_t micros;
  };
  const Case cases[] = {
      {"2024-05-01T10:00:00.5Z", true, 1714557600500000},
      {"2024-05-01t10:00:00.123Z", true, 1714557600123000},
      {"2024-05-01T10:00:00.123456789Z", true, 1714557600123456},
      {"2024-05-01T10:00:00", true, 1714557600000000},
      {"2024-05-01T10:00:00+08:00", true, 1714557600000000},
      {"2024-02-29T00:00:00Z", true, 1709164800000000},
      {"1970-01-01T00:00:01Z", true, 1000000},
      {"1970-01-01T00:00:00.5Z", false, 0},  // the whole seconds must lie after 1970
      {"1969-12-31T23:59:59Z", false, 0},
      {"2023-02-29T00:00:00Z", false, 0},
      {"2024-02-30T00:00:00Z", false, 0},
      {"1900-02-29T00:00:00Z", false, 0},
      {"2000-02-29T00:00:00Z", true, 951782400000000},
      {"2024-13-01T00:00:00Z", false, 0},
      {"2024-00-01T00:00:00Z", false, 0},
      {"2024-05-00T00:00:00Z", false, 0},
      {"2024-05-01T24:00:00Z", false, 0},
      {"2024-05-01T10:60:00Z", false, 0},
      {"2024-05-01T10:00:60Z", false, 0},
      {"2024-05-01 10:00:00Z", false, 0},
      {"2024-5-01T10:00:00Z", false, 0},
      {"2024-05-01T10:00:0", false, 0},
      {"9999-12-31T23:59:59Z", true, 253402300799000000},
  };
  for (const Case& c : cases) {
    int64_t micros = 7;
    EXPECT_EQ(ParseEventTime(c.in, &micros), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(micros, c.micros) << c.in;
    }
  }
}

TEST(NormalizeHexTest, Table) {
  EXPECT_EQ(NormalizeHex("0x05 01"), "0501");
  EXPECT_EQ(NormalizeHex("123"), "");
  EXPECT_EQ(NormalizeHex("0xab"), "AB");
  EXPECT_EQ(NormalizeHex("a"), "");
  EXPECT_EQ(NormalizeHex("ab-cd"), "ABCD");
  EXPECT_EQ(NormalizeHex("xyz"), "");
}

TEST(CollapseWhitespaceTest, Table) {
  EXPECT_EQ(CollapseWhitespace("  a \t\r\n b  "), "a b");
  EXPECT_EQ(CollapseWhitespace("\n\n"), "");
  EXPECT_EQ(CollapseWhitespace("ab"), "ab");
}

}  // namespace
}  // namespace vek_native
