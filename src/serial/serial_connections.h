// Serial connections: the port table, one reader thread per open port turning
// every chunk read into a "serial" event, and writes with a time-out.
#ifndef VEK_SERIAL_SERIAL_CONNECTIONS_H_
#define VEK_SERIAL_SERIAL_CONNECTIONS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "bridge/bridge_operations.h"
#include "common/completion_latch.h"
#include "common/detached_thread.h"
#include "serial/serial_port_api.h"

namespace vek_native {

constexpr uint32_t kSerialReadChunk = 4096;
constexpr uint32_t kSerialReadWaitMs = 1000;
constexpr uint32_t kSerialWriteTimeoutMs = 5000;
// How long a cancelled read or write is waited for on the caller's thread.
constexpr uint32_t kSerialCancelWaitMs = 500;
// How long a close waits for the reader: one read wait, then its cancel.
constexpr uint32_t kSerialCloseWaitMs = kSerialReadWaitMs + kSerialCancelWaitMs;
constexpr int64_t kSerialDefaultBaudRate = 115200;

// "\\.\" + name, unless the name already starts with "\\.\".
std::string SerialDevicePath(const std::string& name);
// Everything applied to the port at open; a rate of 0 or below gives 115200.
SerialOpenSettings MakeSerialOpenSettings(const std::string& name, int64_t baud_rate);
// The "serial" event for `size` bytes read from port `id`.
EncodableMap MakeSerialEvent(int64_t id, const uint8_t* data, size_t size, uint64_t timestamp_us);

// One open port, shared by the table, its reader thread and writes in
// progress. The last of them to let go destroys the device, which closes a
// port that its close had to leave to a reader still in a cancelled read.
struct SerialPortContext {
  int64_t id = 0;
  std::string port_name;
  std::string device_path;                   // what was opened, e.g. \\.\COM3
  std::unique_ptr<SerialPortDevice> device;  // null once closed
  std::atomic<bool> running{false};
  std::mutex write_mutex;
  // Signalled by the reader thread when its loop has ended.
  CompletionLatch reader_ended;
};

// Whether a read that completed with platform error `error` means the port
// is gone (hung up, removed, no longer valid): reading again would only fail
// the same way at once.
bool SerialReadErrorIsFinal(uint32_t error);

// The reader loop of one port: reads until `running` turns false or the port
// fails, emitting one event per chunk.
void RunSerialReadLoop(SerialPortContext& context, const EventEmitter& emit);

// The rest of a write the system did not finish at once: waits up to
// `timeout_ms` (kDone with the bytes written, 0 when it failed); a write still
// pending then is cancelled and waited for kSerialCancelWaitMs more. One that
// has not ended even then is handed to a thread from `start_thread`, which
// waits for its end and only then frees it (or, with no thread to be had, it
// is never freed): the caller never waits without a bound, and nothing the
// system may still use is freed. kTimedOut with *written 0 then.
SerialWriteOutcome FinishSerialWrite(std::unique_ptr<SerialPendingWrite> write, uint32_t timeout_ms,
                                     const ThreadStarter& start_thread, uint32_t* written);

// The port table. Every call may come from any thread except a reader thread.
// Lock order: the table mutex is held only for lookups and changes (and the
// start of a reader thread), never across I/O or a wait; a context's write
// mutex is held for a whole write and while its handles are closed.
class SerialConnections {
 public:
  // Reader threads come from `start_thread`.
  SerialConnections(SerialPortApi& api, EventEmitter emit,
                    ThreadStarter start_thread = StartDetachedThread);
  ~SerialConnections();  // closes every port
  SerialConnections(const SerialConnections&) = delete;
  SerialConnections& operator=(const SerialConnections&) = delete;

  bool OpenSerialPort(const std::string& name, int64_t baud_rate, int64_t* id,
                      std::string* message);
  bool WriteSerialPort(int64_t id, const std::vector<uint8_t>& bytes, std::string* message);
  // Stops the port's reader and waits for it at most kSerialCloseWaitMs,
  // then closes the port; a reader still in a cancelled read after that
  // closes it when the read ends. An id that is not open is ignored.
  void CloseSerialPort(int64_t id);
  // Stops every reader first, then waits for them against one deadline.
  void CloseAllSerialPorts();

  size_t OpenCount() const;

 private:
  bool IsDeviceOpen(const std::string& device_path) const;
  bool IsDeviceOpenLocked(const std::string& device_path) const;
  static void StopAndClose(const std::vector<std::shared_ptr<SerialPortContext>>& contexts);

  SerialPortApi& api_;
  const EventEmitter emit_;
  const ThreadStarter start_thread_;
  mutable std::mutex serial_table_mutex_;
  std::map<int64_t, std::shared_ptr<SerialPortContext>> table_;
  int64_t next_id_ = 1;
};
static_assert(!std::is_copy_constructible_v<SerialConnections>, "owns open ports and threads");

}  // namespace vek_native

#endif  // VEK_SERIAL_SERIAL_CONNECTIONS_H_
