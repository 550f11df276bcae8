#include "serial/serial_connections.h"
#include "serial/serial_operations.h"
#include "serial/serial_ports.h"
#include "common/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <tuple>

#include "support/returns_within.h"

namespace vek_native {
namespace {

// One read of a scripted port: how it starts, what the wait sees, and the
// bytes it yields (or the error it finishes with when `ok` is false).
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
  explicit ScriptedPort(std::deque<Read> script, std::atomic<size_t>* destroyed = nullptr)
      : script_(std::move(script)), destroyed_(destroyed) {}
  // Destroyed unclosed only when its reader outlived the close (the device
  // closes itself then), never under a read.
  ~ScriptedPort() override {
    EXPECT_FALSE(misuse || read_in_flight || closes > 1);
    if (destroyed_ != nullptr) ++*destroyed_;
  }

  bool PrepareRead() override { return true; }
  SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t* bytes) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (script_.empty()) return SerialReadStart::kFailed;
    read_ = script_.front();
    script_.pop_front();
    ++reads;
    std::fill_n(buffer, std::min(size, read_.value), static_cast<uint8_t>(reads));
    read_in_flight = read_.start == SerialReadStart::kPending;
    changed.notify_all();
    *bytes = read_.value;
    return read_.start;
  }
  SerialReadWait WaitRead(uint32_t) override {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return stopped || !hold_until_stopped; });  // a read that pends
    return read_.wait;
  }
  bool FinishRead(uint32_t* bytes, uint32_t* error) override {  // the reader's thread only
    read_in_flight = false;
    *(read_.ok ? bytes : error) = read_.value;
    return read_.ok;
  }
  uint32_t CancelRead() override {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !cancel_pends; });  // a driver slow to cancel
    read_in_flight = false;
    return read_.value;
  }
  SerialWriteOutcome Write(const uint8_t*, uint32_t size, uint32_t, uint32_t* written,
                           uint32_t* error) override {
    std::unique_lock<std::mutex> lock(mutex);
    ++writes_in_flight;
    std::tie(*written, *error) = std::make_pair(size - short_by, write_error);
    if (write == SerialWriteOutcome::kTimedOut) changed.wait(lock, [this] { return stopped; });
    --writes_in_flight;
    return write;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
    changed.notify_all();
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(mutex);
    misuse |= read_in_flight || writes_in_flight > 0;
    ++closes;
  }

  void WaitUntilReading() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return read_in_flight; });
  }

  std::mutex mutex;
  std::condition_variable changed;
  int reads = 0, writes_in_flight = 0, closes = 0;
  bool stopped = false, read_in_flight = false, misuse = false, cancel_pends = false;
  bool hold_until_stopped = false;
  // Writes: the outcome (kTimedOut: once the port is stopped), the bytes
  // short of the request and the error.
  SerialWriteOutcome write = SerialWriteOutcome::kDone;
  uint32_t short_by = 0, write_error = 0;

 private:
  std::deque<Read> script_;
  Read read_;
  std::atomic<size_t>* destroyed_;
};

// Opens scripted ports (kept in `ports`), or fails at a given step.
class FakeSerialPortApi : public SerialPortApi {
 public:
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings& settings, SerialOpenStep* step,
                                         uint32_t* error) override {
    opened.push_back(settings);
    *step = fail_step;
    *error = fail_error;
    if (fail_error != 0) return nullptr;
    auto port = std::make_unique<ScriptedPort>(script, &destroyed);
    port->hold_until_stopped = hold_until_stopped;
    ports.push_back(port.get());
    return port;
  }
  std::vector<SerialOpenSettings> opened;
  std::vector<ScriptedPort*> ports;  // until closed
  std::deque<Read> script;           // every port's reads
  std::atomic<size_t> destroyed{0};
  bool hold_until_stopped = false;
  SerialOpenStep fail_step = SerialOpenStep::kOpen;
  uint32_t fail_error = 0;  // non-zero: opens fail
};

// Only the exact "\\.\" prefix counts; rates a DCB cannot hold get the default.
TEST(SerialConnectionsTest, OpenSettings) {
  const std::tuple<std::string, int64_t, std::string, uint32_t> cases[] = {
      {"\\\\.\\COM10", 0xFFFFFFFF, "\\\\.\\COM10", 0xFFFFFFFF},
      {"\\\\?\\COM4", 0, "\\\\.\\\\\\?\\COM4", 115200},
      {"COM6", int64_t{1} << 32, "\\\\.\\COM6", 115200}};
  for (const auto& [name, baud, path, rate] : cases) {
    const SerialOpenSettings s = MakeSerialOpenSettings(name, baud);
    EXPECT_EQ(std::make_pair(s.device_path, s.baud_rate), std::make_pair(path, rate)) << name;
  }
  // No flow control, reads that return what has arrived within 200 ms, and a
  // full purge at open; 8 data bits, no parity, one stop bit, binary, 64 KiB
  // queues each way.
  const SerialOpenSettings s = MakeSerialOpenSettings("COM3", 9600);
  EXPECT_FALSE(s.parity_check || s.outx_cts_flow || s.outx_dsr_flow || s.dsr_sensitivity ||
               s.out_x || s.in_x || s.dtr_control || s.rts_control);
  EXPECT_EQ(std::make_tuple(s.read_interval_timeout, s.read_total_timeout_multiplier,
                            s.read_total_timeout_constant, s.write_total_timeout_multiplier,
                            s.write_total_timeout_constant, s.purge_flags, s.byte_size, s.parity,
                            s.stop_bits, s.binary, s.input_queue, s.output_queue),
            std::make_tuple(0xFFFFFFFFu, 0u, 200u, 0u, 0u, 0xFu, 8, 0, 0, true, 65536u, 65536u));
}

// Each read's bytes become one event (at most 4096 bytes: end to end). A
// read that timed out or was cancelled leaves the port readable and its bytes
// are sent; one that says the port is gone ends the reader rather than failing
// again and again, and so do a stop and a failed wait.
TEST(SerialConnectionsTest, ReadLoop) {
  using S = SerialReadStart;
  using W = SerialReadWait;
  const std::pair<std::deque<Read>, std::vector<uint8_t>> cases[] = {
      {{{S::kCompleted, W::kCompleted, 2},
        {S::kPending, W::kCompleted, 1},
        {S::kCompleted, W::kCompleted, 0},
        {S::kPending, W::kTimedOut, 1}},
       {1, 1, 2, 4}},
      {{{S::kPending, W::kCompleted, 1460, false}, {S::kPending, W::kCompleted, 1}}, {2}},
      {{{S::kPending, W::kCompleted, 109, false}, {S::kPending, W::kCompleted, 1}}, {}},
      {{{S::kPending, W::kStopped, 2}, {S::kPending, W::kCompleted, 1}}, {1, 1}},
      {{{S::kPending, W::kFailed, 2}, {S::kPending, W::kCompleted, 1}}, {}},
  };
  for (const auto& [script, bytes] : cases) {
    SerialPortContext context;
    auto port = std::make_unique<ScriptedPort>(script);
    ScriptedPort& scripted = *port;
    context.device = std::move(port);
    context.running = true;
    std::vector<uint8_t> all;
    size_t events = 0;
    RunSerialReadLoop(context, [&](EncodableMap&& event) {
      const auto& data = std::get<std::vector<uint8_t>>(event.at(EncodableValue("data")));
      all.insert(all.end(), data.begin(), data.end());
      ++events;
    });
    EXPECT_EQ(all, bytes) << scripted.reads;
    // A read fills its bytes with its number: one event per distinct byte.
    EXPECT_EQ(events, std::set<uint8_t>(bytes.begin(), bytes.end()).size());
    scripted.Close();  // with no read left in flight
  }
  for (uint32_t error : {5, 6, 21, 22, 55, 109, 1167, 1617})
    EXPECT_TRUE(SerialReadErrorIsFinal(error));
}

// Failed opens take no handle, and a port is open once at a time, whatever
// spelling names it. (Handles never reused, closing twice: end to end.)
TEST(SerialConnectionsTest, Opens) {
  FakeSerialPortApi api;
  bool refuse_thread = true;
  SerialConnections table(api, nullptr, [&refuse_thread](std::function<void()> body) {
    if (refuse_thread)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    std::thread(std::move(body)).detach();
  });
  int64_t id = -1;
  std::string message;
  EXPECT_FALSE(table.OpenSerialPort("COM3", 9600, &id, &message));
  EXPECT_EQ(message.rfind("启动串口读取线程失败", 0), 0u) << message;
  refuse_thread = false;
  const std::tuple<SerialOpenStep, uint32_t, const char*> failures[] = {
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
  api.fail_error = 0;
  ASSERT_TRUE(table.OpenSerialPort("COM3", 9600, &id, &message));
  for (const char* name : {"COM3", "com3", "\\\\.\\Com3"}) {
    EXPECT_FALSE(table.OpenSerialPort(name, 9600, &id, &message)) << name;
    EXPECT_EQ(message, "打开串口失败（Win32 错误码 5）");
  }
  EXPECT_EQ(api.opened.size(), 5u);  // the open port was never touched again
  EXPECT_TRUE(table.OpenSerialPort("COM30", 9600, &id, &message)) << message;  // another one
  table.CloseAllSerialPorts();  // the port must be closed once: see ~ScriptedPort
}

TEST(SerialConnectionsTest, WriteOutcomes) {
  const std::tuple<SerialWriteOutcome, uint32_t, uint32_t, const char*> cases[] = {
      {SerialWriteOutcome::kDone, 1, 0, "串口写入未完成"},
      {SerialWriteOutcome::kDone, 0, 0, ""},
      {SerialWriteOutcome::kFailed, 0, 31, "写入串口失败（Win32 错误码 31）"},
      {SerialWriteOutcome::kEventFailed, 0, 8, "创建串口写入事件失败（Win32 错误码 8）"},
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
  EXPECT_TRUE(table.WriteSerialPort(id, {}, nullptr));  // nothing to write: the port is not asked
  EXPECT_FALSE(table.WriteSerialPort(id + 1, {1}, &message));
  EXPECT_EQ(message, "串口句柄不存在");
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

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kDevPropString = 18;

// UTF-16LE text as the registry and SetupAPI hand it out.
SerialTypedValue Text(uint32_t type, const std::string& utf8, bool terminate = true) {
  SerialTypedValue value{type, {}};
  std::u16string text = Utf8ToUtf16(utf8);
  if (terminate) text.push_back(0);
  for (char16_t unit : text) {
    value.data.push_back(static_cast<uint8_t>(unit & 0xFF));
    value.data.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return value;
}

// The registry's serial map and the Ports-class device names, as tables.
class TableSource : public SerialPortSource {
 public:
  std::vector<SerialTypedValue> ReadSerialCommValues() override { return comm; }
  std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override { return devices; }
  std::vector<SerialTypedValue> comm, devices;
};

// Names are listed in registry order, each with the device name whose first
// "(...)" holds it, ignoring ASCII case; a later name wins. Values of another
// type or without text are skipped.
TEST(SerialPortsTest, ListMatchesDescriptionsCaseInsensitively) {
  TableSource source;
  source.comm = {
      Text(kRegSz, "COM5"),       Text(kRegBinary, "COM4"),
      Text(kRegSz, ""),           SerialTypedValue{kRegSz, {0x43}},  // one byte: too short
      Text(kRegSz, "com5"),       Text(kRegSz, "COM4"),
      Text(kRegSz, "COM3"),       Text(kRegSz, "COM8"),
      Text(kRegSz, "COM7", false)};  // no terminator
  source.devices = {Text(kDevPropString, "USB 串行设备 (COM5)"),
                    Text(kRegBinary, "Wrong type (COM8)"),
                    Text(kDevPropString, ") (COM4)"),
                    Text(kDevPropString, "Unclosed (COM3"),
                    Text(kDevPropString, "Old (COM7)"),
                    Text(kDevPropString, "Bluetooth Link (com7) (Standard)")};
  std::vector<SerialPortRecord> ports{{"COM9", "an earlier listing"}};
  std::string message;
  ASSERT_TRUE(ListSerialPorts(source, &ports, &message));
  std::vector<std::pair<std::string, std::string>> listed;
  for (const SerialPortRecord& port : ports) listed.emplace_back(port.port, port.description);
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                        {"COM5", "USB 串行设备 (COM5)"},
                        {"com5", "USB 串行设备 (COM5)"},
                        {"COM4", ") (COM4)"},
                        {"COM3", ""},
                        {"COM8", ""},
                        {"COM7", "Bluetooth Link (com7) (Standard)"}}));
  BridgeOperations ops;  // the listing as the channel answers it
  FakeSerialPortApi api;
  BindSerialOperations(ops, api, source, nullptr);
  EncodableValue value;
  ASSERT_TRUE(ops.list_serial_ports(&value, &message));
  EXPECT_EQ(std::get<EncodableList>(value)[0],
            EncodableValue(EncodableMap{
                {EncodableValue("port"), EncodableValue("COM5")},
                {EncodableValue("description"), EncodableValue("USB 串行设备 (COM5)")}}));
}

// Cancelled reads that do not end until the test lets them: closing one port
// ("closeSerial") and all of them (the teardown) answers within a generous
// multiple of the 1500 ms bound; no port is closed under its read (run under
// ASan and TSan: the late end uses the port).
TEST(SerialConnectionsTest, ClosesAnswerWhileCancelledReadsPend) {
  FakeSerialPortApi api;
  api.script = {{SerialReadStart::kPending, SerialReadWait::kStopped}};
  api.hold_until_stopped = true;
  SerialConnections table(api, nullptr);
  std::string message;
  for (const char* name : {"COM3", "COM4", "COM5"})
    table.OpenSerialPort(name, 9600, nullptr, &message);
  auto set_pending = [&](bool pending) {
    for (ScriptedPort* port : api.ports) {
      std::lock_guard<std::mutex> lock(port->mutex);
      port->cancel_pends = pending;
      port->changed.notify_all();
    }
  };
  for (ScriptedPort* port : api.ports) port->WaitUntilReading();
  set_pending(true);
  const auto release = [&] { set_pending(false); };
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(10), [&] { table.CloseSerialPort(1); }, release));
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(10), [&] { table.CloseAllSerialPorts(); }, release));
  for (ScriptedPort* port : api.ports) EXPECT_EQ(port->closes, 0);  // left to their readers
  release();
  for (int i = 0; i < 2000 && api.destroyed != api.ports.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(api.destroyed, api.ports.size());  // each by its reader, once its read ended
}

// The rest of a write the system did not finish at once. One still pending
// after its time-out and cancel, as with a driver that never completes a
// cancelled write, is freed only once it has ended, by a thread of its own;
// with no thread to be had, never.
// A write of 3 bytes that ends at once (1), once cancelled (2) or when the
// test says so (0). state: 0 pending, 1 ended, 2 freed after its end, -1
// freed while pending.
struct StuckWrite : SerialPendingWrite {
  StuckWrite(std::atomic<int>* s, int mode) : state(s), ends(mode) {}
  ~StuckWrite() override { *state = *state == 1 ? 2 : -1; }
  bool Wait(uint32_t) override {
    if (ends == 1) *state = 1;
    return *state == 1;
  }
  uint32_t Written() override { return 3; }
  void Cancel() override {
    if (ends == 2) *state = 1;
  }
  void WaitUntilEnded() override {
    while (*state == 0) std::this_thread::yield();
  }
  std::atomic<int>* state;
  const int ends;
};

TEST(SerialStuckIoTest, AWriteThatDoesNotEndIsFreedOnlyAfterItsEnd) {
  // How the write ends, whether threads are to be had, and the bytes written.
  const std::tuple<int, bool, uint32_t> rows[] = {
      {1, true, 3}, {2, true, 0}, {0, true, 0}, {0, false, 0}};
  for (const auto& [ends, threads, bytes] : rows) {
    auto* state = new std::atomic<int>(0);  // a kept write may point at it for ever
    uint32_t written = 9;
    const ThreadStarter start = [threads = threads](std::function<void()> work) {
      if (!threads) throw std::runtime_error("no threads");
      std::thread(std::move(work)).detach();
    };
    EXPECT_EQ(FinishSerialWrite(std::make_unique<StuckWrite>(state, ends), kSerialWriteTimeoutMs,
                                start, &written),
              ends == 1 ? SerialWriteOutcome::kDone : SerialWriteOutcome::kTimedOut);
    EXPECT_EQ(std::make_pair(state->load(), written), std::make_pair(ends == 0 ? 0 : 2, bytes));
    if (ends == 0) *state = 1;
    for (int i = 0; i < 2000 && threads && *state != 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state->load(), threads ? 2 : 1) << ends << threads;
    if (threads) delete state;
  }
}

}  // namespace
}  // namespace vek_native
