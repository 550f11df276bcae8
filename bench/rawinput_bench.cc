// Per-message cost of raw input capture on the window thread: read and decode
// the record, statistics, event build, append, batch flush and the summary,
// the event stream's queue append (mutex-guarded, as the bridge does), and on
// each timer tick the drain that encodes every queued event with the standard
// method codec as an event-channel message.
// Load: 4 mice at 8000 Hz each, 32000 messages a second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "channels/standard_codec.h"
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
    std::memcpy(buffer, r.data(), r.size());
    *written = static_cast<uint32_t>(r.size());
    return true;
  }
  std::string ReadDevicePath(uint64_t device) override {
    return "\\\\?\\HID#VID_046D&PID_C547&MI_01&Col01#8&2f1b2b1&0&0000#{378de44c-56ef-11d1-bc8c-"
           "00a0c91405dd}" +
           std::to_string(device);
  }
  std::vector<std::vector<uint8_t>> records;
};

void RunCapture(benchmark::State& state, bool with_motion) {
  BenchPlatform platform;
  for (int i = 0; i < kMice; ++i) {
    platform.records.push_back(
        MouseBytes(0x1000 + i, with_motion ? Move(1 + i, -1) : RawMouseInput()));
  }
  uint64_t now_ns = 1000000000ULL;
  RawInputState capture(&platform, [&now_ns] { return now_ns / 1000; });
  std::mutex queue_mutex;
  std::vector<EncodableMap> queue;
  capture.SetEventSink(
      [&](EncodableMap&& event) {
        std::lock_guard<std::mutex> lock(queue_mutex);
        queue.push_back(std::move(event));
      },
      [] { return uint64_t{0}; });
  capture.SetWindow(reinterpret_cast<WindowHandle>(1));
  std::string message;
  capture.Start(&message);

  const uint64_t step_ns = static_cast<uint64_t>(1e9 / kMessagesPerSecond);  // 31250 ns
  uint64_t next_tick_ns = now_ns + 8000000;
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  size_t encoded_bytes = 0;
  intptr_t input = 1;
  for (auto _ : state) {
    now_ns += step_ns;
    capture.HandleMessage(kRimInputSink, input);
    input = input == kMice ? 1 : input + 1;
    if (now_ns >= next_tick_ns) {
      capture.HandleTimer();
      next_tick_ns += 8000000;
      std::vector<EncodableMap> drained;
      {
        std::lock_guard<std::mutex> lock(queue_mutex);
        drained.swap(queue);
      }
      for (auto& event : drained) {
        const EncodableValue value(std::move(event));
        encoded_bytes += codec.EncodeSuccessEnvelope(&value)->size();
      }
    }
  }
  capture.Stop();
  benchmark::DoNotOptimize(encoded_bytes);
  state.counters["encoded_bytes_per_msg"] =
      static_cast<double>(encoded_bytes) / static_cast<double>(state.iterations());
  state.counters["us_per_msg"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["core_share_4x8kHz"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / kMessagesPerSecond,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RawInputMouseMessage(benchmark::State& state) { RunCapture(state, true); }
void BM_RawInputMouseMessageStatsOnly(benchmark::State& state) { RunCapture(state, false); }

BENCHMARK(BM_RawInputMouseMessage);
BENCHMARK(BM_RawInputMouseMessageStatsOnly);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
