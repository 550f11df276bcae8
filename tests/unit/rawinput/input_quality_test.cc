// Chatter and rollover from recorded raw input sequences, read back from the
// "rawInputStats" summary the capture sends.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/rawinput_capture.h"
#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

constexpr uint64_t kKbdA = 1, kKbdB = 2, kMouseA = 3, kMouseB = 4;  // paths "dev1" ...
constexpr uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002, kRightDown = 0x0004, kRightUp = 0x0008;

// One recorded message: microseconds after the start, and its bytes. Keys
// are given by scan code; their VK is the scan code + 0x100.
using Message = std::pair<uint64_t, std::vector<uint8_t>>;
Message Down(uint64_t t, uint64_t kbd, uint16_t scan, uint16_t flags = 0) {
  return {t, KeyboardBytes(kbd, static_cast<uint16_t>(scan + 0x100), scan, flags)};
}
Message Up(uint64_t t, uint64_t kbd, uint16_t scan, uint16_t flags = 0) {
  return Down(t, kbd, scan, static_cast<uint16_t>(flags | kRiKeyBreak));
}
Message Click(uint64_t t, uint64_t mouse, uint16_t button_flags) {
  RawMouseInput buttons;
  buttons.button_flags = button_flags;
  return {t, MouseBytes(mouse, buttons)};
}

// A summary value as text, maps as {key=value ...} in key order, so a whole
// entry, its set of keys included, is compared at once.
std::string Show(const EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  const auto* list = std::get_if<EncodableList>(&value);
  const auto* map = std::get_if<EncodableMap>(&value);
  std::string out;
  for (size_t i = 0; list && i < list->size(); ++i) out += (i ? " " : "") + Show((*list)[i]);
  for (const auto& [k, v] : map ? *map : EncodableMap()) {
    out += (out.empty() ? "" : " ") + Show(k) + "=" + Show(v);
  }
  if (list || map) return list ? "[" + out + "]" : "{" + out + "}";
  return std::to_string(value.LongValue());
}

// The capture, fed one recorded message at a time.
class Session : public RawInputPlatform {
 public:
  explicit Session(int32_t threshold_ms) {
    state.SetEventSink([this](EncodableMap&& e) { sent.push_back(std::move(e)); }, nullptr);
    state.SetWindow(this);
    Start(threshold_ms);
  }
  bool RegisterInput(WindowHandle, uint32_t*) override { return true; }
  void UnregisterInput() override {}
  void SetFlushTimer(WindowHandle) override {}
  void KillFlushTimer(WindowHandle) override {}
  uint32_t InputSize(intptr_t) override { return static_cast<uint32_t>(input.size()); }
  bool ReadInput(intptr_t, uint8_t* buffer, uint32_t, uint32_t* written) override {
    std::copy(input.begin(), input.end(), buffer);
    *written = static_cast<uint32_t>(input.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override { return "dev" + std::to_string(device); }

  void Start(int32_t threshold_ms) {
    start = now += 1000000;
    std::string message;
    EXPECT_TRUE(state.Start(threshold_ms, &message));
  }
  // The capture's lists after the messages: the summary a quarter second on.
  std::vector<std::string> Play(const std::vector<Message>& messages, const char* list) {
    for (const auto& [t, bytes] : messages) {
      now = start + t;
      input = bytes;
      state.HandleMessage(kRimInput, 1);
    }
    now += kRawInputSummaryIntervalUs;
    state.HandleTimer();
    std::vector<std::string> out;
    for (const auto& e : std::get<EncodableList>(sent.back().at(EncodableValue(list)))) {
      out.push_back(Show(e));
    }
    return out;
  }

  RawInputState state{this, [this] { return now; }};
  std::vector<uint8_t> input;
  uint64_t now = 0, start = 0;
  std::vector<EncodableMap> sent;
};

TEST(InputQualityTest, RecordedSequences) {
  const uint16_t kA = 0x1E, kB = 0x30;
  const std::string kKeyA = "devicePath=dev1 flags=0 kind=keyboard";
  const struct {
    const char* name;
    std::vector<Message> messages;
    std::vector<std::string> chatter;
  } rows[] = {
      {"a clean switch; mouse double-clicks 200 ms and 25 ms after the release",
       {Down(0, kKbdA, kA), Up(90000, kKbdA, kA), Down(400000, kKbdA, kA), Up(470000, kKbdA, kA),
        Click(0, kMouseA, kLeftDown), Click(80000, kMouseA, kLeftUp),
        Click(280000, kMouseA, kLeftDown), Click(350000, kMouseA, kLeftUp),
        Click(0, kMouseB, kLeftDown), Click(80000, kMouseB, kLeftUp),
        Click(105000, kMouseB, kLeftDown), Click(170000, kMouseB, kLeftUp)},
       {"{button=1 chatterCount=1 devicePath=dev4 kind=mouse minGapUs=25000 presses=2}"}},
      {"a switch that bounces 3 times within 5 ms",
       {Down(0, kKbdA, kA), Up(1000, kKbdA, kA), Down(1800, kKbdA, kA), Up(2600, kKbdA, kA),
        Down(3200, kKbdA, kA), Up(3900, kKbdA, kA), Down(4700, kKbdA, kA), Up(90000, kKbdA, kA)},
       {"{chatterCount=3 " + kKeyA + " minGapUs=600 presses=4 scanCode=30 vk=286}"}},
      {"typematic repeats are neither presses nor chatter; the gap runs from the release",
       {Down(0, kKbdA, kA), Down(500000, kKbdA, kA), Down(533000, kKbdA, kA), Up(600000, kKbdA, kA),
        Down(620000, kKbdA, kA), Up(700000, kKbdA, kA)},
       {"{chatterCount=1 " + kKeyA + " minGapUs=20000 presses=2 scanCode=30 vk=286}"}},
      {"two keyboards interleaved: keyboard B's key 2 ms after keyboard A's",
       {Down(0, kKbdA, kA), Down(2000, kKbdB, kB), Down(4000, kKbdA, kB), Up(40000, kKbdA, kA),
        Up(41000, kKbdB, kB), Down(42000, kKbdB, kA), Down(43000, kKbdB, kB)},
       {"{chatterCount=1 devicePath=dev2 flags=0 kind=keyboard minGapUs=2000 presses=2 "
        "scanCode=48 vk=304}"}},
      {"a keyboard and a mouse whose names cannot be read stay apart",
       {Down(0, 0, kA), Up(1000, 0, kA), Down(2000, 0, kA), Click(0, 0, kLeftDown | kLeftUp),
        Click(3000, 0, kLeftDown)},
       {"{chatterCount=1 devicePath= flags=0 kind=keyboard minGapUs=1000 presses=2 scanCode=30 "
        "vk=286}",
        "{button=1 chatterCount=1 devicePath= kind=mouse minGapUs=3000 presses=2}"}},
      {"the threshold is exclusive; buttons and mice apart; down and up in one message",
       {Click(0, kMouseA, kLeftDown), Click(10000, kMouseA, kLeftUp),
        Click(40000, kMouseA, kLeftDown), Click(50000, kMouseA, kLeftUp | kRightDown),
        Click(50000, kMouseB, kLeftDown), Click(79999, kMouseA, kLeftDown | kRightUp),
        Click(80000, kMouseA, kLeftUp | kRightDown), Click(81000, kMouseA, kLeftDown | kLeftUp),
        // The right button's release leaves the left one held.
        Click(200000, kMouseA, kLeftDown), Click(210000, kMouseA, kRightUp),
        Click(215000, kMouseA, kLeftDown)},
       {"{button=1 chatterCount=2 devicePath=dev3 kind=mouse minGapUs=1000 presses=5}",
        "{button=2 chatterCount=1 devicePath=dev3 kind=mouse minGapUs=1 presses=2}"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Session(30).Play(row.messages, "chatter"), row.chatter);
  }
}

TEST(InputQualityTest, RolloverPerKeyboardWithTheKeysOfThatMoment) {
  // Keyboard B's second key is the first one with the E0 prefix: another key.
  EXPECT_EQ(
      Session(30).Play({Down(0, kKbdA, 0x1E), Down(1, kKbdB, 0x30), Down(2, kKbdA, 0x30),
                        Up(3, kKbdA, 0x1E), Down(4, kKbdB, 0x30, kRiKeyE0), Down(5, kKbdA, 0x1F)},
                       "rollover"),
      (std::vector<std::string>{
          "{devicePath=dev1 keys=[{flags=0 scanCode=30 vk=286} {flags=0 scanCode=48 vk=304}] "
          "maxKeysDown=2}",
          "{devicePath=dev2 keys=[{flags=0 scanCode=48 vk=304} {flags=3 scanCode=48 vk=304}] "
          "maxKeysDown=2}"}));
}

TEST(InputQualityTest, BoundedCumulativeAndResetByStartAndStop) {
  // One keyboard holds 700 distinct scan codes, releases them and presses
  // them again at once; 100 mice double-click.
  std::vector<Message> messages;
  for (uint16_t i = 0; i < 2300; ++i) {
    const auto scan = static_cast<uint16_t>(i % 700 + 1);
    messages.push_back(i >= 2100      ? Click(i, i / 2, i % 2 ? kLeftDown : kLeftDown | kLeftUp)
                       : i / 700 == 1 ? Up(i, kKbdA, scan)
                                      : Down(i, kKbdA, scan));
  }
  Session session(30);
  EXPECT_EQ(session.Play(messages, "chatter").size(), kQualityKeyLimit + kQualityDeviceLimit - 1);
  // A silent window keeps what was counted.
  EXPECT_NE(session.Play({}, "rollover")[0].find("maxKeysDown=512}"), std::string::npos);
  // A new start forgets it all and takes its own threshold: 40 ms is chatter at 50 ms.
  session.Start(50);
  EXPECT_EQ(session
                .Play({Click(0, kMouseA, kLeftDown), Click(50000, kMouseA, kLeftUp),
                       Click(90000, kMouseA, kLeftDown)},
                      "chatter")
                .size(),
            1u);
  session.state.Stop();
  EXPECT_EQ(session.state.quality().device_count(), 0u);
}

}  // namespace
}  // namespace vek_native
