// A close that ends the program (quit on close) tears the bridge down before
// the window is destroyed, and ends the process at once, with the exit code
// of a normal close, when jobs still run after the teardown: such a job can
// keep DestroyWindow or the process exit from returning.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/flutter_window_win.h"

namespace vek_native {
namespace {

TEST(CloseTeardownTest, JobsStillRunningAfterTheTeardownEndTheProcess) {
  SetEnvironmentVariableW(L"VEK_ENGINE_NO_DRIVER", L"1");
  for (const int running : {0, 1}) {
    std::vector<std::string> journal;
    FlutterWindowHooks hooks;
    hooks.detach = [&journal] { journal.push_back("detach"); };
    hooks.running_jobs = [&journal, running] {
      journal.push_back("jobs?");
      return running;
    };
    hooks.end_process = [&journal](UINT code) { journal.push_back("end " + std::to_string(code)); };
    FlutterWindow window(
        EngineProject{L"data\\flutter_assets", L"data\\icudtl.dat", L"data\\app.so", {}}, hooks);
    ASSERT_TRUE(window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(320, 200)));
    window.SetQuitOnClose(true);
    HWND hwnd = window.GetHandle();
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    // The window is gone either way (end_process is only recorded here), and
    // the bridge was detached once, before anything else.
    EXPECT_FALSE(IsWindow(hwnd)) << running;
    std::vector<std::string> expected = {"detach", "jobs?"};
    if (running > 0) expected.push_back("end 0");
    EXPECT_EQ(journal, expected) << running;
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
}

}  // namespace
}  // namespace vek_native
