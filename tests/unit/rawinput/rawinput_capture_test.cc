#include "rawinput/rawinput_capture.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

constexpr uint64_t kMouseA = 0x101;
constexpr uint64_t kMouseB = 0x102;
constexpr uint64_t kKeyboard = 0x201;
constexpr uint64_t kNameless = 0x301;
constexpr uint64_t kStart = 1000000;

// The system as capture sees it: inputs waiting under their lParam, device
// names by handle, and a log of registrations and timers.
class FakePlatform : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle window, uint32_t* error) override {
    if (register_error != 0) {
      *error = register_error;
      return false;
    }
    ++registrations;
    return true;
  }
  void UnregisterInput() override { ++unregistrations; }
  void SetFlushTimer(WindowHandle) override { ++timers_set; }
  void KillFlushTimer(WindowHandle) override { ++timers_killed; }
  uint32_t InputSize(intptr_t input) override {
    auto it = inputs.find(input);
    return it == inputs.end() ? 0 : static_cast<uint32_t>(it->second.size());
  }
  bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    auto it = inputs.find(input);
    if (it == inputs.end() || it->second.size() > capacity) return false;
    std::copy(it->second.begin(), it->second.end(), buffer);
    *written = short_read ? static_cast<uint32_t>(kRawInputHeaderSize - 1)
                          : static_cast<uint32_t>(it->second.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    ++path_reads;
    auto it = paths.find(device);
    return it == paths.end() ? std::string() : it->second;
  }

  std::map<intptr_t, std::vector<uint8_t>> inputs;
  std::map<uint64_t, std::string> paths = {{kMouseA, "\\\\?\\HID#mouseA"},
                                           {kMouseB, "\\\\?\\HID#mouseB"},
                                           {kKeyboard, "\\\\?\\HID#kbd"}};
  uint32_t register_error = 0;
  bool short_read = false;
  int registrations = 0, unregistrations = 0, timers_set = 0, timers_killed = 0, path_reads = 0;
};

const EncodableValue& At(const EncodableMap& map, const char* key) {
  return map.at(EncodableValue(key));
}
const EncodableValue& At(const EncodableValue& map, const char* key) {
  return At(std::get<EncodableMap>(map), key);
}
int64_t Long(const EncodableValue& map, const char* key) { return At(map, key).LongValue(); }

class RawInputCaptureTest : public ::testing::Test {
 protected:
  RawInputCaptureTest() : state_(&platform_, [this] { return now_; }) {
    state_.SetEventSink([this](EncodableMap&& event) { sent_.push_back(std::move(event)); },
                        [this] { return dropped_; });
    state_.SetWindow(reinterpret_cast<WindowHandle>(0x1234));
  }

  void Start(uint64_t t = kStart) {
    now_ = t;
    std::string message;
    ASSERT_TRUE(state_.Start(&message)) << message;
  }
  void Deliver(uint64_t t, std::vector<uint8_t> bytes, uintptr_t wparam = kRimInputSink) {
    now_ = t;
    const intptr_t handle = next_input_++;
    platform_.inputs[handle] = std::move(bytes);
    state_.HandleMessage(wparam, handle);
  }
  void Mouse(uint64_t t, const RawMouseInput& m, uint64_t device = kMouseA) {
    Deliver(t, MouseBytes(device, m));
  }
  void Keyboard(uint64_t t, const RawKeyboardInput& k, uint64_t device = kKeyboard) {
    Deliver(t, KeyboardBytes(device, k));
  }
  void Tick(uint64_t t) {
    now_ = t;
    state_.HandleTimer();
  }

  std::vector<EncodableMap> Sent(const char* channel) const {
    std::vector<EncodableMap> out;
    for (const auto& e : sent_) {
      if (At(e, "channel") == EncodableValue(channel)) out.push_back(e);
    }
    return out;
  }
  // Every input event of every batch sent so far, in order.
  EncodableList InputEvents() const {
    EncodableList out;
    for (const auto& batch : Sent("rawInputBatch")) {
      for (const auto& e : std::get<EncodableList>(At(batch, "events"))) out.push_back(e);
    }
    return out;
  }

  FakePlatform platform_;
  uint64_t now_ = 0;
  uint64_t dropped_ = 0;
  intptr_t next_input_ = 0x5000;
  std::vector<EncodableMap> sent_;
  RawInputState state_;
};

TEST_F(RawInputCaptureTest, StartNeedsAWindowAndARegistrationAndAFailedRestartKeepsRunning) {
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

  // A failed restart keeps the running capture.
  platform_.register_error = 0;
  Start();
  Mouse(kStart + 10, Move(1, 0));
  platform_.register_error = 5;
  EXPECT_FALSE(state_.Start(&message));
  EXPECT_TRUE(state_.active());
  EXPECT_EQ(state_.pending_size(), 1u);
  EXPECT_EQ(state_.mouse_stats().count, 1u);
}

TEST_F(RawInputCaptureTest, MessagesWithoutAnythingToShowAreCountedWithoutEvents) {
  Start();
  Mouse(kStart + 100, RawMouseInput());         // no motion, wheel or button
  Mouse(kStart + 200, Buttons(kRiMouseWheel));  // wheel flag with a zero delta
  Keyboard(kStart + 300, Key(0, 0x2A, 0));
  Keyboard(kStart + 400, Key(255, 0, 0));
  EXPECT_EQ(state_.pending_size(), 0u);
  EXPECT_EQ(state_.mouse_stats().count, 2u);
  EXPECT_EQ(state_.keyboard_stats().count, 2u);
  Tick(kStart + 250000);
  ASSERT_EQ(Sent("rawInputStats").size(), 1u);
  EXPECT_TRUE(Sent("rawInputBatch").empty());
  const auto summary = Sent("rawInputStats")[0];
  EXPECT_EQ(Long(At(summary, "mouse"), "count"), 2);
  EXPECT_EQ(Long(At(summary, "keyboard"), "count"), 2);
  EXPECT_EQ(std::get<EncodableList>(At(summary, "devices")).size(), 2u);
}

TEST_F(RawInputCaptureTest, IgnoresWhatIsNotReadableInput) {
  Start();
  Deliver(kStart + 1, MouseBytes(kMouseA, Move(1, 1)), 2);  // wParam neither RIM_INPUT nor sink
  state_.HandleMessage(kRimInput, 0);                       // null lParam
  state_.HandleMessage(kRimInput, 0x7777);                  // unreadable: size 0
  Deliver(kStart + 2, RawInputHeaderBytes(kRawInputTypeHid, kMouseA, 8));  // HID: not counted
  auto truncated = MouseBytes(kMouseA, Move(1, 1));
  truncated.resize(kRawInputHeaderSize + 4);  // header says mouse, data cut short
  Deliver(kStart + 3, truncated);
  platform_.short_read = true;
  Mouse(kStart + 4, Move(1, 1));
  EXPECT_EQ(state_.mouse_stats().count, 0u);
  EXPECT_EQ(state_.pending_size(), 0u);

  state_.Stop();
  platform_.short_read = false;
  Mouse(kStart + 5, Move(1, 1));  // inactive
  EXPECT_EQ(state_.mouse_stats().count, 0u);
}

TEST_F(RawInputCaptureTest, KeyboardEventFlags) {
  const struct {
    uint16_t raw_flags;
    int64_t flags;
    bool down;
  } cases[] = {
      {0, 0, true},        {kRiKeyBreak, 0, false},        {kRiKeyE0, 3, true},
      {kRiKeyE1, 4, true}, {kRiKeyE0 | kRiKeyE1, 7, true}, {kRiKeyE0 | kRiKeyBreak, 3, false}};
  Start();
  uint64_t t = kStart;
  for (const auto& c : cases) Keyboard(++t, Key(0x25, 0x4B, c.raw_flags));
  state_.Stop();
  const EncodableList events = InputEvents();
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& e = std::get<EncodableMap>(events[i]);
    EXPECT_EQ(e.size(), 8u);
    EXPECT_EQ(At(e, "channel"), EncodableValue("rawInput"));
    EXPECT_EQ(At(e, "kind"), EncodableValue("keyboard"));
    EXPECT_EQ(At(e, "devicePath"), EncodableValue("\\\\?\\HID#kbd"));
    EXPECT_EQ(At(e, "timestampUs"), EncodableValue(static_cast<int64_t>(kStart + 1 + i)));
    EXPECT_EQ(At(e, "vk"), EncodableValue(int64_t{0x25}));
    EXPECT_EQ(At(e, "scanCode"), EncodableValue(int64_t{0x4B}));
    EXPECT_EQ(At(e, "flags"), EncodableValue(cases[i].flags));
    EXPECT_EQ(At(e, "down"), EncodableValue(cases[i].down));
  }
}

TEST_F(RawInputCaptureTest, ButtonMasksAcrossMessagesAndMice) {
  const struct {
    uint64_t device;
    uint16_t button_flags;
    int64_t down_mask;
    int64_t changed_mask;
  } steps[] = {
      {kMouseA, 0x0001, 1, 1},    // left down
      {kMouseA, 0x0002, 0, 1},    // left up
      {kMouseA, 0x0004, 2, 2},    // right down
      {kMouseB, 0x0040, 10, 8},   // button 4 down on another mouse: both held
      {kMouseA, 0x0003, 10, 1},   // left down and up at once: released
      {kMouseB, 0x0110, 30, 20},  // middle and button 5 down
      {kMouseB, 0x02A8, 0, 30},   // right, 4, middle, 5 up
  };
  Start();
  uint64_t t = kStart;
  for (const auto& s : steps) Mouse(++t, Buttons(s.button_flags), s.device);
  state_.Stop();
  const EncodableList events = InputEvents();
  ASSERT_EQ(events.size(), std::size(steps));
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Long(events[i], "buttonsDownMask"), steps[i].down_mask);
    EXPECT_EQ(Long(events[i], "buttonsChangedMask"), steps[i].changed_mask);
  }
}

TEST_F(RawInputCaptureTest, MouseEventMotionWheelAndAbsolute) {
  Start();
  Mouse(kStart + 1, Move(-5, 12));
  Mouse(kStart + 2, Buttons(kRiMouseWheel, 0xFF88));  // -120
  Mouse(kStart + 3, Buttons(kRiMouseHWheel, 120));
  Mouse(kStart + 4, Buttons(0, 120));  // data without a wheel flag
  RawMouseInput absolute = Move(32768, 16384);
  absolute.flags = kMouseMoveAbsolute;
  Mouse(kStart + 5, absolute);
  state_.Stop();
  const EncodableList events = InputEvents();
  ASSERT_EQ(events.size(), 4u);
  const auto& move = std::get<EncodableMap>(events[0]);
  EXPECT_EQ(move.size(), 10u);
  EXPECT_EQ(At(move, "kind"), EncodableValue("mouse"));
  EXPECT_EQ(At(move, "devicePath"), EncodableValue("\\\\?\\HID#mouseA"));
  EXPECT_EQ(Long(events[0], "dx"), -5);
  EXPECT_EQ(Long(events[0], "dy"), 12);
  EXPECT_EQ(Long(events[0], "wheel"), 0);
  EXPECT_EQ(At(move, "isAbsolute"), EncodableValue(false));
  EXPECT_EQ(Long(events[1], "wheel"), -120);
  EXPECT_EQ(Long(events[2], "wheel"), 120);
  EXPECT_EQ(Long(events[3], "dx"), 32768);
  EXPECT_EQ(At(events[3], "isAbsolute"), EncodableValue(true));
  EXPECT_EQ(state_.mouse_stats().count, 0u);  // stop resets
}

TEST_F(RawInputCaptureTest, SixtyFourthEventSendsABatchAtOnce) {
  Start();
  for (int i = 1; i <= 63; ++i) Mouse(kStart + i, Move(i, 0));
  EXPECT_TRUE(Sent("rawInputBatch").empty());
  Mouse(kStart + 64, Move(64, 0));
  const auto batches = Sent("rawInputBatch");
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].size(), 2u);
  const auto& events = std::get<EncodableList>(At(batches[0], "events"));
  ASSERT_EQ(events.size(), 64u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(Long(events[i], "dx"), i + 1);
  EXPECT_EQ(state_.pending_size(), 0u);
}

TEST_F(RawInputCaptureTest, FewerEventsGoOutOnTheFirstTickEightMillisecondsAfterTheLastBatch) {
  Start();
  Mouse(kStart + 1000, Move(1, 0));
  Mouse(kStart + 2000, Move(2, 0));
  Tick(kStart + 7999);
  EXPECT_TRUE(Sent("rawInputBatch").empty());
  Tick(kStart + 8000);
  ASSERT_EQ(Sent("rawInputBatch").size(), 1u);
  EXPECT_EQ(std::get<EncodableList>(At(Sent("rawInputBatch")[0], "events")).size(), 2u);
  // The next batch is timed from this one.
  Mouse(kStart + 9000, Move(3, 0));
  Tick(kStart + 15999);
  EXPECT_EQ(Sent("rawInputBatch").size(), 1u);
  Tick(kStart + 16000);
  EXPECT_EQ(Sent("rawInputBatch").size(), 2u);
  Tick(kStart + 40000);  // nothing pending: nothing sent
  EXPECT_EQ(Sent("rawInputBatch").size(), 2u);
}

TEST_F(RawInputCaptureTest, SummaryEveryQuarterSecondWithDevicesAndDropped) {
  platform_.paths.erase(kNameless);
  Start();
  Mouse(kStart + 1000, Move(1, 0), kMouseA);
  Mouse(kStart + 2000, Move(1, 0), kMouseA);
  Mouse(kStart + 4000, Move(1, 0), kMouseA);
  Mouse(kStart + 1500, Move(1, 0), kMouseB);  // stamps are the handler's: may interleave
  Mouse(kStart + 3000, Move(1, 0), kNameless);
  Keyboard(kStart + 5000, Key(0x41, 0x1E, 0));
  dropped_ = 17;
  Tick(kStart + 249999);
  EXPECT_TRUE(Sent("rawInputStats").empty());
  Tick(kStart + 262000);
  ASSERT_EQ(Sent("rawInputStats").size(), 1u);
  const EncodableMap summary = Sent("rawInputStats")[0];
  EXPECT_EQ(summary.size(), 9u);
  EXPECT_EQ(At(summary, "timestampUs"), EncodableValue(static_cast<int64_t>(kStart + 262000)));
  EXPECT_EQ(At(summary, "windowUs"), EncodableValue(int64_t{262000}));
  EXPECT_EQ(At(summary, "dropped"), EncodableValue(int64_t{17}));
  EXPECT_EQ(Long(At(summary, "mouse"), "count"), 5);
  EXPECT_EQ(Long(At(summary, "keyboard"), "count"), 1);
  EXPECT_DOUBLE_EQ(std::get<double>(At(At(summary, "keyboard"), "hz")), 1000000.0 / 262000.0);

  std::map<std::string, EncodableMap> devices;
  for (const auto& d : std::get<EncodableList>(At(summary, "devices"))) {
    const auto& map = std::get<EncodableMap>(d);
    devices[std::get<std::string>(At(map, "path")) + "|" + std::get<std::string>(At(map, "kind"))] =
        map;
  }
  ASSERT_EQ(devices.size(), 4u);
  const EncodableValue a(devices.at("\\\\?\\HID#mouseA|mouse"));
  EXPECT_EQ(Long(a, "count"), 3);
  EXPECT_EQ(Long(a, "minIntervalUs"), 1000);
  EXPECT_EQ(Long(a, "maxIntervalUs"), 2000);
  EXPECT_EQ(std::get<EncodableMap>(a).size(), 12u);
  EXPECT_EQ(Long(EncodableValue(devices.at("|mouse")), "count"), 1);  // the "__mouse" entry
  EXPECT_EQ(Long(EncodableValue(devices.at("\\\\?\\HID#kbd|keyboard")), "count"), 1);

  // Next window: only mouse A speaks. The others leave the summary at once
  // (count 0) and the table after it.
  Mouse(kStart + 300000, Move(1, 0), kMouseA);
  EXPECT_EQ(state_.mouse_stats().count, 1u);  // the window started empty
  Tick(kStart + 512000);
  ASSERT_EQ(Sent("rawInputStats").size(), 2u);
  const EncodableMap second = Sent("rawInputStats")[1];
  EXPECT_EQ(At(second, "windowUs"), EncodableValue(int64_t{250000}));
  EXPECT_EQ(Long(At(second, "mouse"), "count"), 1);
  EXPECT_EQ(Long(At(second, "mouse"), "meanIntervalUs"), 0);  // no interval spans windows
  EXPECT_EQ(std::get<EncodableList>(At(second, "devices")).size(), 1u);
  EXPECT_EQ(state_.device_entry_count(), 1u);

  // A window without any message.
  Tick(kStart + 762000);
  const EncodableMap third = Sent("rawInputStats")[2];
  EXPECT_EQ(Long(At(third, "mouse"), "count"), 0);
  EXPECT_EQ(std::get<double>(At(At(third, "mouse"), "hz")), 0.0);
  EXPECT_TRUE(std::get<EncodableList>(At(third, "devices")).empty());
  EXPECT_EQ(state_.device_entry_count(), 0u);
}

TEST_F(RawInputCaptureTest, DevicePathIsReadOncePerDevice) {
  Start();
  for (int i = 0; i < 5; ++i) {
    Mouse(kStart + i, Move(1, 0), kMouseA);
    Mouse(kStart + i, Move(1, 0), kNameless);  // unreadable names are cached too
  }
  Mouse(kStart + 9, Move(1, 0), 0);  // a null handle is never looked up
  EXPECT_EQ(platform_.path_reads, 2);
  EXPECT_EQ(state_.cached_path_count(), 2u);
  // A new capture asks again.
  Start(kStart + 100);
  Mouse(kStart + 101, Move(1, 0), kMouseA);
  EXPECT_EQ(platform_.path_reads, 3);
}

TEST_F(RawInputCaptureTest, StopSendsAFinalBatchButNoSummary) {
  Start();
  Mouse(kStart + 1, Move(1, 0));
  Keyboard(kStart + 2, Key(0x41, 0x1E, 0));
  now_ = kStart + 400000;  // a summary would be due
  state_.Stop();
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(std::get<EncodableList>(At(sent_[0], "events")).size(), 2u);
  EXPECT_FALSE(state_.active());
  EXPECT_EQ(platform_.timers_killed, 1);
  EXPECT_EQ(platform_.unregistrations, 1);
  EXPECT_EQ(state_.input_buffer_size(), 0u);
  EXPECT_EQ(state_.device_entry_count(), 0u);
  EXPECT_EQ(state_.cached_path_count(), 0u);
  Tick(kStart + 800000);  // inactive: ignored
  state_.Stop();          // a second stop does nothing
  EXPECT_EQ(sent_.size(), 1u);
  EXPECT_EQ(platform_.unregistrations, 1);
}

TEST_F(RawInputCaptureTest, StartDiscardsPendingInputAndResetsEverything) {
  Start();
  Mouse(kStart + 1, Buttons(0x0001));  // left held
  Mouse(kStart + 2, Move(3, 3));
  Start(kStart + 10);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(state_.pending_size(), 0u);
  EXPECT_EQ(state_.buttons_down_mask(), 0u);
  EXPECT_EQ(state_.mouse_stats().count, 0u);
  EXPECT_EQ(state_.device_entry_count(), 0u);
  EXPECT_EQ(platform_.registrations, 2);
  EXPECT_EQ(platform_.timers_set, 2);
  Tick(kStart + 10 + 8000);
  EXPECT_TRUE(Sent("rawInputBatch").empty());
  // The summary clock restarted at the second start.
  Tick(kStart + 10 + 249999);
  EXPECT_TRUE(Sent("rawInputStats").empty());
  Tick(kStart + 10 + 250000);
  EXPECT_EQ(Sent("rawInputStats").size(), 1u);
}

TEST_F(RawInputCaptureTest, WithoutAnEmitterEventsAreDiscarded) {
  state_.SetEventSink(nullptr, nullptr);
  Start();
  for (int i = 0; i < 70; ++i) Mouse(kStart + i, Move(1, 1));  // a full batch on the way
  Tick(kStart + 300000);
  state_.Stop();
  EXPECT_TRUE(sent_.empty());
  EXPECT_FALSE(state_.active());
}

}  // namespace
}  // namespace vek_native
