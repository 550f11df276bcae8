// Raw keyboard and mouse capture: every WM_INPUT message is time-stamped,
// counted into per-kind and per-device interval statistics and, when it shows
// something, turned into an input event; key and button changes also feed the
// chatter and rollover records. Events go out in batches of at most 64 or
// every 8 ms, and a statistics summary follows every quarter second.
//
// Two ways to run, one capture: by default the host window takes the input
// and its timer drives the batches and summaries, on the window thread. With
// "ownThread" a thread of its own does both with a message-only window, so
// that whatever keeps the window thread busy neither bunches the time stamps
// nor holds up the summaries: raw input is queued to the thread of the window
// it is registered for and stamped when that thread takes it. Start and stop
// run on the window thread; the state is guarded by one mutex, and a message
// or tick counts only when it comes from the window the capture is registered
// with, so input queued for a window the capture has left is ignored.
#ifndef VEK_RAWINPUT_RAWINPUT_CAPTURE_H_
#define VEK_RAWINPUT_RAWINPUT_CAPTURE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/bridge_operations.h"
#include "channels/encodable_value.h"
#include "common/completion_latch.h"
#include "common/detached_thread.h"
#include "rawinput/input_quality.h"
#include "rawinput/interval_stats.h"
#include "rawinput/raw_input_record.h"

namespace vek_native {

// The flush timer on the host window (WM_TIMER wParam), and its period.
inline constexpr uintptr_t kRawInputTimerId = 51825;
inline constexpr uint32_t kRawInputTimerPeriodMs = 8;

inline constexpr size_t kRawInputBatchLimit = 64;
inline constexpr uint64_t kRawInputFlushIntervalUs = 8000;
inline constexpr uint64_t kRawInputSummaryIntervalUs = 250000;

// How long a start waits for its own thread to report its window and
// registration, and a stop or a switch of mode for the thread to end. The
// thread does nothing else, so either normally takes one message round trip.
inline constexpr int kRawInputThreadReadyLimitMs = 5000;
inline constexpr int kRawInputThreadEndLimitMs = 2000;

// Devices silent for a whole window leave the statistics table; the time of
// the last message of at most this many of them is kept, so that a device
// that sends again carries its silence into its next window.
inline constexpr size_t kSilentDeviceLimit = kQualityDeviceLimit;

// WM_INPUT wParam values that carry input.
inline constexpr uintptr_t kRimInput = 0;
inline constexpr uintptr_t kRimInputSink = 1;

// RAWKEYBOARD.Flags bits.
inline constexpr uint16_t kRiKeyBreak = 0x0001;
inline constexpr uint16_t kRiKeyE0 = 0x0002;
inline constexpr uint16_t kRiKeyE1 = 0x0004;

// RAWMOUSE.usButtonFlags wheel bits and RAWMOUSE.usFlags absolute bit.
inline constexpr uint16_t kRiMouseWheel = 0x0400;
inline constexpr uint16_t kRiMouseHWheel = 0x0800;
inline constexpr uint16_t kMouseMoveAbsolute = 0x0001;

// Where the window of a capture thread sends what it receives: WM_INPUT and
// the flush timer's ticks, with the window they came to.
struct RawInputThreadHandlers {
  std::function<void(WindowHandle window, uintptr_t wparam, intptr_t lparam)> input;
  std::function<void(WindowHandle window)> timer;
};

// What capture needs from the operating system.
class RawInputPlatform {
 public:
  virtual ~RawInputPlatform() = default;
  // RegisterRawInputDevices for keyboards (1/6) and mice (1/2) with
  // RIDEV_INPUTSINK and the window as target; on failure *error is the
  // system's error code.
  virtual bool RegisterInput(WindowHandle window, uint32_t* error) = 0;
  // The same two usages with RIDEV_REMOVE; cannot fail visibly.
  virtual void UnregisterInput() = 0;
  // SetTimer / KillTimer of kRawInputTimerId on the window.
  virtual void SetFlushTimer(WindowHandle window) = 0;
  virtual void KillFlushTimer(WindowHandle window) = 0;
  // GetRawInputData(RID_INPUT) without a buffer: the bytes the input needs;
  // 0 when it cannot be read.
  virtual uint32_t InputSize(intptr_t input) = 0;
  // GetRawInputData(RID_INPUT) into buffer: the bytes written, or false.
  virtual bool ReadInput(intptr_t input, uint8_t* buffer, uint32_t capacity, uint32_t* written) = 0;
  // ReadRawInputDevicePath of a non-null device handle.
  virtual std::string ReadDevicePath(uint64_t device) = 0;

  // A capture thread's window, on the thread that calls it: a message-only
  // window whose messages go to handlers, with the flush timer started on it
  // and the thread raised to the capture's priority. Null, with the failed
  // step and the system's code in *message, when it cannot be made.
  virtual WindowHandle OpenThreadWindow(RawInputThreadHandlers handlers, std::string* message) = 0;
  // The window's message loop, on the same thread, until the window is
  // closed; the window is gone when it returns.
  virtual void ServeThreadWindow(WindowHandle window) = 0;
  // From any thread: closes the window, which ends ServeThreadWindow.
  virtual void CloseThreadWindow(WindowHandle window) = 0;
};

// An input event map of one device with every key in place and the values
// that never change for the device already set. Copying it clones the tree
// without comparing keys or building key strings, which made up most of a
// message's cost when maps were built key by key; the message's own values
// are then written in place.
class EventTemplate {
 public:
  EventTemplate() = default;
  // `fixed` holds the keys and values fixed per device; `numbers` names the
  // integer keys, in the order Make takes their values, and `flag` the one
  // bool key.
  EventTemplate(EncodableMap fixed, std::initializer_list<const char*> numbers, const char* flag);
  bool empty() const { return map_.empty(); }
  // The event: a copy with numbers[i] under integer key i and flag under the
  // bool key.
  EncodableMap Make(const int64_t* numbers, bool flag) const;

 private:
  static constexpr int kFixed = -1;
  static constexpr int kFlag = -2;
  EncodableMap map_;
  std::vector<int> value_index_;  // per key in map order: the index in numbers, kFixed or kFlag
};

class RawInputState {
 public:
  using Clock = std::function<uint64_t()>;

  // Capture threads come from start_thread.
  RawInputState(RawInputPlatform* platform, Clock now,
                ThreadStarter start_thread = StartDetachedThread);
  ~RawInputState();  // stops
  RawInputState(const RawInputState&) = delete;
  RawInputState& operator=(const RawInputState&) = delete;

  // Where batches and summaries go, and the event stream's count of events it
  // discarded (reported as "dropped"). Without an emitter events are discarded.
  // Set before the first start.
  void SetEventSink(EventEmitter emit, std::function<uint64_t()> dropped_count);

  // The host window; everything from here to HandleTimer is called on its
  // thread.
  void SetWindow(WindowHandle window) { host_window_ = window; }
  // Starts (or starts afresh, in either mode) with presses closer than the
  // options' threshold (already clamped by the caller) counted as chatter; the
  // first form uses the defaults. A start that fails leaves the capture as it
  // was.
  bool Start(std::string* message);
  bool Start(const RawInputOptions& options, std::string* message);
  // Returns once the last batch has gone to the emitter and any capture
  // thread has ended (or kRawInputThreadEndLimitMs has passed).
  void Stop();
  // The host window's WM_INPUT and flush timer.
  void HandleMessage(uintptr_t wparam, intptr_t lparam);
  void HandleTimer();
  // How long a start waits for its own thread to report; tests shorten it.
  void set_thread_ready_limit_ms(int limit_ms) { thread_ready_limit_ms_ = limit_ms; }

  // For tests; the statistics only while nothing else runs.
  bool active() const;
  bool own_thread() const;
  uint32_t buttons_down_mask() const;
  size_t pending_size() const;
  size_t input_buffer_size() const;
  size_t device_entry_count() const;
  size_t cached_path_count() const;
  const IntervalStats& mouse_stats() const { return mouse_stats_; }
  const IntervalStats& keyboard_stats() const { return keyboard_stats_; }
  const InputQuality& quality() const { return quality_; }

 private:
  // A running capture thread, as the window thread holds it.
  struct OwnThread {
    WindowHandle window = nullptr;
    std::shared_ptr<CompletionLatch> ended;
  };
  struct ThreadStart;
  enum class Kind { kMouse, kKeyboard };
  struct DeviceEntry {
    std::string path;
    Kind kind = Kind::kMouse;
    IntervalStats stats;
  };
  // What the messages of one raw input handle need, found once per handle
  // rather than by hashing its path on every message. Indexed by Kind.
  struct DeviceSlot {
    std::string path;
    std::array<DeviceEntry*, 2> entries{};  // this window's statistics entry, once found
    std::array<QualityDevice*, 2> quality{};
    std::array<bool, 2> quality_found{};  // quality is null beyond the device limit
    std::array<EventTemplate, 2> events;
  };

  bool StartThread(OwnThread* thread, std::string* message);
  void RunThread(ThreadStart& start);
  void EndThread(OwnThread& thread);
  void Begin(WindowHandle target, int32_t chatter_threshold_ms);
  void HandleMessageFrom(WindowHandle window, uintptr_t wparam, intptr_t lparam);
  void HandleTimerFrom(WindowHandle window);
  DeviceSlot& Slot(uint64_t device);
  DeviceEntry& Entry(Kind kind, const std::string& path);
  QualityDevice* Quality(DeviceSlot& slot, Kind kind);
  void ForgetDevices();
  void Record(DeviceSlot& slot, Kind kind, uint64_t t);
  void HandleKeyboard(const RawKeyboardInput& keyboard, DeviceSlot& slot, uint64_t t);
  void HandleMouse(const RawMouseInput& mouse, DeviceSlot& slot, uint64_t t);
  void Append(EncodableMap&& event);
  void Flush();
  void SendSummary();
  void RememberSilent(const std::string& key, const IntervalStats& stats);
  void Emit(EncodableMap&& event);

  RawInputPlatform* const platform_;
  const Clock now_;
  const ThreadStarter start_thread_;
  EventEmitter emit_;
  std::function<uint64_t()> dropped_count_;

  // The window thread's alone.
  WindowHandle host_window_ = nullptr;
  OwnThread own_;  // while a capture runs on its own thread
  int thread_ready_limit_ms_ = kRawInputThreadReadyLimitMs;

  // Everything below: under mutex_.
  mutable std::mutex mutex_;
  bool active_ = false;
  WindowHandle target_ = nullptr;  // the window the running capture is registered with
  uint32_t buttons_down_mask_ = 0;
  std::vector<uint8_t> input_buffer_;
  EncodableList pending_;
  uint64_t last_flush_us_ = 0;
  uint64_t last_stats_us_ = 0;  // 0: no summary clock running
  IntervalStats mouse_stats_;
  IntervalStats keyboard_stats_;
  std::unordered_map<std::string, DeviceEntry> devices_;
  // Devices that left the table: by key, the time of their last message.
  std::unordered_map<std::string, uint64_t> silent_devices_;
  // By handle; the null handle has its own slot, never looked up.
  std::unordered_map<uint64_t, DeviceSlot> slots_;
  DeviceSlot null_slot_;
  InputQuality quality_;
};

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAWINPUT_CAPTURE_H_
