#include "rawinput/rawinput_capture.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <utility>

#include "common/format.h"
#include "rawinput/rawinput_devices.h"

namespace vek_native {
namespace {

struct ButtonRow {
  uint32_t bit;
  uint16_t down_flag;
  uint16_t up_flag;
};

// Left, right, middle, button 4, button 5: RI_MOUSE_*_DOWN / RI_MOUSE_*_UP.
constexpr ButtonRow kButtonTable[] = {
    {1, 0x0001, 0x0002}, {2, 0x0004, 0x0008},  {4, 0x0010, 0x0020},
    {8, 0x0040, 0x0080}, {16, 0x0100, 0x0200},
};

const char* KindName(bool mouse) { return mouse ? "mouse" : "keyboard"; }

int64_t SignedWheel(uint16_t data) {
  return data <= 0x7FFF ? static_cast<int64_t>(data) : static_cast<int64_t>(data) - 0x10000;
}

}  // namespace

EventTemplate::EventTemplate(EncodableMap fixed, std::initializer_list<const char*> numbers,
                             const char* flag)
    : map_(std::move(fixed)) {
  for (const char* key : numbers) map_[EncodableValue(key)] = EncodableValue(int64_t{0});
  map_[EncodableValue(flag)] = EncodableValue(false);
  value_index_.reserve(map_.size());
  for (const auto& entry : map_) {
    int index = entry.first == EncodableValue(flag) ? kFlag : kFixed;
    int i = 0;
    for (const char* key : numbers) {
      if (entry.first == EncodableValue(key)) index = i;
      ++i;
    }
    value_index_.push_back(index);
  }
}

EncodableMap EventTemplate::Make(const int64_t* numbers, bool flag) const {
  EncodableMap event(map_);
  auto index = value_index_.begin();
  // The template holds an int64 under every integer key and a bool under the
  // flag, so the copy's values are overwritten in place.
  for (auto& entry : event) {
    if (*index >= 0) {
      std::get<int64_t>(entry.second) = numbers[*index];
    } else if (*index == kFlag) {
      std::get<bool>(entry.second) = flag;
    }
    ++index;
  }
  return event;
}

// What a starting capture thread reports to the start that waits for it.
// A start that gives up marks it abandoned, under its mutex, so a thread that
// reports late registers nothing and leaves the capture as it was.
struct RawInputState::ThreadStart {
  RawInputThreadHandlers handlers;
  std::mutex mutex;
  std::condition_variable reported_changed;
  bool reported = false;
  bool abandoned = false;
  WindowHandle window = nullptr;  // registered and served; null on failure
  std::string message;
};

RawInputState::RawInputState(RawInputPlatform* platform, Clock now, ThreadStarter start_thread)
    : platform_(platform), now_(std::move(now)), start_thread_(std::move(start_thread)) {}

RawInputState::~RawInputState() { Stop(); }

void RawInputState::SetEventSink(EventEmitter emit, std::function<uint64_t()> dropped_count) {
  std::lock_guard<std::mutex> lock(mutex_);
  emit_ = std::move(emit);
  dropped_count_ = std::move(dropped_count);
}

bool RawInputState::Start(std::string* message) { return Start(RawInputOptions(), message); }

bool RawInputState::Start(const RawInputOptions& options, std::string* message) {
  if (host_window_ == nullptr) {
    *message = "Raw Input 窗口尚未创建";
    return false;
  }
  // The registration moves first (a registration names one window per
  // usage); only once it has, the previous capture is given up.
  OwnThread started;
  if (options.own_thread) {
    if (!StartThread(&started, message)) return false;
  } else {
    uint32_t error = 0;
    if (!platform_->RegisterInput(host_window_, &error)) {
      *message = FormatWin32Failure("RegisterRawInputDevices ", error);
      return false;
    }
  }
  const WindowHandle target = options.own_thread ? started.window : host_window_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool host_timer_runs = active_ && target_ == host_window_;
    Begin(target, options.chatter_threshold_ms);
    // Same identifier each time: a second start replaces the timer.
    if (!options.own_thread) {
      platform_->SetFlushTimer(host_window_);
    } else if (host_timer_runs) {
      platform_->KillFlushTimer(host_window_);
    }
  }
  EndThread(own_);
  own_ = std::move(started);
  return true;
}

void RawInputState::Begin(WindowHandle target, int32_t chatter_threshold_ms) {
  active_ = true;
  target_ = target;
  buttons_down_mask_ = 0;
  pending_.clear();
  mouse_stats_.Reset();
  keyboard_stats_.Reset();
  ForgetDevices();
  quality_.Reset(static_cast<uint64_t>(chatter_threshold_ms > 0 ? chatter_threshold_ms : 0) * 1000);
  last_flush_us_ = last_stats_us_ = now_();
}

bool RawInputState::StartThread(OwnThread* thread, std::string* message) {
  auto start = std::make_shared<ThreadStart>();
  start->handlers.input = [this](WindowHandle window, uintptr_t wparam, intptr_t lparam) {
    HandleMessageFrom(window, wparam, lparam);
  };
  start->handlers.timer = [this](WindowHandle window) { HandleTimerFrom(window); };
  auto ended = std::make_shared<CompletionLatch>();
  try {
    start_thread_([this, start, ended] {
      RunThread(*start);
      ended->Signal();
    });
  } catch (const std::system_error& e) {
    *message = FormatWin32Failure("创建 Raw Input 线程", static_cast<uint32_t>(e.code().value()));
    return false;
  }
  std::unique_lock<std::mutex> lock(start->mutex);
  if (!start->reported_changed.wait_for(lock, std::chrono::milliseconds(thread_ready_limit_ms_),
                                        [&start] { return start->reported; })) {
    start->abandoned = true;
    *message = "Raw Input 线程未在 " + std::to_string(thread_ready_limit_ms_) + " 毫秒内就绪";
    return false;
  }
  if (start->window == nullptr) {
    *message = start->message;
    lock.unlock();
    // The thread closes its window and ends by itself; wait so that a
    // failed start leaves no thread behind.
    ended->WaitFor(std::chrono::milliseconds(kRawInputThreadEndLimitMs));
    return false;
  }
  thread->window = start->window;
  thread->ended = std::move(ended);
  return true;
}

// On the capture thread: its window, the registration for it, and its loop.
void RawInputState::RunThread(ThreadStart& start) {
  std::string message;
  const WindowHandle window = platform_->OpenThreadWindow(start.handlers, &message);
  bool serve = false;
  {
    std::lock_guard<std::mutex> lock(start.mutex);
    if (window != nullptr && !start.abandoned) {
      uint32_t error = 0;
      serve = platform_->RegisterInput(window, &error);
      if (!serve) message = FormatWin32Failure("RegisterRawInputDevices ", error);
    }
    start.window = serve ? window : nullptr;
    start.message = message;
    start.reported = true;
    start.reported_changed.notify_all();
  }
  if (window == nullptr) return;
  if (!serve) platform_->CloseThreadWindow(window);
  platform_->ServeThreadWindow(window);
}

void RawInputState::EndThread(OwnThread& thread) {
  if (thread.window == nullptr) return;
  platform_->CloseThreadWindow(thread.window);
  // A thread that overruns the limit stays harmless: its window is no
  // longer the capture's, so whatever it still receives is ignored.
  thread.ended->WaitFor(std::chrono::milliseconds(kRawInputThreadEndLimitMs));
  thread = OwnThread();
}

void RawInputState::Stop() {
  OwnThread thread = std::move(own_);
  own_ = OwnThread();
  if (thread.window != nullptr) {
    // No more input, then no more thread: what it handled is all pending now.
    platform_->UnregisterInput();
    EndThread(thread);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!active_) return;
  const bool on_host = target_ == host_window_;
  if (on_host && host_window_ != nullptr) platform_->KillFlushTimer(host_window_);
  Flush();
  if (on_host) platform_->UnregisterInput();
  mouse_stats_.Reset();
  keyboard_stats_.Reset();
  active_ = false;
  target_ = nullptr;
  ForgetDevices();
  quality_.Reset(0);
  std::vector<uint8_t>().swap(input_buffer_);
}

bool RawInputState::active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

bool RawInputState::own_thread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_ && target_ != host_window_;
}

uint32_t RawInputState::buttons_down_mask() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return buttons_down_mask_;
}

size_t RawInputState::pending_size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_.size();
}

size_t RawInputState::input_buffer_size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_buffer_.size();
}

size_t RawInputState::device_entry_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.size();
}

size_t RawInputState::cached_path_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_.size();
}

void RawInputState::ForgetDevices() {
  devices_.clear();
  silent_devices_.clear();
  slots_.clear();
  null_slot_ = DeviceSlot();
}

RawInputState::DeviceSlot& RawInputState::Slot(uint64_t device) {
  if (device == 0) return null_slot_;
  auto it = slots_.find(device);
  if (it == slots_.end()) {
    // Unreadable names are kept as "" too: the query runs once per device.
    DeviceSlot slot;
    slot.path = platform_->ReadDevicePath(device);
    it = slots_.emplace(device, std::move(slot)).first;
  }
  return it->second;
}

void RawInputState::HandleMessage(uintptr_t wparam, intptr_t lparam) {
  HandleMessageFrom(host_window_, wparam, lparam);
}

void RawInputState::HandleMessageFrom(WindowHandle window, uintptr_t wparam, intptr_t lparam) {
  if ((wparam != kRimInput && wparam != kRimInputSink) || lparam == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!active_ || window != target_) return;
  const uint32_t size = platform_->InputSize(lparam);
  if (size == 0) return;
  input_buffer_.resize(std::max<size_t>(input_buffer_.size(), size));  // it only grows
  uint32_t written = 0;
  if (!platform_->ReadInput(lparam, input_buffer_.data(), size, &written)) return;
  RawInputRecord record;
  if (!DecodeRawInput(input_buffer_.data(), std::min<size_t>(written, size), &record)) return;
  if (record.type != kRawInputTypeKeyboard && record.type != kRawInputTypeMouse) return;
  DeviceSlot& slot = Slot(record.device);
  const uint64_t t = now_();
  if (record.type == kRawInputTypeKeyboard) {
    Record(slot, Kind::kKeyboard, t);
    HandleKeyboard(record.keyboard, slot, t);
  } else {
    Record(slot, Kind::kMouse, t);
    HandleMouse(record.mouse, slot, t);
  }
}

RawInputState::DeviceEntry& RawInputState::Entry(Kind kind, const std::string& path) {
  // Devices whose name cannot be read share one entry per kind.
  const std::string nameless_key =
      path.empty() ? std::string("__") + KindName(kind == Kind::kMouse) : std::string();
  const std::string& key = path.empty() ? nameless_key : path;
  auto it = devices_.find(key);
  if (it == devices_.end()) {
    DeviceEntry entry;
    entry.path = path;
    entry.kind = kind;
    // Back after silent windows: the silence is its next interval.
    auto silent = silent_devices_.find(key);
    if (silent != silent_devices_.end()) {
      entry.stats.has_previous = true;
      entry.stats.previous_us = silent->second;
      silent_devices_.erase(silent);
    }
    it = devices_.emplace(key, std::move(entry)).first;
  }
  return it->second;
}

void RawInputState::Record(DeviceSlot& slot, Kind kind, uint64_t t) {
  (kind == Kind::kMouse ? mouse_stats_ : keyboard_stats_).Update(t);
  DeviceEntry*& entry = slot.entries[static_cast<size_t>(kind)];
  if (entry == nullptr) entry = &Entry(kind, slot.path);
  entry->stats.Update(t);
}

QualityDevice* RawInputState::Quality(DeviceSlot& slot, Kind kind) {
  const auto k = static_cast<size_t>(kind);
  if (!slot.quality_found[k]) {
    slot.quality[k] = quality_.Device(slot.path, kind == Kind::kMouse);
    slot.quality_found[k] = true;
  }
  return slot.quality[k];
}

void RawInputState::HandleKeyboard(const RawKeyboardInput& keyboard, DeviceSlot& slot, uint64_t t) {
  // 0 and 255 are no keys: fake keys and overrun reports carry them.
  if (keyboard.vkey == 0 || keyboard.vkey == 255) return;
  uint8_t flags = 0;
  if (keyboard.flags & kRiKeyE0) flags |= 3;
  if (keyboard.flags & kRiKeyE1) flags |= 4;
  const bool down = (keyboard.flags & kRiKeyBreak) == 0;
  if (QualityDevice* device = Quality(slot, Kind::kKeyboard)) {
    quality_.Key(*device, keyboard.make_code, flags, keyboard.vkey, down, t);
  }
  EventTemplate& events = slot.events[static_cast<size_t>(Kind::kKeyboard)];
  if (events.empty()) {
    EncodableMap fixed;
    fixed[EncodableValue("channel")] = EncodableValue("rawInput");
    fixed[EncodableValue("kind")] = EncodableValue("keyboard");
    fixed[EncodableValue("devicePath")] = EncodableValue(slot.path);
    events = EventTemplate(std::move(fixed), {"timestampUs", "vk", "scanCode", "flags"}, "down");
  }
  const int64_t numbers[] = {static_cast<int64_t>(t), keyboard.vkey, keyboard.make_code, flags};
  Append(events.Make(numbers, down));
}

void RawInputState::HandleMouse(const RawMouseInput& mouse, DeviceSlot& slot, uint64_t t) {
  uint32_t new_state = 0;
  uint32_t changed = 0;
  uint32_t pressed = 0;
  uint32_t released = 0;
  for (const ButtonRow& row : kButtonTable) {
    if (mouse.button_flags & row.down_flag) {
      new_state |= row.bit;
      changed |= row.bit;
      pressed |= row.bit;
    }
    // Down and up in one message leave the button released.
    if (mouse.button_flags & row.up_flag) {
      new_state &= ~row.bit;
      changed |= row.bit;
      released |= row.bit;
    }
  }
  if (changed != 0) {
    buttons_down_mask_ = (buttons_down_mask_ & ~changed) | new_state;
    if (QualityDevice* device = Quality(slot, Kind::kMouse)) {
      quality_.Buttons(*device, pressed, released, t);
    }
  }
  const int64_t wheel = (mouse.button_flags & (kRiMouseWheel | kRiMouseHWheel)) != 0
                            ? SignedWheel(mouse.button_data)
                            : 0;
  if (mouse.last_x == 0 && mouse.last_y == 0 && wheel == 0 && changed == 0) return;
  EventTemplate& events = slot.events[static_cast<size_t>(Kind::kMouse)];
  if (events.empty()) {
    EncodableMap fixed;
    fixed[EncodableValue("channel")] = EncodableValue("rawInput");
    fixed[EncodableValue("kind")] = EncodableValue("mouse");
    fixed[EncodableValue("devicePath")] = EncodableValue(slot.path);
    events =
        EventTemplate(std::move(fixed),
                      {"timestampUs", "dx", "dy", "wheel", "buttonsDownMask", "buttonsChangedMask"},
                      "isAbsolute");
  }
  const int64_t numbers[] = {static_cast<int64_t>(t), mouse.last_x, mouse.last_y, wheel,
                             buttons_down_mask_,      changed};
  Append(events.Make(numbers, (mouse.flags & kMouseMoveAbsolute) != 0));
}

void RawInputState::Append(EncodableMap&& event) {
  pending_.emplace_back(std::move(event));
  if (pending_.size() >= kRawInputBatchLimit) Flush();
}

void RawInputState::Flush() {
  if (pending_.empty()) return;
  EncodableList events;
  events.swap(pending_);
  // The next batch is about as large as this one.
  pending_.reserve(std::min(events.size(), kRawInputBatchLimit));
  EncodableMap batch;
  batch[EncodableValue("channel")] = EncodableValue("rawInputBatch");
  batch[EncodableValue("events")] = EncodableValue(std::move(events));
  Emit(std::move(batch));
  last_flush_us_ = now_();
}

void RawInputState::HandleTimer() { HandleTimerFrom(host_window_); }

void RawInputState::HandleTimerFrom(WindowHandle window) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!active_ || window != target_) return;
  const uint64_t now = now_();
  if (!pending_.empty() && now >= last_flush_us_ &&
      now - last_flush_us_ >= kRawInputFlushIntervalUs) {
    Flush();
  }
  if (last_stats_us_ != 0 && now >= last_stats_us_ &&
      now - last_stats_us_ >= kRawInputSummaryIntervalUs) {
    SendSummary();
  }
}

void RawInputState::SendSummary() {
  const uint64_t s = now_();
  uint64_t window = last_stats_us_ != 0 && s > last_stats_us_ ? s - last_stats_us_ : 0;
  if (window == 0) window = 1;
  EncodableList devices;
  for (const auto& [key, entry] : devices_) {
    if (entry.stats.count == 0) continue;
    EncodableMap map = BuildStatsMap(entry.stats, window);
    map[EncodableValue("path")] = EncodableValue(entry.path);
    map[EncodableValue("kind")] = EncodableValue(KindName(entry.kind == Kind::kMouse));
    devices.emplace_back(std::move(map));
  }
  EncodableMap summary;
  summary[EncodableValue("channel")] = EncodableValue("rawInputStats");
  summary[EncodableValue("timestampUs")] = EncodableValue(static_cast<int64_t>(s));
  summary[EncodableValue("windowUs")] = EncodableValue(static_cast<int64_t>(window));
  summary[EncodableValue("mouse")] = EncodableValue(BuildStatsMap(mouse_stats_, window));
  summary[EncodableValue("keyboard")] = EncodableValue(BuildStatsMap(keyboard_stats_, window));
  summary[EncodableValue("devices")] = EncodableValue(std::move(devices));
  summary[EncodableValue("dropped")] =
      EncodableValue(static_cast<int64_t>(dropped_count_ ? dropped_count_() : 0));
  summary[EncodableValue("chatter")] = EncodableValue(quality_.ChatterList());
  summary[EncodableValue("rollover")] = EncodableValue(quality_.RolloverList());
  Emit(std::move(summary));
  // Devices silent for a whole window leave the table, their last message
  // kept aside. Every window starts empty but for the interval it carries
  // from the previous one.
  for (auto it = devices_.begin(); it != devices_.end();) {
    if (it->second.stats.count == 0) {
      RememberSilent(it->first, it->second.stats);
      it = devices_.erase(it);
    } else {
      it->second.stats.NextWindow();
      ++it;
    }
  }
  // The handles' shortcuts to the entries are found again on their next
  // message: one look-up per device and window, never per message.
  for (auto& [device, slot] : slots_) slot.entries = {};
  null_slot_.entries = {};
  mouse_stats_.NextWindow();
  keyboard_stats_.NextWindow();
  last_stats_us_ = s;
}

void RawInputState::RememberSilent(const std::string& key, const IntervalStats& stats) {
  if (!stats.has_previous) return;
  if (silent_devices_.size() >= kSilentDeviceLimit) {
    // The one silent the longest gives way.
    auto oldest =
        std::min_element(silent_devices_.begin(), silent_devices_.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    silent_devices_.erase(oldest);
  }
  silent_devices_[key] = stats.previous_us;
}

void RawInputState::Emit(EncodableMap&& event) {
  if (emit_) emit_(std::move(event));
}

}  // namespace vek_native
