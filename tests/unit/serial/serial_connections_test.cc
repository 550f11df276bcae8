#include "serial/serial_connections.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <chrono>
#include <deque>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

#include "serial/serial_operations.h"

namespace vek_native {
namespace {

// One read of a scripted port: how it starts, what the wait sees, and the
// bytes it yields (or the error it finishes with when `ok` is false). A wait
// scripted as kStopped lasts until the port is stopped.
struct Read {
  SerialReadStart start = SerialReadStart::kPending;
  SerialReadWait wait = SerialReadWait::kCompleted;
  uint32_t value = 0;
  bool ok = true;
};

// A port whose reads follow a script (once it is used up, reads fail to
// start: the port is gone) and whose writes all answer the same. It must be
// closed once before it goes, never with I/O in flight, as a driver demands.
class ScriptedPort : public SerialPortDevice {
 public:
  explicit ScriptedPort(std::deque<Read> script) : script_(std::move(script)) {}
  ~ScriptedPort() override { EXPECT_EQ(std::make_pair(closes, misuse), std::make_pair(1, false)); }

  bool PrepareRead() override { return true; }
  SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t* bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (script_.empty()) return SerialReadStart::kFailed;
    read_ = script_.front();
    script_.pop_front();
    ++reads;
    changed.notify_all();
    std::fill_n(buffer, std::min(size, read_.value), static_cast<uint8_t>(reads));
    read_in_flight = read_.start == SerialReadStart::kPending;
    *bytes = read_.value;
    return read_.start;
  }
  SerialReadWait WaitRead(uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex);
    if (read_.wait == SerialReadWait::kStopped) changed.wait(lock, [this] { return stopped; });
    return read_.wait;
  }
  bool FinishRead(uint32_t* bytes, uint32_t* error) override {
    std::lock_guard<std::mutex> lock(mutex);
    read_in_flight = false;
    *(read_.ok ? bytes : error) = read_.value;
    return read_.ok;
  }
  uint32_t CancelRead() override {
    std::lock_guard<std::mutex> lock(mutex);
    read_in_flight = false;
    return read_.value;
  }
  SerialWriteOutcome Write(const uint8_t* data, uint32_t size, uint32_t, uint32_t* written,
                           uint32_t* error) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++writes_in_flight;
    std::tie(*written, *error) = std::make_pair(size - short_by, write_error);
    if (write == SerialWriteOutcome::kTimedOut) changed.wait(lock, [this] { return stopped; });
    if (write == SerialWriteOutcome::kDone) received.insert(received.end(), data, data + size);
    --writes_in_flight;
    return write;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
    changed.notify_all();
  }
  // Waits (up to 10 s) for the reader's first read.
  void WaitUntilReading() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(10), [this] { return reads > 0; });
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(mutex);
    misuse |= read_in_flight || writes_in_flight > 0;
    ++closes;
  }

  std::mutex mutex;
  std::condition_variable changed;
  int reads = 0, writes_in_flight = 0, closes = 0;
  bool stopped = false, read_in_flight = false, misuse = false;
  // Writes: the outcome (kTimedOut: once the port is stopped), the bytes
  // short of the request and the error.
  SerialWriteOutcome write = SerialWriteOutcome::kDone;
  uint32_t short_by = 0, write_error = 0;
  std::vector<uint8_t> received;

 private:
  std::deque<Read> script_;
  Read read_;
};

// Opens scripted ports (kept in `ports`), or fails at a given step.
class FakeSerialPortApi : public SerialPortApi {
 public:
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings& settings, SerialOpenStep* step,
                                         uint32_t* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    opened.push_back(settings);
    *step = fail_step;
    *error = fail_error;
    if (fail_error != 0) return nullptr;
    auto port = std::make_unique<ScriptedPort>(script);
    ports.push_back(port.get());
    return port;
  }
  std::vector<SerialOpenSettings> opened;
  std::vector<ScriptedPort*> ports;  // until closed
  std::deque<Read> script;           // every port's reads
  SerialOpenStep fail_step = SerialOpenStep::kOpen;
  uint32_t fail_error = 0;  // non-zero: opens fail

 private:
  std::mutex mutex_;
};

// Events from any thread.
struct EventLog {
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(std::move(event));
    };
  }
  std::vector<uint8_t> Bytes() {
    std::vector<uint8_t> all;
    for (const EncodableMap& event : events) {
      const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
      all.insert(all.end(), data.begin(), data.end());
    }
    return all;
  }
  std::mutex mutex;
  std::vector<EncodableMap> events;
};

TEST(SerialConnectionsTest, OpenSettings) {
  const std::tuple<std::string, int64_t, std::string, uint32_t> cases[] = {
      {"COM3", 9600, "\\\\.\\COM3", 9600},
      {"\\\\.\\COM10", 0xFFFFFFFF, "\\\\.\\COM10", 0xFFFFFFFF},
      {"\\\\?\\COM4", 0, "\\\\.\\\\\\?\\COM4", 115200},  // only the exact prefix counts
      {"COM5", -1, "\\\\.\\COM5", 115200},
      {"COM6", int64_t{1} << 32, "\\\\.\\COM6", 115200},
  };
  for (const auto& [name, baud, path, rate] : cases) {
    const SerialOpenSettings s = MakeSerialOpenSettings(name, baud);
    EXPECT_EQ(std::make_pair(s.device_path, s.baud_rate), std::make_pair(path, rate)) << name;
  }
  // 8N1, binary, no flow control, 64 KiB queues, reads that return what has
  // arrived within 200 ms, and a full purge at open.
  const SerialOpenSettings s = MakeSerialOpenSettings("COM3", 9600);
  EXPECT_EQ(std::make_tuple(s.input_queue, s.output_queue, s.byte_size, s.parity, s.stop_bits),
            std::make_tuple(65536u, 65536u, 8, 0, 0));
  EXPECT_TRUE(s.binary);
  EXPECT_FALSE(s.parity_check || s.outx_cts_flow || s.outx_dsr_flow || s.dsr_sensitivity ||
               s.out_x || s.in_x || s.dtr_control || s.rts_control);
  EXPECT_EQ(std::make_tuple(s.read_interval_timeout, s.read_total_timeout_multiplier,
                            s.read_total_timeout_constant, s.write_total_timeout_multiplier,
                            s.write_total_timeout_constant, s.purge_flags),
            std::make_tuple(0xFFFFFFFFu, 0u, 200u, 0u, 0u, 0xFu));
}

// Each read's bytes become one event of at most 4096 bytes. A read that timed
// out or was cancelled leaves the port readable and its bytes are sent; one
// that says the port is gone ends the reader rather than failing again and
// again, and so do a stop and a failed wait.
TEST(SerialConnectionsTest, ReadLoop) {
  using S = SerialReadStart;
  using W = SerialReadWait;
  const std::pair<std::deque<Read>, std::vector<uint8_t>> cases[] = {
      {{{S::kCompleted, W::kCompleted, 2},
        {S::kPending, W::kCompleted, 1},
        {S::kCompleted, W::kCompleted, 0},
        {S::kPending, W::kTimedOut, 1}},
       {1, 1, 2, 4}},
      {{{S::kCompleted, W::kCompleted, 5000}}, std::vector<uint8_t>(4096, 1)},
      {{{S::kPending, W::kCompleted, 1460, false}, {S::kPending, W::kCompleted, 1}}, {2}},
      {{{S::kPending, W::kCompleted, 109, false}, {S::kPending, W::kCompleted, 1}}, {}},
      {{{S::kPending, W::kStopped, 2}, {S::kPending, W::kCompleted, 1}}, {1, 1}},
      {{{S::kPending, W::kFailed, 2}, {S::kPending, W::kCompleted, 1}}, {}},
  };
  for (const auto& [script, bytes] : cases) {
    SerialPortContext context;
    auto port = std::make_unique<ScriptedPort>(script);
    ScriptedPort& scripted = *port;
    scripted.stopped = true;
    context.device = std::move(port);
    context.running = true;
    EventLog log;
    RunSerialReadLoop(context, log.Emitter());
    EXPECT_EQ(log.Bytes(), bytes) << scripted.reads;
    // A read fills its bytes with its number: one event per distinct byte.
    EXPECT_EQ(log.events.size(), std::set<uint8_t>(bytes.begin(), bytes.end()).size());
    scripted.Close();  // with no read left in flight
  }
  for (uint32_t error : {5, 6, 21, 22, 55, 109, 1167, 1617})
    EXPECT_TRUE(SerialReadErrorIsFinal(error));
  for (uint32_t error : {0, 31, 121, 995, 1460}) EXPECT_FALSE(SerialReadErrorIsFinal(error));
}

TEST(SerialConnectionsTest, FailedOpensTakeNoHandle) {
  FakeSerialPortApi api;
  bool refuse_thread = true;
  SerialConnections table(api, nullptr, [&refuse_thread](std::function<void()> body) {
    if (refuse_thread)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  });
  int64_t id = -1;
  std::string message;
  EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
  EXPECT_EQ(message.rfind("启动串口读取线程失败", 0), 0u) << message;
  refuse_thread = false;
  const std::tuple<SerialOpenStep, uint32_t, const char*> failures[] = {
      {SerialOpenStep::kOpen, 2, "打开串口失败（Win32 错误码 2）"},
      {SerialOpenStep::kReadConfig, 1, "读取串口配置失败（Win32 错误码 1）"},
      {SerialOpenStep::kConfigure, 87, "配置串口失败（Win32 错误码 87）"},
      {SerialOpenStep::kStopEvent, 8, "创建串口停止事件失败（Win32 错误码 8）"},
  };
  for (const auto& [step, error, text] : failures) {
    std::tie(api.fail_step, api.fail_error) = std::make_pair(step, error);
    EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
    EXPECT_EQ(message, text);
  }
  EXPECT_FALSE(table.OpenSerialPort("", 9600, nullptr, &message));
  EXPECT_EQ(message, "串口名称不能为空");
  EXPECT_EQ(api.opened.size(), 5u);
  api.fail_error = 0;
  EXPECT_TRUE(table.OpenSerialPort("COM3", 9600, &id, &message));
  EXPECT_EQ(std::make_pair(id, table.OpenCount()), std::make_pair(int64_t{1}, size_t{1}));
  table.CloseAllSerialPorts();
  EXPECT_EQ(table.OpenCount(), 0u);
}

// A port is open once at a time, whatever spelling names it; handles are
// never reused.
TEST(SerialConnectionsTest, APortIsOpenOnceAtATime) {
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  int64_t id = 0;
  std::string message;
  ASSERT_TRUE(table.OpenSerialPort("COM3", 9600, &id, &message));
  for (const char* name : {"COM3", "com3", "\\\\.\\Com3"}) {
    EXPECT_FALSE(table.OpenSerialPort(name, 9600, &id, &message)) << name;
    EXPECT_EQ(message, "打开串口失败（Win32 错误码 5）");
  }
  EXPECT_EQ(api.opened.size(), 1u);  // the port was never touched again
  table.CloseSerialPort(1);
  table.CloseSerialPort(1);  // an unknown handle is ignored
  ASSERT_TRUE(table.OpenSerialPort("com3", 9600, &id, &message));
  EXPECT_EQ(id, 2);
}

// The bridge's serial operations work on one table of their own.
TEST(SerialConnectionsTest, BridgeOperations) {
  FakeSerialPortApi api;
  class NoPorts : public SerialPortSource {
    std::vector<SerialTypedValue> ReadSerialCommValues() override { return {}; }
    std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override { return {}; }
  } source;
  BridgeOperations ops;
  BindSerialOperations(ops, api, source, nullptr);
  int64_t handle = 0;
  std::string message;
  ASSERT_TRUE(ops.open_serial("COM3", 9600, &handle, &message));
  EXPECT_TRUE(ops.write_serial(handle, {4, 5}, &message));
  EXPECT_EQ(api.ports.at(0)->received, (std::vector<uint8_t>{4, 5}));
  ops.close_serial(handle);
  EXPECT_FALSE(ops.write_serial(handle, {6}, &message));
  ASSERT_TRUE(ops.open_serial("COM4", 9600, &handle, &message));
  ops.close_all_serial();
  EXPECT_EQ(handle, 2);
  EncodableValue ports;
  ASSERT_TRUE(ops.list_serial_ports(&ports, &message));
  EXPECT_EQ(ports, EncodableValue(EncodableList()));
}

TEST(SerialConnectionsTest, WriteOutcomes) {
  const std::tuple<SerialWriteOutcome, uint32_t, uint32_t, const char*> cases[] = {
      {SerialWriteOutcome::kDone, 0, 0, ""},
      {SerialWriteOutcome::kDone, 1, 0, "串口写入未完成"},
      {SerialWriteOutcome::kEventFailed, 0, 8, "创建串口写入事件失败（Win32 错误码 8）"},
      {SerialWriteOutcome::kFailed, 0, 22, "写入串口失败（Win32 错误码 22）"},
  };
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  int64_t id = 0;
  std::string message;
  ASSERT_TRUE(table.OpenSerialPort("COM3", 9600, &id, &message));
  for (const auto& [outcome, short_by, error, text] : cases) {
    std::tie(api.ports[0]->write, api.ports[0]->short_by, api.ports[0]->write_error) =
        std::make_tuple(outcome, short_by, error);
    message.clear();
    EXPECT_EQ(table.WriteSerialPort(id, {1, 2, 3}, &message), *text == '\0');
    EXPECT_EQ(message, text);
  }
  // A close arriving while a write is stuck in the driver cancels it; the
  // port is closed only after the write has returned.
  api.ports[0]->write = SerialWriteOutcome::kTimedOut;
  std::thread writer([&] { EXPECT_FALSE(table.WriteSerialPort(id, {1, 2}, &message)); });
  for (bool writing = false; !writing; std::this_thread::yield()) {
    std::lock_guard<std::mutex> lock(api.ports[0]->mutex);
    writing = api.ports[0]->writes_in_flight > 0;
  }
  table.CloseSerialPort(id);
  writer.join();
  EXPECT_EQ(message, "串口写入超时");
}

// Writers, readers waiting for data and closers at once (run under TSan): a
// read the close cancels still hands over what it had received.
TEST(SerialConnectionsTest, ConcurrentWritesReadsAndCloses) {
  FakeSerialPortApi api;
  api.script = {{SerialReadStart::kPending, SerialReadWait::kStopped, 2}};
  EventLog log;
  SerialConnections table(api, log.Emitter());
  constexpr int kPorts = 4;
  std::string message;
  for (int i = 0; i < kPorts; ++i) {
    table.OpenSerialPort("COM" + std::to_string(i + 3), 9600, nullptr, &message);
  }
  for (ScriptedPort* port : api.ports) port->WaitUntilReading();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&table, t] {
      std::string m;
      for (int i = 0; i < 200; ++i) table.WriteSerialPort(1 + (i + t) % kPorts, {1, 2, 3}, &m);
    });
  }
  threads.emplace_back([&table] {
    table.CloseSerialPort(2);
    table.CloseSerialPort(3);
  });
  for (std::thread& thread : threads) thread.join();
  table.CloseAllSerialPorts();
  EXPECT_EQ(log.Bytes(), std::vector<uint8_t>(2 * kPorts, 1));
}

}  // namespace
}  // namespace vek_native
