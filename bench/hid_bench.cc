// The HID read-to-event path: a read completes, its bytes become a "hidInput"
// event map, and the map goes to the event sink (a mutex-guarded queue, as the
// bridge's EmitEvent keeps one).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "hid/hid_device_api.h"
#include "hid/hid_input.h"

namespace vek_native {
namespace {

constexpr uint32_t kReportBytes = 64;

// Counts events and keeps them queued like the bridge does until the window
// thread drains them.
class CountingSink {
 public:
  void Emit(EncodableMap&& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(event));
    ++count_;
    if (queue_.size() >= 1024) queue_.clear();  // the window thread's drain
  }
  uint64_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::deque<EncodableMap> queue_;
  uint64_t count_ = 0;
};

// A device delivering a 64-byte report per read, either at once or every
// `period` (a device's report interval).
class BenchChannel : public HidReadChannel {
 public:
  explicit BenchChannel(std::chrono::nanoseconds period) : period_(period) {}
  bool PrepareReads() override {
    next_ = std::chrono::steady_clock::now();
    return true;
  }
  HidReadStatus Read(uint8_t* buffer, uint32_t size, uint32_t* transferred) override {
    if (stopped_.load(std::memory_order_relaxed)) return HidReadStatus::kStopped;
    if (period_.count() > 0) {
      next_ += period_;
      std::this_thread::sleep_until(next_);
    }
    const uint32_t n = size < kReportBytes ? size : kReportBytes;
    std::memset(buffer, static_cast<int>(sequence_++), n);
    *transferred = n;
    if (limit_ != 0 && sequence_ >= limit_ && running_) *running_ = false;
    return HidReadStatus::kData;
  }
  void Stop() override { stopped_ = true; }

  // For the unpaced loop: stop after `limit` reads.
  void StopAfter(uint64_t limit, std::atomic<bool>* running) {
    limit_ = limit;
    running_ = running;
  }

 private:
  const std::chrono::nanoseconds period_;
  std::chrono::steady_clock::time_point next_;
  std::atomic<bool> stopped_{false};
  uint64_t sequence_ = 0;
  uint64_t limit_ = 0;
  std::atomic<bool>* running_ = nullptr;
};

class BenchDevice : public HidDevice {
 public:
  explicit BenchDevice(std::chrono::nanoseconds period) : period_(period) {}
  bool GetAttributes(HidAttributes*) override { return false; }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override { return nullptr; }
  bool GetString(HidStringKind, char16_t*, uint32_t) override { return false; }
  bool WriteReport(const std::vector<uint8_t>&, uint32_t*, uint32_t*) override { return false; }
  bool SetOutputReport(std::vector<uint8_t>*, uint32_t*) override { return false; }
  bool SetFeature(std::vector<uint8_t>*, uint32_t*) override { return false; }
  std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t*) override {
    return std::make_unique<BenchChannel>(period_);
  }
  void* NativeHandle() const override { return nullptr; }

 private:
  std::chrono::nanoseconds period_;
};

class BenchApi : public HidDeviceApi {
 public:
  explicit BenchApi(std::chrono::nanoseconds period) : period_(period) {}
  bool EnumerateInterfaces(std::vector<HidInterfaceEntry>*, uint32_t*) override { return true; }
  std::unique_ptr<HidDevice> Open(const std::string&, HidAccess, bool, uint32_t*) override {
    return std::make_unique<BenchDevice>(period_);
  }

 private:
  std::chrono::nanoseconds period_;
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One reader's loop with reports available at once: the cost of turning one
// completed read into a queued event.
void BM_HidReadToEvent(benchmark::State& state) {
  constexpr uint64_t kReportsPerRun = 10000;
  CountingSink sink;
  EventEmitter emit = [&sink](EncodableMap&& event) { sink.Emit(std::move(event)); };
  const std::string path =
      R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030})";
  for (auto _ : state) {
    BenchChannel channel(std::chrono::nanoseconds(0));
    std::atomic<bool> running{true};
    channel.StopAfter(kReportsPerRun, &running);
    RunHidReadLoop(path, &channel, kReportBytes, running, emit);
  }
  const double reports = static_cast<double>(state.iterations() * kReportsPerRun);
  state.SetItemsProcessed(static_cast<int64_t>(reports));
  // Seconds per report, printed with its SI prefix (for example "506ns").
  state.counters["per_report"] =
      benchmark::Counter(reports, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  benchmark::DoNotOptimize(sink.Count());
}
BENCHMARK(BM_HidReadToEvent)->Unit(benchmark::kMillisecond);

// Four readers through the reader table, each device reporting 8000 times a
// second (a 125 us interval), for one second of wall time: the event rate
// sustained and the process CPU time spent per report.
void BM_HidFourDevicesAt8kHz(benchmark::State& state) {
  constexpr int kDevices = 4;
  BenchApi api(std::chrono::microseconds(125));
  for (auto _ : state) {
    CountingSink sink;
    HidInputReaders readers(api, [&sink](EncodableMap&& event) { sink.Emit(std::move(event)); });
    const double cpu_start = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    for (int i = 0; i < kDevices; ++i) readers.Open("device" + std::to_string(i), &message);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    readers.CloseAll();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpu_start;
    const double events = static_cast<double>(sink.Count());
    state.counters["events_per_s"] = events / wall;
    state.counters["cpu_ns_per_report"] = events > 0 ? cpu * 1e9 / events : 0;
  }
}
BENCHMARK(BM_HidFourDevicesAt8kHz)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
