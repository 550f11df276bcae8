// The launch machinery and whole-file access against the real Windows calls
// under Wine. Wine starts a "runas" child at once without a prompt and reports
// every process as elevated, so the launches inject "not elevated" and start
// helper_child.exe (built beside this test). The program's own helper modes
// and their result files are the end-to-end tests'.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>

#include "capture/elevated_helper.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char kPrefix[] = "vek_tool_wintest_";

std::string TempDirectory() {
  std::string temp;
  uint32_t error = 0;
  EXPECT_TRUE(GetTempDirectory(&temp, &error)) << error;
  return temp;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The real launcher with "not elevated" injected and its own program named
// here: helper_child.exe beside this test, unless a test names another. It
// notes the child's exit code (also of one it terminated) and its result
// location, the last quoted parameter.
class NotElevatedLauncher : public WinProcessLauncher {
 public:
  NotElevatedLauncher() {
    uint32_t error = 0;
    EXPECT_TRUE(WinProcessLauncher::GetOwnPath(&own_path, &error)) << error;
    own_path = own_path.substr(0, own_path.find_last_of('\\') + 1) + "helper_child.exe";
  }
  bool IsProcessElevated() override { return false; }
  bool GetOwnPath(std::string* path, uint32_t*) override {
    *path = own_path;
    return true;
  }
  bool GetExitCode(ProcessHandle process, uint32_t* exit_code, uint32_t* error) override {
    const bool ok = WinProcessLauncher::GetExitCode(process, exit_code, error);
    if (ok) child_exit_code = *exit_code;
    return ok;
  }
  void Terminate(ProcessHandle process, uint32_t exit_code) override {
    WinProcessLauncher::Terminate(process, exit_code);
    WaitForSingleObject(process, 10000);
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) child_exit_code = code;
  }

  std::string own_path;
  std::optional<uint32_t> child_exit_code;
};

HelperLaunchValues TestValues(const std::string& helper_switch,
                              std::vector<HelperParameter> parameters) {
  HelperLaunchValues v;
  v.helper_switch = helper_switch;
  v.parameters = std::move(parameters);
  v.result_prefix = kPrefix;
  v.temp_directory_failure = {"temp ", ""};
  v.own_path_failure = {"own path ", ""};
  v.declined_message = "declined";
  v.start_failure = {"start ", ""};
  v.timeout_message = "timed out";
  v.exit_code_failure = {"exit code ", ""};
  v.wait_limit_ms = 60000;
  return v;
}

class ElevatedHelperWinTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Utf8ToWide(TempDirectory() + kPrefix + "*").c_str(), &data);
    EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "temporary files left behind";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }

  HelperRunResult Launch(const HelperLaunchValues& v, bool expect_ok = true) {
    HelperRunResult r;
    EXPECT_EQ(LaunchElevatedHelper(launcher_, SystemFileSystem(), v, &r), expect_ok) << r.message;
    return r;
  }

  NotElevatedLauncher launcher_;
};

TEST_F(ElevatedHelperWinTest, HostileParametersReachTheElevatedProcessUnchanged) {
  const std::vector<std::string> texts = {
      "",
      "tab\there",
      "trailing\\",
      "trailing two\\\\",
      "quote\"inside",
      "\"",
      "\\\"",
      "\\\\\"x",
      "x\" --reset-usb-device \"C:\\Windows\\evil",
      "\xE5\xBC\xA0\xE4\xB8\x89 \xE7\x9A\x84\xE9\x94\xAE\xE7\x9B\x98\\",
  };
  std::vector<HelperParameter> parameters;
  for (const std::string& text : texts) parameters.push_back(HelperParameter::Text(text));
  parameters.push_back(HelperParameter::Number(-1));
  const HelperLaunchValues v = TestValues("--echo", parameters);
  const HelperRunResult r = Launch(v);
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_FALSE(r.ran_in_process);
  EXPECT_TRUE(IsResultLocationFor(SystemFileSystem(), r.result_location, kPrefix));

  // helper_child.exe wrote back each argument CommandLineToArgvW gave it.
  std::string echoed;
  std::string message;
  ASSERT_TRUE(ReadWholeFile(SystemFileSystem(), r.result_location, &echoed, &message)) << message;
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
  std::vector<std::string> expected = {"--echo"};
  expected.insert(expected.end(), texts.begin(), texts.end());
  expected.push_back("-1");
  expected.push_back(r.result_location);
  std::string joined;
  for (const std::string& text : expected) joined += text + '\0';
  EXPECT_EQ(echoed, joined);
}

TEST_F(ElevatedHelperWinTest, ExitCodeComesBackAndAnOverdueHelperIsEndedWithOne) {
  HelperLaunchValues v = TestValues("--exit", {HelperParameter::Number(7)});
  HelperRunResult r = Launch(v);
  EXPECT_EQ(r.exit_code, 7u);
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);

  v = TestValues("--sleep", {HelperParameter::Number(60000)});
  v.wait_limit_ms = 500;
  r = Launch(v, false);
  EXPECT_EQ(r.message, "timed out");
  EXPECT_EQ(launcher_.child_exit_code, 1u);
  EXPECT_FALSE(Exists(r.result_location));
}

TEST_F(ElevatedHelperWinTest, CaptureDirectoryIsMadeFilledAndRemoved) {
  HelperLaunchValues v = TestValues("--write-meta", {});
  v.result_kind = ResultLocationKind::kDirectory;
  v.directory_files = {"meta.txt", "events.xml"};
  const HelperRunResult r = Launch(v);
  std::string meta;
  EXPECT_TRUE(ReadWholeFile(SystemFileSystem(), r.result_location + "\\meta.txt", &meta));
  EXPECT_EQ(MetaValue(meta, "success"), "1");
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
  EXPECT_FALSE(Exists(r.result_location));
}

TEST_F(ElevatedHelperWinTest, WholeFilesRoundTripAndFailuresCarryTheWindowsErrorCode) {
  const std::string path = TempDirectory() + kPrefix + "\xE5\xBC\xA0\xE4\xB8\x89.txt";
  for (const std::string& content :
       {std::string("a=1\r\nb=2\n"), std::string(), std::string(kWholeFileChunkBytes + 3, 'q')}) {
    std::string message;
    ASSERT_TRUE(WriteWholeFile(SystemFileSystem(), path, content, &message)) << message;
    std::vector<uint8_t> bytes = {9};
    ASSERT_TRUE(ReadWholeFile(SystemFileSystem(), path, &bytes, &message)) << message;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
  }
  EXPECT_TRUE(DeleteFileW(Utf8ToWide(path).c_str()));

  std::string text;
  std::string message;
  EXPECT_FALSE(ReadWholeFile(SystemFileSystem(), path, &text, &message));
  EXPECT_EQ(message, "无法读取文件 " + path + "（错误码 2）");
  const std::string nowhere = TempDirectory() + kPrefix + "no_dir\\x.txt";
  EXPECT_FALSE(WriteWholeFile(SystemFileSystem(), nowhere, std::string("x"), &message));
  EXPECT_EQ(message, "无法写入文件 " + nowhere + "（错误码 3）");
}

}  // namespace
}  // namespace vek_native
