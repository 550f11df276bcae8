#include "serial/serial_connections.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "common/clock.h"
#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";  // \\.\  (4 characters)
constexpr uint32_t kQueueBytes = 65536;
constexpr uint32_t kPurgeAll = 0x1 | 0x2 | 0x4 | 0x8;  // TX/RX abort, TX/RX clear
// What Windows answers when a port that is already open is opened again.
constexpr uint32_t kErrorAccessDenied = 5;
// Errors a read completes with once its port is gone: access denied (a USB
// adapter removed while open), invalid handle, not ready, bad command (a
// removed device's driver), device does not exist, broken pipe (the line hung
// up), device not connected, device removed.
constexpr uint32_t kFinalReadErrors[] = {kErrorAccessDenied, 6, 21, 22, 55, 109, 1167, 1617};

const char* OpenStepAction(SerialOpenStep step) {
  switch (step) {
    case SerialOpenStep::kOpen:
      return "打开串口";
    case SerialOpenStep::kReadConfig:
      return "读取串口配置";
    case SerialOpenStep::kConfigure:
      return "配置串口";
    case SerialOpenStep::kStopEvent:
      return "创建串口停止事件";
  }
  return "打开串口";
}

void EmitChunk(const SerialPortContext& context, const EventEmitter& emit, const uint8_t* data,
               uint32_t bytes) {
  if (bytes == 0 || !emit) return;
  if (bytes > kSerialReadChunk) bytes = kSerialReadChunk;
  emit(MakeSerialEvent(context.id, data, bytes, NowMicros()));
}

// A pending write that no thread can wait for: freeing it could let the
// driver write into freed memory later, so it is kept, reachable, for the
// life of the process.
void KeepForever(std::shared_ptr<SerialPendingWrite> write) {
  static std::mutex mutex;
  static auto* const kept = new std::vector<std::shared_ptr<SerialPendingWrite>>();
  std::lock_guard<std::mutex> lock(mutex);
  kept->push_back(std::move(write));
}

}  // namespace

std::string SerialDevicePath(const std::string& name) {
  if (name.compare(0, 4, kDevicePrefix) == 0) return name;
  return kDevicePrefix + name;
}

SerialOpenSettings MakeSerialOpenSettings(const std::string& name, int64_t baud_rate) {
  SerialOpenSettings s;
  s.device_path = SerialDevicePath(name);
  s.input_queue = kQueueBytes;
  s.output_queue = kQueueBytes;
  // Rates beyond 32 bits cannot be represented in the driver's field; they
  // are as unusable as 0, so they get the default too.
  s.baud_rate = (baud_rate > 0 && baud_rate <= 0xFFFFFFFFLL)
                    ? static_cast<uint32_t>(baud_rate)
                    : static_cast<uint32_t>(kSerialDefaultBaudRate);
  s.byte_size = 8;
  s.parity = 0;
  s.stop_bits = 0;
  s.binary = true;
  s.parity_check = s.outx_cts_flow = s.outx_dsr_flow = s.dsr_sensitivity = false;
  s.out_x = s.in_x = false;
  s.dtr_control = 0;
  s.rts_control = 0;
  s.read_interval_timeout = 0xFFFFFFFFu;
  s.read_total_timeout_multiplier = 0;
  s.read_total_timeout_constant = 200;
  s.write_total_timeout_multiplier = 0;
  s.write_total_timeout_constant = 0;
  s.purge_flags = kPurgeAll;
  return s;
}

EncodableMap MakeSerialEvent(int64_t id, const uint8_t* data, size_t size, uint64_t timestamp_us) {
  EncodableMap event;
  event[EncodableValue("channel")] = EncodableValue("serial");
  event[EncodableValue("handle")] = EncodableValue(id);
  event[EncodableValue("timestampUs")] = EncodableValue(static_cast<int64_t>(timestamp_us));
  event[EncodableValue("data")] = EncodableValue(std::vector<uint8_t>(data, data + size));
  return event;
}

bool SerialReadErrorIsFinal(uint32_t error) {
  for (uint32_t final_error : kFinalReadErrors) {
    if (error == final_error) return true;
  }
  return false;
}

void RunSerialReadLoop(SerialPortContext& context, const EventEmitter& emit) {
  SerialPortDevice& device = *context.device;
  if (!device.PrepareRead()) return;
  std::vector<uint8_t> buffer(kSerialReadChunk);
  while (context.running.load()) {
    uint32_t bytes = 0;
    const SerialReadStart start = device.StartRead(buffer.data(), kSerialReadChunk, &bytes);
    if (start == SerialReadStart::kFailed) return;
    if (start == SerialReadStart::kPending) {
      switch (device.WaitRead(kSerialReadWaitMs)) {
        case SerialReadWait::kStopped:
          // Bytes the cancelled read had already taken from the driver still
          // belong to the user; the port is closing, but they arrived first.
          EmitChunk(context, emit, buffer.data(), device.CancelRead());
          return;
        case SerialReadWait::kTimedOut:
          // Some drivers complete a read only when it is cancelled, with the
          // bytes it gathered; those bytes must not be lost.
          EmitChunk(context, emit, buffer.data(), device.CancelRead());
          continue;
        case SerialReadWait::kFailed:
          device.CancelRead();
          return;
        case SerialReadWait::kCompleted: {
          uint32_t error = 0;
          if (!device.FinishRead(&bytes, &error)) {
            // A read that timed out or was cancelled leaves the port usable.
            // A port that is gone keeps accepting reads that fail at once
            // (Wine, after the line hangs up): reading on would spin.
            if (SerialReadErrorIsFinal(error)) return;
            continue;
          }
          break;
        }
      }
    }
    EmitChunk(context, emit, buffer.data(), bytes);
  }
}

SerialWriteOutcome FinishSerialWrite(std::unique_ptr<SerialPendingWrite> write, uint32_t timeout_ms,
                                     const ThreadStarter& start_thread, uint32_t* written) {
  *written = 0;
  if (write->Wait(timeout_ms)) {
    *written = write->Written();
    return SerialWriteOutcome::kDone;
  }
  write->Cancel();
  if (write->Wait(kSerialCancelWaitMs)) return SerialWriteOutcome::kTimedOut;
  std::shared_ptr<SerialPendingWrite> pending(std::move(write));
  try {
    start_thread([pending] { pending->WaitUntilEnded(); });
  } catch (const std::exception&) {
    KeepForever(std::move(pending));
  }
  return SerialWriteOutcome::kTimedOut;
}

SerialConnections::SerialConnections(SerialPortApi& api, EventEmitter emit,
                                     ThreadStarter start_thread)
    : api_(api), emit_(std::move(emit)), start_thread_(std::move(start_thread)) {}

SerialConnections::~SerialConnections() { CloseAllSerialPorts(); }

bool SerialConnections::OpenSerialPort(const std::string& name, int64_t baud_rate, int64_t* id,
                                       std::string* message) {
  if (name.empty()) {
    if (message) *message = "串口名称不能为空";
    return false;
  }
  const SerialOpenSettings settings = MakeSerialOpenSettings(name, baud_rate);
  // Windows opens a port only once at a time; some drivers (Wine's) do not
  // enforce that, and a second open would purge the first one's input and
  // split what arrives between two readers. Refuse it as Windows does.
  if (IsDeviceOpen(settings.device_path)) {
    if (message) *message = FormatWin32Failure("打开串口", kErrorAccessDenied);
    return false;
  }
  SerialOpenStep step = SerialOpenStep::kOpen;
  uint32_t error = 0;
  std::unique_ptr<SerialPortDevice> device = api_.Open(settings, &step, &error);
  if (!device) {
    if (message) *message = FormatWin32Failure(OpenStepAction(step), error);
    return false;
  }
  auto context = std::make_shared<SerialPortContext>();
  context->port_name = name;
  context->device_path = settings.device_path;
  context->device = std::move(device);
  context->running = true;
  {
    // The id is taken and the entry stored only once the reader runs, so a
    // port whose reader cannot start neither uses up an id nor stays listed.
    // A port given up here is closed by its device as the context goes.
    std::lock_guard<std::mutex> lock(serial_table_mutex_);
    if (IsDeviceOpenLocked(settings.device_path)) {  // lost a race with another open
      if (message) *message = FormatWin32Failure("打开串口", kErrorAccessDenied);
      return false;
    }
    context->id = next_id_;
    try {
      start_thread_([context, emit = emit_] {
        RunSerialReadLoop(*context, emit);
        context->reader_ended.Signal();
      });
    } catch (const std::system_error& e) {
      if (message)
        *message =
            "启动串口读取线程失败" + ErrorCodeSuffix(static_cast<uint32_t>(e.code().value()));
      return false;
    }
    table_[context->id] = context;
    ++next_id_;
  }
  if (id) *id = context->id;
  return true;
}

bool SerialConnections::WriteSerialPort(int64_t id, const std::vector<uint8_t>& bytes,
                                        std::string* message) {
  if (bytes.empty()) return true;
  std::shared_ptr<SerialPortContext> context;
  {
    std::lock_guard<std::mutex> lock(serial_table_mutex_);
    auto it = table_.find(id);
    if (it == table_.end()) {
      if (message) *message = "串口句柄不存在";
      return false;
    }
    context = it->second;
  }
  std::lock_guard<std::mutex> write_lock(context->write_mutex);
  if (!context->running.load() || !context->device) {
    if (message) *message = "串口已关闭";
    return false;
  }
  if (bytes.size() > 0xFFFFFFFFu) {
    if (message) *message = "串口写入未完成";
    return false;
  }
  const auto size = static_cast<uint32_t>(bytes.size());
  uint32_t written = 0;
  uint32_t error = 0;
  switch (context->device->Write(bytes.data(), size, kSerialWriteTimeoutMs, &written, &error)) {
    case SerialWriteOutcome::kEventFailed:
      if (message) *message = FormatWin32Failure("创建串口写入事件", error);
      return false;
    case SerialWriteOutcome::kTimedOut:
      if (message) *message = "串口写入超时";
      return false;
    case SerialWriteOutcome::kFailed:
      if (message) *message = FormatWin32Failure("写入串口", error);
      return false;
    case SerialWriteOutcome::kDone:
      break;
  }
  if (written != size) {
    if (message) *message = "串口写入未完成";
    return false;
  }
  return true;
}

void SerialConnections::StopAndClose(
    const std::vector<std::shared_ptr<SerialPortContext>>& contexts) {
  for (const auto& context : contexts) {
    context->running = false;
    // Cancelling every I/O also cuts short a write in progress, which holds
    // the write mutex the final close waits for.
    context->device->Stop();
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSerialCloseWaitMs);
  for (const auto& context : contexts) {
    // A reader still waiting for its cancelled read owns the port from here:
    // closing the handle under that read could let the read's wait return
    // while the driver still writes into the buffer. The port closes when the
    // reader lets go of the context.
    if (!context->reader_ended.WaitUntil(deadline)) continue;
    std::lock_guard<std::mutex> write_lock(context->write_mutex);
    context->device->Close();
    context->device.reset();
  }
}

void SerialConnections::CloseSerialPort(int64_t id) {
  std::shared_ptr<SerialPortContext> context;
  {
    std::lock_guard<std::mutex> lock(serial_table_mutex_);
    auto it = table_.find(id);
    if (it == table_.end()) return;
    context = it->second;
    table_.erase(it);
  }
  StopAndClose({context});
}

void SerialConnections::CloseAllSerialPorts() {
  std::vector<std::shared_ptr<SerialPortContext>> contexts;
  {
    std::lock_guard<std::mutex> lock(serial_table_mutex_);
    for (const auto& entry : table_) contexts.push_back(entry.second);
    table_.clear();
  }
  if (!contexts.empty()) StopAndClose(contexts);
}

bool SerialConnections::IsDeviceOpen(const std::string& device_path) const {
  std::lock_guard<std::mutex> lock(serial_table_mutex_);
  return IsDeviceOpenLocked(device_path);
}

bool SerialConnections::IsDeviceOpenLocked(const std::string& device_path) const {
  for (const auto& entry : table_) {
    // Device paths name the same port when they match ignoring ASCII case.
    if (EqualsIgnoreAsciiCase(entry.second->device_path, device_path)) return true;
  }
  return false;
}

size_t SerialConnections::OpenCount() const {
  std::lock_guard<std::mutex> lock(serial_table_mutex_);
  return table_.size();
}

}  // namespace vek_native
