#include "capture/elevated_helper.h"

#include <gtest/gtest.h>

#include "capture/hid_descriptor_capture.h"
#include "capture/usb_enumeration_capture.h"
#include "support/fake_file_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

using ComInit = ProcessLauncher::ComInit;
using WaitResult = ProcessLauncher::WaitResult;
const std::string kTemp = "C:\\Users\\u\\AppData\\Local\\Temp\\";

// The two capture modes' launches, a file and a directory location.
HelperLaunchValues Mode(bool hid) {
  return hid ? HidCaptureLaunchValues("USB\\1", -1, 5000)
             : UsbCaptureLaunchValues("USB\\1", 2000, true, 5000);
}

// One launch of a mode on fresh fakes, whose helper writes its answer where
// it was told to.
struct Launch {
  explicit Launch(bool hid) : values(Mode(hid)), file(hid) {
    launcher.on_start = [this](const std::string& p) { Answer(LastQuotedArgument(p)); };
    values.run_in_process = [this](const std::string& location) {
      Answer(location);
      return 1u;
    };
  }
  void Answer(const std::string& location) {
    ASSERT_TRUE(IsResultLocationFor(fs, location, values.result_prefix));
    fs.files[file ? location : location + "\\meta.txt"] = "success=1\n";
  }
  bool Run() { return LaunchElevatedHelper(launcher, fs, values, &result); }
  // The location made from the fakes' temp directory, process ID and tick.
  std::string Location() const {
    return TempName(kTemp, values.result_prefix, 4242, launcher.last_tick, file ? ".txt" : "");
  }
  bool Exists() const {
    return file ? fs.files.count(Location()) : fs.directories.count(Location());
  }

  HelperLaunchValues values;
  bool file;
  FakeFileSystem fs;
  FakeProcessLauncher launcher;
  HelperRunResult result;
};

// The helper's exit code comes back and its result location stays for the
// caller; COM, which the shell needs for the descriptor capture, is up only
// around the start. An elevated caller runs the helper in process.
TEST(LaunchElevatedHelperTest, StartsItselfOrRunsInProcess) {
  const std::tuple<bool, bool, ComInit, std::string> runs[] = {
      {true, false, ComInit::kAlreadyInitialised,
       "IsProcessElevated GetOwnPath InitializeCom StartElevated UninitializeCom Wait GetExitCode "
       "Close "},
      {false, false, ComInit::kInitialised,
       "IsProcessElevated GetOwnPath StartElevated Wait GetExitCode Close "},
      {false, true, ComInit::kInitialised, "IsProcessElevated "}};
  for (const auto& [hid, elevated, com, calls] : runs) {
    Launch l(hid);
    l.launcher.elevated = elevated;
    l.launcher.com_init = com;
    l.launcher.exit_code = 2;
    ASSERT_TRUE(l.Run()) << l.result.message;
    EXPECT_EQ(l.result.ran_in_process, elevated);
    EXPECT_EQ(l.result.exit_code, elevated ? 1u : 2u);
    EXPECT_EQ(l.result.result_location, l.Location());
    EXPECT_TRUE(l.Exists());
    EXPECT_EQ(l.launcher.open_handles, 0);
    std::string log;
    for (const std::string& call : l.launcher.calls) log += call + " ";
    EXPECT_EQ(log, calls);
    if (elevated) continue;
    EXPECT_EQ(l.launcher.started_file, l.launcher.own_path);
    EXPECT_EQ(l.launcher.started_parameters,
              (hid ? "--capture-hid-report-descriptors \"USB\\1\" -1 5000 \""
                   : "--capture-usb-enumeration \"USB\\1\" 2000 1 5000 \"") +
                  l.Location() + "\"");
    // The wait allows the time-out plus 15 s, or plus the duration and 30 s.
    EXPECT_EQ(l.launcher.wait_limits, std::vector<uint32_t>{hid ? 20000u : 37000u});
  }
}

// Each failure of the launch, for each mode: its message, the cancelled flag only for a
// declined prompt, no handle left open, nothing left on disk. A time-out
// ends the helper with exit code 1 and waits for it to go; so does a failed
// wait, except in the descriptor capture, which reads the exit code then.
TEST(LaunchElevatedHelperTest, Failures) {
  const struct {
    uint32_t start_error;
    bool handle;
    WaitResult wait;
    std::string hid_message, usb_message;  // empty: success
  } failures[] = {
      {1223, true, WaitResult::kSignalled, "用户取消了管理员授权",
       "用户取消了管理员授权（UAC），未执行 USB 抓包。"},
      {2, true, WaitResult::kSignalled, "无法以管理员身份启动描述符抓取（错误码 2）",
       "无法以管理员身份启动 USB 抓包（错误码 2）。"},
      {0, false, WaitResult::kSignalled, "无法获取管理员抓取进程句柄", kDefaultNoHandleMessage},
      {0, true, WaitResult::kTimedOut, "抓取 HID 报告描述符超时",
       "USB 抓包超时（等待 37000 毫秒）。"},
      {0, true, WaitResult::kFailed, "", "USB 抓包超时（等待 37000 毫秒）。"},
  };
  for (const bool hid : {true, false}) {
    for (const auto& f : failures) {
      Launch l(hid);
      const std::string& message = hid ? f.hid_message : f.usb_message;
      SCOPED_TRACE(message);
      l.launcher.start_error = f.start_error;
      l.launcher.gives_handle = f.handle;
      l.launcher.wait_results = {f.wait};
      l.result.cancelled = true;
      EXPECT_EQ(l.Run(), message.empty());
      EXPECT_EQ(l.result.message, message);
      EXPECT_EQ(l.result.cancelled, f.start_error == 1223);
      EXPECT_EQ(l.launcher.open_handles, 0);
      EXPECT_EQ(l.Exists(), message.empty());
      const bool ended = f.wait != WaitResult::kSignalled && !message.empty();
      EXPECT_EQ(l.launcher.terminated_with, ended ? std::optional<uint32_t>(1) : std::nullopt);
      EXPECT_EQ(l.launcher.wait_limits.size() == 2, ended);  // the end is waited for
    }
  }
  // Nothing starts without a temporary or result directory, the program's
  // path or parameters free of NUL. A result directory left from before is used.
  const std::pair<void (*)(Launch&), std::string> setups[] = {
      {[](Launch& l) { l.fs.errors["temp"] = 5; }, "无法获取系统临时目录（错误码 5）。"},
      {[](Launch& l) { l.fs.errors["mkdir"] = 5; }, "无法创建 USB 抓包临时目录（错误码 5）。"},
      {[](Launch& l) { l.fs.errors["mkdir"] = 183; }, ""},
      {[](Launch& l) { l.launcher.own_path.clear(); }, "无法获取 vek_tool.exe 路径（错误码 5）。"},
      {[](Launch& l) { l.launcher.exit_code_error = 6; },
       "无法获取 USB 抓包 helper 退出码（错误码 6）。"},
      {[](Launch& l) { l.values.parameters[0].text += '\0'; }, kParameterHasNulMessage}};
  for (const auto& [change, message] : setups) {
    Launch l(false);
    change(l);
    EXPECT_EQ(l.Run(), message.empty());
    EXPECT_EQ(l.result.message, message);
  }
}

// CommandLineToArgvW's rules: backslashes are doubled only before a quote,
// an escaped one inside or the closing one.
TEST(QuoteCommandLineArgumentTest, BackslashesDoubleOnlyBeforeAQuote) {
  EXPECT_EQ(QuoteCommandLineArgument(R"(a b\c\"d"\)"), R"("a b\c\\\"d\"\\")");
}

// Where an elevated helper may write: a name with the prefix directly in the
// temporary directory, compared case-blind on the directory only.
TEST(IsResultLocationForTest, OnlyNamesWithThePrefixDirectlyInTheTempDirectory) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"c:/vek_tool_reset_1.txt", "C:", true},
      {"\\\\srv\\s\\vek_tool_reset_1", "\\\\srv\\s\\", true},
      {"C:\\T\\vek_tool_reset_", "C:\\T\\", false},
      {"C:\\T\\VEK_TOOL_RESET_1", "C:\\T\\", false},
      {"C:\\T\\x\\vek_tool_reset_1", "C:\\T\\", false},
      {"C:\\T\\vek_tool_reset_1/../x", "C:\\T\\", false},
      {"C:\\T\\vek_tool_reset_1:s", "C:\\T\\", false},
      {"C:\\T\\vek_tool_reset_1\t", "C:\\T\\", false},  // a control character
      {"T\\vek_tool_reset_1", "T\\", false},            // not absolute
      {"C:\\T\\vek_tool_reset_1", "", false}};
  for (const auto& [path, temp, ok] : cases) {
    EXPECT_EQ(IsResultLocationFor(path, temp, "vek_tool_reset_"), ok) << path;
  }
  FakeFileSystem fs;
  std::string message;
  EXPECT_FALSE(IsResultLocationFor(fs, "C:\\Windows\\x", "vek_tool_reset_", &message));
  EXPECT_EQ(message, "结果路径不在临时目录中或名称不符，拒绝写入：C:\\Windows\\x");
}

}  // namespace
}  // namespace vek_native
