#include "hid/hid_input.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>
#include <utility>

#include "common/clock.h"
#include "common/completion_latch.h"
#include "common/format.h"
#include "common/text.h"
#include "hid/hid_devices.h"

namespace vek_native {
namespace {

// Read size for a collection whose input report length is unknown.
constexpr uint32_t kFallbackReadBytes = 64;

}  // namespace

// Shared by the table and the reader's thread; whichever lets go last
// releases the channel, then the device handle (members go in reverse order).
struct HidInputReaders::Reader {
  std::string path;
  // The path as events carry it: made valid UTF-8 once here, so the event
  // stream needs no repair per event.
  std::string event_path;
  std::unique_ptr<HidDevice> device;
  std::unique_ptr<HidReadChannel> channel;
  std::atomic<bool> running{true};  // until a close stops the reader
  uint16_t input_report_length = 0;
  HidInputOptions options;
  std::unique_ptr<HidInputDecoder> decoder;  // when options.decode
  // Signalled by the thread once it has let go of the reader.
  std::shared_ptr<CompletionLatch> ended = std::make_shared<CompletionLatch>();
};

EncodableMap MakeHidInputEvent(const std::string& path, const uint8_t* data, size_t size,
                               uint64_t timestamp_us) {
  return EncodableMap{
      {EncodableValue("channel"), EncodableValue("hidInput")},
      {EncodableValue("devicePath"), EncodableValue(path)},
      {EncodableValue("timestampUs"), EncodableValue(static_cast<int64_t>(timestamp_us))},
      {EncodableValue("data"), EncodableValue(std::vector<uint8_t>(data, data + size))},
  };
}

void RunHidReadLoop(const std::string& path, HidReadChannel* channel, uint16_t input_report_length,
                    const std::atomic<bool>& running, const EventEmitter& emit,
                    HidInputDecoder* decoder) {
  if (!channel || !channel->PrepareReads()) return;
  std::vector<uint8_t> buffer(input_report_length != 0 ? input_report_length : kFallbackReadBytes);
  const uint32_t size = static_cast<uint32_t>(buffer.size());
  while (running.load()) {
    uint32_t transferred = 0;
    const HidReadStatus status = channel->Read(buffer.data(), size, &transferred);
    if (status == HidReadStatus::kStopped || status == HidReadStatus::kFailed) break;
    if (status == HidReadStatus::kRetry) continue;
    // A count beyond the buffer would be a platform fault; never read past it.
    transferred = std::min(transferred, size);
    if (transferred > 0 && emit) {
      EncodableMap event = MakeHidInputEvent(path, buffer.data(), transferred, NowMicros());
      if (decoder) decoder->AddFields(buffer.data(), transferred, &event);
      emit(std::move(event));
    }
  }
}

HidInputReaders::HidInputReaders(HidDeviceApi& api, EventEmitter emit, ThreadStarter start_thread,
                                 HidInputDecoderFactory decoders)
    : api_(api),
      emit_(std::move(emit)),
      start_thread_(std::move(start_thread)),
      decoders_(std::move(decoders)) {}

HidInputReaders::~HidInputReaders() { CloseAll(); }

bool HidInputReaders::Open(const std::string& path, const HidInputOptions& options,
                           std::string* message) {
  if (path.empty()) {
    *message = "HID 设备路径为空";
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  auto existing = readers_.find(path);
  if (existing != readers_.end()) {
    const HidInputOptions& running = existing->second->options;
    if ((options.decode && !running.decode) ||
        (options.input_buffers != 0 && options.input_buffers != running.input_buffers)) {
      *message = "该路径已在读取，且用的是另一套 decode / inputBuffers 设置：请先 closeHidInput";
      return false;
    }
    return true;
  }

  uint32_t error = 0;
  std::unique_ptr<HidDevice> device = api_.Open(path, HidAccess::kReadWrite, true, &error);
  if (!device) device = api_.Open(path, HidAccess::kRead, true, &error);
  if (!device) {
    *message = FormatWin32Failure("打开 HID 输入设备", error);
    return false;
  }
  if (!ConfirmHidCollection(*device, message)) return false;

  // Before the first read, so the deeper ring is there from the start.
  if (options.input_buffers != 0 && !device->SetNumInputBuffers(options.input_buffers, &error)) {
    *message = FormatWin32Failure("HidD_SetNumInputBuffers 设置输入缓冲区数量", error);
    return false;
  }
  auto reader = std::make_shared<Reader>();
  reader->options = options;
  if (options.decode) {
    // The layout is built here, once, not per report.
    if (decoders_) reader->decoder = decoders_(*device, message);
    if (!reader->decoder) {
      if (!decoders_ || message->empty()) *message = "无法解码该集合的报告";
      return false;
    }
  }
  reader->path = path;
  reader->event_path = RepairUtf8(path);
  HidCaps caps;
  if (ReadHidCaps(*device, &caps)) reader->input_report_length = caps.input_report_byte_length;

  reader->channel = device->CreateReadChannel(&error);
  if (!reader->channel) {
    *message = FormatWin32Failure("创建 HID 读取停止事件", error);
    return false;  // the device closes with `device`
  }
  reader->device = std::move(device);

  try {
    start_thread_([reader, ended = reader->ended, emit = emit_]() mutable {
      RunHidReadLoop(reader->event_path, reader->channel.get(), reader->input_report_length,
                     reader->running, emit, reader->decoder.get());
      // The last read has ended: nothing of the reader is in use any more.
      reader.reset();
      ended->Signal();
    });
  } catch (const std::system_error& e) {
    // No thread, so nothing reads: the reader is dropped with its handles.
    *message = "启动 HID 读取线程失败" + ErrorCodeSuffix(static_cast<uint32_t>(e.code().value()));
    return false;
  } catch (const std::exception&) {
    *message = "启动 HID 读取线程失败";
    return false;
  }
  readers_.emplace(path, std::move(reader));
  return true;
}

void HidInputReaders::StopAndRelease(const std::vector<std::shared_ptr<Reader>>& readers) {
  for (const auto& reader : readers) {
    reader->running = false;
    reader->channel->Stop();
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kHidReaderStopWaitMs);
  for (const auto& reader : readers) reader->ended->WaitUntil(deadline);
  // A reader whose thread has ended is released here, its handles with it; one
  // still waiting for its cancelled read is released by its thread later.
}

void HidInputReaders::Close(const std::string& path) {
  std::shared_ptr<Reader> reader;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = readers_.find(path);
    if (it == readers_.end()) return;
    reader = std::move(it->second);
    readers_.erase(it);
  }
  StopAndRelease({std::move(reader)});
}

void HidInputReaders::CloseAll() {
  std::vector<std::shared_ptr<Reader>> readers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : readers_) readers.push_back(std::move(entry.second));
    readers_.clear();
  }
  if (!readers.empty()) StopAndRelease(readers);
}

size_t HidInputReaders::ReaderCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readers_.size();
}

bool HidInputReaders::HasReader(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readers_.count(path) != 0;
}

}  // namespace vek_native
