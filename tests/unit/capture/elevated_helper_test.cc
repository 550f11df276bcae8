#include "capture/elevated_helper.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "support/fake_file_system.h"
#include "support/fake_process_launcher.h"

namespace vek_native {
namespace {

using WaitResult = ProcessLauncher::WaitResult;

// CommandLineToArgvW's rules for the arguments after the program name,
// written from its documentation, to check the quoting against.
std::vector<std::string> SplitLikeCommandLineToArgv(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = s.size();
  for (;;) {
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
      if (s[i] == '\\') {
        size_t k = 0;
        while (i < n && s[i] == '\\') ++k, ++i;
        if (i < n && s[i] == '"') {
          arg.append(k / 2, '\\');
          if (k % 2 == 1) arg += '"', ++i;
        } else {
          arg.append(k, '\\');
        }
      } else if (s[i] == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

const std::vector<std::string>& HostileTexts() {
  // clang-format off
  static const std::vector<std::string> texts = {
      "", "plain", "with blank", "tab\there", "trailing\\", "trailing two\\\\", "quote\"inside",
      "\"", "\\\"", "\\\\\"x", "a\\b\\c", "USB\\VID_1A2B&PID_3C4D\\5&2&0&1",
      "x\" --reset-usb-device \"C:\\Windows\\evil",
      "C:\\Users\\张三\\AppData\\Local\\Temp\\vek_tool_reset_1_2.txt", "\\\\server\\share\\",
  };
  // clang-format on
  return texts;
}

TEST(QuoteCommandLineArgumentTest, EscapesQuotesAndBackslashesBeforeThem) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"a b", "\"a b\""},
      {"a\"b", "\"a\\\"b\""},
      {"a\\b", "\"a\\b\""},
      {"a\\", "\"a\\\\\""},
      {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
      {"\xE5\xBC\xA0", "\"\xE5\xBC\xA0\""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteCommandLineArgument(c.in), c.out) << c.in;
}

TEST(QuoteCommandLineArgumentTest, EveryHostileTextSurvivesTheSplit) {
  std::vector<HelperParameter> parameters;
  std::vector<std::string> expected = {"--mode"};
  for (const std::string& text : HostileTexts()) {
    parameters.push_back(HelperParameter::Text(text));
    expected.push_back(text);
    EXPECT_EQ(SplitLikeCommandLineToArgv(QuoteCommandLineArgument(text)),
              std::vector<std::string>{text});
  }
  parameters.push_back(HelperParameter::Number(-1));
  expected.push_back("-1");
  std::string text;
  ASSERT_TRUE(BuildHelperParameterText("--mode", parameters, &text));
  EXPECT_EQ(SplitLikeCommandLineToArgv(text), expected);
}

TEST(BuildHelperParameterTextTest, SwitchFirstThenOneBlankBetweenEach) {
  std::string text;
  ASSERT_TRUE(BuildHelperParameterText(
      "--capture-hid-report-descriptors",
      {HelperParameter::Text("USB\\VID_1A2B&PID_3C4D\\5"), HelperParameter::Number(-1),
       HelperParameter::Number(35000), HelperParameter::Text("C:\\T\\r.txt")},
      &text));
  EXPECT_EQ(text,
            "--capture-hid-report-descriptors \"USB\\VID_1A2B&PID_3C4D\\5\" -1 35000 "
            "\"C:\\T\\r.txt\"");
  EXPECT_FALSE(
      BuildHelperParameterText("--x", {HelperParameter::Text(std::string("a\0b", 3))}, &text));
}

// The three helper modes, differing only where the launcher must tell them
// apart; each message names its own field, so a mix-up shows.
HelperLaunchValues CommonValues(const char* helper_switch, const char* prefix) {
  HelperLaunchValues v;
  v.helper_switch = helper_switch;
  v.parameters = {HelperParameter::Text("USB\\VID_1A2B&PID_3C4D\\5&2&0&1")};
  v.result_prefix = prefix;
  v.temp_directory_failure = {"无法获取系统临时目录（错误码 ", "）。"};
  v.create_directory_failure = {"无法创建 USB 抓包临时目录（错误码 ", "）。"};
  v.own_path_failure = {"无法获取 vek_tool.exe 路径（错误码 ", "）。"};
  v.declined_message = "用户取消了管理员授权（UAC）。";
  v.start_failure = {"无法以管理员身份启动 helper（错误码 ", "）。"};
  v.timeout_message = "helper 超时。";
  v.exit_code_failure = {"无法获取 helper 退出码（错误码 ", "）。"};
  v.wait_limit_ms = 30000;
  v.remove_result_on_timeout = false;
  return v;
}

HelperLaunchValues HidCaptureValues() {
  HelperLaunchValues v = CommonValues("--capture-hid-report-descriptors", "vek_tool_capture_");
  v.parameters.push_back(HelperParameter::Number(-1));
  v.parameters.push_back(HelperParameter::Number(5000));
  v.companion_suffixes = {".err"};
  v.initialise_com = true;
  v.no_handle_message = "无法获取管理员抓取进程句柄";
  v.wait_limit_ms = 20000;
  v.wait_ending = HelperWaitEnding::kTimeoutOnly;
  v.remove_result_on_timeout = true;
  return v;
}

HelperLaunchValues ResetValues() { return CommonValues("--reset-usb-device", "vek_tool_reset_"); }

HelperLaunchValues UsbCaptureValues() {
  HelperLaunchValues v = CommonValues("--capture-usb-enumeration", "vek_tool_usbcap_");
  for (int64_t n : {6000, 1, 90000}) v.parameters.push_back(HelperParameter::Number(n));
  v.result_kind = ResultLocationKind::kDirectory;
  v.directory_files = {"meta.txt", "events.xml", "capture.etl"};
  v.wait_limit_ms = 126000;
  v.remove_result_on_timeout = true;
  return v;
}

struct Mode {
  const char* name;
  HelperLaunchValues (*values)();
  // The location made with the fakes' temp directory, process id and tick.
  std::string Location(const FakeProcessLauncher& launcher) const {
    const HelperLaunchValues v = values();
    return TempName("C:\\Users\\u\\AppData\\Local\\Temp\\", v.result_prefix, 4242,
                    launcher.fixed_tick.value_or(launcher.last_tick),
                    v.result_kind == ResultLocationKind::kFile ? ".txt" : "");
  }
};

const Mode kModes[] = {
    {"hid capture", HidCaptureValues},
    {"reset", ResetValues},
    {"usb capture", UsbCaptureValues},
};

bool LocationExists(FakeFileSystem& fs, const HelperLaunchValues& v, const std::string& at) {
  return v.result_kind == ResultLocationKind::kFile ? fs.files.count(at) > 0
                                                    : fs.directories.count(at) > 0;
}

// The helper writes its answer where the last argument says.
void WriteResultAtLastArgument(FakeFileSystem& fs, const HelperLaunchValues& v,
                               const std::string& parameters) {
  const std::string location = SplitLikeCommandLineToArgv(parameters).back();
  const std::string file =
      v.result_kind == ResultLocationKind::kFile ? location : location + "\\meta.txt";
  ASSERT_TRUE(IsResultLocationFor(fs, location, v.result_prefix));
  ASSERT_TRUE(WriteWholeFile(fs, file, std::string("success=1\n")));
}

TEST(LaunchElevatedHelperTest, NotElevatedStartsItselfAndHandsBackTheExitCode) {
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    FakeFileSystem fs;
    FakeProcessLauncher launcher;
    HelperLaunchValues v = mode.values();
    bool ran_in_process = false;
    v.run_in_process = [&](const std::string&) {
      ran_in_process = true;
      return 0u;
    };
    launcher.exit_code = 2;
    launcher.on_start = [&](const std::string& p) { WriteResultAtLastArgument(fs, v, p); };
    HelperRunResult r;
    ASSERT_TRUE(LaunchElevatedHelper(launcher, fs, v, &r)) << r.message;
    EXPECT_FALSE(ran_in_process);
    EXPECT_FALSE(r.ran_in_process);
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_EQ(r.result_location, mode.Location(launcher));
    EXPECT_EQ(launcher.started_file, launcher.own_path);
    std::vector<std::string> args = SplitLikeCommandLineToArgv(launcher.started_parameters);
    EXPECT_EQ(args.front(), v.helper_switch);
    EXPECT_EQ(args.back(), mode.Location(launcher));
    EXPECT_EQ(args.size(), v.parameters.size() + 2);
    EXPECT_EQ(launcher.wait_limits, std::vector<uint32_t>{v.wait_limit_ms});
    EXPECT_EQ(launcher.open_handles, 0);
    // The location stays for the caller to read.
    const std::string file = v.result_kind == ResultLocationKind::kFile
                                 ? r.result_location
                                 : r.result_location + "\\meta.txt";
    std::string text;
    ASSERT_TRUE(ReadWholeFile(fs, file, &text));
    EXPECT_EQ(MetaValue(text, "success"), "1");
    // COM, when the mode wants it, is up only around the elevated start.
    std::vector<std::string> calls = {"IsProcessElevated", "GetOwnPath", "StartElevated", "Wait",
                                      "GetExitCode",       "Close"};
    if (v.initialise_com) {
      calls.insert(calls.begin() + 3, "UninitializeCom");
      calls.insert(calls.begin() + 2, "InitializeCom");
    }
    EXPECT_EQ(launcher.calls, calls);
  }
}

TEST(LaunchElevatedHelperTest, ElevatedRunsInProcessThroughTheSameLocation) {
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    FakeFileSystem fs;
    FakeProcessLauncher launcher;
    launcher.elevated = true;
    HelperLaunchValues v = mode.values();
    std::string seen;
    v.run_in_process = [&](const std::string& location) {
      seen = location;
      WriteResultAtLastArgument(fs, v, QuoteCommandLineArgument(location));
      return 1u;
    };
    HelperRunResult r;
    ASSERT_TRUE(LaunchElevatedHelper(launcher, fs, v, &r));
    EXPECT_TRUE(r.ran_in_process);
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(seen, mode.Location(launcher));
    EXPECT_EQ(r.result_location, mode.Location(launcher));
    EXPECT_EQ(launcher.calls, std::vector<std::string>{"IsProcessElevated"});
    EXPECT_TRUE(LocationExists(fs, v, mode.Location(launcher)));
  }
}

// Each failure of the launch, for each mode: its message, the cancelled flag
// only for a declined prompt, no handle left open, nothing left on disk.
TEST(LaunchElevatedHelperTest, FailuresGiveTheModesMessages) {
  struct Failure {
    const char* name;
    void (*setup)(FakeProcessLauncher&);
    std::string (*message)(const HelperLaunchValues&);
    bool cancelled;
  };
  const Failure failures[] = {
      {"own path", [](FakeProcessLauncher& l) { l.own_path_error = 122; },
       [](const HelperLaunchValues& v) { return v.own_path_failure.Format(122); }, false},
      {"declined", [](FakeProcessLauncher& l) { l.start_error = 1223; },
       [](const HelperLaunchValues& v) { return v.declined_message; }, true},
      {"start", [](FakeProcessLauncher& l) { l.start_error = 2; },
       [](const HelperLaunchValues& v) { return v.start_failure.Format(2); }, false},
      {"no handle", [](FakeProcessLauncher& l) { l.gives_handle = false; },
       [](const HelperLaunchValues& v) {
         return v.no_handle_message.empty() ? std::string(kDefaultNoHandleMessage)
                                            : v.no_handle_message;
       },
       false},
      {"exit code", [](FakeProcessLauncher& l) { l.exit_code_error = 6; },
       [](const HelperLaunchValues& v) { return v.exit_code_failure.Format(6); }, false},
  };
  for (const Mode& mode : kModes) {
    for (const Failure& f : failures) {
      SCOPED_TRACE(std::string(mode.name) + " / " + f.name);
      FakeFileSystem fs;
      FakeProcessLauncher launcher;
      f.setup(launcher);
      const HelperLaunchValues v = mode.values();
      HelperRunResult r;
      r.cancelled = !f.cancelled;
      EXPECT_FALSE(LaunchElevatedHelper(launcher, fs, v, &r));
      EXPECT_EQ(r.message, f.message(v));
      EXPECT_EQ(r.cancelled, f.cancelled);
      EXPECT_EQ(launcher.open_handles, 0);
      EXPECT_FALSE(LocationExists(fs, v, mode.Location(launcher)));
      EXPECT_EQ(std::count(launcher.calls.begin(), launcher.calls.end(), "Wait"),
                std::string(f.name) == "exit code" ? 1 : 0);
    }
  }
}

// A time-out ends the helper with exit code 1 and cleans up as the mode
// says; so does a failed wait, unless the mode then reads the exit code.
TEST(LaunchElevatedHelperTest, TimeOutAndFailedWaitEndTheHelperAsTheModeSays) {
  for (const Mode& mode : kModes) {
    for (const WaitResult wait : {WaitResult::kTimedOut, WaitResult::kFailed}) {
      SCOPED_TRACE(std::string(mode.name) + (wait == WaitResult::kFailed ? " / failed" : ""));
      FakeFileSystem fs;
      FakeProcessLauncher launcher;
      launcher.wait_results = {wait};
      launcher.exit_code = 7;
      const HelperLaunchValues v = mode.values();
      launcher.on_start = [&](const std::string& p) { WriteResultAtLastArgument(fs, v, p); };
      HelperRunResult r;
      const bool ok = LaunchElevatedHelper(launcher, fs, v, &r);
      EXPECT_EQ(launcher.open_handles, 0);
      if (wait == WaitResult::kFailed && v.wait_ending == HelperWaitEnding::kTimeoutOnly) {
        EXPECT_TRUE(ok);
        EXPECT_EQ(r.exit_code, 7u);
        EXPECT_FALSE(launcher.terminated_with.has_value());
        continue;
      }
      EXPECT_FALSE(ok);
      EXPECT_EQ(r.message, v.timeout_message);
      EXPECT_FALSE(r.cancelled);
      EXPECT_EQ(launcher.terminated_with, 1u);
      if (wait == WaitResult::kFailed) continue;
      const std::vector<std::string> tail(launcher.calls.end() - 4, launcher.calls.end());
      EXPECT_EQ(tail, (std::vector<std::string>{"Wait", "Terminate 1", "Wait", "Close"}));
      // The reset leaves its result file; the captures remove theirs.
      EXPECT_EQ(LocationExists(fs, v, mode.Location(launcher)), !v.remove_result_on_timeout);
    }
  }
}

TEST(LaunchElevatedHelperTest, ResultLocationIsPreparedBeforeAnythingRuns) {
  // Leftovers of a file location and its companions go; a directory is made.
  FakeFileSystem fs;
  FakeProcessLauncher launcher;
  launcher.fixed_tick = 1ull << 62;
  const std::string hid = kModes[0].Location(launcher);
  fs.files[hid] = "old";
  fs.files[hid + ".err"] = "old error";
  launcher.on_start = [&](const std::string&) {
    EXPECT_EQ(fs.files.count(hid), 0u);
    EXPECT_EQ(fs.files.count(hid + ".err"), 0u);
  };
  HelperRunResult r;
  EXPECT_TRUE(LaunchElevatedHelper(launcher, fs, HidCaptureValues(), &r));

  FakeFileSystem dir_fs;
  FakeProcessLauncher usb;
  usb.fixed_tick = (1ull << 62) + 10;
  const std::string dir = kModes[2].Location(usb);
  dir_fs.directories.insert(dir);  // 183 is no failure
  usb.on_start = [&](const std::string&) { EXPECT_EQ(dir_fs.directories.count(dir), 1u); };
  EXPECT_TRUE(LaunchElevatedHelper(usb, dir_fs, UsbCaptureValues(), &r)) << r.message;
  RemoveResultLocation(dir_fs, UsbCaptureValues(), r.result_location);
  EXPECT_TRUE(dir_fs.directories.empty());
}

TEST(LaunchElevatedHelperTest, TempDirectoryAndCaptureDirectoryFailuresStopEarly) {
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    FakeFileSystem fs;
    fs.temp_error = 3;
    FakeProcessLauncher launcher;
    const HelperLaunchValues v = mode.values();
    HelperRunResult r;
    EXPECT_FALSE(LaunchElevatedHelper(launcher, fs, v, &r));
    EXPECT_EQ(r.message, v.temp_directory_failure.Format(3));
    EXPECT_TRUE(launcher.calls.empty());
  }
  FakeFileSystem fs;
  fs.make_directory_error = 5;
  FakeProcessLauncher launcher;
  HelperRunResult r;
  EXPECT_FALSE(LaunchElevatedHelper(launcher, fs, UsbCaptureValues(), &r));
  EXPECT_EQ(r.message, UsbCaptureValues().create_directory_failure.Format(5));
  EXPECT_TRUE(launcher.calls.empty());
}

TEST(LaunchElevatedHelperTest, ComIsBalancedWheneverItWasInitialised) {
  const struct {
    ProcessLauncher::ComInit init;
    bool uninitialised;
  } cases[] = {{ProcessLauncher::ComInit::kInitialised, true},
               {ProcessLauncher::ComInit::kAlreadyInitialised, true},
               {ProcessLauncher::ComInit::kFailed, false}};
  for (const auto& c : cases) {
    FakeFileSystem fs;
    FakeProcessLauncher launcher;
    launcher.com_init = c.init;
    launcher.start_error = 1223;
    HelperRunResult r;
    EXPECT_FALSE(LaunchElevatedHelper(launcher, fs, HidCaptureValues(), &r));
    EXPECT_EQ(std::count(launcher.calls.begin(), launcher.calls.end(), "UninitializeCom"),
              c.uninitialised ? 1 : 0);
  }
}

TEST(LaunchElevatedHelperTest, NulInATextParameterIsRefusedBeforeStarting) {
  FakeFileSystem fs;
  FakeProcessLauncher launcher;
  HelperLaunchValues v = ResetValues();
  v.parameters = {HelperParameter::Text(std::string("USB\\VID_1\0x", 11))};
  HelperRunResult r;
  EXPECT_FALSE(LaunchElevatedHelper(launcher, fs, v, &r));
  EXPECT_EQ(r.message, kParameterHasNulMessage);
  EXPECT_EQ(std::count(launcher.calls.begin(), launcher.calls.end(), "StartElevated"), 0);
}

TEST(IsResultLocationForTest, OnlyNamesWithThePrefixDirectlyInTheTempDirectory) {
  const std::string temp = "C:\\Users\\u\\AppData\\Local\\Temp\\";
  const struct {
    std::string path;
    bool ok;
  } cases[] = {
      {temp + "vek_tool_reset_1_2.txt", true},
      {"c:/users/U/appdata/local/temp/vek_tool_reset_1_2.txt", true},
      {temp + "vek_tool_reset_", false},
      {temp + "vek_tool_capture_1_2.txt", false},
      {temp + "VEK_TOOL_RESET_1_2.txt", false},
      {temp + "x\\vek_tool_reset_1_2.txt", false},
      {temp + "vek_tool_reset_1\\..\\..\\..\\Windows\\evil.dll", false},
      {temp + "vek_tool_reset_1/../evil", false},
      {temp + "..\\vek_tool_reset_1_2.txt", false},
      {"C:\\Users\\u\\AppData\\Local\\vek_tool_reset_1_2.txt", false},
      {"C:\\Windows\\vek_tool_reset_1_2.txt", false},
      {temp + "vek_tool_reset_1_2.txt:stream", false},
      {temp + "vek_tool_reset_1?", false},
      {"vek_tool_reset_1_2.txt", false},
      {"\\\\?\\" + temp + "vek_tool_reset_1_2.txt", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsResultLocationFor(c.path, temp, "vek_tool_reset_"), c.ok) << c.path;
  }
  EXPECT_TRUE(IsResultLocationFor(temp + "vek_tool_reset_1", temp.substr(0, temp.size() - 1),
                                  "vek_tool_reset_"));
  EXPECT_FALSE(IsResultLocationFor(temp + "vek_tool_reset_1", "", "vek_tool_reset_"));
  EXPECT_FALSE(IsResultLocationFor(temp + "vek_tool_reset_1", temp, ""));
  EXPECT_FALSE(IsResultLocationFor("Temp\\vek_tool_reset_1", "Temp\\", "vek_tool_reset_"));

  FakeFileSystem fs;
  std::string message;
  EXPECT_FALSE(IsResultLocationFor(fs, "C:\\Windows\\x", "vek_tool_reset_", &message));
  EXPECT_EQ(message, "结果路径不在临时目录中或名称不符，拒绝写入：C:\\Windows\\x");
}

TEST(MetaValueTest, FirstLineWhoseTrimmedKeyMatchesGivesTheUntrimmedValue) {
  const struct {
    std::string text, key, value;
  } cases[] = {
      {"success=1\nelapsedMs=12\n", "elapsedMs", "12"},
      {"message = hello\nmessage=second\n", "message", " hello"},
      {"\t message\r=x=y \r\n", "message", "x=y "},
      {"a=1\r\r\n", "a", "1\r"},
      {"error=\n", "error", ""},
      {"errors=1\nerror", "error", ""},
      {"", "a", ""},
      {"a=1", "A", ""},
      {"no equals here\na=last", "a", "last"},
      {"\n\n=empty key\n", "", "empty key"},
  };
  for (const auto& c : cases) EXPECT_EQ(MetaValue(c.text, c.key), c.value) << c.text;
}

}  // namespace
}  // namespace vek_native
