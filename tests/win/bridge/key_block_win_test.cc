// The keyboard block under Wine: keys typed on the X display (xdotool, with
// the pointer over the test window, when run through x_relay.sh) or keys
// injected with SendInput (which low-level hooks see too) must not reach the
// focused window while the block is on, and must again after it is stopped.
#include <windows.h>

#include <chrono>
#include <cstring>
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

void PumpFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

bool Seen(WPARAM key) {
  for (WPARAM k : g_keys) {
    if (k == key) return true;
  }
  return false;
}

// Pumps until `key` reached the window; false after a generous limit.
bool WaitForKey(WPARAM key) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Seen(key) && std::chrono::steady_clock::now() < end) {
    PumpFor(std::chrono::milliseconds(20));
  }
  return Seen(key);
}

void SendKey(WORD key) {
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = key;
  inputs[1] = inputs[0];
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

class KeyBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_keys.clear();
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = KeyWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"VekKeyBlockTestWindow";
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, L"VekKeyBlockTestWindow", L"key block test",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    SetForegroundWindow(window_);
    SetFocus(window_);
    PumpFor(std::chrono::milliseconds(300));
    // Real X input under the relay (the run that exists to show it); the
    // plain run injects keys with SendInput.
    use_x_ = XRelayAvailable();
    if (use_x_) {
      ASSERT_TRUE(PressWithX("x") && WaitForKey('X'))
          << "keys typed on the X display do not reach the test window";
    } else {
      SendKey('X');
      ASSERT_TRUE(WaitForKey('X')) << "no key reaches the test window at all";
    }
    g_keys.clear();
  }
  void TearDown() override {
    StopKeyBlock();
    if (window_ != nullptr) DestroyWindow(window_);
  }

  bool PressWithX(const char* key) {
    RECT rect;
    GetWindowRect(window_, &rect);
    const std::wstring x = std::to_wstring((rect.left + rect.right) / 2);
    const std::wstring y = std::to_wstring((rect.top + rect.bottom) / 2);
    std::wstring name(key, key + strlen(key));
    return RunXdotool(L"mousemove " + x + L" " + y + L" key " + name);
  }

  // Presses `key` ('A'..'Z') on the X display under the relay, else with SendInput.
  void Press(char key) {
    if (use_x_) {
      const char name[2] = {static_cast<char>(key - 'A' + 'a'), 0};
      ASSERT_TRUE(PressWithX(name));
    } else {
      SendKey(static_cast<WORD>(key));
    }
  }

  HWND window_ = nullptr;
  bool use_x_ = false;
};

TEST_F(KeyBlockTest, KeysAreSwallowedWhileBlockingAndArriveAgainAfterStop) {
  ASSERT_TRUE(StartKeyBlock());
  EXPECT_TRUE(KeyBlockActive());
  Press('A');
  PumpFor(std::chrono::milliseconds(300));
  StopKeyBlock();
  EXPECT_FALSE(KeyBlockActive());
  Press('B');
  // Keys arrive in order: had 'A' got through, it would be here before 'B'.
  ASSERT_TRUE(WaitForKey('B')) << (use_x_ ? "xdotool" : "SendInput");
  EXPECT_FALSE(Seen('A')) << (use_x_ ? "xdotool" : "SendInput");
}

TEST_F(KeyBlockTest, TwoStartsThenOneStopLeaveNoHook) {
  ASSERT_TRUE(StartKeyBlock());
  ASSERT_TRUE(StartKeyBlock());
  StopKeyBlock();
  EXPECT_FALSE(KeyBlockActive());
  Press('C');
  EXPECT_TRUE(WaitForKey('C'));
}

TEST_F(KeyBlockTest, StopWithoutStartAndRestartAfterStop) {
  StopKeyBlock();
  EXPECT_FALSE(KeyBlockActive());
  ASSERT_TRUE(StartKeyBlock());
  StopKeyBlock();
  ASSERT_TRUE(StartKeyBlock());
  EXPECT_TRUE(KeyBlockActive());
  Press('D');
  PumpFor(std::chrono::milliseconds(300));
  StopKeyBlock();
  Press('E');
  ASSERT_TRUE(WaitForKey('E'));
  EXPECT_FALSE(Seen('D'));
}

// Through the bridge as the product wires it: "startKeyBlock" answers true,
// a second start changes nothing, "stopKeyBlock" lets keys through again, and
// detaching the bridge ends a block still on.
TEST_F(KeyBlockTest, BridgeStartsAndStopsTheBlockAndDetachEndsIt) {
  testing_support::NullMessenger messenger;
  NativeBridge bridge;
  AttachWithOwnOperations(bridge, &messenger, window_);
  auto call = [&bridge](const char* method) {
    std::shared_ptr<testing_support::ReplyRecord> reply;
    bridge.HandleMethodCall(MethodCall(method, nullptr), testing_support::Recorder(&reply));
    EXPECT_EQ(reply->kind, testing_support::ReplyRecord::kSuccess) << method;
    return reply->value;
  };
  EXPECT_EQ(call("startKeyBlock"), EncodableValue(true));
  EXPECT_EQ(call("startKeyBlock"), EncodableValue(true));
  EXPECT_TRUE(KeyBlockActive());
  Press('F');
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(call("stopKeyBlock").IsNull());
  EXPECT_FALSE(KeyBlockActive());
  Press('G');
  ASSERT_TRUE(WaitForKey('G'));
  EXPECT_FALSE(Seen('F'));

  EXPECT_EQ(call("startKeyBlock"), EncodableValue(true));
  Press('H');
  PumpFor(std::chrono::milliseconds(300));
  bridge.Detach();
  EXPECT_FALSE(KeyBlockActive());
  Press('J');
  ASSERT_TRUE(WaitForKey('J'));
  EXPECT_FALSE(Seen('H'));
}

}  // namespace
}  // namespace vek_native
