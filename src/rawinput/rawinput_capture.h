// Raw keyboard and mouse capture: every WM_INPUT message is time-stamped,
// counted into per-kind and per-device interval statistics and, when it shows
// something, turned into an input event; key and button changes also feed the
// chatter and rollover records. Events go out in batches of at most 64 or
// every 8 ms, and a statistics summary follows every quarter second.
// Everything here runs on the host window's thread, so nothing is locked.
#ifndef VEK_RAWINPUT_RAWINPUT_CAPTURE_H_
#define VEK_RAWINPUT_RAWINPUT_CAPTURE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

#include "bridge/bridge_operations.h"
#include "channels/encodable_value.h"
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

  RawInputState(RawInputPlatform* platform, Clock now);

  // Where batches and summaries go, and the event stream's count of events it
  // discarded (reported as "dropped"). Without an emitter events are discarded.
  void SetEventSink(EventEmitter emit, std::function<uint64_t()> dropped_count);

  void SetWindow(WindowHandle window) { window_ = window; }
  // Starts with presses closer than chatter_threshold_ms (already clamped by
  // the caller) counted as chatter; the first form uses the default, 30 ms.
  bool Start(std::string* message);
  bool Start(int32_t chatter_threshold_ms, std::string* message);
  void Stop();
  void HandleMessage(uintptr_t wparam, intptr_t lparam);
  void HandleTimer();

  bool active() const { return active_; }
  uint32_t buttons_down_mask() const { return buttons_down_mask_; }
  size_t pending_size() const { return pending_.size(); }
  size_t input_buffer_size() const { return input_buffer_.size(); }
  size_t device_entry_count() const { return devices_.size(); }
  size_t cached_path_count() const { return slots_.size(); }
  const IntervalStats& mouse_stats() const { return mouse_stats_; }
  const IntervalStats& keyboard_stats() const { return keyboard_stats_; }
  const InputQuality& quality() const { return quality_; }

 private:
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
  void Emit(EncodableMap&& event);

  RawInputPlatform* platform_;
  Clock now_;
  EventEmitter emit_;
  std::function<uint64_t()> dropped_count_;

  WindowHandle window_ = nullptr;
  bool active_ = false;
  uint32_t buttons_down_mask_ = 0;
  std::vector<uint8_t> input_buffer_;
  EncodableList pending_;
  uint64_t last_flush_us_ = 0;
  uint64_t last_stats_us_ = 0;  // 0: no summary clock running
  IntervalStats mouse_stats_;
  IntervalStats keyboard_stats_;
  std::unordered_map<std::string, DeviceEntry> devices_;
  // By handle; the null handle has its own slot, never looked up.
  std::unordered_map<uint64_t, DeviceSlot> slots_;
  DeviceSlot null_slot_;
  InputQuality quality_;
};

}  // namespace vek_native

#endif  // VEK_RAWINPUT_RAWINPUT_CAPTURE_H_
