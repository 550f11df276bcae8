// The keyboard block under Wine, through the bridge as the product wires it:
// keys typed on the X display (xdotool, with the pointer over the test
// window, when run through x_relay.sh) or injected with SendInput (which
// low-level hooks see too) must not reach the focused window while the block
// is on, and must again once it is stopped.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/key_block.h"
#include "bridge/native_bridge.h"
#include "unit/bridge/bridge_test_support.h"
#include "win/bridge/own_operations_bridge.h"
#include "win/bridge/run_unix.h"

namespace vek_native {
namespace {

std::vector<WPARAM> g_keys;  // virtual keys seen by the window, in order

LRESULT CALLBACK KeyWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_KEYDOWN) g_keys.push_back(wparam);
  return DefWindowProcW(window, message, wparam, lparam);
}

bool Seen(WPARAM key) { return std::find(g_keys.begin(), g_keys.end(), key) != g_keys.end(); }

bool PumpUntilSeen(WPARAM key, std::chrono::milliseconds limit) {
  return PumpMessagesUntil([key] { return Seen(key); }, limit);
}

class KeyBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_keys.clear();
    window_ =
        CreateTestWindow(L"VekKeyBlockTestWindow", KeyWindowProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_NE(window_, nullptr);
    SetForegroundWindow(window_);
    SetFocus(window_);
    AttachWithOwnOperations(bridge_, &messenger_, window_);
    Press('X');
    ASSERT_TRUE(PumpUntilSeen('X', std::chrono::seconds(10)))
        << "no key reaches the test window at all";
  }
  void TearDown() override {
    bridge_.Detach();
    StopKeyBlock();
    DestroyWindow(window_);
  }

  // Presses `key` ('A'..'Z') on the X display under the relay, the run that
  // exists to show real input; else with SendInput.
  void Press(char key) {
    if (XRelayAvailable()) {
      RECT rect;
      GetWindowRect(window_, &rect);
      ASSERT_TRUE(RunXdotool(L"mousemove " + std::to_wstring((rect.left + rect.right) / 2) + L" " +
                             std::to_wstring((rect.top + rect.bottom) / 2) + L" key " +
                             wchar_t(key - 'A' + 'a')));
      return;
    }
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = static_cast<WORD>(key);
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
  }

  // Presses `blocked` while the block is on, stops it, then presses
  // `through`: it must arrive, and `blocked` (which would have come first)
  // must not have.
  void ExpectBlockedUntilStopped(char blocked, char through) {
    EXPECT_TRUE(KeyBlockActive());
    Press(blocked);
    PumpUntilSeen(blocked, std::chrono::milliseconds(300));
    EXPECT_TRUE(Call("stopKeyBlock").IsNull());
    EXPECT_FALSE(KeyBlockActive());
    Press(through);
    ASSERT_TRUE(PumpUntilSeen(through, std::chrono::seconds(10)));
    EXPECT_FALSE(Seen(blocked));
  }

  EncodableValue Call(const char* method) {
    auto reply = testing_support::Call(bridge_, method, EncodableValue());
    EXPECT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << method;
    return reply->value;
  }

  HWND window_ = nullptr;
  testing_support::NullMessenger messenger_;
  NativeBridge bridge_;
};

TEST_F(KeyBlockTest, BlockHoldsKeysUntilStoppedAndStartsOnlyOnce) {
  // Started twice, one stop ends it: the hook was set once.
  EXPECT_EQ(Call("startKeyBlock"), EncodableValue(true));
  EXPECT_EQ(Call("startKeyBlock"), EncodableValue(true));
  ExpectBlockedUntilStopped('A', 'B');
  // And it starts again after a stop.
  EXPECT_EQ(Call("startKeyBlock"), EncodableValue(true));
  ExpectBlockedUntilStopped('C', 'D');
}

}  // namespace
}  // namespace vek_native
