// The USB layer against Wine's configuration manager, which has no USB
// devices or hubs: every reset must fail cleanly with the user's message.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "capture/elevated_helper.h"
#include "capture/file_system.h"
#include "common/clock.h"
#include "common/text.h"
#include "hid/hub_api.h"
#include "usb/usb_node.h"
#include "usb/usb_port.h"
#include "usb/usb_operations.h"
#include "usb/usb_reset.h"

namespace vek_native {
namespace {

constexpr char kAbsentDevice[] = "USB\\VID_1A2B&PID_3C4D\\VEK_TEST_ABSENT";

TEST(UsbPortWinTest, AnAbsentDeviceIsNotLocated) {
  uint32_t node = 1, port = 1;
  std::string message;
  EXPECT_FALSE(ResolveUsbDevicePort(WindowsDeviceTree(), kAbsentDevice, &node, &port, &message));
  EXPECT_EQ(node + port, 0u);
  EXPECT_EQ(message.rfind("无法定位 USB 设备节点（CM 错误 ", 0), 0u) << message;
}

TEST(UsbPortWinTest, OpeningAMissingHubReportsItsPath) {
  uint32_t error = 0;
  const std::string path = HubInterfacePath("USB\\ROOT_HUB30\\VEK_TEST_ABSENT");
  EXPECT_EQ(WindowsUsbHubApi().OpenHubWithAccess(Utf8ToUtf16(path), HubAccess::kRead, &error),
            nullptr);
  EXPECT_NE(error, 0u);
}

TEST(UsbResetWinTest, HelperModeWritesAFailureResult) {
  std::string temp;
  uint32_t error = 0;
  ASSERT_TRUE(SystemFileSystem().GetTempDirectory(&temp, &error));
  const std::string path =
      TempName(temp, kResetResultPrefix, GetCurrentProcessId(), GetTickCount64(), ".txt");
  EXPECT_EQ(RunResetUsbDeviceHelperMode(SystemUsbResetContext(), kAbsentDevice, path), 1);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(SystemFileSystem(), path, &text));
  SystemFileSystem().RemoveFile(path, &error);
  EXPECT_EQ(MetaValue(text, "success"), "0");
  EXPECT_EQ(MetaValue(text, "vidPid"), "1a2b:3c4d");
  EXPECT_EQ(MetaValue(text, "message").rfind("无法定位 USB 设备节点（CM 错误 ", 0), 0u) << text;

  // A path outside the temporary directory is never written.
  const std::string foreign = temp + "vek_other_result.txt";
  EXPECT_EQ(RunResetUsbDeviceHelperMode(SystemUsbResetContext(), kAbsentDevice, foreign), 1);
  EXPECT_FALSE(ReadWholeFile(SystemFileSystem(), foreign, &text));
}

TEST(UsbResetWinTest, AHidIdFailsBeforeAnythingRuns) {
  UsbResetResult result;
  bool cancelled = true;
  std::string message;
  EXPECT_FALSE(ResetUsbDevice(SystemUsbResetContext(), "HID\\VID_1A2B&PID_3C4D\\1", &result,
                              &cancelled, &message));
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(message, "usbInstanceId 不是有效的 USB 设备实例路径：HID\\VID_1A2B&PID_3C4D\\1");
}

// The program itself as the elevated helper: Wine reports every process as
// elevated, so "not elevated" is injected and the child is vek_tool.exe.
class ChildHelperLauncher : public WinProcessLauncher {
 public:
  bool IsProcessElevated() override { return false; }
  bool GetOwnPath(std::string* path, uint32_t* error) override {
    *path = program;
    return true;
  }
  bool StartElevated(const std::string& file, const std::string& parameters, ProcessHandle* process,
                     uint32_t* error) override {
    // The result file is the last quoted parameter.
    const size_t end = parameters.rfind('"');
    const size_t start = parameters.rfind('"', end - 1);
    result_path = parameters.substr(start + 1, end - start - 1);
    return WinProcessLauncher::StartElevated(file, parameters, process, error);
  }
  bool GetExitCode(ProcessHandle process, uint32_t* exit_code, uint32_t* error) override {
    const bool ok = WinProcessLauncher::GetExitCode(process, exit_code, error);
    if (ok) child_exit_code = *exit_code;
    return ok;
  }
  std::string program;
  std::string result_path;
  std::optional<uint32_t> child_exit_code;
};

// The build names the program by its host path; Wine sees the host's root as Z:.
std::string ProgramPath() {
#ifdef VEK_TOOL_EXE
  std::string path = VEK_TOOL_EXE;
  if (!path.empty() && path[0] == '/') {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path = "Z:" + path;
  }
  return path;
#else
  return "";
#endif
}

TEST(UsbResetWinTest, TheChildHelperReportsItsFailureAndTheFileIsRemoved) {
  ChildHelperLauncher launcher;
  launcher.program = ProgramPath();
  if (launcher.program.empty() ||
      GetFileAttributesW(Utf8ToWide(launcher.program).c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "vek_tool.exe is not built beside this test";
  }
  UsbResetContext context = SystemUsbResetContext();
  context.launcher = &launcher;
  UsbResetResult result;
  bool cancelled = true;
  std::string message;
  EXPECT_FALSE(ResetUsbDevice(context, kAbsentDevice, &result, &cancelled, &message));
  EXPECT_FALSE(cancelled);
  // The child had no hub to cycle: exit code 1 and its failure in the file,
  // which the launcher read and removed.
  EXPECT_EQ(launcher.child_exit_code, 1u);
  EXPECT_EQ(message.rfind("无法定位 USB 设备节点（CM 错误 ", 0), 0u) << message;
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.vidPid, "1a2b:3c4d");
  ASSERT_FALSE(launcher.result_path.empty());
  EXPECT_EQ(GetFileAttributesW(Utf8ToWide(launcher.result_path).c_str()), INVALID_FILE_ATTRIBUTES)
      << launcher.result_path;
}

// The root node's record is built without a USB parent.
TEST(UsbNodeWinTest, TheRootNodeHasARecord) {
  uint32_t root = 0;
  if (WindowsDeviceTree().LocateNode("", &root) != 0) {
    GTEST_SKIP() << "this configuration manager does not locate the root node by an empty ID";
  }
  const UsbNodeRecord record =
      BuildUsbNodeRecord(WindowsDeviceTree(), WindowsDevNodeProperties(), root, "");
  EXPECT_FALSE(record.instanceId.empty());
  EXPECT_EQ(record.usbInstanceId, "");
  EXPECT_FALSE(record.deviceStatus.empty());
}

}  // namespace
}  // namespace vek_native
