// The launch machinery against the real Windows calls under Wine. Wine starts
// a "runas" child at once without a prompt and reports every process as
// elevated, so these tests inject "not elevated" and start helper_child.exe
// (built beside this test) in place of the program itself.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
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

std::string ChildPath() {
  std::string own;
  uint32_t error = 0;
  WinProcessLauncher real;
  EXPECT_TRUE(real.GetOwnPath(&own, &error)) << error;
  return own.substr(0, own.find_last_of('\\') + 1) + "helper_child.exe";
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int CountLeftovers() {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Utf8ToWide(TempDirectory() + kPrefix + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    ++count;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

// The real launcher with the elevation answer and its own path injected; it
// also notes the exit code a terminated helper ended with.
class NotElevatedLauncher : public WinProcessLauncher {
 public:
  bool IsProcessElevated() override { return false; }
  bool GetOwnPath(std::string* path, uint32_t* error) override {
    *path = own_path;
    return true;
  }
  void Terminate(ProcessHandle process, uint32_t exit_code) override {
    WinProcessLauncher::Terminate(process, exit_code);
    WaitForSingleObject(process, 10000);
    DWORD code = 0;
    if (GetExitCodeProcess(process, &code)) terminated_exit_code = code;
  }

  std::string own_path = ChildPath();
  std::optional<DWORD> terminated_exit_code;
};

HelperLaunchValues TestValues(const std::string& helper_switch,
                              std::vector<HelperParameter> parameters) {
  HelperLaunchValues v;
  v.helper_switch = helper_switch;
  v.parameters = std::move(parameters);
  v.result_prefix = kPrefix;
  v.result_kind = ResultLocationKind::kFile;
  v.temp_directory_failure = {"temp ", ""};
  v.own_path_failure = {"own path ", ""};
  v.declined_message = "declined";
  v.start_failure = {"start ", ""};
  v.timeout_message = "timed out";
  v.exit_code_failure = {"exit code ", ""};
  v.wait_limit_ms = 60000;
  return v;
}

const std::vector<std::string>& HostileTexts() {
  static const std::vector<std::string> texts = {
      "",
      "plain",
      "with blank",
      "tab\there",
      "trailing\\",
      "trailing two\\\\",
      "quote\"inside",
      "\"",
      "\\\"",
      "\\\\\"x",
      "USB\\VID_1A2B&PID_3C4D\\5&2&0&1",
      "x\" --reset-usb-device \"C:\\Windows\\evil",
      "\xE5\xBC\xA0\xE4\xB8\x89 \xE7\x9A\x84\xE9\x94\xAE\xE7\x9B\x98\\",
      "\\\\server\\share\\",
  };
  return texts;
}

class ElevatedHelperWinTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(CountLeftovers(), 0) << "temporary files left behind"; }
};

TEST_F(ElevatedHelperWinTest, WineReportsTheProcessElevatedAndATempDirectory) {
  EXPECT_TRUE(IsProcessElevated()) << "the token query found no elevation";
  const std::string temp = TempDirectory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(temp).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(ElevatedHelperWinTest, QuotedParametersComeBackFromCommandLineToArgvW) {
  std::vector<HelperParameter> parameters;
  std::vector<std::string> expected = {"prog.exe", "--echo"};
  for (const std::string& text : HostileTexts()) {
    parameters.push_back(HelperParameter::Text(text));
    expected.push_back(text);
  }
  std::string text;
  ASSERT_TRUE(BuildHelperParameterText("--echo", parameters, &text));
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(Utf8ToWide("prog.exe " + text).c_str(), &argc);
  ASSERT_NE(argv, nullptr);
  std::vector<std::string> got;
  for (int i = 0; i < argc; ++i) got.push_back(WideToUtf8(argv[i]));
  LocalFree(argv);
  EXPECT_EQ(got, expected);
}

TEST_F(ElevatedHelperWinTest, HostileParametersReachTheElevatedProcessUnchanged) {
  std::vector<HelperParameter> parameters;
  for (const std::string& text : HostileTexts()) parameters.push_back(HelperParameter::Text(text));
  parameters.push_back(HelperParameter::Number(-1));
  parameters.push_back(HelperParameter::Number(35000));
  const HelperLaunchValues v = TestValues("--echo", parameters);
  NotElevatedLauncher launcher;
  HelperRunResult r;
  ASSERT_TRUE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r)) << r.message;
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_FALSE(r.ran_in_process);

  std::string echoed;
  std::string message;
  ASSERT_TRUE(ReadWholeFile(SystemFileSystem(), r.result_location, &echoed, &message)) << message;
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
  std::vector<std::string> args;
  size_t start = 0;
  for (size_t end; (end = echoed.find('\0', start)) != std::string::npos; start = end + 1) {
    args.push_back(echoed.substr(start, end - start));
  }
  std::vector<std::string> expected = {"--echo"};
  expected.insert(expected.end(), HostileTexts().begin(), HostileTexts().end());
  expected.push_back("-1");
  expected.push_back("35000");
  expected.push_back(r.result_location);
  EXPECT_EQ(args, expected);
  EXPECT_TRUE(IsResultLocationFor(SystemFileSystem(), r.result_location, kPrefix));
}

TEST_F(ElevatedHelperWinTest, ExitCodeOfTheHelperComesBack) {
  const HelperLaunchValues v = TestValues("--exit", {HelperParameter::Number(7)});
  NotElevatedLauncher launcher;
  HelperRunResult r;
  ASSERT_TRUE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r)) << r.message;
  EXPECT_EQ(r.exit_code, 7u);
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
}

TEST_F(ElevatedHelperWinTest, HelperOverTheLimitIsTerminatedWithExitCodeOne) {
  HelperLaunchValues v = TestValues("--sleep", {HelperParameter::Number(60000)});
  v.wait_limit_ms = 500;
  NotElevatedLauncher launcher;
  HelperRunResult r;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(r.message, "timed out");
  EXPECT_EQ(launcher.terminated_exit_code, 1u);
  EXPECT_FALSE(Exists(r.result_location));
}

TEST_F(ElevatedHelperWinTest, CaptureDirectoryIsMadeFilledAndRemoved) {
  HelperLaunchValues v = TestValues("--write-meta", {});
  v.result_kind = ResultLocationKind::kDirectory;
  v.directory_files = {"meta.txt", "events.xml"};
  NotElevatedLauncher launcher;
  HelperRunResult r;
  ASSERT_TRUE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r)) << r.message;
  EXPECT_EQ(r.exit_code, 0u);
  std::string meta;
  EXPECT_TRUE(ReadWholeFile(SystemFileSystem(), r.result_location + "\\meta.txt", &meta));
  EXPECT_EQ(MetaValue(meta, "success"), "1");
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
  EXPECT_FALSE(Exists(r.result_location));
}

TEST_F(ElevatedHelperWinTest, MissingExecutableIsAStartFailure) {
  const HelperLaunchValues v = TestValues("--exit", {HelperParameter::Number(0)});
  NotElevatedLauncher launcher;
  launcher.own_path = TempDirectory() + "no_such_program_here.exe";
  HelperRunResult r;
  EXPECT_FALSE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r));
  EXPECT_EQ(r.message.rfind("start ", 0), 0u) << r.message;
  EXPECT_NE(r.message, "start 0");
  EXPECT_FALSE(r.cancelled);
}

TEST_F(ElevatedHelperWinTest, ElevatedProcessRunsTheHelperInProcess) {
  WinProcessLauncher launcher;
  if (!launcher.IsProcessElevated()) GTEST_SKIP() << "needs an elevated process";
  HelperLaunchValues v = TestValues("--exit", {HelperParameter::Number(0)});
  v.run_in_process = [](const std::string& location) {
    return WriteWholeFile(SystemFileSystem(), location, std::string("success=1\n")) ? 3u : 99u;
  };
  HelperRunResult r;
  ASSERT_TRUE(LaunchElevatedHelper(launcher, SystemFileSystem(), v, &r));
  EXPECT_TRUE(r.ran_in_process);
  EXPECT_EQ(r.exit_code, 3u);
  std::string text;
  EXPECT_TRUE(ReadWholeFile(SystemFileSystem(), r.result_location, &text));
  EXPECT_EQ(text, "success=1\n");
  RemoveResultLocation(SystemFileSystem(), v, r.result_location);
}

TEST_F(ElevatedHelperWinTest, WholeFilesRoundTrip) {
  const std::string path = TempDirectory() + kPrefix + "\xE5\xBC\xA0\xE4\xB8\x89.txt";
  const std::string big(kWholeFileChunkBytes + 3, 'q');
  for (const std::string& content : {std::string("a=1\r\nb=2\n"), std::string(), big}) {
    std::string message;
    ASSERT_TRUE(WriteWholeFile(SystemFileSystem(), path, content, &message)) << message;
    std::vector<uint8_t> bytes = {9};
    ASSERT_TRUE(ReadWholeFile(SystemFileSystem(), path, &bytes, &message)) << message;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
  }
  EXPECT_TRUE(DeleteFileW(Utf8ToWide(path).c_str()));
}

TEST_F(ElevatedHelperWinTest, WholeFileFailuresCarryTheWindowsErrorCode) {
  const std::string missing = TempDirectory() + kPrefix + "missing.txt";
  std::string text;
  std::string message;
  EXPECT_FALSE(ReadWholeFile(SystemFileSystem(), missing, &text, &message));
  EXPECT_EQ(message, "无法读取文件 " + missing + "（错误码 2）");

  const std::string nowhere = TempDirectory() + kPrefix + "no_dir\\x.txt";
  EXPECT_FALSE(WriteWholeFile(SystemFileSystem(), nowhere, std::string("x"), &message));
  EXPECT_EQ(message, "无法写入文件 " + nowhere + "（错误码 3）");
}

TEST_F(ElevatedHelperWinTest, SixHundredMebibyteFileIsRefusedWithoutReading) {
  const std::string path = TempDirectory() + kPrefix + "huge.bin";
  const std::wstring wide = Utf8ToWide(path);
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 600ll << 20;
  const bool sized = SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (sized) {
    std::vector<uint8_t> bytes;
    std::string message;
    EXPECT_FALSE(ReadWholeFile(SystemFileSystem(), path, &bytes, &message));
    EXPECT_EQ(message, "文件过大，拒绝读取 " + path);
    EXPECT_TRUE(bytes.empty());
  }
  EXPECT_TRUE(DeleteFileW(wide.c_str()));
  ASSERT_TRUE(sized) << "could not size the file";
}

}  // namespace
}  // namespace vek_native
