// The bridge attached to a real window: worker threads wake the window thread
// through PostMessageW and its own message loop delivers events and job
// replies, also when an event flood arrives while the window thread is busy.
#include <windows.h>

#include <chrono>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "unit/bridge/bridge_test_support.h"
#include "win/bridge/own_operations_bridge.h"

namespace vek_native {
namespace {

using testing_support::ReplyRecord;

NativeBridge* g_bridge = nullptr;

LRESULT CALLBACK BridgeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kEventsReadyMessage && g_bridge != nullptr) {
    g_bridge->DrainEvents();
    return 0;
  }
  if (message == kOutcomesReadyMessage && g_bridge != nullptr) {
    g_bridge->DrainAsyncOutcomes();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(BridgeWindowTest, EventFloodWhileTheWindowThreadIsBlockedLosesNoJobReply) {
  HWND window = CreateTestWindow(L"VekBridgeTestWindow", BridgeWindowProc, 0, HWND_MESSAGE);
  ASSERT_NE(window, nullptr);
  testing_support::NullMessenger messenger;
  std::vector<EncodableValue> sent;
  NativeBridge bridge;
  g_bridge = &bridge;
  bridge.SetPoster(&Win32WindowPoster());
  bridge.Attach(&messenger, window);
  bridge.OnListen(std::make_unique<testing_support::RecordingSink>(&sent));

  // The jobs finish while the window thread is blocked below.
  constexpr int kJobs = 8;
  std::vector<std::shared_ptr<ReplyRecord>> records(kJobs);
  for (int i = 0; i < kJobs; ++i) {
    bridge.RunAsync(
        [i](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
          Sleep(static_cast<DWORD>(20 + 10 * i));
          outcome->success = true;
          outcome->value = EncodableValue(int64_t{i});
        },
        testing_support::Recorder(&records[i]));
  }
  for (int i = 0; i < 100000; ++i) {
    bridge.EmitEvent({{EncodableValue("channel"), EncodableValue("hidInput")},
                      {EncodableValue("seq"), EncodableValue(int64_t{i})}});
  }
  Sleep(200);  // the window thread stays busy until every job has finished

  auto all_in = [&] {
    for (const auto& r : records) {
      if (r->replies == 0) return false;
    }
    return sent.size() + bridge.DroppedEventCount() == 100000;
  };
  PumpMessagesUntil(all_in, std::chrono::seconds(30));
  for (int i = 0; i < kJobs; ++i) {
    EXPECT_EQ(records[i]->replies, 1);
    EXPECT_EQ(records[i]->value, EncodableValue(int64_t{i}));
  }
  EXPECT_EQ(sent.size() + bridge.DroppedEventCount(), 100000u);
  bridge.Detach();
  g_bridge = nullptr;
  DestroyWindow(window);
}

// A refused post is what makes a worker try to wake the window thread again.
TEST(WindowPosterWinTest, PostToADestroyedWindowIsRefused) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Win32WindowPoster().Post(window, kEventsReadyMessage));
  DestroyWindow(window);
  EXPECT_FALSE(Win32WindowPoster().Post(window, kEventsReadyMessage));
}

}  // namespace
}  // namespace vek_native
