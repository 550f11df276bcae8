#include "host/command_line_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vek_native {
namespace {

TEST(ArgumentsFromCommandLineTest, SplitsWithoutProgramNameAndConvertsToUtf8) {
  struct Case {
    std::wstring line;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {L"vek_tool.exe --reset-usb-device \"USB\\VID_1&PID_2\\x y\" \u952e\u76d8",
       {"--reset-usb-device", "USB\\VID_1&PID_2\\x y", "\xE9\x94\xAE\xE7\x9B\x98"}},
      // A lone surrogate is not text: the argument becomes empty, its
      // neighbours are untouched.
      {std::wstring(L"vek_tool.exe a") + wchar_t(0xD800) + L"b c", {"", "c"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArgumentsFromCommandLine(c.line.c_str()), c.expected);
  }
}

}  // namespace
}  // namespace vek_native
