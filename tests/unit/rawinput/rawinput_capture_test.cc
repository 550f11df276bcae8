#include "rawinput/rawinput_capture.h"
#include "rawinput/interval_stats.h"

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

// Every byte of a handle counts.
constexpr uint64_t kMouseA = 0x8122334455667701;
constexpr uint64_t kMouseB = 0x102;
constexpr uint64_t kKeyboard = 0x201;
constexpr uint64_t kNameless = 0x301;
constexpr uint64_t kStart = 1000000;

// The system as capture sees it: inputs waiting under their lParam, device
// names by handle, a log of unregistrations and timers, and capture threads'
// windows: their handlers, which the test's thread calls in the capture
// thread's stead, while that thread only waits for its window to be closed.
class FakePlatform : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle window, uint32_t* error) override {
    *error = register_error;
    if (register_error == 0) registered = window;
    return register_error == 0;
  }
  void UnregisterInput() override {
    ++unregistrations;
    registered = nullptr;
  }
  void SetFlushTimer(WindowHandle) override { ++timers_set; }
  void KillFlushTimer(WindowHandle) override { ++timers_killed; }
  uint32_t InputSize(intptr_t input) override {
    return inputs.count(input) != 0 ? static_cast<uint32_t>(inputs[input].size()) : 0;
  }
  bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    const std::vector<uint8_t>& bytes = inputs.at(input);
    if (bytes.size() > capacity) return false;
    std::copy(bytes.begin(), bytes.end(), buffer);
    *written = short_read ? 4 : static_cast<uint32_t>(bytes.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    ++path_reads;
    return paths.count(device) != 0 ? paths[device] : "";
  }
  struct ThreadWindow {
    RawInputThreadHandlers handlers;
    CompletionLatch closed;
  };
  WindowHandle OpenThreadWindow(RawInputThreadHandlers handlers, std::string* message) override {
    *message = window_error;
    if (!window_error.empty()) return nullptr;
    ++serving;
    windows.emplace_back().handlers = std::move(handlers);
    return &windows.back();
  }
  void ServeThreadWindow(WindowHandle window) override {
    static_cast<ThreadWindow*>(window)->closed.Wait();
    --serving;
  }
  void CloseThreadWindow(WindowHandle window) override {
    static_cast<ThreadWindow*>(window)->closed.Signal();
  }

  std::map<intptr_t, std::vector<uint8_t>> inputs;
  std::map<uint64_t, std::string> paths = {{kMouseA, "\\\\?\\HID#mouseA"},
                                           {kMouseB, "\\\\?\\HID#mouseB"},
                                           {kKeyboard, "\\\\?\\HID#kbd"}};
  uint32_t register_error = 0;
  std::string window_error;
  bool short_read = false;  // fewer bytes than a header
  int unregistrations = 0, timers_set = 0, timers_killed = 0, path_reads = 0;
  WindowHandle registered = nullptr;
  std::deque<ThreadWindow> windows;
  std::atomic<int> serving{0};  // capture threads in their window's loop
};

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}
int64_t Long(const EncodableValue& map, const char* key) { return At(map, key).LongValue(); }
EncodableList List(const EncodableValue& map, const char* key) {
  return std::get<EncodableList>(At(map, key));
}

constexpr RawInputOptions kOwnThread{30, true};
WindowHandle const kHost = reinterpret_cast<WindowHandle>(0x1234);

class RawInputCaptureTest : public ::testing::Test {
 protected:
  RawInputCaptureTest()
      : state_(
            &platform_, [this] { return now_; },
            [this](std::function<void()> work) {
              if (threads_ == 1) throw std::system_error(11, std::generic_category());
              if (threads_ == 2) return held_.swap(work);  // taken, never run
              StartDetachedThread(std::move(work));
            }) {
    state_.SetEventSink([this](EncodableMap&& event) { sent_.emplace_back(std::move(event)); },
                        [] { return uint64_t{17}; });
    state_.SetWindow(kHost);
  }
  void Start(uint64_t t = kStart, const RawInputOptions& options = {}) {
    now_ = t;
    std::string message;
    ASSERT_TRUE(state_.Start(options, &message)) << message;
  }
  // A capture thread's window when the capture is registered with one.
  RawInputThreadHandlers* Thread() const {
    const WindowHandle w = platform_.registered;
    return w != nullptr && w != kHost ? &static_cast<FakePlatform::ThreadWindow*>(w)->handlers
                                      : nullptr;
  }
  // Messages and ticks go to the window the capture is registered with.
  void Deliver(uint64_t t, std::vector<uint8_t> bytes, uintptr_t wparam = kRimInputSink) {
    now_ = t;
    platform_.inputs[++last_input_] = std::move(bytes);
    if (Thread() != nullptr) return Thread()->input(platform_.registered, wparam, last_input_);
    state_.HandleMessage(wparam, last_input_);
  }
  void Mouse(uint64_t t, const RawMouseInput& m, uint64_t device = kMouseA) {
    Deliver(t, MouseBytes(device, m));
  }
  void Key(uint64_t t, uint16_t vkey, uint16_t flags = 0) {
    Deliver(t, KeyboardBytes(kKeyboard, vkey, 0x4B, flags));
  }
  void Tick(uint64_t t) {
    now_ = t;
    if (Thread() != nullptr) return Thread()->timer(platform_.registered);
    state_.HandleTimer();
  }
  EncodableList Sent(const char* channel) const {
    EncodableList out;
    for (const EncodableValue& e : sent_) {
      if (At(e, "channel") == EncodableValue(channel)) out.push_back(e);
    }
    return out;
  }
  // Every input event of the batches sent so far, in order.
  EncodableList Inputs() const {
    EncodableList out;
    for (const EncodableValue& batch : Sent("rawInputBatch")) {
      for (const EncodableValue& input : List(batch, "events")) out.push_back(input);
    }
    return out;
  }

  FakePlatform platform_;
  uint64_t now_ = 0;
  intptr_t last_input_ = 0x5000;
  EncodableList sent_;
  int threads_ = 0;  // 1: refused, 2: taken but not run until the test runs held_
  std::function<void()> held_;
  RawInputState state_;
};

// A start without a window fails. A restart discards what is pending and
// starts every count, cache and clock afresh; stop sends what is pending but
// no summary, even one that is due, and lets go of everything.
TEST_F(RawInputCaptureTest, StartAndStop) {
  state_.SetWindow(nullptr);
  std::string message;
  EXPECT_FALSE(state_.Start(&message));
  EXPECT_EQ(message, "Raw Input 窗口尚未创建");
  state_.SetWindow(kHost);
  Start();
  Mouse(kStart + 1, RawMouseInput{0, 0x0001});  // left held
  Key(kStart + 2, 0x41);
  Start(kStart + 10);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(state_.pending_size() + state_.buttons_down_mask() + state_.mouse_stats().count +
                state_.keyboard_stats().count + state_.device_entry_count() +
                state_.cached_path_count(),
            0u);
  Mouse(kStart + 11, Move(1, 0));
  Tick(kStart + 10 + 249999);  // a batch; the summary clock restarted too
  Mouse(kStart + 300000, Move(1, 0));
  Key(kStart + 300001, 0x41);
  now_ = kStart + 400000;
  state_.Stop();
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(Inputs().size(), 3u);
  EXPECT_EQ(std::make_tuple(state_.active(), platform_.timers_killed, platform_.unregistrations),
            std::make_tuple(false, 1, 1));
  EXPECT_EQ(state_.device_entry_count() + state_.cached_path_count() + state_.input_buffer_size() +
                state_.mouse_stats().count + state_.keyboard_stats().count +
                state_.quality().RolloverList().size(),
            0u);
}

// Input that cannot be read is not counted; input that shows nothing is
// counted without an event.
TEST_F(RawInputCaptureTest, WhatIsCountedAndWhatIsShown) {
  Start();
  Deliver(kStart, MouseBytes(kMouseA, Move(1, 1)), 2);  // wParam neither RIM_INPUT nor sink
  state_.HandleMessage(kRimInput, 0x7777);              // unreadable: size 0
  Deliver(kStart, RawInputBytes(kRawInputTypeHid, kMouseA, 8));  // HID: not counted
  std::vector<uint8_t> mouse = MouseBytes(kMouseA, Move(1, 1)),
                       key = KeyboardBytes(kKeyboard, 0x41, 0, 0);
  mouse.pop_back();  // one byte short of what the type needs
  key.pop_back();
  Deliver(kStart, mouse);
  Deliver(kStart, key);
  platform_.short_read = true;
  Mouse(kStart, Move(1, 1));
  EXPECT_EQ(state_.mouse_stats().count + state_.keyboard_stats().count, 0u);
  platform_.short_read = false;
  Mouse(kStart + 100, RawMouseInput());                  // no motion, wheel or button
  Mouse(kStart + 200, RawMouseInput{0, kRiMouseWheel});  // a wheel flag with a zero delta
  Mouse(kStart + 300, RawMouseInput{0, 0, 120});         // wheel data without a wheel flag
  Key(kStart + 400, 0);
  Key(kStart + 500, 255);
  EXPECT_EQ(state_.pending_size(), 0u);
  EXPECT_EQ(std::make_pair(state_.mouse_stats().count, state_.keyboard_stats().count),
            std::make_pair(uint64_t{3}, uint64_t{2}));
}

// Button masks span messages and mice, and down and up in one message
// release; wheels are signed; E0 and E1 set flag bits 0-1 and 2. Each event
// carries the time its message was handled.
TEST_F(RawInputCaptureTest, Events) {
  using Fields = std::vector<int64_t>;  // a mouse's dx, dy, wheel, masks down and changed
                                        // and isAbsolute; a key's vk, scanCode, flags, down
  const std::pair<std::vector<uint8_t>, Fields> cases[] = {
      {MouseBytes(kMouseA, {0, 0x0001}), {0, 0, 0, 1, 1, 0}},  // left down
      {MouseBytes(kMouseB, {0, 0x0040}), {0, 0, 0, 9, 8, 0}},  // button 4 on another mouse
      {MouseBytes(kMouseA, {0, 0x0003}), {0, 0, 0, 8, 1, 0}},
      {MouseBytes(kMouseB, {0, kRiMouseWheel, 0x7FFF}), {0, 0, 0x7FFF, 8, 0, 0}},
      {MouseBytes(kMouseA, {0, kRiMouseHWheel, 0x8000}), {0, 0, -0x8000, 8, 0, 0}},
      {MouseBytes(kMouseA, {kMouseMoveAbsolute, 0, 0, 32768, -5}), {32768, -5, 0, 8, 0, 1}},
      {MouseBytes(kMouseA, {0, 0x0004}), {0, 0, 0, 10, 2, 0}},   // right
      {MouseBytes(kMouseA, {0, 0x0010}), {0, 0, 0, 14, 4, 0}},   // middle
      {MouseBytes(kMouseB, {0, 0x0100}), {0, 0, 0, 30, 16, 0}},  // button 5
      {MouseBytes(kMouseA, {0, 0x02A8}), {0, 0, 0, 0, 30, 0}},   // all four up
      {KeyboardBytes(kKeyboard, 0x25, 0x4B, kRiKeyE1 | kRiKeyBreak), {0x25, 0x4B, 4, 0}},
      {KeyboardBytes(kKeyboard, 0x26, 0x4C, kRiKeyE0), {0x26, 0x4C, 3, 1}}};
  Start();
  for (size_t i = 0; i < std::size(cases); ++i) Deliver(kStart + i, cases[i].first);
  state_.Stop();
  const EncodableList events = Inputs();
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) {
    Fields seen;
    const bool mouse = At(events[i], "kind") == EncodableValue("mouse");
    for (const char* key : mouse ? std::vector<const char*>{"dx", "dy", "wheel", "buttonsDownMask",
                                                            "buttonsChangedMask", "isAbsolute"}
                                 : std::vector<const char*>{"vk", "scanCode", "flags", "down"}) {
      const EncodableValue& value = At(events[i], key);
      seen.push_back(std::holds_alternative<bool>(value) ? std::get<bool>(value)
                                                         : value.LongValue());
    }
    EXPECT_EQ(seen, cases[i].second) << i;
    EXPECT_EQ(Long(events[i], "timestampUs"), static_cast<int64_t>(kStart + i));
  }
}

// A batch goes out at its 64th event, else on the first tick 8 ms after the
// last batch.
TEST_F(RawInputCaptureTest, Batches) {
  Start();
  for (int i = 1; i <= 63; ++i) Mouse(kStart + i, Move(i, 0));
  EXPECT_EQ(sent_.size(), 0u);
  Mouse(kStart + 64, Move(64, 0));
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(Inputs().size(), 64u);
  Mouse(kStart + 1000, Move(1, 0));
  Tick(kStart + 64 + 7999);
  EXPECT_EQ(sent_.size(), 1u);
  Tick(kStart + 64 + 8000);
  Tick(kStart + 64 + 40000);  // nothing pending: nothing sent
  EXPECT_EQ(sent_.size(), 2u);
}

// A summary every quarter second, per kind and per device: each device's path
// is read once and nameless devices share one entry. Every window starts
// empty, so no interval spans two, and devices silent for a window leave it.
TEST_F(RawInputCaptureTest, Summaries) {
  Start();
  for (uint64_t t : {1000, 2000, 4000}) Mouse(kStart + t, Move(1, 0), kMouseA);
  Mouse(kStart + 1500, Move(1, 0), kMouseB);  // stamps are the handler's: may interleave
  Mouse(kStart + 3000, Move(1, 0), kNameless);
  Mouse(kStart + 3500, Move(1, 0), 0);  // a null handle is not looked up
  Key(kStart + 5000, 0x41);
  Tick(kStart + 262000);
  EXPECT_EQ(platform_.path_reads, 4);
  ASSERT_EQ(Sent("rawInputStats").size(), 1u);
  const EncodableValue first = Sent("rawInputStats")[0];
  EXPECT_EQ(
      std::make_tuple(Long(first, "windowUs"), Long(first, "dropped"),
                      Long(At(first, "mouse"), "count"), Long(At(first, "keyboard"), "count")),
      std::make_tuple(262000, 17, 6, 1));
  std::map<std::string, std::vector<int64_t>> devices;  // count, shortest and longest interval
  for (const EncodableValue& d : List(first, "devices")) {
    devices[std::get<std::string>(At(d, "path")) + "|" + std::get<std::string>(At(d, "kind"))] = {
        Long(d, "count"), Long(d, "minIntervalUs"), Long(d, "maxIntervalUs")};
  }
  EXPECT_EQ(devices, (std::map<std::string, std::vector<int64_t>>{
                         {"\\\\?\\HID#mouseA|mouse", {3, 1000, 2000}},
                         {"\\\\?\\HID#mouseB|mouse", {1, 0, 0}},
                         {"|mouse", {2, 500, 500}},
                         {"\\\\?\\HID#kbd|keyboard", {1, 0, 0}}}));
  Mouse(kStart + 300000, Move(1, 0), kMouseA);
  Tick(kStart + 512000);
  Tick(kStart + 762000);  // a window without any message
  const EncodableList s = Sent("rawInputStats");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(std::make_tuple(Long(s[1], "windowUs"), Long(At(s[1], "mouse"), "count"),
                            Long(At(s[1], "mouse"), "meanIntervalUs"),
                            Long(At(s[1], "keyboard"), "count"), List(s[1], "devices").size(),
                            Long(At(s[2], "mouse"), "count"), List(s[2], "devices").size()),
            std::make_tuple(250000, 1, 0, 0, size_t{1}, 0, size_t{0}));
  EXPECT_EQ(state_.device_entry_count(), 0u);
}

// With ownThread a capture thread's window takes the input and its timer
// sends batches and summaries; what still reaches the host window is not
// counted. Either mode starts afresh from the other, and stop sends the last
// batch before it returns, leaving no thread, window or registration.
TEST_F(RawInputCaptureTest, OwnThreadLifetimes) {
  Start();
  Mouse(kStart + 1, Move(1, 0));
  Start(kStart + 2, kOwnThread);
  EXPECT_EQ(std::make_tuple(state_.own_thread(), state_.pending_size(), platform_.timers_killed),
            std::make_tuple(true, size_t{0}, 1));
  platform_.inputs[++last_input_] = MouseBytes(kMouseA, Move(9, 0));
  state_.HandleMessage(kRimInputSink, last_input_);  // queued for the host before the switch
  Mouse(kStart + 3, Move(2, 0));
  Tick(kStart + 10000);                // the thread's timer sends it
  Start(kStart + 300000, kOwnThread);  // afresh, on a new thread; the old one has ended
  EXPECT_EQ(std::make_pair(platform_.serving.load(), platform_.timers_killed),
            std::make_pair(1, 1));
  Mouse(kStart + 300001, Move(3, 0));
  state_.Stop();
  state_.Stop();  // stop without start
  EXPECT_EQ(std::make_tuple(platform_.serving.load(), platform_.registered, state_.active(),
                            platform_.timers_killed),
            std::make_tuple(0, WindowHandle{nullptr}, false, 1));
  EXPECT_EQ(Inputs().size(), 2u);  // 2 and 3: 1 was discarded, 9 never counted
  Start(kStart + 400000, kOwnThread);
  Start(kStart + 400000);  // and back to the host window
  EXPECT_EQ(std::make_tuple(platform_.serving.load(), platform_.registered, state_.own_thread()),
            std::make_tuple(0, kHost, false));
}

// A start whose thread, window or registration fails says which step, with
// the system's code, and leaves the running capture as it was; so does a
// thread that does not report in time, which registers nothing once it runs.
TEST_F(RawInputCaptureTest, StartFailures) {
  Start();
  const struct {
    int threads;  // -1: none, the host window's; 1: refused; 2: taken, never run
    const char* window_error;
    uint32_t register_error;
    const char* message;
  } rows[] = {
      {-1, "", 87, "RegisterRawInputDevices 失败（Win32 错误码 87）"},
      {1, "", 0, "创建 Raw Input 线程失败（Win32 错误码 11）"},
      {0, "创建 Raw Input 消息窗口失败（Win32 错误码 1400）", 0,
       "创建 Raw Input 消息窗口失败（Win32 错误码 1400）"},
      {0, "", 5, "RegisterRawInputDevices 失败（Win32 错误码 5）"},
      {2, "", 0, "Raw Input 线程未在 0 毫秒内就绪"},
  };
  for (const auto& row : rows) {
    threads_ = row.threads;
    state_.set_thread_ready_limit_ms(row.threads == 2 ? 0 : kRawInputThreadReadyLimitMs);
    platform_.window_error = row.window_error;
    platform_.register_error = row.register_error;
    std::string message;
    EXPECT_FALSE(state_.Start(RawInputOptions{30, row.threads >= 0}, &message));
    EXPECT_EQ(message, row.message);
    EXPECT_EQ(std::make_tuple(platform_.serving.load(), platform_.registered, state_.active(),
                              state_.own_thread(), platform_.timers_set, platform_.timers_killed),
              std::make_tuple(0, kHost, true, false, 1, 0));
  }
  held_();  // the late thread: it closes its window and ends, registering nothing
  EXPECT_EQ(platform_.registered, kHost);
}

// A statistics map; `intervals` names each interval's bucket.
EncodableMap Map(int64_t count, double hz, int64_t mean, int64_t min, int64_t max,
                 std::vector<size_t> intervals = {}) {
  EncodableList buckets(7, EncodableValue(int64_t{0}));
  for (size_t b : intervals) buckets[b] = EncodableValue(buckets[b].LongValue() + 1);
  return {{EncodableValue("count"), EncodableValue(count)},
          {EncodableValue("hz"), EncodableValue(hz)},
          {EncodableValue("meanIntervalUs"), EncodableValue(mean)},
          {EncodableValue("minIntervalUs"), EncodableValue(min)},
          {EncodableValue("maxIntervalUs"), EncodableValue(max)},
          {EncodableValue("buckets"), EncodableValue(buckets)}};
}

// The rate comes from the span of the window's messages, or from the window
// when they all came at one instant; a window's first message has no
// interval, the first interval is the minimum however long, a real zero
// interval stays the minimum, and a clock stepping back counts 0. An interval
// carried from an earlier window changes none of these figures.
TEST(IntervalStatsTest, Maps) {
  const std::tuple<std::vector<uint64_t>, uint64_t, EncodableMap> cases[] = {
      {{0, 1000, 3000}, 250000, Map(3, 2.0 * 1000000.0 / 3000.0, 1500, 1000, 2000, {3, 4})},
      {{700, 700, 700}, 250000, Map(3, 3 * 1000000.0 / 250000, 0, 0, 0, {0, 0})},
      {{0, 9000, 9100}, 250000, Map(3, 2.0 * 1000000.0 / 9100.0, 4550, 100, 9000, {6, 0})},
      {{100, 100, 600}, 250000, Map(3, 2.0 * 1000000.0 / 500.0, 250, 0, 500, {0, 2})},
      {{5000, 4000, 4500}, 250000, Map(3, 3 * 1000000.0 / 250000, 250, 0, 500, {0, 2})}};
  for (const auto& [times, window, map] : cases) {
    for (const bool carried : {false, true}) {
      IntervalStats stats;
      stats.has_previous = carried;
      for (uint64_t t : times) stats.Update(t);
      EncodableMap built = BuildStatsMap(stats, window);
      // The spread figures have tests of their own.
      for (const char* key : {"p50IntervalUs", "p99IntervalUs", "stdDevIntervalUs", "gapCount",
                              "carriedIntervalUs"}) {
        EXPECT_EQ(built.erase(EncodableValue(key)), 1u) << key;
      }
      EXPECT_EQ(built, map) << times.size() << carried;
    }
  }
}

// The count, the carried interval and the spread figures it counts in.
std::vector<int64_t> Carried(const EncodableValue& map) {
  return {Long(map, "count"), Long(map, "carriedIntervalUs"), Long(map, "gapCount"),
          Long(map, "p99IntervalUs")};
}

// A stall that spans summaries is carried into the window it ends in, for
// the kind and for a device back after silent windows, in either mode.
TEST_F(RawInputCaptureTest, StallsAcrossSummaries) {
  for (const RawInputOptions& options : {RawInputOptions{}, kOwnThread}) {
    sent_.clear();
    Start(kStart, options);
    for (uint64_t t = 1000; t <= 240000; t += 1000) Mouse(kStart + t, Move(1, 0), kMouseA);
    Mouse(kStart + 245000, Move(1, 0), kMouseB);
    Tick(kStart + 250000);
    Mouse(kStart + 300000, Move(1, 0), kMouseB);  // mouse A silent from here
    Tick(kStart + 500000);
    Tick(kStart + 750000);  // no mouse at all
    for (uint64_t t = 900000; t <= 910000; t += 1000) Mouse(kStart + t, Move(1, 0), kMouseA);
    Tick(kStart + 1000000);
    Tick(kStart + 1250000);
    const EncodableList s = Sent("rawInputStats");
    std::vector<std::vector<int64_t>> mouse;
    for (const EncodableValue& summary : s) mouse.push_back(Carried(At(summary, "mouse")));
    ASSERT_EQ(mouse, (std::vector<std::vector<int64_t>>{{241, 0, 1, 1000},
                                                        {1, 55000, 0, 55000},
                                                        {0, 0, 0, 0},
                                                        {11, 600000, 1, 600000},
                                                        {0, 0, 0, 0}}));
    ASSERT_EQ(List(s[3], "devices").size(), 1u);
    EXPECT_EQ(Carried(List(s[3], "devices")[0]), (std::vector<int64_t>{11, 660000, 1, 660000}));
  }
}

// Silent devices are remembered up to the bound; the one silent the longest
// gives way.
TEST_F(RawInputCaptureTest, SilentDevicesWithinTheBound) {
  const uint64_t n = kSilentDeviceLimit + 1;
  Start();
  for (uint64_t d = 1; d <= n; ++d) {
    platform_.paths[0x9000 + d] = "m" + std::to_string(d);
    Mouse(kStart + d, Move(1, 0), 0x9000 + d);
  }
  Tick(kStart + 250000);
  Tick(kStart + 500000);
  for (uint64_t d = 1; d <= n; ++d) Mouse(kStart + 600000 + d, Move(1, 0), 0x9000 + d);
  Tick(kStart + 750000);
  std::map<std::string, int64_t> carried;
  for (const EncodableValue& d : List(Sent("rawInputStats")[2], "devices")) {
    carried[std::get<std::string>(At(d, "path"))] = Long(d, "carriedIntervalUs");
  }
  EXPECT_EQ(std::make_tuple(carried.size(), carried["m1"], carried["m2"], carried["m65"]),
            std::make_tuple(size_t{n}, 0, 600000, 600000));
}

}  // namespace
}  // namespace vek_native
