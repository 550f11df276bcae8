// The Windows conversions must agree with the portable ones, which the native
// tests pin down, on valid and on ill-formed input.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/text.h"

namespace vek_native {
namespace {

std::u16string AsU16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }
std::wstring AsWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

TEST(TextWinTest, Utf8ToWideAgreesWithPortable) {
  const std::string inputs[] = {
      "plain",
      "\xE7\xBC\xBA\xE5\xB0\x91 path",
      "\xF0\x9F\x98\x80",
      "a\x80z",
      "\xE7\xBC",
      "\xE7\xBCx",
      "\xC0\xAF",
      "\xED\xA0\x80",
      "\xF4\x90\x80\x80",
      "\xFF\xFE",
      "tail\xC3",
      "\xE0\x80\x80",
      "\xF0\x80\x80\x80",
      "\xE7\xBC\x41",
      "\xED\xBF\xBF",
  };
  for (const auto& in : inputs) {
    EXPECT_EQ(AsU16(Utf8ToWide(in)), Utf8ToUtf16(in)) << "input of " << in.size() << " bytes";
  }
  EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(TextWinTest, WideToUtf8AgreesWithPortable) {
  const std::u16string inputs[] = {
      u"plain",
      u"\u7F3A\u5C11",
      u"\U0001F600",
      std::u16string(1, char16_t(0xD800)),
      std::u16string{u'a', char16_t(0xDC00), u'b'},
  };
  for (const auto& in : inputs) {
    EXPECT_EQ(WideToUtf8(AsWide(in)), Utf16ToUtf8(in));
  }
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextWinTest, NowMicrosUsesThePerformanceCounter) {
  LARGE_INTEGER f;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_GT(f.QuadPart, 0);
}

}  // namespace
}  // namespace vek_native
