// Ports whose cancelled read does not end until the test lets it, as with a
// driver that never completes a cancelled read: closing one port
// ("closeSerial") and all of them (the teardown) answers within a generous
// multiple of the 1500 ms bound, and no port is closed under its read. A
// write still pending after its time-out and cancel is freed only once it has
// ended, by a thread of its own; with no thread to be had, never.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "serial/serial_connections.h"
#include "support/returns_within.h"

namespace vek_native {
namespace {

// What the stuck ports share: the release, and what a port saw.
struct StuckLine {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  int reads_pending = 0, ports_alive = 0;
  bool closed_under_read = false;
};

// Every read pends; a stopped read's cancel ends only once the line is
// released, and then the late end writes into the reader's buffer.
class StuckPort : public SerialPortDevice {
 public:
  explicit StuckPort(StuckLine* line) : line_(line) { ++line_->ports_alive; }
  ~StuckPort() override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    line_->closed_under_read |= reading_;
    --line_->ports_alive;
  }
  bool PrepareRead() override { return true; }
  SerialReadStart StartRead(uint8_t* buffer, uint32_t, uint32_t*) override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    buffer_ = buffer;
    reading_ = true;
    ++line_->reads_pending;
    line_->changed.notify_all();
    return SerialReadStart::kPending;
  }
  SerialReadWait WaitRead(uint32_t) override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->changed.wait(lock, [this] { return stopped_; });
    return SerialReadWait::kStopped;
  }
  bool FinishRead(uint32_t*, uint32_t*) override { return false; }
  uint32_t CancelRead() override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->changed.wait(lock, [this] { return line_->released; });
    buffer_[0] = 1;  // the driver's late write
    reading_ = false;
    return 0;
  }
  SerialWriteOutcome Write(const uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override {
    return SerialWriteOutcome::kFailed;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    stopped_ = true;
    line_->changed.notify_all();
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    line_->closed_under_read |= reading_;
  }

 private:
  StuckLine* line_;
  uint8_t* buffer_ = nullptr;
  bool reading_ = false, stopped_ = false;
};

class StuckPortApi : public SerialPortApi {
 public:
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings&, SerialOpenStep*,
                                         uint32_t*) override {
    std::lock_guard<std::mutex> lock(line.mutex);
    return std::make_unique<StuckPort>(&line);
  }
  StuckLine line;
};

TEST(SerialStuckIoTest, ClosesAnswerAndNoPortIsClosedUnderItsRead) {
  StuckPortApi api;
  StuckLine& line = api.line;
  {
    SerialConnections table(api, nullptr);
    int64_t id = 0;
    std::string message;
    for (const char* name : {"COM3", "COM4", "COM5"}) {
      ASSERT_TRUE(table.OpenSerialPort(name, 9600, &id, &message)) << message;
    }
    {
      std::unique_lock<std::mutex> lock(line.mutex);
      line.changed.wait(lock, [&] { return line.reads_pending == 3; });
    }
    const auto release = [&] {
      std::lock_guard<std::mutex> lock(line.mutex);
      line.released = true;
      line.changed.notify_all();
    };
    EXPECT_TRUE(ReturnsWithin(
        std::chrono::seconds(10), [&] { table.CloseSerialPort(1); }, release));
    EXPECT_TRUE(ReturnsWithin(
        std::chrono::seconds(10), [&] { table.CloseAllSerialPorts(); }, release));
    EXPECT_EQ(table.OpenCount(), 0u);
    release();
  }
  std::unique_lock<std::mutex> lock(line.mutex);
  EXPECT_TRUE(
      line.changed.wait_for(lock, std::chrono::seconds(20), [&] { return line.ports_alive == 0; }));
  EXPECT_FALSE(line.closed_under_read);
}

class NeverEndingWrite : public SerialPendingWrite {
 public:
  explicit NeverEndingWrite(std::atomic<int>* state) : state_(state) {}
  ~NeverEndingWrite() override { *state_ = *state_ == 1 ? 2 : -1; }  // -1: freed while pending
  bool Wait(uint32_t) override { return false; }
  uint32_t Written() override { return 0; }
  void Cancel() override {}
  void WaitUntilEnded() override {
    while (*state_ == 0) std::this_thread::yield();  // until the test ends it (1)
  }

 private:
  std::atomic<int>* state_;  // 0 pending, 1 ended, 2 freed after its end
};

TEST(SerialStuckIoTest, AWriteThatDoesNotEndIsFreedOnlyAfterItsEnd) {
  for (const bool threads : {true, false}) {
    auto* state = new std::atomic<int>(0);  // a kept write may point at it for ever
    uint32_t written = 9;
    const ThreadStarter start = [threads](std::function<void()> work) {
      if (!threads) throw std::runtime_error("no threads");
      std::thread(std::move(work)).detach();
    };
    EXPECT_EQ(FinishSerialWrite(std::make_unique<NeverEndingWrite>(state), kSerialWriteTimeoutMs,
                                start, &written),
              SerialWriteOutcome::kTimedOut);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(state->load(), 0) << threads;
    *state = 1;
    for (int i = 0; i < 2000 && threads && *state != 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state->load(), threads ? 2 : 1) << threads;
    if (threads) delete state;
  }
}

}  // namespace
}  // namespace vek_native
