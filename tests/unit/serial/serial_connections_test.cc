#include "serial/serial_connections.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <tuple>

#include "serial/serial_operations.h"
#include "unit/serial/fake_serial_port.h"

namespace vek_native {
namespace {

// Collects emitted events from any thread.
class EventLog {
 public:
  EventEmitter Emitter() {
    return [this](EncodableMap&& event) {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
    };
  }
  std::vector<EncodableMap> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Waits (bounded) until `bytes` data bytes have arrived; returns them.
  std::vector<uint8_t> WaitForBytes(size_t bytes) {
    std::vector<uint8_t> all;
    for (int i = 0; i < 2000; ++i) {
      all = Bytes();
      if (all.size() >= bytes) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return all;
  }
  std::vector<uint8_t> Bytes() {
    std::vector<uint8_t> all;
    for (const EncodableMap& event : Events()) {
      const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
      all.insert(all.end(), data.begin(), data.end());
    }
    return all;
  }

 private:
  std::mutex mutex_;
  std::vector<EncodableMap> events_;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

// Opens `name` and returns its handle (0 when the open failed).
int64_t Open(SerialConnections& table, const std::string& name = "COM3", int64_t baud = 9600) {
  int64_t id = 0;
  std::string message;
  EXPECT_TRUE(table.OpenSerialPort(name, baud, &id, &message)) << name << ": " << message;
  return id;
}

TEST(SerialSettingsTest, PathAndBaudRate) {
  struct Case {
    std::string name;
    int64_t baud;
    std::string path;
    uint32_t rate;
  };
  const Case cases[] = {
      {"COM3", 9600, "\\\\.\\COM3", 9600},
      {"\\\\.\\COM10", 921600, "\\\\.\\COM10", 921600},
      {"\\\\?\\COM4", 0, "\\\\.\\\\\\?\\COM4", 115200},  // only the exact prefix counts
      {"COM5", -1, "\\\\.\\COM5", 115200},
      {"COM6", int64_t{1} << 40, "\\\\.\\COM6", 115200},
  };
  for (const Case& c : cases) {
    const SerialOpenSettings s = MakeSerialOpenSettings(c.name, c.baud);
    EXPECT_EQ(s.device_path, c.path) << c.name;
    EXPECT_EQ(s.baud_rate, c.rate) << c.name;
  }
  // The line runs 8N1, binary, with no flow control, 64 KiB queues, reads
  // that return what has arrived within 200 ms and a full purge at open.
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

TEST(SerialConnectionsTest, OpenFailuresNameTheStep) {
  struct Case {
    SerialOpenStep step;
    uint32_t error;
    const char* message;
  };
  const Case cases[] = {
      {SerialOpenStep::kOpen, 2, "打开串口失败（Win32 错误码 2）"},
      {SerialOpenStep::kReadConfig, 1, "读取串口配置失败（Win32 错误码 1）"},
      {SerialOpenStep::kConfigure, 87, "配置串口失败（Win32 错误码 87）"},
      {SerialOpenStep::kStopEvent, 8, "创建串口停止事件失败（Win32 错误码 8）"},
  };
  for (const Case& c : cases) {
    FakeSerialPortApi api;
    api.fail = true;
    api.fail_step = c.step;
    api.fail_error = c.error;
    SerialConnections table(api, nullptr);
    int64_t id = -1;
    std::string message;
    EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(table.OpenCount(), 0u);
  }
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  std::string message;
  EXPECT_FALSE(table.OpenSerialPort("", 9600, nullptr, &message));
  EXPECT_EQ(message, "串口名称不能为空");
  EXPECT_TRUE(api.opened_settings.empty());
}

TEST(SerialConnectionsTest, HandlesStartAtOneAndAreNeverReused) {
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  int64_t id = 0;
  std::string message;
  EXPECT_EQ(Open(table), 1);
  EXPECT_EQ(Open(table, "COM4"), 2);
  table.CloseSerialPort(1);
  api.fail = true;  // a failed open takes no handle
  EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
  api.fail = false;
  EXPECT_EQ(Open(table), 3);
  EXPECT_EQ(table.OpenCount(), 2u);
  table.CloseAllSerialPorts();
  EXPECT_EQ(table.OpenCount(), 0u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(api.Line(i)->close_count, 1) << i;
    EXPECT_FALSE(api.Line(i)->misuse) << i;
  }
}

// A port is open once at a time, whatever spelling names it, even when the
// driver itself would allow a second open.
TEST(SerialConnectionsTest, SecondOpenOfAPortIsRefused) {
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  ASSERT_EQ(Open(table), 1);
  std::string message;
  for (const char* name : {"COM3", "com3", "\\\\.\\Com3"}) {
    int64_t other = 0;
    EXPECT_FALSE(table.OpenSerialPort(name, 9600, &other, &message)) << name;
    EXPECT_EQ(message, "打开串口失败（Win32 错误码 5）");
  }
  EXPECT_EQ(api.opened_settings.size(), 1u);  // the port was never touched again
  EXPECT_EQ(Open(table, "COM4"), 2);
  table.CloseSerialPort(1);
  EXPECT_EQ(Open(table, "com3"), 3);
}

TEST(SerialConnectionsTest, ReaderThreadThatCannotStartFailsTheOpen) {
  FakeSerialPortApi api;
  bool refuse = true;
  SerialConnections table(api, nullptr, [&refuse](std::function<void()> body) {
    if (refuse)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    std::thread(std::move(body)).detach();
  });
  int64_t id = 0;
  std::string message;
  EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
  EXPECT_EQ(message.rfind("启动串口读取线程失败", 0), 0u) << message;
  EXPECT_EQ(table.OpenCount(), 0u);
  EXPECT_EQ(api.Line(0)->close_count, 1);  // the port is not left open
  refuse = false;
  EXPECT_EQ(Open(table), 1);
}

class SerialChunkingTest : public testing::TestWithParam<bool> {};

// 10,000 bytes arriving at once become events of at most 4096 bytes, in
// order and complete, whether reads complete at once or only when cancelled.
TEST_P(SerialChunkingTest, TenThousandBytesBecomeOrderedChunks) {
  FakeSerialPortApi api;
  api.complete_only_on_cancel = GetParam();
  EventLog log;
  SerialConnections table(api, log.Emitter());
  const int64_t id = Open(table, "COM3", 0);
  const std::vector<uint8_t> sent = Pattern(10000);
  api.Line(0)->Send(sent);
  EXPECT_EQ(log.WaitForBytes(sent.size()), sent);
  table.CloseSerialPort(id);
  const std::vector<EncodableMap> events = log.Events();
  EXPECT_GE(events.size(), 3u);
  for (const EncodableMap& event : events) {
    EXPECT_EQ(std::get<std::string>(event.at(EncodableValue("channel"))), "serial");
    EXPECT_EQ(std::get<int64_t>(event.at(EncodableValue("handle"))), id);
    EXPECT_GT(std::get<int64_t>(event.at(EncodableValue("timestampUs"))), 0);
    const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
    EXPECT_GE(data.size(), 1u);
    EXPECT_LE(data.size(), 4096u);
  }
  EXPECT_EQ(api.Line(0)->last_wait_ms, 1000u);
  EXPECT_FALSE(api.Line(0)->misuse);
}

INSTANTIATE_TEST_SUITE_P(ReadCompletion, SerialChunkingTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "OnlyOnCancel" : "AtOnce";
                         });

// A read the close cancels still hands over what it had received.
TEST(SerialConnectionsTest, BytesOfAReadCancelledByCloseAreSent) {
  FakeSerialPortApi api;
  api.complete_only_on_cancel = true;
  EventLog log;
  SerialConnections table(api, log.Emitter());
  const int64_t id = Open(table);
  // Once a read is pending, the bytes and the stop arrive together, so the
  // next thing the reader sees is the stop, with the bytes still in its read.
  auto line = api.Line(0);
  for (bool pending = false; !pending;) {
    std::lock_guard<std::mutex> lock(line->mutex);
    pending = line->read_in_flight;
    if (!pending) std::this_thread::yield();
    if (pending) {
      line->incoming.assign({1, 2, 3});
      line->stopped = true;
    }
  }
  table.CloseSerialPort(id);
  EXPECT_EQ(log.Bytes(), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(line->misuse);
}

TEST(SerialConnectionsTest, CloseStopsEventsAndUnknownHandlesAreIgnored) {
  FakeSerialPortApi api;
  EventLog log;
  SerialConnections table(api, log.Emitter());
  table.CloseSerialPort(0);
  table.CloseSerialPort(7);
  const int64_t id = Open(table);
  table.CloseSerialPort(id);
  table.CloseSerialPort(id);
  EXPECT_EQ(api.Line(0)->close_count, 1);
  api.Line(0)->Send({9, 9, 9});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(log.Events().empty());
  std::string message;
  EXPECT_FALSE(table.WriteSerialPort(id, {1}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
  EXPECT_FALSE(table.WriteSerialPort(42, {1}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
  message.clear();
  EXPECT_TRUE(table.WriteSerialPort(42, {}, &message));  // empty: nothing to do
  EXPECT_TRUE(message.empty());
}

// A reader whose port fails ends quietly; the port stays open until closed.
TEST(SerialConnectionsTest, ReaderEndsWhenThePortFails) {
  FakeSerialPortApi api;
  EventLog log;
  SerialConnections table(api, log.Emitter());
  const int64_t id = Open(table);
  auto line = api.Line(0);
  {
    std::lock_guard<std::mutex> lock(line->mutex);
    line->read_fails = true;
  }
  line->Send({1});  // wakes a pending read; the next one fails
  int reads = 0;
  for (int i = 0; i < 2000; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard<std::mutex> lock(line->mutex);
    if (line->reads_started == reads && line->incoming.empty()) break;
    reads = line->reads_started;
  }
  EXPECT_EQ(table.OpenCount(), 1u);
  std::string message;
  EXPECT_TRUE(table.WriteSerialPort(id, {2}, &message));
  table.CloseSerialPort(id);
  EXPECT_EQ(line->close_count, 1);
  EXPECT_FALSE(line->misuse);
}

// A port whose reads all complete through the wait, each finishing with the
// next scripted result; once the script is used up, reads fail to start (the
// port is gone), which ends any reader.
class ScriptedReadPort : public SerialPortDevice {
 public:
  struct Result {
    bool ok;
    uint32_t bytes_or_error;
  };
  explicit ScriptedReadPort(std::vector<Result> script) : script_(std::move(script)) {}

  bool PrepareRead() override { return true; }
  SerialReadStart StartRead(uint8_t* buffer, uint32_t, uint32_t*) override {
    buffer_ = buffer;
    return next_ < script_.size() ? SerialReadStart::kPending : SerialReadStart::kFailed;
  }
  SerialReadWait WaitRead(uint32_t) override { return SerialReadWait::kCompleted; }
  bool FinishRead(uint32_t* bytes, uint32_t* error) override {
    const Result result = script_.at(next_++);
    if (!result.ok) {
      *error = result.bytes_or_error;
      return false;
    }
    std::fill_n(buffer_, result.bytes_or_error, static_cast<uint8_t>(next_));
    *bytes = result.bytes_or_error;
    return true;
  }
  uint32_t CancelRead() override { return 0; }
  SerialWriteOutcome Write(const uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override {
    return SerialWriteOutcome::kFailed;
  }
  void Stop() override {}
  void Close() override {}

  size_t finished() const { return next_; }

 private:
  std::vector<Result> script_;
  size_t next_ = 0;
  uint8_t* buffer_ = nullptr;
};

// A read that timed out or was cancelled leaves the port readable; one that
// says the port is gone ends the reader rather than failing again and again.
TEST(SerialConnectionsTest, FailedReadCompletions) {
  struct Case {
    uint32_t error;
    bool reader_goes_on;
  };
  const Case cases[] = {
      {1460, true},   // ERROR_TIMEOUT: Wine's read time-out with nothing read
      {995, true},    // ERROR_OPERATION_ABORTED: a read cancelled by a purge
      {121, true},    // ERROR_SEM_TIMEOUT
      {31, true},     // ERROR_GEN_FAILURE: not known to be final
      {109, false},   // ERROR_BROKEN_PIPE: the line hung up (Wine)
      {5, false},     // ERROR_ACCESS_DENIED: adapter removed
      {22, false},    // ERROR_BAD_COMMAND
      {1167, false},  // ERROR_DEVICE_NOT_CONNECTED
      {1617, false},  // ERROR_DEVICE_REMOVED
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(SerialReadErrorIsFinal(c.error), !c.reader_goes_on);
    auto port = std::make_unique<ScriptedReadPort>(
        std::vector<ScriptedReadPort::Result>{{false, c.error}, {false, c.error}, {true, 3}});
    ScriptedReadPort& scripted = *port;
    SerialPortContext context;
    context.id = 7;
    context.device = std::move(port);
    context.running = true;
    EventLog log;
    RunSerialReadLoop(context, log.Emitter());
    if (c.reader_goes_on) {
      EXPECT_EQ(scripted.finished(), 3u);
      EXPECT_EQ(log.Bytes(), std::vector<uint8_t>(3, 3));
    } else {
      EXPECT_EQ(scripted.finished(), 1u);
      EXPECT_TRUE(log.Events().empty());
    }
  }
}

TEST(SerialConnectionsTest, WriteOutcomes) {
  struct Case {
    SerialWriteOutcome outcome;
    uint32_t written;
    uint32_t error;
    bool ok;
    const char* message;
  };
  const Case cases[] = {
      {SerialWriteOutcome::kDone, 3, 0, true, ""},
      {SerialWriteOutcome::kDone, 2, 0, false, "串口写入未完成"},
      {SerialWriteOutcome::kTimedOut, 0, 0, false, "串口写入超时"},
      {SerialWriteOutcome::kEventFailed, 0, 8, false, "创建串口写入事件失败（Win32 错误码 8）"},
      {SerialWriteOutcome::kFailed, 0, 22, false, "写入串口失败（Win32 错误码 22）"},
  };
  for (const Case& c : cases) {
    FakeSerialPortApi api;
    SerialConnections table(api, nullptr);
    const int64_t id = Open(table);
    auto line = api.Line(0);
    {
      std::lock_guard<std::mutex> lock(line->mutex);
      line->force_outcome = true;
      line->forced = c.outcome;
      line->forced_written = c.written;
      line->forced_error = c.error;
    }
    std::string message;
    EXPECT_EQ(table.WriteSerialPort(id, {1, 2, 3}, &message), c.ok);
    EXPECT_EQ(message, c.message);
  }
}

// A close arriving while a write is stuck in the driver cancels it, and the
// port is closed only after the write has returned.
TEST(SerialConnectionsTest, WriteRacingACloseEndsBeforeThePortCloses) {
  FakeSerialPortApi api;
  SerialConnections table(api, nullptr);
  const int64_t id = Open(table);
  auto line = api.Line(0);
  line->write_blocks = true;
  std::string write_message;
  std::atomic<bool> write_ok{true};
  std::thread writer([&] { write_ok = table.WriteSerialPort(id, {1, 2}, &write_message); });
  for (int i = 0; i < 2000; ++i) {
    {
      std::lock_guard<std::mutex> lock(line->mutex);
      if (line->writes_in_flight > 0) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  table.CloseSerialPort(id);
  writer.join();
  EXPECT_FALSE(write_ok);
  EXPECT_EQ(write_message, "串口写入超时");
  EXPECT_EQ(line->close_count, 1);
  EXPECT_FALSE(line->misuse);
}

// Many writers, readers and closers at once (run under TSan).
TEST(SerialConnectionsTest, ConcurrentWritesReadsAndCloses) {
  FakeSerialPortApi api;
  EventLog log;
  SerialConnections table(api, log.Emitter());
  constexpr int kPorts = 4;
  for (int i = 0; i < kPorts; ++i) Open(table, "COM" + std::to_string(i + 3));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&table, t] {
      std::string m;
      for (int i = 0; i < 200; ++i) table.WriteSerialPort(1 + (i + t) % kPorts, {1, 2, 3}, &m);
    });
  }
  threads.emplace_back([&api] {
    for (int i = 0; i < 200; ++i) api.Line(i % kPorts)->Send(Pattern(100));
  });
  threads.emplace_back([&table] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    table.CloseSerialPort(2);
    table.CloseSerialPort(3);
  });
  for (std::thread& thread : threads) thread.join();
  table.CloseAllSerialPorts();
  for (int i = 0; i < kPorts; ++i) {
    EXPECT_EQ(api.Line(i)->close_count, 1) << i;
    EXPECT_FALSE(api.Line(i)->misuse) << i;
  }
}

TEST(SerialOperationsTest, PluggedOperationsUseOneTable) {
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
  EXPECT_EQ(handle, 1);
  EXPECT_EQ(api.opened_settings.at(0).baud_rate, 9600u);
  EXPECT_TRUE(ops.write_serial(handle, {4, 5}, &message));
  EXPECT_TRUE(ops.write_serial(handle, {6}, &message));
  EXPECT_EQ(api.Line(0)->written, (std::vector<uint8_t>{4, 5, 6}));
  ops.close_serial(handle);
  EXPECT_FALSE(ops.write_serial(handle, {7}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
  ASSERT_TRUE(ops.open_serial("COM3", 9600, &handle, &message));
  EXPECT_EQ(handle, 2);
  ops.close_all_serial();
  EXPECT_EQ(api.Line(1)->close_count, 1);
  EncodableValue value;
  ASSERT_TRUE(ops.list_serial_ports(&value, &message));
  EXPECT_TRUE(std::get<EncodableList>(value).empty());
}

}  // namespace
}  // namespace vek_native
