// Serial ports whose cancelled reads and writes do not end until the test
// lets them, as a driver that never completes a cancelled request:
// "closeSerial" and closing every port answer within their bound, a port stays
// open while its read pends, and nothing a pending request uses is freed
// before it ends (run under ASan and TSan too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/serial_connections.h"
#include "serial/serial_operations.h"
#include "support/stuck_io.h"

namespace vek_native {
namespace {

using fake::StuckIoGate;

// Every read pends; once stopped, its cancel lasts until the gate opens.
class StuckSerialPort : public SerialPortDevice {
 public:
  explicit StuckSerialPort(StuckIoGate& gate) : gate_(gate) {
    std::lock_guard<std::mutex> lock(gate_.mutex);
    ++gate_.devices_open;
  }
  ~StuckSerialPort() override {
    gate_.NoteClose(read_pending_);
    std::lock_guard<std::mutex> lock(gate_.mutex);
    --gate_.devices_open;
    gate_.changed.notify_all();
  }
  bool PrepareRead() override { return true; }
  SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t*) override {
    buffer_ = buffer;
    size_ = size;
    return SerialReadStart::kPending;
  }
  SerialReadWait WaitRead(uint32_t) override {
    std::unique_lock<std::mutex> lock(gate_.mutex);
    ++gate_.waiting;
    gate_.changed.notify_all();
    gate_.changed.wait(lock, [this] { return stopped_; });
    return SerialReadWait::kStopped;
  }
  bool FinishRead(uint32_t*, uint32_t*) override { return false; }
  uint32_t CancelRead() override {
    gate_.Pend(&read_pending_);
    std::memset(buffer_, 0x5A, size_);  // the late completion fills the buffer
    return 0;
  }
  SerialWriteOutcome Write(const uint8_t*, uint32_t size, uint32_t, uint32_t* written,
                           uint32_t*) override {
    *written = size;
    return SerialWriteOutcome::kDone;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(gate_.mutex);
    stopped_ = true;
    gate_.changed.notify_all();
  }
  void Close() override { gate_.NoteClose(read_pending_); }

 private:
  StuckIoGate& gate_;
  bool stopped_ = false;       // guarded by gate_.mutex
  bool read_pending_ = false;  // guarded by gate_.mutex
  uint8_t* buffer_ = nullptr;
  uint32_t size_ = 0;
};

class StuckSerialApi : public SerialPortApi {
 public:
  explicit StuckSerialApi(StuckIoGate& gate) : gate_(gate) {}
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings&, SerialOpenStep*,
                                         uint32_t*) override {
    return std::make_unique<StuckSerialPort>(gate_);
  }

 private:
  StuckIoGate& gate_;
};

class NoPorts : public SerialPortSource {
  std::vector<SerialTypedValue> ReadSerialCommValues() override { return {}; }
  std::vector<SerialTypedValue> ReadPortsClassDeviceNames() override { return {}; }
};

// One port through "closeSerial", three through closing them all: each
// answers within a generous multiple of its 1500 ms bound.
TEST(SerialStuckIoTest, CloseAnswersWhileTheReaderKeepsThePort) {
  for (const int ports : {1, 3}) {
    StuckIoGate gate;
    StuckSerialApi api(gate);
    NoPorts source;
    BridgeOperations ops;
    BindSerialOperations(ops, api, source, nullptr);
    for (int i = 0; i < ports; ++i) {
      int64_t handle = 0;
      std::string message;
      ASSERT_TRUE(ops.open_serial("COM" + std::to_string(i + 3), 9600, &handle, &message));
    }
    ASSERT_TRUE(gate.WaitFor([&] { return gate.waiting == ports; }));
    const bool answered = fake::ReturnsWithin(
        std::chrono::seconds(10),
        [&] {
          if (ports == 1) {
            ops.close_serial(1);
          } else {
            ops.close_all_serial();
          }
        },
        [&] { gate.Release(); });
    EXPECT_TRUE(answered) << ports << ": the close waited for the cancelled read";
    {
      std::lock_guard<std::mutex> lock(gate.mutex);
      EXPECT_EQ(gate.pending, ports);
      EXPECT_EQ(gate.devices_open, ports);  // not closed under the pending read
    }
    std::string message;
    EXPECT_FALSE(ops.write_serial(1, {1}, &message));
    EXPECT_EQ(message, "串口句柄不存在");
    gate.Release();
    // The reader closes its port once the cancelled read has ended.
    EXPECT_TRUE(gate.WaitFor([&] { return gate.devices_open == 0; })) << ports;
    std::lock_guard<std::mutex> lock(gate.mutex);
    EXPECT_EQ(gate.late_completions, ports);
    EXPECT_FALSE(gate.closed_under_pending) << ports;
  }
}

// A write the system has not finished: how it ends, and who frees it.
class GatedWrite : public SerialPendingWrite {
 public:
  enum class Ends { kAtOnce, kOnCancel, kNever };
  GatedWrite(StuckIoGate& gate, Ends ends, std::atomic<bool>* freed)
      : gate_(gate), ends_(ends), freed_(freed) {}
  ~GatedWrite() override {
    std::lock_guard<std::mutex> lock(gate_.mutex);
    if (ends_ == Ends::kNever && !gate_.released) gate_.closed_under_pending = true;
    *freed_ = true;
    gate_.changed.notify_all();
  }
  bool Wait(uint32_t) override {
    if (ends_ == Ends::kAtOnce) return true;
    return ends_ == Ends::kOnCancel && cancelled_;
  }
  uint32_t Written() override { return 3; }
  void Cancel() override { cancelled_ = true; }
  void WaitUntilEnded() override { gate_.Pend(&pending_); }

 private:
  StuckIoGate& gate_;
  const Ends ends_;
  std::atomic<bool>* freed_;
  bool cancelled_ = false;
  bool pending_ = false;  // guarded by gate_.mutex
};

TEST(SerialStuckIoTest, PendingWritesAreFreedOnlyOnceEnded) {
  using Ends = GatedWrite::Ends;
  const struct {
    Ends ends;
    bool threads;
    SerialWriteOutcome outcome;
    uint32_t written;
    bool freed_on_return;
    bool freed_after_release;
  } cases[] = {
      {Ends::kAtOnce, true, SerialWriteOutcome::kDone, 3, true, true},
      {Ends::kOnCancel, true, SerialWriteOutcome::kTimedOut, 0, true, true},
      {Ends::kNever, true, SerialWriteOutcome::kTimedOut, 0, false, true},
      // No thread can wait for it: it is kept, never freed.
      {Ends::kNever, false, SerialWriteOutcome::kTimedOut, 0, false, false},
  };
  for (const auto& c : cases) {
    const std::string row = std::to_string(static_cast<int>(c.ends)) + (c.threads ? "+" : "-");
    StuckIoGate gate;
    std::atomic<bool> freed{false};
    const ThreadStarter start = [&c](std::function<void()> work) {
      if (!c.threads) throw std::runtime_error("no threads");
      std::thread(std::move(work)).detach();
    };
    uint32_t written = 99;
    SerialWriteOutcome outcome = SerialWriteOutcome::kFailed;
    ASSERT_TRUE(fake::ReturnsWithin(
        std::chrono::seconds(10),
        [&] {
          outcome = FinishSerialWrite(std::make_unique<GatedWrite>(gate, c.ends, &freed),
                                      kSerialWriteTimeoutMs, start, &written);
        },
        [&] { gate.Release(); }))
        << row;
    EXPECT_EQ(outcome, c.outcome) << row;
    EXPECT_EQ(written, c.written) << row;
    EXPECT_EQ(freed.load(), c.freed_on_return) << row;
    if (c.ends == Ends::kNever && c.threads) {
      EXPECT_TRUE(gate.WaitFor([&] { return gate.pending == 1; })) << row;
    }
    gate.Release();
    if (c.freed_after_release) {
      EXPECT_TRUE(gate.WaitFor([&] { return freed.load(); })) << row;
    } else {
      EXPECT_FALSE(freed.load()) << row;
    }
    EXPECT_FALSE(gate.closed_under_pending) << row;
  }
}

}  // namespace
}  // namespace vek_native
