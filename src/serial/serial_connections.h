// Serial connections: the port table, one reader thread per open port turning
// every chunk read into a "serial" event, and writes with a time-out.
#ifndef VEK_SERIAL_SERIAL_CONNECTIONS_H_
#define VEK_SERIAL_SERIAL_CONNECTIONS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/bridge_operations.h"
#include "serial/serial_port_api.h"

namespace vek_native {

constexpr uint32_t kSerialReadChunk = 4096;
constexpr uint32_t kSerialReadWaitMs = 1000;
constexpr uint32_t kSerialWriteTimeoutMs = 5000;
constexpr int64_t kSerialDefaultBaudRate = 115200;

// Device paths name the same port when they match ignoring ASCII case.
bool SameDevicePath(const std::string& a, const std::string& b);
// "\\.\" + name, unless the name already starts with "\\.\".
std::string SerialDevicePath(const std::string& name);
// Everything applied to the port at open; a rate of 0 or below gives 115200.
SerialOpenSettings MakeSerialOpenSettings(const std::string& name, int64_t baud_rate);
// The "serial" event for `size` bytes read from port `id`.
EncodableMap MakeSerialEvent(int64_t id, const uint8_t* data, size_t size, uint64_t timestamp_us);

// One open port, shared by the table, its reader thread and writes in progress.
struct SerialPortContext {
  int64_t id = 0;
  std::string portName;
  std::string devicePath;                    // what was opened, e.g. \\.\COM3
  std::unique_ptr<SerialPortDevice> device;  // null once closed
  std::thread readerThread;
  std::atomic<bool> running{false};
  std::mutex writeMutex;
};

// Whether a read that completed with platform error `error` means the port
// is gone (hung up, removed, no longer valid): reading again would only fail
// the same way at once.
bool SerialReadErrorIsFinal(uint32_t error);

// The reader loop of one port: reads until `running` turns false or the port
// fails, emitting one event per chunk.
void RunSerialReadLoop(SerialPortContext& context, const EventEmitter& emit);

// The port table. Every call may come from any thread except a reader thread.
// Lock order: the table mutex is held only for lookups and changes (and the
// start of a reader thread), never across I/O or a join; a context's write
// mutex is held for a whole write and while its handles are closed.
class SerialConnections {
 public:
  // Starts a reader thread running `body`; throws std::system_error when it
  // cannot (as std::thread's constructor does). Replaceable for tests.
  using ThreadLauncher = std::function<std::thread(std::function<void()> body)>;

  SerialConnections(SerialPortApi& api, EventEmitter emit, ThreadLauncher launcher = nullptr);
  ~SerialConnections();  // closes every port
  SerialConnections(const SerialConnections&) = delete;
  SerialConnections& operator=(const SerialConnections&) = delete;

  bool OpenSerialPort(const std::string& name, int64_t baud_rate, int64_t* id,
                      std::string* message);
  bool WriteSerialPort(int64_t id, const std::vector<uint8_t>& bytes, std::string* message);
  // An id that is not open is ignored.
  void CloseSerialPort(int64_t id);
  void CloseAllSerialPorts();

  size_t OpenCount() const;

 private:
  bool IsDeviceOpen(const std::string& device_path) const;
  bool IsDeviceOpenLocked(const std::string& device_path) const;

  SerialPortApi& api_;
  const EventEmitter emit_;
  const ThreadLauncher launcher_;
  mutable std::mutex serialTableMutex_;
  std::map<int64_t, std::shared_ptr<SerialPortContext>> table_;
  int64_t next_id_ = 1;
};

}  // namespace vek_native

#endif  // VEK_SERIAL_SERIAL_CONNECTIONS_H_
