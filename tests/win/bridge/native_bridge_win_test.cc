// The bridge attached to a real window: worker threads post through
// PostMessageW and the window's own message loop delivers events and job
// replies, also when an event flood arrives while the window thread is busy.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "bridge/window_poster.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::NullMessenger;
using testing_support::Recorder;
using testing_support::RecordingSink;
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

class BridgeWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = BridgeWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"VekBridgeTestWindow";
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, L"VekBridgeTestWindow", L"bridge test", 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    g_bridge = &bridge_;
    bridge_.SetPoster(&Win32WindowPoster());
    bridge_.Attach(&messenger_, window_);
    bridge_.OnListen(std::make_unique<RecordingSink>(&sent_));
  }
  void TearDown() override {
    bridge_.Detach();
    g_bridge = nullptr;
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // Runs the message loop until `done` holds or a generous limit passes.
  template <typename Done>
  bool PumpUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < end) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return done();
  }

  NativeBridge::AsyncJob Job(int value, int delay_ms) {
    return [value, delay_ms](WindowHandle, NativeBridge::AsyncOutcome* outcome) {
      if (delay_ms > 0) Sleep(static_cast<DWORD>(delay_ms));
      outcome->success = true;
      outcome->value = EncodableValue(int64_t{value});
    };
  }

  static EncodableMap Event(int producer, int sequence) {
    return EncodableMap{{EncodableValue("channel"), EncodableValue("hidInput")},
                        {EncodableValue("producer"), EncodableValue(int64_t{producer})},
                        {EncodableValue("seq"), EncodableValue(int64_t{sequence})}};
  }

  HWND window_ = nullptr;
  NullMessenger messenger_;
  NativeBridge bridge_;
  std::vector<EncodableValue> sent_;
};

TEST_F(BridgeWindowTest, EventsAndOutcomesFromWorkersArriveThroughTheMessageLoop) {
  std::vector<std::shared_ptr<ReplyRecord>> records(3);
  for (int i = 0; i < 3; ++i) bridge_.RunAsync(Job(i, 10 * i), Recorder(&records[i]));
  std::vector<std::thread> producers;
  for (int p = 0; p < 4; ++p) {
    producers.emplace_back([this, p] {
      for (int i = 0; i < 1000; ++i) bridge_.EmitEvent(Event(p, i));
    });
  }
  for (auto& t : producers) t.join();
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& r : records) {
      if (r->replies == 0) return false;
    }
    return sent_.size() == 4000;
  }));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i]->replies, 1);
    EXPECT_EQ(records[i]->value, EncodableValue(int64_t{i}));
  }
  EXPECT_EQ(bridge_.DroppedEventCount(), 0u);
}

TEST_F(BridgeWindowTest, EventFloodWhileTheWindowThreadIsBlockedLosesNoJobReply) {
  constexpr int kJobs = 8;
  std::vector<std::shared_ptr<ReplyRecord>> records(kJobs);
  // The jobs finish while the window thread is blocked below.
  for (int i = 0; i < kJobs; ++i) bridge_.RunAsync(Job(i, 20 + 10 * i), Recorder(&records[i]));
  std::vector<std::thread> producers;
  for (int p = 0; p < 4; ++p) {
    producers.emplace_back([this, p] {
      for (int i = 0; i < 25000; ++i) bridge_.EmitEvent(Event(p, i));
    });
  }
  Sleep(200);  // the window thread is busy
  for (auto& t : producers) t.join();
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& r : records) {
      if (r->replies == 0) return false;
    }
    return true;
  }));
  for (int i = 0; i < kJobs; ++i) {
    EXPECT_EQ(records[i]->replies, 1);
    EXPECT_EQ(records[i]->value, EncodableValue(int64_t{i}));
  }
  PumpUntil([&] { return sent_.size() + bridge_.DroppedEventCount() == 100000; });
  EXPECT_EQ(sent_.size() + bridge_.DroppedEventCount(), 100000u);
  EXPECT_LE(sent_.size(), 100000u);
}

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
