// HID input readers: one reader thread per open device-interface path turns
// every completed read into a "hidInput" event.
#ifndef VEK_HID_HID_INPUT_H_
#define VEK_HID_HID_INPUT_H_

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
#include "hid/hid_device_api.h"

namespace vek_native {

// The "hidInput" event for `size` bytes read from `path`.
EncodableMap MakeHidInputEvent(const std::string& path, const uint8_t* data, size_t size,
                               uint64_t timestamp_us);

// The read loop of one reader: reads into a buffer of `input_report_length`
// bytes (64 when the length is unknown) until `running` turns false or a read
// fails, emitting one event per read that returned bytes.
void RunHidReadLoop(const std::string& path, HidReadChannel* channel, uint16_t input_report_length,
                    const std::atomic<bool>& running, const EventEmitter& emit);

// The reader table. Open/Close/CloseAll may be called from any thread.
class HidInputReaders {
 public:
  // Starts a reader thread running `body`; throws std::system_error when it
  // cannot (as std::thread's constructor does). Replaceable for tests.
  using ThreadLauncher = std::function<std::thread(std::function<void()> body)>;

  HidInputReaders(HidDeviceApi& api, EventEmitter emit, ThreadLauncher launcher = nullptr);
  ~HidInputReaders();  // closes every reader
  HidInputReaders(const HidInputReaders&) = delete;
  HidInputReaders& operator=(const HidInputReaders&) = delete;

  // "openHidInput": a reader for `path` (case-sensitive key); succeeds at once
  // when one exists. False with the message otherwise.
  bool Open(const std::string& path, std::string* message);
  // "closeHidInput": stops, joins and removes the reader; nothing when absent.
  void Close(const std::string& path);
  // Closes every reader, in table order.
  void CloseAll();

  size_t ReaderCount() const;
  bool HasReader(const std::string& path) const;

 private:
  struct Reader;

  HidDeviceApi& api_;
  const EventEmitter emit_;
  const ThreadLauncher launcher_;
  mutable std::mutex mutex_;  // guards readers_; never taken by a read loop
  std::map<std::string, std::unique_ptr<Reader>> readers_;
};

}  // namespace vek_native

#endif  // VEK_HID_HID_INPUT_H_
