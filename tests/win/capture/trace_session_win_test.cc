// The Windows side of the trace API under Wine. Wine's StartTraceW,
// EnableTraceEx2 and ControlTraceW are stubs that succeed without writing a
// trace, TdhEnumerateProviders ends the process (never called here) and there
// is no tracerpt.exe; files, directories and processes are real.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "capture/trace_session.h"
#include "common/text.h"

namespace vek_native {
namespace {

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

bool Exists(const std::u16string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(TraceSessionWinTest, DestroyingTheSessionDeletesItsTraceFile) {
  std::u16string log_path;
  {
    TraceSession session(&SystemTraceApi());
    std::string error;
    if (!StartTraceSession(session, &error)) {
      GTEST_SKIP() << "no trace session here (needs administrator rights): " << error;
    }
    log_path = session.log_path();
    // Wine's stub writes no file; stand in for the trace the system would write.
    if (!Exists(log_path)) std::ofstream(Wide(log_path).c_str()) << "etl";
    EXPECT_TRUE(
        EnableTraceProvider(session, kCaptureProviderTable[kHidClassProviderIndex].guid, &error))
        << error;
    StopTraceSession(session);
    EXPECT_TRUE(Exists(log_path));
  }
  EXPECT_FALSE(Exists(log_path));
}

TEST(TraceSessionWinTest, HiddenProcessGivesItsExitCode) {
  TraceApi& api = SystemTraceApi();
  std::u16string system;
  uint32_t error = 0;
  ASSERT_GT(api.ReadSystemDirectory(&system, &error), 0u);
  const std::u16string cmd = system + u"\\cmd.exe";
  uintptr_t process = 0;
  ASSERT_TRUE(api.StartHiddenProcess(cmd, u"\"" + cmd + u"\" /c exit 3", &process, &error))
      << error;
  EXPECT_EQ(api.WaitForProcess(process, 30000), ProcessWait::kExited);
  uint32_t exit_code = 1;
  EXPECT_TRUE(api.ReadProcessExitCode(process, &exit_code, &error));
  EXPECT_EQ(exit_code, 3u);
  api.CloseProcess(process);
}

TEST(TraceSessionWinTest, ConversionWithoutTracerptFailsWithTheStartError) {
  TraceApi& api = SystemTraceApi();
  if (IsTracerptAvailable(api)) GTEST_SKIP() << "tracerpt.exe exists here; this covers its absence";
  std::u16string temp;
  uint32_t error = 0;
  ASSERT_TRUE(api.ReadTempDirectory(&temp, &error));
  const std::u16string xml = temp + u"vek_tool_cap_test_missing.xml";
  std::string message;
  EXPECT_FALSE(ConvertTraceToXml(api, temp + u"vek_tool_cap_test_missing.etl", xml, &message));
  EXPECT_EQ(message, "无法启动 tracerpt.exe（错误码 2）");
  EXPECT_FALSE(Exists(xml));
}

}  // namespace
}  // namespace vek_native
