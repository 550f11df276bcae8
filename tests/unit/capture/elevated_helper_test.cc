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

// What CommandLineToArgvW makes of hostile texts is checked under Wine.
TEST(HelperParameterTextTest, QuotingAndTheSwitchLine) {
  EXPECT_EQ(QuoteCommandLineArgument("a\\b \\\\\"c\\"), "\"a\\b \\\\\\\\\\\"c\\\\\"");
  std::string text;
  ASSERT_TRUE(BuildHelperParameterText(
      "--mode", {HelperParameter::Text("USB\\1"), HelperParameter::Number(-1)}, &text));
  EXPECT_EQ(text, "--mode \"USB\\1\" -1");
  EXPECT_FALSE(BuildHelperParameterText("--x", {HelperParameter::Text({"a\0b", 3})}, &text));
}

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
    return TempName(kTemp, values.result_prefix, 4242,
                    launcher.fixed_tick.value_or(launcher.last_tick), file ? ".txt" : "");
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
      {true, false, ComInit::kFailed,
       "IsProcessElevated GetOwnPath InitializeCom StartElevated Wait GetExitCode Close "},
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

// Each failure, for each mode: its message, the cancelled flag only for a
// declined prompt, no handle left open, nothing left on disk. A time-out
// ends the helper with exit code 1 and waits for it to go; so does a failed
// wait, except in the descriptor capture, which reads the exit code then.
TEST(LaunchElevatedHelperTest, Failures) {
  const struct {
    uint32_t temp_error, own_path_error;
    uint32_t start_error;
    bool handle;
    WaitResult wait;
    uint32_t exit_code_error;
    std::string hid_message, usb_message;  // empty: success
  } failures[] = {
      {3, 0, 0, true, WaitResult::kSignalled, 0, "无法获取临时目录（错误码 3）",
       "无法获取系统临时目录（错误码 3）。"},
      {0, 122, 0, true, WaitResult::kSignalled, 0, "无法获取当前可执行文件路径（错误码 122）",
       "无法获取 vek_tool.exe 路径（错误码 122）。"},
      {0, 0, 1223, true, WaitResult::kSignalled, 0, "用户取消了管理员授权",
       "用户取消了管理员授权（UAC），未执行 USB 抓包。"},
      {0, 0, 2, true, WaitResult::kSignalled, 0, "无法以管理员身份启动描述符抓取（错误码 2）",
       "无法以管理员身份启动 USB 抓包（错误码 2）。"},
      {0, 0, 0, false, WaitResult::kSignalled, 0, "无法获取管理员抓取进程句柄",
       kDefaultNoHandleMessage},
      {0, 0, 0, true, WaitResult::kSignalled, 6, "无法获取抓取进程退出码（错误码 6）",
       "无法获取 USB 抓包 helper 退出码（错误码 6）。"},
      {0, 0, 0, true, WaitResult::kTimedOut, 0, "抓取 HID 报告描述符超时",
       "USB 抓包超时（等待 37000 毫秒）。"},
      {0, 0, 0, true, WaitResult::kFailed, 0, "", "USB 抓包超时（等待 37000 毫秒）。"},
  };
  for (const bool hid : {true, false}) {
    for (const auto& f : failures) {
      Launch l(hid);
      const std::string& message = hid ? f.hid_message : f.usb_message;
      SCOPED_TRACE(message);
      if (f.temp_error != 0) l.fs.errors["temp"] = f.temp_error;
      l.launcher.own_path_error = f.own_path_error;
      l.launcher.start_error = f.start_error;
      l.launcher.gives_handle = f.handle;
      l.launcher.wait_results = {f.wait};
      l.launcher.exit_code_error = f.exit_code_error;
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
}

TEST(LaunchElevatedHelperTest, ResultLocationIsPreparedBeforeAnythingRuns) {
  // Leftovers of a file location and its error file go; a directory that
  // already exists is no failure, and goes with its files.
  uint64_t tick = 1ull << 62;
  for (const bool hid : {true, false}) {
    Launch l(hid);
    l.launcher.fixed_tick = tick += 10;
    const std::string at = l.Location();
    l.fs.files = {{hid ? at : at + "\\meta.txt", "old"}, {at + ".err", "old error"}};
    l.fs.directories = {at};
    l.launcher.on_start = [&](const std::string&) { EXPECT_EQ(l.fs.files.size(), hid ? 0u : 2u); };
    EXPECT_TRUE(l.Run()) << l.result.message;
    RemoveResultLocation(l.fs, l.values, at);
    EXPECT_EQ(l.fs.directories.empty(), !hid);
  }
  Launch l(false);
  l.fs.errors["mkdir"] = 5;
  EXPECT_FALSE(l.Run());
  EXPECT_EQ(l.result.message, "无法创建 USB 抓包临时目录（错误码 5）。");
  EXPECT_TRUE(l.launcher.calls.empty());
}

TEST(IsResultLocationForTest, OnlyNamesWithThePrefixDirectlyInTheTempDirectory) {
  const auto ok = [](const std::string& path, const std::string& temp = "C:\\T\\") {
    return IsResultLocationFor(path, temp, "vek_tool_reset_");
  };
  EXPECT_TRUE(ok("C:\\T\\vek_tool_reset_1.txt"));
  EXPECT_TRUE(ok("c:/t/vek_tool_reset_1"));
  EXPECT_TRUE(ok("C:\\T\\vek_tool_reset_1", "C:\\T"));
  EXPECT_TRUE(ok("\\\\srv\\s\\vek_tool_reset_1", "\\\\srv\\s"));
  for (const char* path :
       {"C:\\T\\vek_tool_reset_", "C:\\T\\VEK_TOOL_RESET_1", "C:\\vek_tool_reset_1",
        "C:\\T\\x\\vek_tool_reset_1", "C:\\T\\vek_tool_reset_1/../x", "C:\\T\\vek_tool_reset_1:s",
        "C:\\T\\vek_tool_reset_1\x1F"}) {
    EXPECT_FALSE(ok(path)) << path;
  }
  EXPECT_FALSE(ok("T\\vek_tool_reset_1", "T\\"));  // not absolute
  EXPECT_FALSE(ok("\\\\\\vek_tool_reset_1", "\\\\\\"));
  EXPECT_FALSE(ok("C:\\T\\vek_tool_reset_1", ""));
  EXPECT_FALSE(IsResultLocationFor("C:\\T\\vek_tool_reset_1", "C:\\T\\", ""));
  FakeFileSystem fs;
  std::string message;
  EXPECT_FALSE(IsResultLocationFor(fs, "C:\\Windows\\x", "vek_tool_reset_", &message));
  EXPECT_EQ(message, "结果路径不在临时目录中或名称不符，拒绝写入：C:\\Windows\\x");
}

// The first line whose trimmed key matches gives its value, untrimmed.
TEST(MetaValueTest, Rules) {
  EXPECT_EQ(MetaValue("message = hello\nmessage=second\n", "message"), " hello");
  EXPECT_EQ(MetaValue("no equals here\n\t message\r=x=y \r\n", "message"), "x=y ");
  EXPECT_EQ(MetaValue("a=1\r\r\n", "a"), "1\r");
  EXPECT_EQ(MetaValue("a=1", "A"), "");
}

}  // namespace
}  // namespace vek_native
