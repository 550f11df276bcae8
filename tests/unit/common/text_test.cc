#include "common/text.h"

#include <gtest/gtest.h>

namespace vek_native {
namespace {

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::u16string utf16;
};

TEST(TextTest, Utf8ToUtf16ReplacesEachMaximalSubpart) {
  const Utf8Case cases[] = {
      {"empty", "", u""},
      {"ascii", "abc", u"abc"},
      {"chinese", "\xE7\xBC\xBA\xE5\xB0\x91", u"\u7F3A\u5C11"},
      {"astral", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"lone continuation", "a\x80z", u"a\uFFFDz"},
      {"truncated three-byte", "\xE7\xBC", u"\uFFFD"},
      {"truncated then ascii", "\xE7\xBCx", u"\uFFFDx"},
      {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"overlong three-byte", "\xE0\x80\x80", u"\uFFFD\uFFFD"},
      {"overlong four-byte", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"bad third byte", "\xE7\xBC\x41", u"\uFFFDA"},
      {"FF byte", "\xFF", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.name;
  }
}

TEST(TextTest, Utf16ToUtf8ReplacesUnpairedSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u""), "");
  EXPECT_EQ(Utf16ToUtf8(u"\u7F3A"), "\xE7\xBC\xBA");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  const char16_t lone_high[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToUtf8(lone_high),
            "a\xEF\xBF\xBD"
            "b");
  const char16_t lone_low_at_end[] = {0xDC00, 0};
  EXPECT_EQ(Utf16ToUtf8(lone_low_at_end), "\xEF\xBF\xBD");
}

TEST(TextTest, RepairUtf8KeepsValidTextAndReplacesTheRest) {
  EXPECT_EQ(RepairUtf8("ok \xE7\xBC\xBA"), "ok \xE7\xBC\xBA");
  EXPECT_EQ(RepairUtf8("a\xC3"), "a\xEF\xBF\xBD");
  EXPECT_EQ(RepairUtf8("\xE0\x80\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_TRUE(IsValidUtf8(RepairUtf8("\xF0\x9F\x98")));
}

TEST(TextTest, AppendUtf8DropsSurrogatesAndOutOfRange) {
  std::string out;
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "");
  AppendUtf8(out, 0x10FFFF);
  EXPECT_EQ(out, "\xF4\x8F\xBF\xBF");
}

TEST(TextTest, AsciiCaseMappingLeavesNonAsciiBytesAlone) {
  EXPECT_EQ(AsciiLower("HID#VID_046D&Col01 \xC3\x84"), "hid#vid_046d&col01 \xC3\x84");
  EXPECT_EQ(AsciiUpper("usb\\vid_046d&mi_00 \xC3\xA4"), "USB\\VID_046D&MI_00 \xC3\xA4");
  EXPECT_TRUE(EqualsIgnoreAsciiCase("Port_#0003", "PORT_#0003"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC3\xA4", "\xC3\x84"));  // not ASCII: exact
  EXPECT_FALSE(EqualsIgnoreAsciiCase("COM1", "COM10"));
}

}  // namespace
}  // namespace vek_native
