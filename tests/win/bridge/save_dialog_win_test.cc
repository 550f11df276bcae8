// The save dialog under Wine through "pickSaveFile" as the product wires it:
// this thread owns the owner window and takes the job's outcome on it, while
// another finds the dialog (#32770) and cancels it, puts a name into it and
// confirms, or (under x_relay.sh) clicks it and types a name on the X display.
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
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

std::string TempDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, buffer);
  std::string directory = WideToUtf8(buffer);
  directory.pop_back();  // the trailing backslash
  return directory;
}

NativeBridge* g_bridge = nullptr;  // the bridge the owner window serves

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kOutcomesReadyMessage && g_bridge != nullptr) g_bridge->DrainAsyncOutcomes();
  return DefWindowProcW(window, message, wparam, lparam);
}

// Calls "pickSaveFile" with `directory` while `drive` acts on the dialog;
// returns the path answered, "null" for none, or what went wrong.
template <typename Drive>
std::string Pick(const std::string& directory, Drive drive) {
  HWND owner = CreateTestWindow(L"VekSaveDialogOwner", OwnerProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  if (owner == nullptr) return "no owner window";
  testing_support::NullMessenger messenger;
  NativeBridge bridge;
  AttachWithOwnOperations(bridge, &messenger, owner);
  g_bridge = &bridge;
  bool driven = false;
  std::thread driver([&driven, &drive] { driven = DriveDialog(drive); });
  EncodableMap args;
  args[EncodableValue("defaultDirectory")] = EncodableValue(directory);
  auto reply = testing_support::Call(bridge, "pickSaveFile", EncodableValue(std::move(args)));
  PumpMessagesUntil([&reply] { return reply->replies != 0; }, std::chrono::seconds(60));
  driver.join();
  bridge.Detach();
  g_bridge = nullptr;
  DestroyWindow(owner);
  if (!driven) return "the drive did not close the dialog";
  if (reply->replies != 1) return std::to_string(reply->replies) + " replies";
  if (reply->kind != testing_support::ReplyRecord::kSuccess) return "error " + reply->message;
  return reply->value.IsNull() ? "null" : std::get<std::string>(reply->value);
}

TEST(SaveDialogWinTest, CancelAnswersNullAndAMissingFolderIsIgnored) {
  EXPECT_EQ(Pick("C:\\no\\such\\folder",
                 [](HWND dialog, HWND) {
                   return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                 }),
            "null");
}

TEST(SaveDialogWinTest, ANameWithoutExtensionGetsTheDefaultOne) {
  const std::string expected = TempDirectory() + "\\vek_save_dialog_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  EXPECT_EQ(Pick(TempDirectory(),
                 [](HWND dialog, HWND edit) {
                   SendMessageW(edit, WM_SETTEXT, 0,
                                reinterpret_cast<LPARAM>(L"vek_save_dialog_test"));
                   return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                 }),
            expected);
}

TEST(SaveDialogWinTest, PickSaveFileWithANameTypedOnTheDisplayAnswersItsPath) {
  if (!XRelayAvailable()) GTEST_SKIP() << "keys are typed on the X display only under x_relay.sh";
  const std::string expected = TempDirectory() + "\\vek_typed_test.html";
  DeleteFileW(Utf8ToWide(expected).c_str());
  EXPECT_EQ(Pick(TempDirectory(),
                 [](HWND, HWND edit) {
                   RECT rect;
                   GetWindowRect(edit, &rect);
                   return RunXdotool(L"mousemove " + std::to_wstring((rect.left + rect.right) / 2) +
                                     L" " + std::to_wstring((rect.top + rect.bottom) / 2) +
                                     L" click 1") &&
                          RunXdotool(L"type vek_typed_test") && RunXdotool(L"key Return");
                 }),
            expected);
}

}  // namespace
}  // namespace vek_native
