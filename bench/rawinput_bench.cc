// Per-message cost of raw input capture, on the window thread or on a capture
// thread of its own ("OwnThread": through the thread window's handlers and the
// state's lock, uncontended as it is but for start and stop): read and decode
// the record, path cache, statistics, event build, append, batch flush into
// the bridge's event stream (EmitEvent: queue under the state mutex and a
// posted wake-up), the drain the wake-up triggers (the event channel's sink
// encodes each batch with the standard method codec and hands it to the
// messenger), the timer's flush and the quarter-second summary with its
// percentiles, chatter and rollover.
// Load: 4 mice at 8000 Hz each, 32000 messages a second; in the clicking run
// every mouse also presses and releases its left button every 8 messages, so
// every other press is chatter.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/native_bridge.h"
#include "counting_messenger.h"
#include "rawinput/rawinput_capture.h"
#include "unit/rawinput/raw_input_bytes.h"

namespace vek_native {
namespace {

constexpr int kMice = 4;
constexpr double kMessagesPerSecond = kMice * 8000.0;

class BenchPlatform : public RawInputPlatform {
 public:
  bool RegisterInput(WindowHandle, uint32_t*) override { return true; }
  void UnregisterInput() override {}
  void SetFlushTimer(WindowHandle) override {}
  void KillFlushTimer(WindowHandle) override {}
  uint32_t InputSize(intptr_t input) override {
    return static_cast<uint32_t>(records[static_cast<size_t>(input - 1)].size());
  }
  bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) override {
    const auto& r = records[static_cast<size_t>(input - 1)];
    if (r.size() > capacity) return false;
    std::memcpy(buffer, r.data(), r.size());
    *written = static_cast<uint32_t>(r.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    return "\\\\?\\HID#VID_046D&PID_C547&MI_01&Col01#8&2f1b2b1&0&0000#{378de44c-56ef-11d1-bc8c-"
           "00a0c91405dd}" +
           std::to_string(device);
  }
  // The capture thread's window: its handlers are called by the benchmark's
  // loop, which plays that thread; the thread itself only waits to be closed.
  WindowHandle OpenThreadWindow(RawInputThreadHandlers h, std::string*) override {
    handlers = std::move(h);
    return &handlers;
  }
  void ServeThreadWindow(WindowHandle) override {
    std::unique_lock<std::mutex> lock(mutex);
    closed_changed.wait(lock, [this] { return closed; });
  }
  void CloseThreadWindow(WindowHandle) override {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    closed_changed.notify_all();
  }
  std::vector<std::vector<uint8_t>> records;
  RawInputThreadHandlers handlers;
  std::mutex mutex;
  std::condition_variable closed_changed;
  bool closed = false;
};

// Remembers the wake-up the window thread would receive.
class FlagPoster : public WindowPoster {
 public:
  bool Post(WindowHandle, uint32_t message) override {
    if (message == kEventsReadyMessage) events_ready_ = true;
    return true;
  }
  bool events_ready_ = false;
};

enum class Load { kMotion, kStatsOnly, kMotionAndClicks };

// own_thread: the messages and ticks come to the capture thread's window
// (through its handlers and the state's lock) instead of the host window's.
void RunCapture(benchmark::State& state, Load load, bool own_thread = false) {
  static int window;
  CountingMessenger messenger;
  FlagPoster poster;
  NativeBridge bridge;
  AttachListening(bridge, messenger, poster, &window);

  BenchPlatform platform;
  const int rounds = load == Load::kMotionAndClicks ? 8 : 1;
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < kMice; ++i) {
      RawMouseInput mouse = load == Load::kStatsOnly ? RawMouseInput() : Move(1 + i, -1);
      if (load == Load::kMotionAndClicks && round % 4 == 0) {
        mouse.button_flags = round == 0 ? 0x0001 : 0x0002;  // left down, left up
      }
      platform.records.push_back(MouseBytes(0x1000 + i, mouse));
    }
  }
  const auto record_count = static_cast<intptr_t>(platform.records.size());
  uint64_t now_ns = 1000000000ULL;
  RawInputState capture(&platform, [&now_ns] { return now_ns / 1000; });
  capture.SetEventSink([&bridge](EncodableMap&& event) { bridge.EmitEvent(std::move(event)); },
                       [&bridge] { return bridge.DroppedEventCount(); });
  capture.SetWindow(&window);
  std::string message;
  if (!capture.Start(RawInputOptions{30, own_thread}, &message))
    state.SkipWithError(message.c_str());
  const WindowHandle thread_window = own_thread ? &platform.handlers : nullptr;

  const uint64_t step_ns = static_cast<uint64_t>(1e9 / kMessagesPerSecond);  // 31250 ns
  uint64_t next_tick_ns = now_ns + 8000000;
  intptr_t input = 1;
  for (auto _ : state) {
    now_ns += step_ns;
    if (own_thread) {
      platform.handlers.input(thread_window, kRimInputSink, input);
    } else {
      capture.HandleMessage(kRimInputSink, input);
    }
    input = input == record_count ? 1 : input + 1;
    if (now_ns >= next_tick_ns) {
      if (own_thread) {
        platform.handlers.timer(thread_window);
      } else {
        capture.HandleTimer();
      }
      next_tick_ns += 8000000;
    }
    // The window thread's next message: the wake-up an emitted event posted.
    if (poster.events_ready_) {
      poster.events_ready_ = false;
      bridge.DrainEvents();
    }
  }
  capture.Stop();
  bridge.DrainEvents();
  const double messages = static_cast<double>(state.iterations());
  state.counters["channel_msgs_per_1k"] =
      1000.0 * static_cast<double>(messenger.messages_) / messages;
  state.counters["encoded_bytes_per_msg"] = static_cast<double>(messenger.bytes_) / messages;
  state.counters["dropped"] = static_cast<double>(bridge.DroppedEventCount());
  state.counters["us_per_msg"] =
      benchmark::Counter(messages / 1e6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["core_share_4x8kHz"] = benchmark::Counter(
      messages / kMessagesPerSecond, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  bridge.Detach();
}

void BM_RawInputMouseMessage(benchmark::State& state) { RunCapture(state, Load::kMotion); }
void BM_RawInputMouseMessageStatsOnly(benchmark::State& state) {
  RunCapture(state, Load::kStatsOnly);
}
void BM_RawInputMouseMessageClicking(benchmark::State& state) {
  RunCapture(state, Load::kMotionAndClicks);
}

void BM_RawInputMouseMessageOwnThread(benchmark::State& state) {
  RunCapture(state, Load::kMotion, true);
}
void BM_RawInputMouseMessageClickingOwnThread(benchmark::State& state) {
  RunCapture(state, Load::kMotionAndClicks, true);
}

BENCHMARK(BM_RawInputMouseMessage);
BENCHMARK(BM_RawInputMouseMessageOwnThread);
BENCHMARK(BM_RawInputMouseMessageClickingOwnThread);
BENCHMARK(BM_RawInputMouseMessageStatsOnly);
BENCHMARK(BM_RawInputMouseMessageClicking);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
