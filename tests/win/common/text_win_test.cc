// The Windows conversions must agree with the portable ones, which the native
// tests pin down, on valid and on ill-formed input.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/text.h"

namespace vek_native {
namespace {

TEST(TextWinTest, Utf8ToWideAgreesWithPortable) {
  // Besides a surrogate pair: a stray continuation byte, a cut sequence, overlong
  // forms, a surrogate, a code point past U+10FFFF, bytes that never occur.
  const std::string inputs[] = {"\xF0\x9F\x98\x80", "a\x80z",           "\xE7\xBCx",
                                "tail\xC3",         "\xC0\xAF",         "\xE0\x80\x80",
                                "\xED\xA0\x80",     "\xF4\x90\x80\x80", "\xFF\xFE"};
  for (const auto& in : inputs) {
    const std::wstring wide = Utf8ToWide(in);
    EXPECT_EQ(std::u16string(wide.begin(), wide.end()), Utf8ToUtf16(in))
        << "input of " << in.size() << " bytes";
  }
}

TEST(TextWinTest, WideToUtf8AgreesWithPortable) {
  // Besides a surrogate pair: lone surrogates.
  const std::u16string inputs[] = {u"\U0001F600", std::u16string(1, char16_t(0xD800)),
                                   std::u16string{u'a', char16_t(0xDC00), u'b'}};
  for (const auto& in : inputs) {
    EXPECT_EQ(WideToUtf8(std::wstring(in.begin(), in.end())), Utf16ToUtf8(in));
  }
}

}  // namespace
}  // namespace vek_native
