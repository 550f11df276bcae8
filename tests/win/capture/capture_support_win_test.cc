// The capture checks against the real system calls. Wine reports Windows
// 6.1.7601 by default, so both checks stop at the build test, before the
// provider enumeration (which Wine does not survive).
#include <windows.h>

#include <gtest/gtest.h>

#include "capture/capture_support.h"
#include "capture/hid_descriptor_capture.h"
#include "capture/usb_enumeration_capture.h"
#include "common/text.h"

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

// Names in the temporary directory that start with "vek_tool_".
int CountCaptureLeftovers() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((std::wstring(temp) + L"vek_tool_*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

TEST_F(CaptureSupportWinTest, CapturesFailCleanlyOnAnOldBuild) {
  const int before = CountCaptureLeftovers();
  const CaptureSupportQueries queries = SystemCaptureSupportQueries(nullptr);
  bool cancelled = true;
  std::string error;

  HidCaptureCaller hid;
  hid.launcher = &SystemProcessLauncher();
  hid.files = &SystemFileSystem();
  hid.support = &queries;
  std::vector<HidDescriptorCapture> records;
  EXPECT_FALSE(CaptureHidReportDescriptors(hid, kDevice, -1, 5000, &records, &cancelled, &error));
  EXPECT_FALSE(cancelled);
  EXPECT_NE(error.find("Windows 8.1"), std::string::npos);

  UsbCaptureCaller usb;
  usb.launcher = &SystemProcessLauncher();
  usb.files = &SystemFileSystem();
  usb.support = &queries;
  UsbCaptureResult result;
  cancelled = true;
  EXPECT_FALSE(CaptureUsbEnumeration(usb, kDevice, 2000, true, 5000, &result, &cancelled, &error));
  EXPECT_FALSE(cancelled);
  EXPECT_NE(error.find("Windows 8.1"), std::string::npos);
  EXPECT_EQ(CountCaptureLeftovers(), before);
}

TEST_F(CaptureSupportWinTest, HelpersWithoutHubRequestsReportAndCleanUp) {
  std::string temp;
  uint32_t code = 0;
  ASSERT_TRUE(SystemFileSystem().GetTempDirectory(&temp, &code));
  const int before = CountCaptureLeftovers();
  CaptureHelperSystem system = SystemCaptureHelperSystem(nullptr);

  const std::string result_file = temp + "vek_tool_capture_wintest_1.txt";
  std::string message;
  EXPECT_EQ(RunHidDescriptorCaptureHelper(system, kDevice, -1, 5000, result_file, &message), 1);
  EXPECT_FALSE(message.empty());
  std::string error_text;
  // The session start or the hub step fails; either way the message is kept.
  EXPECT_TRUE(ReadWholeFile(SystemFileSystem(), result_file + ".err", &error_text));
  EXPECT_EQ(error_text, message);
  SystemFileSystem().RemoveFile(result_file + ".err", &code);

  const std::string directory = temp + "vek_tool_usbcap_wintest_1";
  EXPECT_EQ(RunUsbEnumerationCaptureHelper(system, kDevice, 2000, false, 5000, directory), 1);
  std::string meta;
  EXPECT_TRUE(ReadWholeFile(SystemFileSystem(), directory + "\\meta.txt", &meta));
  EXPECT_EQ(MetaValue(meta, "error"), kNoHubRequestsMessage);
  RemoveCaptureDirectory(SystemFileSystem(), directory);
  EXPECT_EQ(CountCaptureLeftovers(), before);

  // Paths outside the result locations are refused before anything is made.
  EXPECT_EQ(RunUsbEnumerationCaptureHelper(system, kDevice, 2000, false, 5000, "C:\\vek_x"), 1);
  EXPECT_EQ(GetFileAttributesW(L"C:\\vek_x"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace vek_native
