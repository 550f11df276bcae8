// Raw input as Wine really delivers it: the device list, and WM_INPUT from
// SendInput reaching a window registered with RIDEV_INPUTSINK.
// Counts and contents only: Wine's 8 ms timer fires about every 10 ms.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/rawinput_operations.h"
#include "rawinput/rawinput_window.h"

namespace vek_native {
namespace {

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INPUT) {
    HandleRawInputMessage(wparam, lparam);
  } else if (message == WM_TIMER && wparam == kRawInputTimerId) {
    HandleRawInputTimer();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Runs the window thread's message loop for a while.
void Pump(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

class RawInputWinTest : public ::testing::Test {
 protected:
  // A shown foreground window, as the program's host window is. Under Wine,
  // once another program's window has come and gone in the same session,
  // sent input no longer reaches raw input registered on a message-only
  // window, while a shown foreground window still gets it. One window for
  // the suite: without a window manager each destruction costs Wine seconds.
  static void SetUpTestSuite() {
    WNDCLASSW cls = {};
    cls.lpfnWndProc = HostProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"VekRawInputTestHost";
    RegisterClassW(&cls);
    // Off screen: the X pointer, which other programs on the display may
    // move, can never be over it and add input of its own.
    window_ = CreateWindowExW(0, cls.lpszClassName, L"vek raw input test", WS_OVERLAPPEDWINDOW,
                              -4000, -4000, 320, 200, nullptr, nullptr, cls.hInstance, nullptr);
    if (window_ == nullptr) return;
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
  }
  static void TearDownTestSuite() {
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    PlugRawInputOperations(
        ops_, [this](EncodableMap&& event) { events_.emplace_back(std::move(event)); },
        [] { return uint64_t{5}; });
  }
  void TearDown() override {
    ops_.stop_raw_input();
    ops_.set_raw_input_window(nullptr);
  }

  std::vector<EncodableMap> Sent(const char* channel) const {
    std::vector<EncodableMap> out;
    for (const auto& e : events_) {
      if (e.at(EncodableValue("channel")) == EncodableValue(channel)) out.push_back(e);
    }
    return out;
  }

  static HWND window_;
  BridgeOperations ops_;
  std::vector<EncodableMap> events_;
};

HWND RawInputWinTest::window_ = nullptr;

TEST_F(RawInputWinTest, ListsWinesKeyboardAndMouseWithNames) {
  const EncodableList devices = std::get<EncodableList>(ops_.list_raw_input_devices());
  int mice = 0, keyboards = 0;
  for (const auto& d : devices) {
    const std::string path = std::get<std::string>(At(d, "path"));
    const std::string name = std::get<std::string>(At(d, "name"));
    const std::string type = std::get<std::string>(At(d, "type"));
    std::printf("%s  %s  %s\n", type.c_str(), name.c_str(), path.c_str());
    EXPECT_FALSE(name.empty());
    EXPECT_NE(path.rfind("\\??\\", 0), 0u) << path;  // never the NT form
    if (std::get<bool>(At(d, "isMouse"))) ++mice;
    if (std::get<bool>(At(d, "isKeyboard"))) ++keyboards;
  }
  EXPECT_GE(mice, 1);
  EXPECT_GE(keyboards, 1);
}

TEST_F(RawInputWinTest, StartNeedsTheWindow) {
  std::string message;
  ops_.set_raw_input_window(nullptr);
  EXPECT_FALSE(ops_.start_raw_input(kDefaultChatterThresholdMs, &message));
  EXPECT_EQ(message, "Raw Input 窗口尚未创建");
}

INPUT MouseInput(LONG dx, LONG dy, DWORD flags) {
  INPUT in = {};
  in.type = INPUT_MOUSE;
  in.mi.dx = dx;
  in.mi.dy = dy;
  in.mi.dwFlags = flags;
  return in;
}

INPUT KeyInput(WORD vk, bool up) {
  INPUT in = {};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

TEST_F(RawInputWinTest, SentInputArrivesAsBatchesAndSummaries) {
  ops_.set_raw_input_window(window_);
  std::string message;
  ASSERT_TRUE(ops_.start_raw_input(kDefaultChatterThresholdMs, &message)) << message;
  // A freshly started Wine session may take a moment before sent input flows;
  // wait for a first probe move, then restart so no count of it remains.
  INPUT probe = MouseInput(1, 1, MOUSEEVENTF_MOVE);
  for (int i = 0; i < 100 && Sent("rawInputBatch").empty(); ++i) {
    SendInput(1, &probe, sizeof(INPUT));
    Pump(100);
  }
  ASSERT_FALSE(Sent("rawInputBatch").empty()) << "no raw input arrived within 10 s";
  ops_.stop_raw_input();
  Pump(50);
  ASSERT_TRUE(ops_.start_raw_input(kDefaultChatterThresholdMs, &message)) << message;
  events_.clear();  // only what this test sends from here on

  constexpr int kMoves = 10;
  std::vector<INPUT> inputs;
  for (int i = 0; i < kMoves; ++i) inputs.push_back(MouseInput(3, -2, MOUSEEVENTF_MOVE));
  inputs.push_back(MouseInput(0, 0, MOUSEEVENTF_LEFTDOWN));
  inputs.push_back(MouseInput(0, 0, MOUSEEVENTF_LEFTUP));
  inputs.push_back(KeyInput('A', false));
  inputs.push_back(KeyInput('A', true));
  ASSERT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)),
            inputs.size());
  // Wait until every message and at least two summaries are in; a busy Wine
  // session may deliver the last ones late, so the bound is generous.
  struct Tally {
    int moves = 0, keys_down = 0, keys_up = 0;
    std::vector<std::pair<int64_t, int64_t>> button_masks;
    size_t summaries = 0;
    int64_t mouse_count = 0, keyboard_count = 0;
  };
  // `check` holds each event and summary to its form (once, at the end).
  auto tally = [this](bool check) {
    Tally t;
    for (const auto& batch : Sent("rawInputBatch")) {
      for (const auto& e : std::get<EncodableList>(batch.at(EncodableValue("events")))) {
        if (check) EXPECT_EQ(At(e, "channel"), EncodableValue("rawInput"));
        if (At(e, "kind") == EncodableValue("mouse")) {
          const int64_t changed = At(e, "buttonsChangedMask").LongValue();
          if (changed != 0) {
            t.button_masks.emplace_back(At(e, "buttonsDownMask").LongValue(), changed);
          } else if (At(e, "dx").LongValue() == 3 && At(e, "dy").LongValue() == -2) {
            ++t.moves;
          }
        } else if (At(e, "vk").LongValue() == 'A') {
          if (check) EXPECT_NE(At(e, "scanCode").LongValue(), 0);
          (std::get<bool>(At(e, "down")) ? t.keys_down : t.keys_up) += 1;
        }
      }
    }
    for (const auto& summary : Sent("rawInputStats")) {
      ++t.summaries;
      t.mouse_count += At(At(EncodableValue(summary), "mouse"), "count").LongValue();
      t.keyboard_count += At(At(EncodableValue(summary), "keyboard"), "count").LongValue();
      if (!check) continue;
      EXPECT_EQ(summary.at(EncodableValue("dropped")), EncodableValue(int64_t{5}));
      EXPECT_GE(summary.at(EncodableValue("windowUs")).LongValue(), 250000);
    }
    return t;
  };
  auto complete = [](const Tally& t) {
    return t.moves >= kMoves && t.button_masks.size() >= 2 && t.keys_up >= 1 && t.summaries >= 2 &&
           t.mouse_count >= kMoves + 2 && t.keyboard_count >= 2;
  };
  for (int i = 0; i < 200 && !complete(tally(false)); ++i) Pump(50);
  ops_.stop_raw_input();
  const size_t sent_at_stop = events_.size();

  const Tally t = tally(true);
  EXPECT_EQ(t.moves, kMoves);
  const std::vector<std::pair<int64_t, int64_t>> expected_masks = {{1, 1}, {0, 1}};
  EXPECT_EQ(t.button_masks, expected_masks);
  EXPECT_EQ(t.keys_down, 1);
  EXPECT_EQ(t.keys_up, 1);
  EXPECT_GE(t.summaries, 2u);
  EXPECT_EQ(t.mouse_count, kMoves + 2);
  EXPECT_EQ(t.keyboard_count, 2);

  // Stopped: nothing more arrives.
  SendInput(1, inputs.data(), sizeof(INPUT));
  Pump(300);
  EXPECT_EQ(events_.size(), sent_at_stop);
}

}  // namespace
}  // namespace vek_native
