#include "rawinput/input_quality.h"

#include <algorithm>
#include <utility>

namespace vek_native {

namespace {

uint32_t KeyId(uint16_t scan_code, uint8_t flags) {
  return static_cast<uint32_t>(scan_code) | (static_cast<uint32_t>(flags) << 16);
}

EncodableValue Int(uint64_t value) { return EncodableValue(static_cast<int64_t>(value)); }

void PutCounts(EncodableMap& map, const SwitchRecord& record) {
  map[EncodableValue("presses")] = Int(record.presses);
  map[EncodableValue("chatterCount")] = Int(record.chatter_count);
  map[EncodableValue("minGapUs")] = Int(record.min_gap_us);
}

void PutKeyName(EncodableMap& map, const KeyName& name) {
  map[EncodableValue("vk")] = Int(name.vk);
  map[EncodableValue("scanCode")] = Int(name.scan_code);
  map[EncodableValue("flags")] = Int(name.flags);
}

EncodableMap DeviceMap(const QualityDevice& device) {
  EncodableMap map;
  map[EncodableValue("devicePath")] = EncodableValue(device.path);
  map[EncodableValue("kind")] = EncodableValue(device.mouse ? "mouse" : "keyboard");
  return map;
}

}  // namespace

bool PressSwitch(SwitchRecord& record, uint64_t t, uint64_t threshold_us) {
  if (record.down) return false;
  record.down = true;
  record.presses += 1;
  if (!record.released) return true;
  const uint64_t gap = t >= record.last_release_us ? t - record.last_release_us : 0;
  if (gap < threshold_us) {
    if (record.chatter_count == 0 || gap < record.min_gap_us) record.min_gap_us = gap;
    record.chatter_count += 1;
  }
  return true;
}

void ReleaseSwitch(SwitchRecord& record, uint64_t t) {
  // A release of a key held since before the start counts too: a bounce
  // right after it is still a chatter.
  record.down = false;
  record.released = true;
  record.last_release_us = t;
}

void InputQuality::Reset(uint64_t threshold_us) {
  threshold_us_ = threshold_us;
  devices_.clear();
}

QualityDevice* InputQuality::Device(const std::string& path, bool mouse) {
  for (const auto& device : devices_) {
    if (device->mouse == mouse && device->path == path) return device.get();
  }
  if (devices_.size() >= kQualityDeviceLimit) return nullptr;
  auto device = std::make_unique<QualityDevice>();
  device->path = path;
  device->mouse = mouse;
  devices_.push_back(std::move(device));
  return devices_.back().get();
}

void InputQuality::Key(QualityDevice& device, uint16_t scan_code, uint8_t flags, uint16_t vk,
                       bool down, uint64_t t) {
  const uint32_t id = KeyId(scan_code, flags);
  auto it = device.keys.find(id);
  if (it == device.keys.end()) {
    if (device.keys.size() >= kQualityKeyLimit) return;
    QualityDevice::Key key;
    key.name.scan_code = scan_code;
    key.name.flags = flags;
    it = device.keys.emplace(id, key).first;
  }
  QualityDevice::Key& key = it->second;
  if (!down) {
    if (key.record.down) device.held.erase(std::find(device.held.begin(), device.held.end(), id));
    ReleaseSwitch(key.record, t);
    return;
  }
  key.name.vk = vk;
  if (!PressSwitch(key.record, t, threshold_us_)) return;
  device.held.push_back(id);
  if (device.held.size() <= device.rollover_keys.size()) return;
  device.rollover_keys.clear();
  for (uint32_t held : device.held) device.rollover_keys.push_back(device.keys.at(held).name);
}

void InputQuality::Buttons(QualityDevice& device, uint32_t pressed, uint32_t released, uint64_t t) {
  for (size_t i = 0; i < kMouseButtonCount; ++i) {
    const uint32_t bit = 1u << i;
    if (pressed & bit) PressSwitch(device.buttons[i], t, threshold_us_);
    if (released & bit) ReleaseSwitch(device.buttons[i], t);
  }
}

EncodableList InputQuality::ChatterList() const {
  EncodableList list;
  for (const auto& device : devices_) {
    if (device->mouse) {
      for (size_t i = 0; i < kMouseButtonCount; ++i) {
        if (device->buttons[i].chatter_count == 0) continue;
        EncodableMap map = DeviceMap(*device);
        map[EncodableValue("button")] = Int(uint64_t{1} << i);
        PutCounts(map, device->buttons[i]);
        list.emplace_back(std::move(map));
      }
      continue;
    }
    std::vector<std::pair<uint32_t, const QualityDevice::Key*>> chattering;
    for (const auto& [id, key] : device->keys) {
      if (key.record.chatter_count != 0) chattering.emplace_back(id, &key);
    }
    std::sort(chattering.begin(), chattering.end());
    for (const auto& entry : chattering) {
      EncodableMap map = DeviceMap(*device);
      PutKeyName(map, entry.second->name);
      PutCounts(map, entry.second->record);
      list.emplace_back(std::move(map));
    }
  }
  return list;
}

EncodableList InputQuality::RolloverList() const {
  EncodableList list;
  for (const auto& device : devices_) {
    if (device->mouse) continue;
    EncodableList keys;
    keys.reserve(device->rollover_keys.size());
    for (const KeyName& name : device->rollover_keys) {
      EncodableMap key;
      PutKeyName(key, name);
      keys.emplace_back(std::move(key));
    }
    EncodableMap map;
    map[EncodableValue("devicePath")] = EncodableValue(device->path);
    map[EncodableValue("maxKeysDown")] = Int(device->rollover_keys.size());
    map[EncodableValue("keys")] = EncodableValue(std::move(keys));
    list.emplace_back(std::move(map));
  }
  return list;
}

}  // namespace vek_native
