// Chatter and rollover from recorded raw input sequences, read back from the
// "rawInputStats" summary the capture sends.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rawinput/rawinput_capture.h"
#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

constexpr uint64_t kStart = 1000000;
enum Device : uint64_t { kKbdA = 0x201, kKbdB = 0x202, kMouseA = 0x101, kMouseB = 0x102 };

class QualityPlatform : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle, uint32_t*) override { return true; }
  void UnregisterInput() override {}
  void SetFlushTimer(WindowHandle) override {}
  void KillFlushTimer(WindowHandle) override {}
  uint32_t InputSize(intptr_t) override { return static_cast<uint32_t>(input.size()); }
  bool ReadInput(intptr_t, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    if (input.size() > capacity) return false;
    std::copy(input.begin(), input.end(), buffer);
    *written = static_cast<uint32_t>(input.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    static const std::map<uint64_t, std::string> kPaths = {
        {kKbdA, "kbdA"}, {kKbdB, "kbdB"}, {kMouseA, "mouseA"}, {kMouseB, "mouseB"}};
    auto it = kPaths.find(device);
    return it == kPaths.end() ? "dev" + std::to_string(device) : it->second;
  }
  std::vector<uint8_t> input;
};

// One recorded message: microseconds after the start, and its bytes.
struct Message {
  uint64_t t;
  std::vector<uint8_t> bytes;
};
Message Down(uint64_t t, uint64_t kbd, uint16_t vk, uint16_t scan, uint16_t extra = 0) {
  return {t, KeyboardBytes(kbd, Key(vk, scan, extra))};
}
Message Up(uint64_t t, uint64_t kbd, uint16_t vk, uint16_t scan, uint16_t extra = 0) {
  return {t, KeyboardBytes(kbd, Key(vk, scan, static_cast<uint16_t>(extra | kRiKeyBreak)))};
}
Message Click(uint64_t t, uint64_t mouse, uint16_t button_flags) {
  return {t, MouseBytes(mouse, Buttons(button_flags))};
}
constexpr uint16_t kLeftDown = 0x0001, kLeftUp = 0x0002, kRightDown = 0x0004, kRightUp = 0x0008;

// A summary value as text: maps as {key=value ...} in key order, lists as
// [...], so a whole entry is compared at once, its set of keys included.
std::string Show(const EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
  if (const auto* number = std::get_if<double>(&value)) return std::to_string(*number);
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    std::string out = "[";
    for (const auto& element : *list) out += (out.size() > 1 ? " " : "") + Show(element);
    return out + "]";
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    std::string out = "{";
    for (const auto& [k, v] : *map) out += (out.size() > 1 ? " " : "") + Show(k) + "=" + Show(v);
    return out + "}";
  }
  return std::to_string(value.LongValue());
}

std::vector<std::string> ShowList(const EncodableMap& summary, const char* key) {
  std::vector<std::string> out;
  for (const auto& e : std::get<EncodableList>(summary.at(EncodableValue(key)))) {
    out.push_back(Show(e));
  }
  return out;
}

class Session {
 public:
  Session() : state_(&platform_, [this] { return now_; }) {
    state_.SetEventSink(
        [this](EncodableMap&& e) {
          if (e.at(EncodableValue("channel")) == EncodableValue("rawInputStats")) {
            summaries_.push_back(std::move(e));
          }
        },
        nullptr);
    state_.SetWindow(reinterpret_cast<WindowHandle>(0x1234));
  }
  void Start(int32_t threshold_ms, uint64_t at = kStart) {
    now_ = at;
    start_ = at;
    std::string message;
    ASSERT_TRUE(state_.Start(threshold_ms, &message)) << message;
  }
  void Play(const std::vector<Message>& messages) {
    for (const Message& m : messages) {
      now_ = start_ + m.t;
      platform_.input = m.bytes;
      state_.HandleMessage(kRimInput, 1);
    }
  }
  // The summary of the first tick a quarter second after the last one.
  EncodableMap Summary() {
    now_ += kRawInputSummaryIntervalUs;
    const size_t before = summaries_.size();
    state_.HandleTimer();
    EXPECT_EQ(summaries_.size(), before + 1);
    return summaries_.empty() ? EncodableMap() : summaries_.back();
  }
  RawInputState& state() { return state_; }

 private:
  QualityPlatform platform_;
  uint64_t now_ = 0;
  uint64_t start_ = 0;
  std::vector<EncodableMap> summaries_;
  RawInputState state_;
};

struct Row {
  const char* name;
  int32_t threshold_ms;
  std::vector<Message> messages;
  std::vector<std::string> chatter;
  std::vector<std::string> rollover;
};

TEST(InputQualityTest, RecordedSequences) {
  const uint16_t kA = 0x41, kScanA = 0x1E, kB = 0x42, kScanB = 0x30, kC = 0x43, kScanC = 0x2E;
  const uint16_t kW = 0x57, kScanW = 0x11, kCtrl = 0x11, kScanCtrl = 0x1D;
  const Row rows[] = {
      {"a clean switch: two presses far apart",
       30,
       {Down(0, kKbdA, kA, kScanA), Up(90000, kKbdA, kA, kScanA), Down(400000, kKbdA, kA, kScanA),
        Up(470000, kKbdA, kA, kScanA)},
       {},
       {"{devicePath=kbdA keys=[{flags=0 scanCode=30 vk=65}] maxKeysDown=1}"}},
      {"a switch that bounces 3 times within 5 ms",
       30,
       {Down(0, kKbdA, kA, kScanA), Up(1000, kKbdA, kA, kScanA), Down(1800, kKbdA, kA, kScanA),
        Up(2600, kKbdA, kA, kScanA), Down(3200, kKbdA, kA, kScanA), Up(3900, kKbdA, kA, kScanA),
        Down(4700, kKbdA, kA, kScanA), Up(95000, kKbdA, kA, kScanA)},
       {"{chatterCount=3 devicePath=kbdA flags=0 kind=keyboard minGapUs=600 presses=4 "
        "scanCode=30 vk=65}"},
       {"{devicePath=kbdA keys=[{flags=0 scanCode=30 vk=65}] maxKeysDown=1}"}},
      {"typematic repeats are neither presses nor chatter; the gap runs from the release",
       30,
       {Down(0, kKbdA, kA, kScanA), Down(500000, kKbdA, kA, kScanA),
        Down(533000, kKbdA, kA, kScanA), Down(566000, kKbdA, kA, kScanA),
        Up(600000, kKbdA, kA, kScanA), Down(620000, kKbdA, kA, kScanA),
        Up(700000, kKbdA, kA, kScanA)},
       {"{chatterCount=1 devicePath=kbdA flags=0 kind=keyboard minGapUs=20000 presses=2 "
        "scanCode=30 vk=65}"},
       {"{devicePath=kbdA keys=[{flags=0 scanCode=30 vk=65}] maxKeysDown=1}"}},
      {"two keyboards interleaved: chatter and rollover per keyboard",
       30,
       {Down(0, kKbdA, kA, kScanA), Down(2000, kKbdB, kA, kScanA), Down(4000, kKbdA, kB, kScanB),
        Down(6000, kKbdB, kB, kScanB), Down(8000, kKbdB, kC, kScanC), Up(40000, kKbdA, kA, kScanA),
        Up(41000, kKbdA, kB, kScanB), Up(42000, kKbdB, kA, kScanA), Up(43000, kKbdB, kB, kScanB),
        Up(44000, kKbdB, kC, kScanC), Down(60000, kKbdA, kW, kScanW), Up(70000, kKbdA, kW, kScanW),
        // B's W 5 ms after A released its W: another keyboard's key.
        Down(75000, kKbdB, kW, kScanW), Up(80000, kKbdB, kW, kScanW),
        // A's B again 10 ms after B's B, 49 ms after its own.
        Down(90000, kKbdA, kB, kScanB), Up(95000, kKbdA, kB, kScanB)},
       {},
       {"{devicePath=kbdA keys=[{flags=0 scanCode=30 vk=65} {flags=0 scanCode=48 vk=66}] "
        "maxKeysDown=2}",
        "{devicePath=kbdB keys=[{flags=0 scanCode=30 vk=65} {flags=0 scanCode=48 vk=66} "
        "{flags=0 scanCode=46 vk=67}] maxKeysDown=3}"}},
      {"the E0 prefix makes another key: right Ctrl after left Ctrl is no chatter",
       30,
       {Down(0, kKbdA, kCtrl, kScanCtrl), Up(50000, kKbdA, kCtrl, kScanCtrl),
        Down(55000, kKbdA, kCtrl, kScanCtrl, kRiKeyE0),
        Up(60000, kKbdA, kCtrl, kScanCtrl, kRiKeyE0),
        Down(70000, kKbdA, kCtrl, kScanCtrl, kRiKeyE0),
        Up(80000, kKbdA, kCtrl, kScanCtrl, kRiKeyE0),
        // No keys: fake keys and overrun reports.
        Down(81000, kKbdA, 255, kScanCtrl, kRiKeyE0), Down(82000, kKbdA, 0, 0)},
       {"{chatterCount=1 devicePath=kbdA flags=3 kind=keyboard minGapUs=10000 presses=2 "
        "scanCode=29 vk=17}"},
       {"{devicePath=kbdA keys=[{flags=0 scanCode=29 vk=17}] maxKeysDown=1}"}},
      {"a mouse double-click 25 ms after the release",
       30,
       {Click(0, kMouseA, kLeftDown), Click(80000, kMouseA, kLeftUp),
        Click(105000, kMouseA, kLeftDown), Click(170000, kMouseA, kLeftUp)},
       {"{button=1 chatterCount=1 devicePath=mouseA kind=mouse minGapUs=25000 presses=2}"},
       {}},
      {"a mouse double-click 200 ms after the release",
       30,
       {Click(0, kMouseA, kLeftDown), Click(80000, kMouseA, kLeftUp),
        Click(280000, kMouseA, kLeftDown), Click(350000, kMouseA, kLeftUp)},
       {},
       {}},
      {"the threshold is exclusive and per start; buttons and mice apart",
       20,
       {Click(0, kMouseA, kLeftDown), Click(10000, kMouseA, kLeftUp),
        Click(30000, kMouseA, kLeftDown),  // 20 ms: not sooner than 20 ms
        Click(40000, kMouseA, kLeftUp | kRightDown), Click(40000, kMouseB, kLeftDown),
        Click(59999, kMouseA, kLeftDown | kRightUp),  // 19.999 ms after the left's release
        Click(60000, kMouseA, kLeftUp | kRightDown),  // right: 0.001 ms after its release
        Click(61000, kMouseA, kLeftDown | kLeftUp)},  // down and up in one message
       {"{button=1 chatterCount=2 devicePath=mouseA kind=mouse minGapUs=1000 presses=4}",
        "{button=2 chatterCount=1 devicePath=mouseA kind=mouse minGapUs=1 presses=2}"},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Session session;
    session.Start(row.threshold_ms);
    session.Play(row.messages);
    const EncodableMap summary = session.Summary();
    EXPECT_EQ(ShowList(summary, "chatter"), row.chatter);
    EXPECT_EQ(ShowList(summary, "rollover"), row.rollover);
  }
}

TEST(InputQualityTest, CumulativeAcrossSummariesAndResetByStartAndStop) {
  const std::vector<Message> double_click = {
      Click(0, kMouseA, kLeftDown), Click(50000, kMouseA, kLeftUp),
      Click(90000, kMouseA, kLeftDown), Click(95000, kMouseA, kLeftUp)};  // 40 ms
  Session session;
  session.Start(50);
  session.Play(double_click);
  const std::string entry =
      "{button=1 chatterCount=1 devicePath=mouseA kind=mouse minGapUs=40000 presses=2}";
  EXPECT_EQ(ShowList(session.Summary(), "chatter"), std::vector<std::string>{entry});
  // Silent windows keep what was counted.
  EXPECT_EQ(ShowList(session.Summary(), "chatter"), std::vector<std::string>{entry});

  // A new start forgets it all and takes its own threshold.
  session.Start(30, kStart + 2000000);
  EXPECT_TRUE(ShowList(session.Summary(), "chatter").empty());
  session.Start(30, kStart + 3000000);
  session.Play(double_click);
  EXPECT_TRUE(ShowList(session.Summary(), "chatter").empty());
  session.Play({Down(0, kKbdA, 0x41, 0x1E)});
  session.state().Stop();
  EXPECT_EQ(session.state().quality().device_count(), 0u);
  session.Start(30, kStart + 5000000);
  EXPECT_TRUE(ShowList(session.Summary(), "rollover").empty());
}

TEST(InputQualityTest, NonsenseDevicesCannotGrowMemoryWithoutLimit) {
  Session session;
  session.Start(30);
  std::vector<Message> messages;
  uint64_t t = 0;
  // One keyboard holds down 700 distinct scan codes, then releases them and
  // presses them again at once.
  for (uint16_t scan = 1; scan <= 700; ++scan) messages.push_back(Down(++t, kKbdA, 0x41, scan));
  for (uint16_t scan = 1; scan <= 700; ++scan) messages.push_back(Up(++t, kKbdA, 0x41, scan));
  for (uint16_t scan = 1; scan <= 700; ++scan) messages.push_back(Down(++t, kKbdA, 0x41, scan));
  // 100 mice double-click.
  for (uint64_t mouse = 0x1000; mouse < 0x1064; ++mouse) {
    messages.push_back(Click(++t, mouse, kLeftDown | kLeftUp));
    messages.push_back(Click(++t, mouse, kLeftDown));
  }
  session.Play(messages);
  const EncodableMap summary = session.Summary();
  EXPECT_EQ(ShowList(summary, "chatter").size(), kQualityKeyLimit + kQualityDeviceLimit - 1);
  const EncodableValue rollover =
      std::get<EncodableList>(summary.at(EncodableValue("rollover")))[0];
  const auto& map = std::get<EncodableMap>(rollover);
  EXPECT_EQ(map.at(EncodableValue("maxKeysDown")).LongValue(),
            static_cast<int64_t>(kQualityKeyLimit));
  EXPECT_EQ(session.state().quality().device_count(), kQualityDeviceLimit);
}

TEST(InputQualityTest, EveryStatisticsMapCarriesTheSpread) {
  Session session;
  session.Start(30);
  std::vector<Message> messages;
  // Mouse A polls every 1000 us and misses 3 polls; mouse B every 125 us.
  for (uint64_t t = 0; t <= 100000; t += t == 50000 ? 4000 : 1000) {
    messages.push_back({t, MouseBytes(kMouseA, Move(1, 0))});
  }
  for (uint64_t t = 7; t < 20000; t += 125)
    messages.push_back({t, MouseBytes(kMouseB, Move(0, 1))});
  messages.push_back(Down(30000, kKbdA, 0x41, 0x1E));
  messages.push_back(Up(30100, kKbdA, 0x41, 0x1E));
  std::stable_sort(messages.begin(), messages.end(),
                   [](const Message& a, const Message& b) { return a.t < b.t; });
  session.Play(messages);
  const EncodableMap summary = session.Summary();
  std::vector<EncodableMap> maps = {std::get<EncodableMap>(summary.at(EncodableValue("mouse"))),
                                    std::get<EncodableMap>(summary.at(EncodableValue("keyboard")))};
  for (const auto& d : std::get<EncodableList>(summary.at(EncodableValue("devices")))) {
    maps.push_back(std::get<EncodableMap>(d));
  }
  ASSERT_EQ(maps.size(), 5u);
  for (const EncodableMap& map : maps) {
    const auto at = [&map](const char* key) { return map.at(EncodableValue(key)).LongValue(); };
    EXPECT_LE(at("p50IntervalUs"), at("p99IntervalUs"));
    EXPECT_LE(at("p99IntervalUs"), at("maxIntervalUs"));
    EXPECT_GE(at("stdDevIntervalUs"), 0);
    EXPECT_GE(at("gapCount"), 0);
    if (map.count(EncodableValue("path")) != 0 &&
        map.at(EncodableValue("path")) == EncodableValue("mouseA")) {
      EXPECT_EQ(Show(EncodableValue(map)),
                "{buckets=[0 0 0 96 0 1 0] count=98 gapCount=1 hz=970.000000 kind=mouse "
                "maxIntervalUs=4000 meanIntervalUs=1030 minIntervalUs=1000 p50IntervalUs=1000 "
                "p99IntervalUs=4000 path=mouseA stdDevIntervalUs=303}");
    }
  }
}

}  // namespace
}  // namespace vek_native
