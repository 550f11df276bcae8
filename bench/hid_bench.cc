// The HID read-to-event path: a read completes, its bytes become a "hidInput"
// event map, the map goes into the bridge's event stream (EmitEvent), and the
// window thread's drain encodes it with the standard method codec for the
// engine's messenger.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "bridge/native_bridge.h"
#include "counting_messenger.h"
#include "hid/hid_device_api.h"
#include "hid/hid_input.h"
#include "hid/hid_report_read.h"

namespace vek_native {
namespace {

constexpr uint32_t kReportBytes = 64;

// The bridge with a listening event channel whose messages are counted; the
// poster stands in for the window thread's message queue.
class EventStream : public WindowPoster {
 public:
  EventStream() {
    static int window;
    AttachListening(bridge_, messenger_, *this, &window);
  }
  ~EventStream() override { bridge_.Detach(); }

  bool Post(WindowHandle, uint32_t message) override {
    if (message != kEventsReadyMessage) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = true;
    ++wakes_;
    condition_.notify_one();
    return true;
  }
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) { bridge_.EmitEvent(std::move(event)); };
  }
  // Drains on the calling thread when a wake-up is waiting.
  void DrainIfWoken() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!wake_) return;
      wake_ = false;
    }
    bridge_.DrainEvents();
  }
  // The window thread: drains on every wake-up until `running` ends, then
  // takes what is left.
  void RunWindowThread(const std::atomic<bool>& running) {
    while (running.load()) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait_for(lock, std::chrono::milliseconds(5), [this] { return wake_; });
        wake_ = false;
      }
      bridge_.DrainEvents();
    }
    bridge_.DrainEvents();
  }
  uint64_t Delivered() const { return messenger_.messages_; }
  // How many events each wake-up of the window thread delivered on average.
  double EventsPerWake() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wakes_ == 0 ? 0 : static_cast<double>(messenger_.messages_) / wakes_;
  }
  uint64_t Dropped() { return bridge_.DroppedEventCount(); }

 private:
  CountingMessenger messenger_;
  NativeBridge bridge_;
  std::mutex mutex_;
  std::condition_variable condition_;
  bool wake_ = false;
  uint64_t wakes_ = 0;
};

// A device delivering a report of `report_bytes` (64 unless told) per read,
// either at once or every `period` (a device's report interval).
class BenchChannel : public HidReadChannel {
 public:
  explicit BenchChannel(std::chrono::nanoseconds period, uint32_t report_bytes = kReportBytes)
      : period_(period), report_bytes_(report_bytes) {}
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
    const uint32_t n = size < report_bytes_ ? size : report_bytes_;
    std::memset(buffer, static_cast<int>(sequence_++), n);
    if (id_ != 0) buffer[0] = id_;
    *transferred = n;
    if (limit_ != 0 && sequence_ >= limit_ && running_) *running_ = false;
    return HidReadStatus::kData;
  }
  void Stop() override { stopped_ = true; }

  // Every report carries this ID byte first.
  void SetReportId(uint8_t id) { id_ = id; }
  // For the unpaced loop: stop after `limit` reads.
  void StopAfter(uint64_t limit, std::atomic<bool>* running) {
    limit_ = limit;
    running_ = running;
  }

 private:
  const std::chrono::nanoseconds period_;
  const uint32_t report_bytes_;
  uint8_t id_ = 0;
  std::chrono::steady_clock::time_point next_;
  std::atomic<bool> stopped_{false};
  uint64_t sequence_ = 0;
  uint64_t limit_ = 0;
  std::atomic<bool>* running_ = nullptr;
};

class BenchDevice : public HidDevice {
 public:
  explicit BenchDevice(std::chrono::nanoseconds period) : period_(period) {}
  // A HID collection: readers open collections only.
  bool GetAttributes(HidAttributes*) override { return true; }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override { return nullptr; }
  bool GetString(HidStringKind, char16_t*, uint32_t) override { return false; }
  bool WriteReport(const std::vector<uint8_t>&, uint32_t*, uint32_t*) override { return false; }
  bool SetOutputReport(std::vector<uint8_t>*, uint32_t*) override { return false; }
  bool SetFeature(std::vector<uint8_t>*, uint32_t*) override { return false; }
  bool GetFeature(std::vector<uint8_t>*, uint32_t, uint32_t*, uint32_t*) override { return false; }
  bool GetInputReport(std::vector<uint8_t>*, uint32_t, uint32_t*, uint32_t*) override {
    return false;
  }
  bool SetNumInputBuffers(uint32_t, uint32_t*) override { return true; }
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

// Reports per second, seconds per report (printed with its SI prefix, for
// example "900ns") and the events the stream dropped.
void CountReports(benchmark::State& state, uint64_t reports_per_run, EventStream& stream) {
  const double reports = static_cast<double>(state.iterations() * reports_per_run);
  state.SetItemsProcessed(static_cast<int64_t>(reports));
  state.counters["per_report"] =
      benchmark::Counter(reports, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["dropped"] = static_cast<double>(stream.Dropped());
}

// One reader's loop with reports available at once: the cost of turning one
// completed read into an event the messenger receives, the drain done on the
// same thread after each run of reads.
void BM_HidReadToEvent(benchmark::State& state) {
  constexpr uint64_t kReportsPerRun = 10000;
  EventStream stream;
  EventEmitter emit = stream.Emitter();
  const std::string path =
      R"(\\?\hid#vid_046d&pid_c52b&mi_02&col03#7&2a5c&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030})";
  for (auto _ : state) {
    BenchChannel channel(std::chrono::nanoseconds(0));
    std::atomic<bool> running{true};
    channel.StopAfter(kReportsPerRun, &running);
    RunHidReadLoop(path, &channel, kReportBytes, running, emit);
    stream.DrainIfWoken();
  }
  CountReports(state, kReportsPerRun, stream);
}
BENCHMARK(BM_HidReadToEvent)->Unit(benchmark::kMillisecond);

// A gaming mouse with report ID 1: 16 buttons, X and Y of 16 bits, wheel
// and AC Pan of 8 bits (9 bytes with the ID, 20 values).
const std::vector<uint8_t> kGamingMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
    0x19, 0x01, 0x29, 0x10, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x10, 0x81, 0x02,
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10,
    0x95, 0x02, 0x81, 0x06, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01,
    0x81, 0x06, 0x05, 0x0C, 0x0A, 0x38, 0x02, 0x95, 0x01, 0x81, 0x06, 0xC0, 0xC0};
constexpr uint32_t kGamingMouseReportBytes = 9;

// The read-to-event cost of the gaming mouse's reports, as they are (0) and
// with every report decoded into "fields" (1), in one run: the difference is
// what decoding adds per report.
void BM_HidReadToEventDecode(benchmark::State& state) {
  constexpr uint64_t kReportsPerRun = 10000;
  const bool decode = state.range(0) != 0;
  EventStream stream;
  EventEmitter emit = stream.Emitter();
  std::unique_ptr<HidInputDecoder> decoder =
      decode ? MakeDescriptorInputDecoder(kGamingMouse) : nullptr;
  const std::string path = "mouse";
  for (auto _ : state) {
    BenchChannel channel(std::chrono::nanoseconds(0), kGamingMouseReportBytes);
    channel.SetReportId(1);
    std::atomic<bool> running{true};
    channel.StopAfter(kReportsPerRun, &running);
    RunHidReadLoop(path, &channel, kGamingMouseReportBytes, running, emit, decoder.get());
    stream.DrainIfWoken();
  }
  CountReports(state, kReportsPerRun, stream);
}
BENCHMARK(BM_HidReadToEventDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Four readers through the reader table, each device reporting 8000 times a
// second (a 125 us interval), for one second of wall time, with a window
// thread draining the event stream: the rate of events the messenger receives
// and the process CPU time spent per report, encoding included.
void BM_HidFourDevicesAt8kHz(benchmark::State& state) {
  constexpr int kDevices = 4;
  BenchApi api(std::chrono::microseconds(125));
  for (auto _ : state) {
    EventStream stream;
    std::atomic<bool> window_running{true};
    std::thread window_thread([&] { stream.RunWindowThread(window_running); });
    HidInputReaders readers(api, stream.Emitter());
    const double cpu_start = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::string message;
    for (int i = 0; i < kDevices; ++i) readers.Open("device" + std::to_string(i), &message);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    readers.CloseAll();
    window_running = false;
    window_thread.join();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpu_start;
    const double events = static_cast<double>(stream.Delivered());
    state.counters["dropped"] = static_cast<double>(stream.Dropped());
    state.counters["events_per_wake"] = stream.EventsPerWake();
    state.counters["events_per_s"] = events / wall;
    state.counters["cpu_ns_per_report"] = events > 0 ? cpu * 1e9 / events : 0;
  }
}
BENCHMARK(BM_HidFourDevicesAt8kHz)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vek_native

BENCHMARK_MAIN();
