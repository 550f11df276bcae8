// The save dialog under Wine, driven from another thread that finds the
// dialog (#32770) and cancels it or puts a file name into it and confirms:
// the dialog routine itself with window messages, and "pickSaveFile" through
// the bridge with keys typed on the X display (under x_relay.sh).
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "bridge/save_dialog.h"
#include "common/text.h"
#include "unit/bridge/bridge_test_support.h"
#include "win/bridge/own_operations_bridge.h"
#include "win/bridge/run_unix.h"

namespace vek_native {
namespace {

BOOL CALLBACK FindEdit(HWND child, LPARAM found) {
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  if (lstrcmpiW(name, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

// Waits (generously) for this process's dialog and acts on it with `drive`;
// a dialog the drive left open is closed after a grace, so the dialog's
// caller always ends. True when the drive succeeded and closed the dialog.
template <typename Drive>
bool DriveDialog(Drive drive) {
  HWND dialog = nullptr;
  const auto shown_by = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((dialog = FindWindowW(L"#32770", nullptr)) == nullptr || !IsWindowVisible(dialog)) {
    if (std::chrono::steady_clock::now() > shown_by) return false;
    Sleep(20);
  }
  HWND edit = nullptr;
  EnumChildWindows(dialog, FindEdit, reinterpret_cast<LPARAM>(&edit));
  bool driven = edit != nullptr && drive(dialog, edit);
  const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (HWND open = FindWindowW(L"#32770", nullptr)) {
    if (std::chrono::steady_clock::now() > grace) {
      driven = false;
      PostMessageW(open, WM_CLOSE, 0, 0);
      Sleep(500);
    } else {
      Sleep(20);
    }
  }
  return driven;
}

struct DialogRun {
  bool ok = false;
  std::string path;
  std::string message;
  bool driven = false;
};

// The dialog on a worker thread (its own COM apartment, as the bridge's job
// thread has) while `drive` acts on it from this one.
template <typename Drive>
DialogRun RunDialog(const std::string& name, const std::string& directory, Drive drive) {
  DialogRun run;
  std::thread worker([&] {
    run.ok =
        ShowSaveDialog(nullptr, name, directory, "", {"html", "", "htm"}, &run.path, &run.message);
  });
  run.driven = DriveDialog(drive);
  worker.join();
  return run;
}

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  std::string directory = WideToUtf8(buffer);
  directory.pop_back();  // the trailing backslash
  return directory;
}

TEST(SaveDialogWinTest, CancelAnswersAnEmptyPathAndAMissingFolderIsIgnored) {
  const DialogRun run = RunDialog("report.html", "C:\\no\\such\\folder", [](HWND dialog, HWND) {
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0) != FALSE;
  });
  EXPECT_TRUE(run.driven);
  EXPECT_TRUE(run.ok) << run.message;
  EXPECT_EQ(run.path, "");
}

TEST(SaveDialogWinTest, ANameWithoutExtensionGetsTheDefaultOne) {
  const std::string expected = TempDirectory() + "\\vek_save_dialog_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  const DialogRun run = RunDialog("", TempDirectory(), [](HWND dialog, HWND edit) {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"vek_save_dialog_test"));
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) != FALSE;
  });
  EXPECT_TRUE(run.driven);
  EXPECT_TRUE(run.ok) << run.message;
  EXPECT_EQ(run.path, expected);
}

NativeBridge* g_bridge = nullptr;  // the bridge the owner window serves

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kOutcomesReadyMessage && g_bridge != nullptr) g_bridge->DrainAsyncOutcomes();
  return DefWindowProcW(window, message, wparam, lparam);
}

// "pickSaveFile" as the product wires it: this thread owns the owner window
// and takes the job's outcome on it, while another clicks the dialog's name
// field and types a name and Return on the X display.
TEST(SaveDialogWinTest, PickSaveFileWithANameTypedOnTheDisplayAnswersItsPath) {
  if (!XRelayAvailable()) GTEST_SKIP() << "keys are typed on the X display only under x_relay.sh";
  const std::string expected = TempDirectory() + "\\vek_typed_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = OwnerProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"VekSaveDialogOwner";
  RegisterClassW(&window_class);
  HWND owner = CreateWindowExW(0, L"VekSaveDialogOwner", L"save dialog owner",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  testing_support::NullMessenger messenger;
  NativeBridge bridge;
  AttachWithOwnOperations(bridge, &messenger, owner);
  g_bridge = &bridge;

  bool driven = false;
  std::thread driver([&driven] {
    driven = DriveDialog([](HWND, HWND edit) {
      RECT rect;
      GetWindowRect(edit, &rect);
      return RunXdotool(L"mousemove " + std::to_wstring((rect.left + rect.right) / 2) + L" " +
                        std::to_wstring((rect.top + rect.bottom) / 2) + L" click 1") &&
             RunXdotool(L"type vek_typed_test") && RunXdotool(L"key Return");
    });
  });
  EncodableMap args;
  args[EncodableValue("defaultDirectory")] = EncodableValue(TempDirectory());
  auto reply = testing_support::Call(bridge, "pickSaveFile", EncodableValue(std::move(args)));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (reply->replies == 0 && std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(5);
  }
  driver.join();
  bridge.Detach();
  g_bridge = nullptr;
  DestroyWindow(owner);

  EXPECT_TRUE(driven) << "xdotool could not type the name, or it did not close the dialog";
  ASSERT_EQ(reply->replies, 1);
  EXPECT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << reply->message;
  EXPECT_EQ(reply->value, EncodableValue(expected));
}

}  // namespace
}  // namespace vek_native
