// Switch chatter and key rollover while raw input capture runs, cumulative
// from the start of the measurement. A chatter is a press that follows the
// previous release of the same key or button (on the same device) sooner than
// the threshold: one press that registered as two, the double-clicking mouse
// and the doubled letter. Rollover is the most keys one keyboard held down at
// once, with the keys of that moment.
#ifndef VEK_RAWINPUT_INPUT_QUALITY_H_
#define VEK_RAWINPUT_INPUT_QUALITY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "channels/encodable_value.h"

namespace vek_native {

// Memory bounds against devices that send nonsense (thousands of distinct
// scan codes): devices beyond the limit and keys beyond a keyboard's limit
// are not tracked. Real keyboards send 100 to 200 distinct keys, so nothing
// real is left out. A keyboard full of keys takes about 50 KiB (a key's
// record and hash node, its place in the held list and in the rollover
// snapshot), so all of it stays under 4 MiB; a summary then lists at most
// 64 x 512 chatter entries.
inline constexpr size_t kQualityDeviceLimit = 64;
inline constexpr size_t kQualityKeyLimit = 512;

// The five mouse buttons, by their bit in "buttonsDownMask".
inline constexpr size_t kMouseButtonCount = 5;

// Presses of one key or button, and the presses that came too soon.
struct SwitchRecord {
  uint64_t presses = 0;
  uint64_t chatter_count = 0;
  uint64_t min_gap_us = 0;  // the shortest chatter gap, once chatter_count is not 0
  uint64_t last_release_us = 0;
  bool released = false;  // last_release_us holds a release
  bool down = false;
};

// A down: false when the switch was already down (a typematic repeat, or a
// lost release), which is neither a press nor chatter.
bool PressSwitch(SwitchRecord& record, uint64_t t, uint64_t threshold_us);
void ReleaseSwitch(SwitchRecord& record, uint64_t t);

// A key as the keyboard event names it: the scan code and the event's
// "flags" (0, 3, 4 or 7: the E0 and E1 prefixes) tell keys apart; vk is the
// one of the latest down.
struct KeyName {
  uint16_t scan_code = 0;
  uint8_t flags = 0;
  uint16_t vk = 0;
};

// One keyboard or mouse, by its device path ("" when it cannot be read).
struct QualityDevice {
  struct Key {
    KeyName name;
    SwitchRecord record;
  };
  std::string path;
  bool mouse = false;
  std::array<SwitchRecord, kMouseButtonCount> buttons{};
  std::unordered_map<uint32_t, Key> keys;  // by scan code | flags << 16
  std::vector<uint32_t> held;              // keys down now, in press order
  std::vector<KeyName> rollover_keys;      // the keys down at the most, in press order
};

class InputQuality {
 public:
  // Forgets every device; presses closer than threshold_us are chatter.
  void Reset(uint64_t threshold_us);

  // The device's record, made on first use; null once kQualityDeviceLimit
  // devices are tracked. The record stays where it is until Reset.
  QualityDevice* Device(const std::string& path, bool mouse);

  // A keyboard message of a key with vk (neither 0 nor 255).
  void Key(QualityDevice& device, uint16_t scan_code, uint8_t flags, uint16_t vk, bool down,
           uint64_t t);
  // A mouse message: the buttons (bits of "buttonsDownMask") it pressed and
  // released. A button in both was pressed, then released.
  void Buttons(QualityDevice& device, uint32_t pressed, uint32_t released, uint64_t t);

  // The "chatter" list: every key and button with a chatter, devices in the
  // order they first sent, keys by scan code and flags, buttons by bit.
  EncodableList ChatterList() const;
  // The "rollover" list: one map per keyboard.
  EncodableList RolloverList() const;

  size_t device_count() const { return devices_.size(); }

 private:
  uint64_t threshold_us_ = 0;
  std::vector<std::unique_ptr<QualityDevice>> devices_;
};

}  // namespace vek_native

#endif  // VEK_RAWINPUT_INPUT_QUALITY_H_
