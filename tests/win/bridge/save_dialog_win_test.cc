// The save dialog under Wine, driven from a helper thread that finds the
// dialog (#32770) and cancels it or types a file name into it and confirms:
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

// The visible dialog of this process; null after a generous limit.
HWND WaitForDialog() {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    HWND dialog = FindWindowW(L"#32770", nullptr);
    if (dialog != nullptr && IsWindowVisible(dialog)) return dialog;
    Sleep(20);
  }
  return nullptr;
}

BOOL CALLBACK FindEdit(HWND child, LPARAM found) {
  wchar_t name[32] = {};
  GetClassNameW(child, name, 32);
  if (lstrcmpiW(name, L"Edit") == 0 && IsWindowVisible(child)) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// Moves the X pointer onto the dialog's file name field and clicks it, so
// keys typed on the display go to that field.
bool ClickNameField(HWND dialog) {
  HWND edit = nullptr;
  EnumChildWindows(dialog, FindEdit, reinterpret_cast<LPARAM>(&edit));
  RECT rect;
  GetWindowRect(edit != nullptr ? edit : dialog, &rect);
  const std::wstring x = std::to_wstring((rect.left + rect.right) / 2);
  const std::wstring y = std::to_wstring((rect.top + rect.bottom) / 2);
  return RunXdotool(L"mousemove " + x + L" " + y + L" click 1");
}

struct DialogRun {
  bool ok = false;
  std::string path;
  std::string message;
  bool forced = false;  // the dialog had to be closed after the drive
};

// Shows the dialog on a worker thread (its own COM apartment, as the bridge's
// job thread does) while `drive` acts on it from this thread.
template <typename Drive>
DialogRun RunDialog(const std::string& name, const std::string& directory, Drive drive) {
  DialogRun run;
  std::thread worker([&] {
    run.ok =
        ShowSaveDialog(nullptr, name, directory, "", {"html", "", "htm"}, &run.path, &run.message);
  });
  HWND dialog = WaitForDialog();
  if (dialog != nullptr) {
    drive(dialog);
  } else {
    ADD_FAILURE() << "no dialog appeared";
  }
  // Closes a dialog the drive left open (after a generous grace) so the
  // worker always ends.
  const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  while (FindWindowW(L"#32770", nullptr) != nullptr) {
    if (std::chrono::steady_clock::now() > grace) {
      run.forced = true;
      PostMessageW(FindWindowW(L"#32770", nullptr), WM_CLOSE, 0, 0);
      Sleep(500);
    } else {
      Sleep(20);
    }
  }
  worker.join();
  return run;
}

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  std::wstring dir = buffer;
  if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
  return WideToUtf8(dir);
}

TEST(SaveDialogWinTest, CancelledDialogAnswersAnEmptyPath) {
  for (UINT how : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_COMMAND)}) {
    const DialogRun run = RunDialog("report.html", "", [how](HWND dialog) {
      if (how == WM_CLOSE) {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
      } else {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
    });
    EXPECT_FALSE(run.forced);
    EXPECT_TRUE(run.ok) << run.message;
    EXPECT_EQ(run.path, "");
  }
}

TEST(SaveDialogWinTest, TypedNameAnswersItsPathWithTheDefaultExtension) {
  const std::string directory = TempDirectory();
  const std::string expected = directory + "\\vek_save_dialog_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  const DialogRun run = RunDialog("", directory, [](HWND dialog) {
    HWND edit = nullptr;
    EnumChildWindows(dialog, FindEdit, reinterpret_cast<LPARAM>(&edit));
    ASSERT_NE(edit, nullptr) << "no file name field";
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"vek_save_dialog_test"));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  EXPECT_TRUE(run.ok) << run.message;
  EXPECT_EQ(run.path, expected);
  DeleteFileW(Utf8ToWide(expected).c_str());
}

NativeBridge* g_bridge = nullptr;  // the bridge the owner window serves

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kOutcomesReadyMessage && g_bridge != nullptr) g_bridge->DrainAsyncOutcomes();
  return DefWindowProcW(window, message, wparam, lparam);
}

// "pickSaveFile" through the bridge as the product wires it: this thread owns
// the owner window and takes the job's outcome on it, while a second thread
// finds the dialog, drives it with keys typed on the X display (x_relay.sh),
// and closes it after a generous grace if the keys did not.
template <typename Drive>
std::shared_ptr<testing_support::ReplyRecord> PickThroughBridge(EncodableMap args, Drive drive,
                                                                bool* driven, bool* forced) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = OwnerProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"VekSaveDialogOwner";
  RegisterClassW(&window_class);
  HWND owner = CreateWindowExW(0, L"VekSaveDialogOwner", L"save dialog owner",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  EXPECT_NE(owner, nullptr);
  testing_support::NullMessenger messenger;
  NativeBridge bridge;
  AttachWithOwnOperations(bridge, &messenger, owner);
  g_bridge = &bridge;
  std::thread driver([&] {
    HWND dialog = WaitForDialog();
    *driven = dialog != nullptr && drive(dialog);
    const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (HWND open = FindWindowW(L"#32770", nullptr)) {
      if (std::chrono::steady_clock::now() > grace) {
        *forced = true;
        PostMessageW(open, WM_CLOSE, 0, 0);
        Sleep(500);
      } else {
        Sleep(20);
      }
    }
  });
  auto reply = testing_support::Call(bridge, "pickSaveFile", EncodableValue(std::move(args)));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (reply->replies == 0 && std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
  driver.join();
  bridge.Detach();
  g_bridge = nullptr;
  DestroyWindow(owner);
  return reply;
}

TEST(SaveDialogWinTest, PickSaveFileDismissedWithEscapeOnTheDisplayAnswersNull) {
  if (!XRelayAvailable()) GTEST_SKIP() << "keys are typed on the X display only under x_relay.sh";
  EncodableMap args;
  args[EncodableValue("suggestedName")] = EncodableValue("report.html");
  bool driven = false;
  bool forced = false;
  auto reply = PickThroughBridge(
      std::move(args),
      [](HWND dialog) { return ClickNameField(dialog) && RunXdotool(L"key Escape"); }, &driven,
      &forced);
  EXPECT_TRUE(driven) << "xdotool could not be run";
  EXPECT_FALSE(forced) << "Escape did not close the dialog";
  ASSERT_EQ(reply->replies, 1);
  EXPECT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << reply->message;
  EXPECT_TRUE(reply->value.IsNull());
}

TEST(SaveDialogWinTest, PickSaveFileWithANameTypedOnTheDisplayAnswersItsPath) {
  if (!XRelayAvailable()) GTEST_SKIP() << "keys are typed on the X display only under x_relay.sh";
  const std::string directory = TempDirectory();
  const std::string expected = directory + "\\vek_typed_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  EncodableMap args;
  args[EncodableValue("defaultDirectory")] = EncodableValue(directory);
  bool driven = false;
  bool forced = false;
  auto reply = PickThroughBridge(
      std::move(args),
      [](HWND dialog) {
        return ClickNameField(dialog) && RunXdotool(L"type vek_typed_test") &&
               RunXdotool(L"key Return");
      },
      &driven, &forced);
  EXPECT_TRUE(driven) << "xdotool could not be run";
  EXPECT_FALSE(forced) << "the typed name and Return did not close the dialog";
  ASSERT_EQ(reply->replies, 1);
  EXPECT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << reply->message;
  EXPECT_EQ(reply->value, EncodableValue(expected));
  DeleteFileW(Utf8ToWide(expected).c_str());
}

TEST(SaveDialogWinTest, MissingDefaultDirectoryIsIgnored) {
  const DialogRun run = RunDialog("", "C:\\no\\such\\folder\\at\\all",
                                  [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
  EXPECT_TRUE(run.ok) << run.message;
  EXPECT_EQ(run.path, "");
}

}  // namespace
}  // namespace vek_native
