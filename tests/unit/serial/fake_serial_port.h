// A serial port in memory: bytes the far end sends wait in `incoming` until a
// read takes them; writes land in `written`. It can behave like a driver that
// completes reads at once, or like Wine's, which completes a read only when it
// is cancelled. It records the misuse a real driver would punish: closing
// while a read or write is still in flight.
#ifndef VEK_TESTS_UNIT_SERIAL_FAKE_SERIAL_PORT_H_
#define VEK_TESTS_UNIT_SERIAL_FAKE_SERIAL_PORT_H_

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/serial_port_api.h"

namespace vek_native {

struct FakeSerialLine {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<uint8_t> incoming;
  std::vector<uint8_t> written;
  bool complete_only_on_cancel = false;
  bool cancel_pends = false;  // a cancelled read ends only once this is cleared
  bool read_fails = false;  // the port was removed: reads fail at once
  int reads_started = 0;
  bool stopped = false;
  bool closed = false;
  bool read_in_flight = false;
  int writes_in_flight = 0;
  bool misuse = false;  // closed with I/O in flight, or I/O after close
  int close_count = 0;
  uint32_t last_wait_ms = 0;
  // Writes: a forced outcome, or blocking until stopped (then timed out).
  bool write_blocks = false;
  bool force_outcome = false;
  SerialWriteOutcome forced = SerialWriteOutcome::kDone;
  uint32_t forced_written = 0;
  uint32_t forced_error = 0;

  void Send(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    changed.notify_all();
  }
};

class FakeSerialPort : public SerialPortDevice {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeSerialLine> line) : line_(std::move(line)) {}

  bool PrepareRead() override { return true; }

  SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t* bytes) override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    if (line_->closed) line_->misuse = true;
    ++line_->reads_started;
    if (line_->read_fails) return SerialReadStart::kFailed;
    if (!line_->complete_only_on_cancel && !line_->incoming.empty()) {
      *bytes = TakeLocked(buffer, size);
      return SerialReadStart::kCompleted;
    }
    buffer_ = buffer;
    size_ = size;
    line_->read_in_flight = true;
    return SerialReadStart::kPending;
  }

  SerialReadWait WaitRead(uint32_t timeout_ms) override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->last_wait_ms = timeout_ms;
    // Time runs fast here: the wait's length is recorded, not spent.
    const bool woke = line_->changed.wait_for(lock, std::chrono::milliseconds(5), [&] {
      return line_->stopped || (!line_->complete_only_on_cancel && !line_->incoming.empty());
    });
    if (line_->stopped) return SerialReadWait::kStopped;
    return woke ? SerialReadWait::kCompleted : SerialReadWait::kTimedOut;
  }

  bool FinishRead(uint32_t* bytes, uint32_t* /*error*/) override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    *bytes = TakeLocked(buffer_, size_);
    line_->read_in_flight = false;
    return true;
  }

  uint32_t CancelRead() override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    line_->changed.wait(lock, [this] { return !line_->cancel_pends; });
    uint32_t bytes = 0;
    if (line_->complete_only_on_cancel) bytes = TakeLocked(buffer_, size_);
    line_->read_in_flight = false;
    return bytes;
  }

  SerialWriteOutcome Write(const uint8_t* data, uint32_t size, uint32_t timeout_ms,
                           uint32_t* written, uint32_t* error) override {
    std::unique_lock<std::mutex> lock(line_->mutex);
    if (line_->closed) line_->misuse = true;
    ++line_->writes_in_flight;
    SerialWriteOutcome outcome = SerialWriteOutcome::kDone;
    *written = size;
    if (line_->force_outcome) {
      outcome = line_->forced;
      *written = line_->forced_written;
      *error = line_->forced_error;
    } else if (line_->write_blocks) {
      line_->changed.wait(lock, [&] { return line_->stopped; });
      outcome = SerialWriteOutcome::kTimedOut;
      *written = 0;
    } else {
      line_->written.insert(line_->written.end(), data, data + size);
    }
    (void)timeout_ms;
    --line_->writes_in_flight;
    return outcome;
  }

  void Stop() override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    line_->stopped = true;
    line_->changed.notify_all();
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(line_->mutex);
    if (line_->read_in_flight || line_->writes_in_flight > 0) line_->misuse = true;
    line_->closed = true;
    ++line_->close_count;
  }

 private:
  uint32_t TakeLocked(uint8_t* buffer, uint32_t size) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(size, line_->incoming.size()));
    std::copy_n(line_->incoming.begin(), n, buffer);
    line_->incoming.erase(line_->incoming.begin(), line_->incoming.begin() + n);
    return n;
  }

  std::shared_ptr<FakeSerialLine> line_;
  uint8_t* buffer_ = nullptr;
  uint32_t size_ = 0;
};

// Opens a new line per call (kept in `lines`), or fails at a given step.
class FakeSerialPortApi : public SerialPortApi {
 public:
  std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings& settings, SerialOpenStep* step,
                                         uint32_t* error) override {
    std::lock_guard<std::mutex> lock(mutex);
    opened_settings.push_back(settings);
    if (fail) {
      *step = fail_step;
      *error = fail_error;
      return nullptr;
    }
    auto line = std::make_shared<FakeSerialLine>();
    line->complete_only_on_cancel = complete_only_on_cancel;
    lines.push_back(line);
    return std::make_unique<FakeSerialPort>(line);
  }

  std::shared_ptr<FakeSerialLine> Line(size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    return lines.at(index);
  }

  std::mutex mutex;
  std::vector<SerialOpenSettings> opened_settings;
  std::vector<std::shared_ptr<FakeSerialLine>> lines;
  bool complete_only_on_cancel = false;
  bool fail = false;
  SerialOpenStep fail_step = SerialOpenStep::kOpen;
  uint32_t fail_error = 0;
};

}  // namespace vek_native

#endif  // VEK_TESTS_UNIT_SERIAL_FAKE_SERIAL_PORT_H_
