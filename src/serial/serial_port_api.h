// The platform seam of serial connections: one open port and how to open one.
// The connection rules (handles, threads, chunking, messages) live in
// serial_connections.cc; an implementation only performs the I/O.
#ifndef VEK_SERIAL_SERIAL_PORT_API_H_
#define VEK_SERIAL_SERIAL_PORT_API_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vek_native {

// Everything applied to a port at open, decided by the portable side.
struct SerialOpenSettings {
  std::string device_path;  // e.g. \\.\COM3
  uint32_t input_queue = 0;
  uint32_t output_queue = 0;
  uint32_t baud_rate = 0;
  uint8_t byte_size = 0;
  uint8_t parity = 0;     // NOPARITY
  uint8_t stop_bits = 0;  // ONESTOPBIT
  // DCB flags; the ones not named here stay as the driver reported them.
  bool binary = true;
  bool parity_check = false;
  bool outx_cts_flow = false;
  bool outx_dsr_flow = false;
  bool dsr_sensitivity = false;
  bool out_x = false;
  bool in_x = false;
  uint8_t dtr_control = 0;
  uint8_t rts_control = 0;
  uint32_t read_interval_timeout = 0;
  uint32_t read_total_timeout_multiplier = 0;
  uint32_t read_total_timeout_constant = 0;
  uint32_t write_total_timeout_multiplier = 0;
  uint32_t write_total_timeout_constant = 0;
  uint32_t purge_flags = 0;
};

// The open step that failed, for the message.
enum class SerialOpenStep { kOpen, kReadConfig, kConfigure, kStopEvent };

enum class SerialReadStart { kPending, kCompleted, kFailed };
enum class SerialReadWait { kCompleted, kStopped, kTimedOut, kFailed };
enum class SerialWriteOutcome { kDone, kTimedOut, kEventFailed, kFailed };

// One overlapped write the system did not finish at once. It owns what the
// system may still use until the write ends: a copy of the data, the
// OVERLAPPED and its event, and a share of the port handle. It must not be
// destroyed while the write may still be pending (FinishSerialWrite sees to it).
class SerialPendingWrite {
 public:
  virtual ~SerialPendingWrite() = default;
  // Waits up to `timeout_ms` for the write to end; true when it has.
  virtual bool Wait(uint32_t timeout_ms) = 0;
  // The bytes an ended write wrote, without waiting; 0 when it failed.
  virtual uint32_t Written() = 0;
  // Cancels the write (it still has to end before it may be freed).
  virtual void Cancel() = 0;
  // Waits however long the write takes to end.
  virtual void WaitUntilEnded() = 0;
};

// One open port. The read calls are made by the port's reader thread only;
// Write by one writer at a time; Stop from any thread; Close once, after the
// reader has ended and with no write in progress. A device destroyed without
// Close closes the port then (a port whose reader outlived its close).
class SerialPortDevice {
 public:
  virtual ~SerialPortDevice() = default;

  // Creates what the reader needs (its event); false ends the reader.
  virtual bool PrepareRead() = 0;
  // Starts an overlapped read of up to `size` bytes into `buffer`, which stays
  // valid until the read has completed or been cancelled. kCompleted sets
  // `*bytes`.
  virtual SerialReadStart StartRead(uint8_t* buffer, uint32_t size, uint32_t* bytes) = 0;
  // Waits for the pending read or the stop signal, at most `timeout_ms`.
  virtual SerialReadWait WaitRead(uint32_t timeout_ms) = 0;
  // The result of a read that WaitRead saw complete, without waiting; on
  // failure `*error` is the platform error the read completed with.
  virtual bool FinishRead(uint32_t* bytes, uint32_t* error) = 0;
  // Cancels the pending read and waits until the cancellation has completed:
  // afterwards the buffer is no longer in use. Returns the bytes the read had
  // received before it ended (a driver may complete a read only when cancelled).
  virtual uint32_t CancelRead() = 0;
  // Writes all `size` bytes, waiting up to `timeout_ms`; a write still
  // pending then is cancelled and, if it does not end soon, left to end on its
  // own (see FinishSerialWrite) before kTimedOut is returned. `*error` is the
  // platform error of kEventFailed and kFailed.
  virtual SerialWriteOutcome Write(const uint8_t* data, uint32_t size, uint32_t timeout_ms,
                                   uint32_t* written, uint32_t* error) = 0;
  // Signals the reader to stop and cancels every I/O on the port.
  virtual void Stop() = 0;
  // Closes the port and its stop signal.
  virtual void Close() = 0;
};

class SerialPortApi {
 public:
  virtual ~SerialPortApi() = default;
  // Opens and configures a port. On failure returns null with the failed step
  // and its platform error, having closed whatever it opened.
  virtual std::unique_ptr<SerialPortDevice> Open(const SerialOpenSettings& settings,
                                                 SerialOpenStep* failed_step, uint32_t* error) = 0;
};

}  // namespace vek_native

#endif  // VEK_SERIAL_SERIAL_PORT_API_H_
