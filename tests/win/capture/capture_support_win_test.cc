// The capture checks against the real system calls. Wine reports Windows
// 6.1.7601 by default, so both checks stop at the build test, before the
// provider enumeration (which Wine does not survive).
#include <windows.h>

#include <gtest/gtest.h>

#include "capture/capture_support.h"

namespace vek_native {
namespace {

constexpr char kDevice[] = "USB\\VID_046D&PID_C52B\\5&1A2B3C4D&0&2";

class CaptureSupportWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uint32_t build = 0;
    const CaptureSupportQueries queries = SystemCaptureSupportQueries(nullptr);
    ASSERT_TRUE(queries.read_system_build(&build));
    if (build >= kMinimumCaptureBuild) {
      GTEST_SKIP() << "build " << build << " would reach the provider enumeration";
    }
    system_build_ = build;
  }
  void TearDown() override { SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", nullptr); }
  uint32_t system_build_ = 0;
};

TEST_F(CaptureSupportWinTest, OldBuildRefusesWithFullMap) {
  const CaptureSupportQueries queries = SystemCaptureSupportQueries(nullptr);
  UsbCaptureCapabilities caps;
  EXPECT_FALSE(ProbeUsbCaptureSupport(queries, kDevice, &caps));
  EXPECT_EQ(caps.systemBuild, system_build_);
  EXPECT_NE(caps.reason.find("Windows 8.1"), std::string::npos);
  EXPECT_EQ(std::get<EncodableMap>(UsbCaptureCapabilitiesToValue(caps)).size(), 7u);

  EXPECT_FALSE(ProbeUsbCaptureSupport(queries, "not a device", &caps));
  EXPECT_EQ(caps.systemBuild, 0u);
  EXPECT_EQ(std::get<EncodableMap>(UsbCaptureCapabilitiesToValue(caps)).size(), 7u);

  std::string error;
  EXPECT_FALSE(CheckHidCaptureSupport(queries, kDevice, &error));
  EXPECT_NE(error.find("Windows 8.1"), std::string::npos);
}

TEST_F(CaptureSupportWinTest, OverrideVariableIsRead) {
  const CaptureSupportQueries queries = SystemCaptureSupportQueries(nullptr);
  uint32_t build = 0;
  ASSERT_TRUE(SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", L"7600"));
  ASSERT_TRUE(CaptureSystemBuild(queries, &build));
  EXPECT_EQ(build, 7600u);
  // Too long for the 32-unit buffer: ignored, the system's build is used.
  ASSERT_TRUE(SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD",
                                      L"00000000000000000000000000000000000000007600"));
  ASSERT_TRUE(CaptureSystemBuild(queries, &build));
  EXPECT_EQ(build, system_build_);
  ASSERT_TRUE(SetEnvironmentVariableW(L"VEK_TOOL_CAPTURE_FAKE_BUILD", L"7600 "));
  ASSERT_TRUE(CaptureSystemBuild(queries, &build));
  EXPECT_EQ(build, system_build_);
}

}  // namespace
}  // namespace vek_native
