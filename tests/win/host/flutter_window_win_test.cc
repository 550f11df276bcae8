// The host window against the engine stand-in: routing of the bridge's and raw
// input's messages, attach/detach order, visibility at the first frame, and
// the title bar theme.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/flutter_window_win.h"

namespace vek_native {
namespace {

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

struct Journal {
  std::vector<std::string> entries;
  FlutterDesktopMessengerRef messenger = nullptr;
  HWND attached_window = nullptr;
  WPARAM input_wparam = 0;
  LPARAM input_lparam = 0;
  int count(const std::string& what) const {
    int n = 0;
    for (const auto& e : entries) n += e == what;
    return n;
  }
};

FlutterWindowHooks RecordingHooks(Journal* journal) {
  FlutterWindowHooks hooks;
  hooks.attach = [journal](FlutterDesktopMessengerRef messenger, HWND window) {
    journal->entries.push_back("attach");
    journal->messenger = messenger;
    journal->attached_window = window;
  };
  hooks.detach = [journal] {
    // The engine's messenger is still alive while the bridge detaches.
    journal->entries.push_back(
        FlutterDesktopMessengerIsAvailable(journal->messenger) ? "detach" : "detach-after-engine");
  };
  hooks.drain_events = [journal] { journal->entries.push_back("events"); };
  hooks.drain_async_outcomes = [journal] { journal->entries.push_back("outcomes"); };
  hooks.raw_input_message = [journal](WPARAM wparam, LPARAM lparam) {
    journal->entries.push_back("input");
    journal->input_wparam = wparam;
    journal->input_lparam = lparam;
  };
  hooks.raw_input_timer = [journal] { journal->entries.push_back("timer"); };
  return hooks;
}

EngineProject TestProject() {
  EngineProject project;
  project.assets_path = L"data\\flutter_assets";
  project.icu_data_path = L"data\\icudtl.dat";
  project.aot_library_path = L"data\\app.so";
  return project;
}

class FlutterWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No driver on this test's standard input.
    SetEnvironmentVariableW(L"VEK_ENGINE_NO_DRIVER", L"1");
  }
};

TEST_F(FlutterWindowTest, AttachesRoutesAndDetaches) {
  Journal journal;
  {
    FlutterWindow window(TestProject(), RecordingHooks(&journal));
    ASSERT_TRUE(
        window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(320, 200)));
    HWND hwnd = window.GetHandle();
    ASSERT_NE(hwnd, nullptr);
    ASSERT_EQ(journal.entries, std::vector<std::string>{"attach"});
    EXPECT_EQ(journal.attached_window, hwnd);
    EXPECT_NE(journal.messenger, nullptr);

    // Invisible until the engine's first frame, visible after it.
    EXPECT_FALSE(IsWindowVisible(hwnd));
    PumpPendingMessages();
    EXPECT_TRUE(IsWindowVisible(hwnd));

    // The engine view is the only child content.
    HWND child = GetWindow(hwnd, GW_CHILD);
    EXPECT_NE(child, nullptr);

    journal.entries.clear();
    PostMessageW(hwnd, 32849, 0, 0);
    PostMessageW(hwnd, 32850, 0, 0);
    PumpPendingMessages();
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"events", "outcomes"}));

    journal.entries.clear();
    EXPECT_EQ(SendMessageW(hwnd, WM_TIMER, 51825, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_TIMER, 7, 0), 0);  // default handling, not raw input
    EXPECT_EQ(journal.entries, std::vector<std::string>{"timer"});

    journal.entries.clear();
    SendMessageW(hwnd, WM_INPUT, 1, 0);  // default handling frees nothing: no handle
    EXPECT_EQ(journal.entries, std::vector<std::string>{"input"});
    EXPECT_EQ(journal.input_wparam, 1u);

    journal.entries.clear();
    DestroyWindow(hwnd);
    EXPECT_EQ(journal.entries, std::vector<std::string>{"detach"});
    EXPECT_EQ(window.GetHandle(), nullptr);

    // Posted to a window that is gone: nothing reaches a handler.
    EXPECT_FALSE(PostMessageW(hwnd, 32850, 0, 0));
    PumpPendingMessages();
  }
  EXPECT_EQ(journal.count("detach"), 1);
  EXPECT_EQ(journal.count("outcomes"), 0);
}

TEST_F(FlutterWindowTest, DestroyingTheObjectDetachesOnce) {
  Journal journal;
  {
    FlutterWindow window(TestProject(), RecordingHooks(&journal));
    ASSERT_TRUE(
        window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(320, 200)));
  }
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"attach", "detach"}));
}

TEST_F(FlutterWindowTest, WindowSizeFollowsTheMonitorDpi) {
  Journal journal;
  FlutterWindow window(TestProject(), RecordingHooks(&journal));
  ASSERT_TRUE(window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(640, 360)));
  const POINT origin = {10, 10};
  const UINT dpi =
      FlutterDesktopGetDpiForMonitor(MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST));
  RECT rect{};
  GetWindowRect(window.GetHandle(), &rect);
  EXPECT_EQ(rect.right - rect.left, static_cast<LONG>(640 * (dpi / 96.0)));
  EXPECT_EQ(rect.bottom - rect.top, static_cast<LONG>(360 * (dpi / 96.0)));
}

class ThemeTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = ActiveTitleBarTheme(); }
  void TearDown() override { ActiveTitleBarTheme() = saved_; }
  TitleBarTheme saved_;
};

TEST_F(ThemeTest, AppliesOnlyWhatWasRead) {
  struct Case {
    bool readable;
    DWORD value;
    std::vector<BOOL> applied;
  };
  const Case cases[] = {{false, 0, {}}, {true, 0, {TRUE}}, {true, 1, {FALSE}}};
  for (const Case& c : cases) {
    std::vector<BOOL> applied;
    ActiveTitleBarTheme().read = [&](DWORD* value) {
      *value = c.value;
      return c.readable;
    };
    ActiveTitleBarTheme().apply = [&](HWND, BOOL dark) { applied.push_back(dark); };
    UpdateTheme(nullptr);
    EXPECT_EQ(applied, c.applied);
  }
}

TEST_F(ThemeTest, ReadsTheRegistryValue) {
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  DWORD zero = 0;
  ASSERT_EQ(
      RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme", REG_DWORD, &zero, sizeof(zero)),
      ERROR_SUCCESS);
  DWORD value = 7;
  EXPECT_TRUE(saved_.read(&value));
  EXPECT_EQ(value, 0u);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme");
  EXPECT_FALSE(saved_.read(&value));
}

}  // namespace
}  // namespace vek_native
