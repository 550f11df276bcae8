// Text conversion, message formatting, the clock and the completion latch.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "common/completion_latch.h"
#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

// The first and last code point of every encoded length and around the
// surrogates, both ways.
TEST(TextTest, ValidTextRoundTripsAtEveryBoundary) {
  const std::string utf8 =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
      "\xF4\x8F\xBF\xBF\xE7\xBC\xBA";
  const std::u16string utf16 =
      u"\x7F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000\U0010FFFF\u7F3A";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(RepairUtf8(utf8), utf8);
}

// Each ill-formed sequence becomes U+FFFD the way Windows' converter does it.
TEST(TextTest, IllFormedSequencesBecomeReplacementCharacters) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"a\x80z", u"a\uFFFDz"},
      {"\xC1\xBF", u"\uFFFD\uFFFD"},
      {"\xE7\xBC", u"\uFFFD"},            // truncated
      {"\xE0\x9F\xBF", u"\uFFFD\uFFFD"},  // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD"},  // a surrogate
      {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xE7\xBC\x41", u"\uFFFDA"},
      // No continuation above 0xBF, first or later; no lead above 0xF4.
      {"\xC2\xC0\xE7\xBC\xC0\xF5\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.first), c.second) << testing::PrintToString(c.first);
    EXPECT_FALSE(IsValidUtf8(c.first));
    EXPECT_EQ(RepairUtf8(c.first), Utf16ToUtf8(c.second));
  }
  const char16_t unpaired[] = {u'a', 0xD800, u'b', 0xDFFF, 0};
  EXPECT_EQ(Utf16ToUtf8(unpaired),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  // An echoed ID keeps 200 characters, repaired, and marks the cut.
  const std::string a199(199, 'a');
  EXPECT_EQ(EchoedInstanceId(a199 + "\xFF"), a199 + "\xEF\xBF\xBD");
  EXPECT_EQ(EchoedInstanceId(a199 + "\xC3\xA9\xFF"), a199 + "\xC3\xA9…");
  std::string out;
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "");
}

// (The error-code suffixes are checked in the messages of the features using them.)
TEST(FormatTest, MessageFamilies) {
  EXPECT_EQ(FormatHresult(0x800704C7u), "0x800704C7");
  EXPECT_EQ(FormatVidPid(0x046d, 0xc077), "046d:c077");
}

TEST(ClockTest, MicrosFromCounterAvoidsOverflow) {
  EXPECT_EQ(MicrosFromCounter(10000001, 10000000), 1000000u);
  // counter * 1e6 alone would overflow here.
  EXPECT_EQ(MicrosFromCounter(0x0FFFFFFFFFFFFFFFULL, 10000000), 0x0FFFFFFFFFFFFFFFULL / 10);
}

TEST(CompletionLatchTest, TheSignalStays) {
  CompletionLatch latch;
  EXPECT_FALSE(latch.WaitFor(std::chrono::milliseconds(0)));
  latch.Signal();
  EXPECT_TRUE(latch.WaitFor(std::chrono::milliseconds(0)));
}

}  // namespace
}  // namespace vek_native
