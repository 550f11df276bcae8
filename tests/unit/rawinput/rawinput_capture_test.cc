#include "rawinput/rawinput_capture.h"

#include <map>
#include <string>
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
// names by handle, and a log of registrations and timers.
class FakePlatform : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle, uint32_t* error) override {
    *error = register_error;
    registrations += register_error == 0 ? 1 : 0;
    return register_error == 0;
  }
  void UnregisterInput() override { ++unregistrations; }
  void SetFlushTimer(WindowHandle) override { ++timers_set; }
  void KillFlushTimer(WindowHandle) override { ++timers_killed; }
  uint32_t InputSize(intptr_t input) override {
    return inputs.count(input) != 0 ? static_cast<uint32_t>(inputs[input].size()) : 0;
  }
  bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    const std::vector<uint8_t>& bytes = inputs.at(input);
    if (bytes.size() > capacity) return false;
    std::copy(bytes.begin(), bytes.end(), buffer);
    *written = static_cast<uint32_t>(short_read ? 23 : bytes.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    ++path_reads;
    return paths.count(device) != 0 ? paths[device] : "";
  }

  std::map<intptr_t, std::vector<uint8_t>> inputs;
  std::map<uint64_t, std::string> paths = {{kMouseA, "\\\\?\\HID#mouseA"},
                                           {kMouseB, "\\\\?\\HID#mouseB"},
                                           {kKeyboard, "\\\\?\\HID#kbd"}};
  uint32_t register_error = 0;
  bool short_read = false;  // fewer bytes than a header
  int registrations = 0, unregistrations = 0, timers_set = 0, timers_killed = 0, path_reads = 0;
};

const EncodableValue& At(const EncodableValue& map, const char* key) {
  return std::get<EncodableMap>(map).at(EncodableValue(key));
}
int64_t Long(const EncodableValue& map, const char* key) { return At(map, key).LongValue(); }
EncodableList List(const EncodableValue& map, const char* key) {
  return std::get<EncodableList>(At(map, key));
}

class RawInputCaptureTest : public ::testing::Test {
 protected:
  RawInputCaptureTest() : state_(&platform_, [this] { return now_; }) {
    state_.SetEventSink([this](EncodableMap&& event) { sent_.emplace_back(std::move(event)); },
                        [] { return uint64_t{17}; });
    state_.SetWindow(reinterpret_cast<WindowHandle>(0x1234));
  }
  void Start(uint64_t t = kStart) {
    now_ = t;
    std::string message;
    ASSERT_TRUE(state_.Start(&message)) << message;
  }
  void Deliver(uint64_t t, std::vector<uint8_t> bytes, uintptr_t wparam = kRimInputSink) {
    now_ = t;
    platform_.inputs[++last_input_] = std::move(bytes);
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
  RawInputState state_;
};

TEST_F(RawInputCaptureTest, StartNeedsAWindowAndARegistrationAndStopFlushes) {
  state_.SetWindow(nullptr);
  std::string message;
  EXPECT_FALSE(state_.Start(&message));
  EXPECT_EQ(message, "Raw Input 窗口尚未创建");
  state_.SetWindow(reinterpret_cast<WindowHandle>(0x1234));
  platform_.register_error = 87;
  EXPECT_FALSE(state_.Start(&message));
  EXPECT_EQ(message, "RegisterRawInputDevices 失败（Win32 错误码 87）");
  EXPECT_FALSE(state_.active());
  EXPECT_EQ(platform_.timers_set, 0);
  platform_.register_error = 0;
  Start();
  Mouse(kStart + 1, Move(1, 0));
  platform_.register_error = 5;  // a failed restart keeps the capture running
  EXPECT_FALSE(state_.Start(&message));
  Key(kStart + 2, 0x41);
  EXPECT_EQ(std::make_tuple(state_.active(), state_.pending_size(), state_.mouse_stats().count),
            std::make_tuple(true, size_t{2}, uint64_t{1}));
  // Stop sends what is pending but no summary, even when one is due.
  now_ = kStart + 400000;
  state_.Stop();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(Inputs().size(), 2u);
  EXPECT_EQ(std::make_tuple(state_.active(), platform_.timers_killed, platform_.unregistrations),
            std::make_tuple(false, 1, 1));
  EXPECT_EQ(state_.input_buffer_size() + state_.device_entry_count() + state_.cached_path_count() +
                state_.mouse_stats().count,
            0u);
  Tick(kStart + 800000);  // inactive: ignored
  Mouse(kStart + 800001, Move(1, 1));
  state_.Stop();
  EXPECT_EQ(std::make_tuple(sent_.size(), platform_.unregistrations, state_.mouse_stats().count),
            std::make_tuple(size_t{1}, 1, uint64_t{0}));
}

// Input that cannot be read is not counted; input that shows nothing is
// counted without an event.
TEST_F(RawInputCaptureTest, WhatIsCountedAndWhatIsShown) {
  Start();
  Deliver(kStart, MouseBytes(kMouseA, Move(1, 1)), 2);  // wParam neither RIM_INPUT nor sink
  state_.HandleMessage(kRimInput, 0);                   // null lParam
  state_.HandleMessage(kRimInput, 0x7777);              // unreadable: size 0
  Deliver(kStart, RawInputBytes(kRawInputTypeHid, kMouseA, 8));  // HID: not counted
  RawInputRecord record;  // though a header alone makes a whole HID record
  EXPECT_TRUE(DecodeRawInput(RawInputBytes(kRawInputTypeHid, 1, 0).data(), 24, &record));
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
  Mouse(kStart + 100, RawMouseInput());         // no motion, wheel or button
  Mouse(kStart + 200, Buttons(kRiMouseWheel));  // a wheel flag with a zero delta
  Mouse(kStart + 300, Buttons(0, 120));         // wheel data without a wheel flag
  Key(kStart + 400, 0);
  Key(kStart + 500, 255);
  EXPECT_EQ(state_.pending_size(), 0u);
  EXPECT_EQ(std::make_pair(state_.mouse_stats().count, state_.keyboard_stats().count),
            std::make_pair(uint64_t{3}, uint64_t{2}));
}

// Keys 0 and 255 are no keys (see above); E0 and E1 set flag bits 3 and 4.
TEST_F(RawInputCaptureTest, KeyboardEvents) {
  const std::tuple<uint16_t, int64_t, bool> cases[] = {{kRiKeyBreak, 0, false},
                                                       {kRiKeyE1, 4, true},
                                                       {kRiKeyE0 | kRiKeyE1, 7, true},
                                                       {kRiKeyE0 | kRiKeyBreak, 3, false}};
  Start();
  for (const auto& [raw_flags, flags, down] : cases) Key(kStart, 0x25, raw_flags);
  state_.Stop();
  const EncodableList events = Inputs();
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& [raw_flags, flags, down] = cases[i];
    EXPECT_EQ(std::make_tuple(Long(events[i], "vk"), Long(events[i], "scanCode"),
                              Long(events[i], "flags"), At(events[i], "down")),
              std::make_tuple(0x25, 0x4B, flags, EncodableValue(down)))
        << raw_flags;
  }
}

// Button masks span messages and mice; down and up in one message release.
TEST_F(RawInputCaptureTest, MouseEvents) {
  const std::tuple<uint64_t, RawMouseInput, std::vector<int64_t>> cases[] = {
      // device, input; dx, dy, wheel, buttons down, buttons changed
      {kMouseA, Buttons(0x0001), {0, 0, 0, 1, 1}},    // left down
      {kMouseB, Buttons(0x0040), {0, 0, 0, 9, 8}},    // button 4 on another mouse: both held
      {kMouseA, Buttons(0x0003), {0, 0, 0, 8, 1}},    // left down and up at once
      {kMouseB, Buttons(0x0114), {0, 0, 0, 30, 22}},  // right, middle and button 5 down
      {kMouseB, Buttons(0x02A8), {0, 0, 0, 0, 30}},   // right, 4, middle, 5 up
      {kMouseA, Move(-5, 2147483647), {-5, 2147483647, 0, 0, 0}},
      {kMouseA, Buttons(kRiMouseWheel, 0x7FFF), {0, 0, 0x7FFF, 0, 0}},
      {kMouseA, Buttons(kRiMouseHWheel, 0x8000), {0, 0, -0x8000, 0, 0}},
      {kMouseA, {kMouseMoveAbsolute, 0, 0, 32768, 0}, {32768, 0, 0, 0, 0}}};
  Start();
  for (const auto& [device, input, expected] : cases) Mouse(kStart, input, device);
  state_.Stop();
  const EncodableList events = Inputs();
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) {
    std::vector<int64_t> seen;
    for (const char* key : {"dx", "dy", "wheel", "buttonsDownMask", "buttonsChangedMask"}) {
      seen.push_back(Long(events[i], key));
    }
    EXPECT_EQ(seen, std::get<2>(cases[i])) << i;
    EXPECT_EQ(At(events[i], "isAbsolute"), EncodableValue(i + 1 == events.size())) << i;
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
  EXPECT_EQ(std::get<EncodableMap>(sent_[0]).size(), 2u);  // the channel and the events
  const EncodableList events = Inputs();
  ASSERT_EQ(events.size(), 64u);
  EXPECT_EQ(Long(events[63], "dx"), 64);
  Mouse(kStart + 1000, Move(1, 0));
  Tick(kStart + 64 + 7999);
  EXPECT_EQ(sent_.size(), 1u);
  Tick(kStart + 64 + 8000);
  EXPECT_EQ(sent_.size(), 2u);
  Mouse(kStart + 9000, Move(1, 0));
  Tick(kStart + 64 + 15999);
  EXPECT_EQ(sent_.size(), 2u);
  Tick(kStart + 64 + 16000);
  Tick(kStart + 64 + 40000);  // nothing pending: nothing sent
  EXPECT_EQ(sent_.size(), 3u);
}

// A summary every quarter second: per kind and per device, each device's
// path read once; devices silent for a window leave it.
TEST_F(RawInputCaptureTest, Summaries) {
  Start();
  Mouse(kStart + 1000, Move(1, 0), kMouseA);
  Mouse(kStart + 2000, Move(1, 0), kMouseA);
  Mouse(kStart + 4000, Move(1, 0), kMouseA);
  Mouse(kStart + 1500, Move(1, 0), kMouseB);  // stamps are the handler's: may interleave
  Mouse(kStart + 3000, Move(1, 0), kNameless);
  Mouse(kStart + 3500, Move(1, 0), 0);  // a null handle is not looked up
  Key(kStart + 5000, 0x41);
  Tick(kStart + 249999);
  EXPECT_TRUE(Sent("rawInputStats").empty());
  Tick(kStart + 262000);
  EXPECT_EQ(platform_.path_reads, 4);
  ASSERT_EQ(Sent("rawInputStats").size(), 1u);
  const EncodableValue summary = Sent("rawInputStats")[0];
  EXPECT_EQ(Long(summary, "windowUs"), 262000);
  EXPECT_EQ(Long(summary, "dropped"), 17);
  EXPECT_EQ(Long(At(summary, "mouse"), "count"), 6);
  EXPECT_EQ(std::get<double>(At(At(summary, "keyboard"), "hz")), 1000000.0 / 262000.0);
  std::map<std::string, EncodableValue> devices;
  for (const EncodableValue& d : List(summary, "devices")) {
    devices[std::get<std::string>(At(d, "path")) + "|" + std::get<std::string>(At(d, "kind"))] = d;
  }
  ASSERT_EQ(devices.size(), 4u);
  const EncodableValue& a = devices.at("\\\\?\\HID#mouseA|mouse");
  EXPECT_EQ(std::make_tuple(Long(a, "count"), Long(a, "minIntervalUs"), Long(a, "maxIntervalUs")),
            std::make_tuple(3, 1000, 2000));
  EXPECT_EQ(Long(devices.at("|mouse"), "count"), 2);  // nameless mice share one entry
  EXPECT_EQ(Long(devices.at("\\\\?\\HID#kbd|keyboard"), "count"), 1);

  // The next window starts empty: only mouse A speaks, and no interval spans
  // two windows. The others leave the table.
  Mouse(kStart + 300000, Move(1, 0), kMouseA);
  Tick(kStart + 512000);
  const EncodableValue second = Sent("rawInputStats")[1];
  EXPECT_EQ(Long(second, "windowUs"), 250000);
  EXPECT_EQ(std::make_tuple(Long(At(second, "mouse"), "count"),
                            Long(At(second, "mouse"), "meanIntervalUs"),
                            Long(At(second, "keyboard"), "count")),
            std::make_tuple(1, 0, 0));
  EXPECT_EQ(List(second, "devices").size(), 1u);
  Tick(kStart + 762000);  // a window without any message
  EXPECT_EQ(Long(At(Sent("rawInputStats")[2], "mouse"), "count"), 0);
  EXPECT_TRUE(List(Sent("rawInputStats")[2], "devices").empty());
  EXPECT_EQ(state_.device_entry_count(), 0u);
}

TEST_F(RawInputCaptureTest, StartDiscardsPendingInputAndResetsEverything) {
  Start();
  Mouse(kStart + 1, Buttons(0x0001));  // left held
  Start(kStart + 10);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(state_.pending_size() + state_.buttons_down_mask() + state_.mouse_stats().count +
                state_.device_entry_count() + state_.cached_path_count(),
            0u);
  EXPECT_EQ(std::make_pair(platform_.registrations, platform_.timers_set), std::make_pair(2, 2));
  Mouse(kStart + 11, Move(1, 0));
  EXPECT_EQ(platform_.path_reads, 2);  // a new capture reads paths again
  Tick(kStart + 10 + 249999);          // the summary clock restarted too
  EXPECT_EQ(sent_.size(), 1u);
  Tick(kStart + 10 + 250000);
  EXPECT_EQ(sent_.size(), 2u);
  // Without an emitter everything is discarded.
  state_.SetEventSink(nullptr, nullptr);
  for (int i = 0; i < 70; ++i) Mouse(kStart + 250000 + i, Move(1, 1));
  Tick(kStart + 600000);
  state_.Stop();
  EXPECT_EQ(sent_.size(), 2u);
}

}  // namespace
}  // namespace vek_native
