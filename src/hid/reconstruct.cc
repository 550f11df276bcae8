#include "hid/reconstruct.h"

#include <memory>

namespace vek_native {

RebuildResult ReconstructFromPreparsed(const std::vector<HidDevice*>& collections) {
  RebuildResult result;
  for (HidDevice* collection : collections) {
    if (collection == nullptr) continue;
    std::unique_ptr<HidPreparsedData> data = collection->GetPreparsedData();
    if (!data) continue;
    // Windows hands out the native blob; recorded devices carry its bytes.
    const std::vector<uint8_t> bytes = data->NativeData() ? std::vector<uint8_t>() : data->Bytes();
    const void* blob =
        data->NativeData() ? data->NativeData() : (bytes.empty() ? nullptr : bytes.data());
    if (blob == nullptr) continue;
    std::vector<uint8_t> buffer(kReconstructBufferSize, 0);
    const int length = ReconstructWithHidapi(blob, buffer.data(), buffer.size());
    if (length >= 1 && static_cast<size_t>(length) <= kReconstructBufferSize) {
      result.bytes.insert(result.bytes.end(), buffer.begin(), buffer.begin() + length);
      ++result.collections;
    }
  }
  return result;
}

bool GatherCaps(HidDevice* collection, CapabilitySet* set) {
  *set = CapabilitySet();
  if (collection == nullptr) return false;
  std::unique_ptr<HidPreparsedData> data = collection->GetPreparsedData();
  if (!data) return false;
  HidCaps caps;
  if (data->GetCaps(&caps) != kHidpStatusSuccess) return false;
  set->caps = caps;
  const uint16_t button_counts[3] = {caps.number_input_button_caps, caps.number_output_button_caps,
                                     caps.number_feature_button_caps};
  const uint16_t value_counts[3] = {caps.number_input_value_caps, caps.number_output_value_caps,
                                    caps.number_feature_value_caps};
  for (int t = 0; t < 3; ++t) {
    const HidReportType type = static_cast<HidReportType>(t);
    if (button_counts[t] != 0 &&
        data->GetButtonCaps(type, button_counts[t], &set->buttons[t]) != kHidpStatusSuccess) {
      set->buttons[t].clear();
    }
    if (value_counts[t] != 0 &&
        data->GetValueCaps(type, value_counts[t], &set->values[t]) != kHidpStatusSuccess) {
      set->values[t].clear();
    }
  }
  return true;
}

std::vector<uint8_t> SynthesizeFromCapsSingle(HidDevice* collection) {
  CapabilitySet set;
  if (!GatherCaps(collection, &set)) return {};
  return SynthesizeDescriptor(set);
}

RebuildResult SynthesizeFromCaps(const std::vector<HidDevice*>& collections) {
  RebuildResult result;
  for (HidDevice* collection : collections) {
    const std::vector<uint8_t> bytes = SynthesizeFromCapsSingle(collection);
    if (bytes.empty()) continue;
    result.bytes.insert(result.bytes.end(), bytes.begin(), bytes.end());
    ++result.collections;
  }
  return result;
}

}  // namespace vek_native
