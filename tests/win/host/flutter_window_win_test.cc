// The host window against the engine stand-in: attach and detach order, size
// and visibility, and the title bar theme.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/flutter_window_win.h"

namespace vek_native {
namespace {

using Entries = std::vector<std::string>;

void PumpPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

struct Journal {
  Entries entries;
  FlutterDesktopMessengerRef messenger = nullptr;
  HWND attached_window = nullptr;
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
  hooks.raw_input_message = [journal](WPARAM, LPARAM) { journal->entries.push_back("input"); };
  hooks.raw_input_timer = [journal] { journal->entries.push_back("timer"); };
  return hooks;
}

class FlutterWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No driver on this test's standard input.
    SetEnvironmentVariableW(L"VEK_ENGINE_NO_DRIVER", L"1");
  }
  static EngineProject Project() {
    EngineProject project;
    project.assets_path = L"data\\flutter_assets";
    project.icu_data_path = L"data\\icudtl.dat";
    project.aot_library_path = L"data\\app.so";
    return project;
  }
};

TEST_F(FlutterWindowTest, AttachesShowsAtTheFirstFrameAndDetachesOnce) {
  Journal journal;
  {
    FlutterWindow window(Project(), RecordingHooks(&journal));
    ASSERT_TRUE(
        window.Create(L"vek tool", Win32Window::Point(10, 10), Win32Window::Size(640, 360)));
    HWND hwnd = window.GetHandle();
    ASSERT_EQ(journal.entries, Entries{"attach"});
    EXPECT_EQ(journal.attached_window, hwnd);

    // Sized for the monitor's DPI.
    const UINT dpi =
        FlutterDesktopGetDpiForMonitor(MonitorFromPoint({10, 10}, MONITOR_DEFAULTTONEAREST));
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.right - rect.left, static_cast<LONG>(640 * (dpi / 96.0)));
    EXPECT_EQ(rect.bottom - rect.top, static_cast<LONG>(360 * (dpi / 96.0)));

    // Invisible until the engine's first frame, then shown with its view.
    EXPECT_FALSE(IsWindowVisible(hwnd));
    PumpPendingMessages();
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_NE(GetWindow(hwnd, GW_CHILD), nullptr);

    // The routing of the bridge's and raw input's messages is the end-to-end
    // tests' (every reply and every input event passes through it).
    journal.entries.clear();
    DestroyWindow(hwnd);
    EXPECT_EQ(journal.entries, Entries{"detach"});
    EXPECT_EQ(window.GetHandle(), nullptr);
  }
  EXPECT_EQ(journal.entries, Entries{"detach"});
}

TEST(ThemeTest, ReadsTheRegistryAndAppliesOnlyWhatWasRead) {
  const TitleBarTheme saved = ActiveTitleBarTheme();
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  DWORD zero = 0;
  ASSERT_EQ(
      RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme", REG_DWORD, &zero, sizeof(zero)),
      ERROR_SUCCESS);
  DWORD value = 7;
  EXPECT_TRUE(saved.read(&value));
  EXPECT_EQ(value, 0u);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme");
  EXPECT_FALSE(saved.read(&value));

  // Light theme 0 means a dark title bar; nothing is applied when unreadable.
  const struct {
    bool readable;
    DWORD value;
    std::vector<BOOL> applied;
  } cases[] = {{false, 0, {}}, {true, 0, {TRUE}}, {true, 1, {FALSE}}};
  for (const auto& c : cases) {
    std::vector<BOOL> applied;
    ActiveTitleBarTheme().read = [&](DWORD* read) {
      *read = c.value;
      return c.readable;
    };
    ActiveTitleBarTheme().apply = [&](HWND, BOOL dark) { applied.push_back(dark); };
    UpdateTheme(nullptr);
    EXPECT_EQ(applied, c.applied);
  }
  ActiveTitleBarTheme() = saved;
}

}  // namespace
}  // namespace vek_native
