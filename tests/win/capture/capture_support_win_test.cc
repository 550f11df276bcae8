// The capture check's build override read from the real environment. (The
// check itself, and the captures stopping at it on Wine's Windows 7 build,
// are covered end to end by e2e_vek_tool.)
#include <windows.h>

#include <gtest/gtest.h>

#include "capture/capture_support.h"

namespace vek_native {
namespace {

TEST(CaptureSupportWinTest, OverrideVariableIsReadUnlessItOverflowsItsBuffer) {
  const CaptureSupportQueries queries = SystemCaptureSupportQueries(nullptr);
  uint32_t system_build = 0;
  ASSERT_TRUE(queries.read_system_build(&system_build));
  ASSERT_NE(system_build, 7600u);
  const struct {
    const wchar_t* value;
    uint32_t build;
  } cases[] = {
      {L"7600", 7600},
      // Longer than the 32-unit buffer: ignored, the system's build is used.
      {L"00000000000000000000000000000000000000007600", system_build},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", c.value));
    uint32_t build = 0;
    EXPECT_TRUE(CaptureSystemBuild(queries, &build));
    EXPECT_EQ(build, c.build);
  }
  SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", nullptr);
}

}  // namespace
}  // namespace vek_native
