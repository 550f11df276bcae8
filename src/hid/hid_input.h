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
#include <type_traits>
#include <vector>

#include "bridge/bridge_operations.h"
#include "common/detached_thread.h"
#include "hid/hid_device_api.h"

namespace vek_native {

// The "hidInput" event for `size` bytes read from `path`.
EncodableMap MakeHidInputEvent(const std::string& path, const uint8_t* data, size_t size,
                               uint64_t timestamp_us);

// What a decoding reader adds to each of its events. Made once per reader, at
// open, and then used by that reader's thread alone.
class HidInputDecoder {
 public:
  virtual ~HidInputDecoder() = default;
  virtual void AddFields(const uint8_t* report, size_t size, EncodableMap* event) = 0;
};
// Makes the decoder of one opened collection; null with the message when the
// collection's reports cannot be decoded.
using HidInputDecoderFactory =
    std::function<std::unique_ptr<HidInputDecoder>(HidDevice& device, std::string* message)>;

// The read loop of one reader: reads into a buffer of `input_report_length`
// bytes (64 when the length is unknown) until `running` turns false or a read
// fails, emitting one event per read that returned bytes, with the decoder's
// additions when there is one.
void RunHidReadLoop(const std::string& path, HidReadChannel* channel, uint16_t input_report_length,
                    const std::atomic<bool>& running, const EventEmitter& emit,
                    HidInputDecoder* decoder = nullptr);

// How long a close waits for a stopped reader's cancelled read to end. A
// driver that never completes it must not hold the caller (the window thread)
// for ever; the reader then finishes on its own.
constexpr int kHidReaderStopWaitMs = 500;

// The reader table. Open/Close/CloseAll may be called from any thread.
//
// Each reader thread owns, together with the table, everything its reads use
// (device handle, stop and read events, OVERLAPPED, buffer, emitter), and lets
// go of it only once its last read has ended. A close stops the reader and
// waits at most kHidReaderStopWaitMs for that; when the wait runs out the
// reader is left to end by itself, and its handle stays open until then:
// closing it under a pending read would let the read's wait return while the
// driver may still write into the buffer.
class HidInputReaders {
 public:
  // Reader threads come from `start_thread`; decoding readers get their
  // decoder from `decoders` (without one, an open asking for decoding fails).
  HidInputReaders(HidDeviceApi& api, EventEmitter emit,
                  ThreadStarter start_thread = StartDetachedThread,
                  HidInputDecoderFactory decoders = nullptr);
  ~HidInputReaders();  // closes every reader
  HidInputReaders(const HidInputReaders&) = delete;
  HidInputReaders& operator=(const HidInputReaders&) = delete;

  // "openHidInput": a reader for `path` (case-sensitive key); succeeds at once
  // when one exists. False with the message otherwise.
  // With options: the input buffer count is set before the first read, and
  // a refusal fails the open. A second open of a path succeeds at once unless
  // it asks for what the running reader does not do (decoding, another buffer
  // count): that fails, and the reader goes on as it was.
  bool Open(const std::string& path, std::string* message) {
    return Open(path, HidInputOptions(), message);
  }
  bool Open(const std::string& path, const HidInputOptions& options, std::string* message);
  // "closeHidInput": removes and stops the reader, and waits (bounded) for
  // its thread to end; nothing when absent.
  void Close(const std::string& path);
  // Closes every reader: all are stopped first, then waited for against one
  // deadline, so several stuck readers cost one bound, not one each.
  void CloseAll();

  size_t ReaderCount() const;
  bool HasReader(const std::string& path) const;

 private:
  struct Reader;
  // Stops every reader of `readers` and waits for them until one deadline.
  static void StopAndRelease(const std::vector<std::shared_ptr<Reader>>& readers);

  HidDeviceApi& api_;
  const EventEmitter emit_;
  const ThreadStarter start_thread_;
  const HidInputDecoderFactory decoders_;
  mutable std::mutex mutex_;  // guards readers_; never taken by a read loop
  std::map<std::string, std::shared_ptr<Reader>> readers_;
};
static_assert(!std::is_copy_constructible_v<HidInputReaders>, "owns open devices and threads");

}  // namespace vek_native

#endif  // VEK_HID_HID_INPUT_H_
