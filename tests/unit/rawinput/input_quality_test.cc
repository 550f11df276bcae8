// Chatter and rollover from recorded raw input sequences, read back from the
// "rawInputStats" summary the capture sends, and the intervals' spread.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/interval_stats.h"
#include "rawinput/rawinput_capture.h"
#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

constexpr uint64_t kKbd1 = 1, kKbd2 = 2, kMouse1 = 3, kMouse2 = 4;  // paths "dev1" ...
constexpr uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002, kRightDown = 0x0004, kRightUp = 0x0008;

// One recorded message: microseconds after the start, and its bytes. Keys
// are given by scan code; their VK is the scan code + 0x100.
using Message = std::pair<uint64_t, std::vector<uint8_t>>;
Message Down(uint64_t t, uint64_t kbd, uint16_t scan, uint16_t flags = 0) {
  return {t, KeyboardBytes(kbd, static_cast<uint16_t>(scan + 0x100), scan, flags)};
}
Message Up(uint64_t t, uint64_t kbd, uint16_t scan) { return Down(t, kbd, scan, kRiKeyBreak); }
Message Click(uint64_t t, uint64_t mouse, uint16_t button_flags) {
  return {t, MouseBytes(mouse, RawMouseInput{0, button_flags})};
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
  return list ? "[" + out + "]" : map ? "{" + out + "}" : std::to_string(value.LongValue());
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
  WindowHandle OpenThreadWindow(RawInputThreadHandlers, std::string*) override { return nullptr; }
  void ServeThreadWindow(WindowHandle) override {}
  void CloseThreadWindow(WindowHandle) override {}

  void Start(int32_t threshold_ms) {
    start = now += 1000000;
    std::string message;
    EXPECT_TRUE(state.Start(RawInputOptions{threshold_ms, false}, &message));
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
    const auto& entries = std::get<EncodableList>(sent.back().at(EncodableValue(list)));
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(Show(e));
    return out;
  }

  RawInputState state{this, [this] { return now; }};
  std::vector<uint8_t> input;
  uint64_t now = 0, start = 0;
  std::vector<EncodableMap> sent;
};

TEST(InputQualityTest, RecordedSequences) {
  const uint16_t kA = 0x1E;  // scan code 30
  const struct {
    const char* name;
    std::vector<Message> messages;
    std::vector<std::string> entries;
    const char* list = "chatter";
  } rows[] = {
      {"typematic repeats are neither presses nor chatter; the gap runs from the release",
       {Down(0, kKbd1, kA), Down(500000, kKbd1, kA), Down(533000, kKbd1, kA), Up(600000, kKbd1, kA),
        Down(620000, kKbd1, kA), Up(700000, kKbd1, kA)},
       {"{chatterCount=1 devicePath=dev1 flags=0 kind=keyboard minGapUs=20000 presses=2 "
        "scanCode=30 vk=286}"}},
      {"the threshold is exclusive; buttons and mice apart; down and up in one message",
       {Click(0, kMouse1, kLeftDown), Click(10000, kMouse1, kLeftUp),
        Click(40000, kMouse1, kLeftDown), Click(50000, kMouse1, kLeftUp | kRightDown),
        Click(50000, kMouse2, kLeftDown), Click(79999, kMouse1, kLeftDown | kRightUp),
        Click(80000, kMouse1, kLeftUp | kRightDown), Click(81000, kMouse1, kLeftDown | kLeftUp),
        // The right button's release leaves the left one held.
        Click(200000, kMouse1, kLeftDown), Click(210000, kMouse1, kRightUp),
        Click(215000, kMouse1, kLeftDown),
        // A right click soon after a left release is no left press.
        Click(300000, kMouse2, kLeftUp), Click(310000, kMouse2, kRightDown)},
       {"{button=1 chatterCount=2 devicePath=dev3 kind=mouse minGapUs=1000 presses=5}",
        "{button=2 chatterCount=1 devicePath=dev3 kind=mouse minGapUs=1 presses=2}"}},
      {"a typematic repeat holds no second key",
       {Down(0, kKbd1, kA), Down(500000, kKbd1, kA), Down(533000, kKbd1, kA)},
       {"{devicePath=dev1 keys=[{flags=0 scanCode=30 vk=286}] maxKeysDown=1}"},
       "rollover"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Session(30).Play(row.messages, row.list), row.entries) << row.name;
  }
}

TEST(InputQualityTest, RolloverPerKeyboardWithTheKeysOfThatMoment) {
  // Keyboard B's second key is the first one with the E0 prefix: another key.
  EXPECT_EQ(
      Session(30).Play({Down(0, kKbd1, 0x1E), Down(1, kKbd2, 0x30), Down(2, kKbd1, 0x30),
                        Up(3, kKbd1, 0x1E), Down(4, kKbd2, 0x30, kRiKeyE0), Down(5, kKbd1, 0x1F)},
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
                       : i / 700 == 1 ? Up(i, kKbd1, scan)
                                      : Down(i, kKbd1, scan));
  }
  Session session(30);
  EXPECT_EQ(session.Play(messages, "chatter").size(), kQualityKeyLimit + kQualityDeviceLimit - 1);
  // A silent window keeps what was counted.
  EXPECT_NE(session.Play({}, "rollover")[0].find("maxKeysDown=512}"), std::string::npos);
  // A new start forgets it all and takes its own threshold: 40 ms is chatter at 50 ms.
  session.Start(50);
  const std::vector<Message> forty_ms = {Click(0, kMouse1, kLeftDown),
                                         Click(50000, kMouse1, kLeftUp),
                                         Click(90000, kMouse1, kLeftDown)};
  EXPECT_EQ(session.Play(forty_ms, "chatter").size(), 1u);
}

// The spread of a window's intervals (median, 99th percentile, standard
// deviation, gaps) against a full sort of the same intervals.
IntervalStats Feed(const std::vector<uint64_t>& intervals, IntervalStats stats = {}) {
  uint64_t t = 5000;
  stats.Update(t);
  for (uint64_t interval : intervals) stats.Update(t += interval);
  return stats;
}

TEST(IntervalSpreadTest, MatchesASortOfTheSameRandomIntervals) {
  std::mt19937_64 random(20240517);
  for (size_t n : {1, 2, 3, 4, 99, 100, 101, 1000, 8001, 16384}) {
    const size_t shape = n % 3;
    SCOPED_TRACE(std::to_string(n) + " intervals, shape " + std::to_string(shape));
    // Uniform; 8 kHz polls, a few missed; a heavy tail.
    std::vector<uint64_t> intervals(n);
    for (auto& v : intervals) {
      const uint64_t r = random() % 1000;
      const uint64_t polls = r < 20 ? 375 : r < 60 ? 250 : 120 + r % 11;
      v = shape == 0 ? random() % 10000 : shape == 1 ? polls : std::llround(std::exp(r / 80.0));
    }
    // An odd count starts with an interval of 5 ms carried from an earlier window.
    IntervalStats carried;
    carried.has_previous = n % 2 == 1;
    if (carried.has_previous) intervals[0] = 5000;
    const EncodableMap map =
        BuildStatsMap(Feed({intervals.begin() + n % 2, intervals.end()}, carried), 1);
    const auto at = [&map](const char* key) { return map.at(EncodableValue(key)).LongValue(); };
    // The oracle: nearest rank is the ceil(p n / 100)-th of the sorted values.
    std::sort(intervals.begin(), intervals.end());
    EXPECT_EQ(at("p50IntervalUs"), intervals[(n + 1) / 2 - 1]);
    EXPECT_EQ(at("p99IntervalUs"), intervals[static_cast<size_t>(std::ceil(0.99 * n)) - 1]);
    long double mean = 0, squares = 0;
    for (uint64_t v : intervals) mean += static_cast<long double>(v) / n;
    for (uint64_t v : intervals) squares += (v - mean) * (v - mean) / n;
    EXPECT_EQ(at("stdDevIntervalUs"), std::llround(std::sqrt(squares)));
    EXPECT_EQ(at("gapCount"), std::count_if(intervals.begin(), intervals.end(), [&](uint64_t v) {
                return v > 2 * intervals[(n + 1) / 2 - 1];
              }));
  }
}

TEST(IntervalSpreadTest, BeyondTheHeldLimitTheWholeWindowIsSampled) {
  // 40,000 intervals of 1 ms, then 10,000 of 5 ms: a stall at the end of the
  // window, which holding only the first intervals would miss.
  std::vector<uint64_t> intervals(40000, 1000);
  intervals.resize(50000, 5000);
  const IntervalStats stats = Feed(intervals);
  EXPECT_EQ(stats.held_intervals.size(), kHeldIntervalLimit);
  const IntervalSpread spread = ComputeIntervalSpread(stats);
  EXPECT_EQ(spread.p99_us, 5000u);
  // A fifth of a uniform sample, scaled to the window: within five standard
  // deviations of 10,000.
  EXPECT_NEAR(static_cast<double>(spread.gap_count), 10000.0, 800.0);
}

}  // namespace
}  // namespace vek_native
