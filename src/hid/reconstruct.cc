#include "hid/reconstruct.h"

#include <cstdint>

namespace vek_native {

bool IsInvalidCollectionHandle(HidCollectionHandle handle) {
  return handle == nullptr || reinterpret_cast<intptr_t>(handle) == -1;
}

RebuildResult ReconstructFromPreparsed(PreparsedDataApi& api,
                                       const std::vector<HidCollectionHandle>& handles) {
  RebuildResult result;
  for (HidCollectionHandle handle : handles) {
    if (IsInvalidCollectionHandle(handle)) continue;
    std::unique_ptr<PreparsedData> data = api.GetPreparsedData(handle);
    if (!data) continue;
    std::vector<uint8_t> buffer(kReconstructBufferSize, 0);
    const int length = data->ReconstructDescriptor(buffer.data(), buffer.size());
    if (length >= 1 && static_cast<size_t>(length) <= kReconstructBufferSize) {
      result.bytes.insert(result.bytes.end(), buffer.begin(), buffer.begin() + length);
      ++result.collections;
    }
  }
  return result;
}

bool GatherCaps(PreparsedDataApi& api, HidCollectionHandle handle, CapabilitySet* set) {
  *set = CapabilitySet();
  if (IsInvalidCollectionHandle(handle)) return false;
  std::unique_ptr<PreparsedData> data = api.GetPreparsedData(handle);
  if (!data) return false;
  if (!data->GetCaps(&set->caps)) return false;
  const HidCapsRecord& caps = set->caps;
  const uint16_t button_counts[3] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                                     caps.NumberFeatureButtonCaps};
  const uint16_t value_counts[3] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                                    caps.NumberFeatureValueCaps};
  for (int t = 0; t < 3; ++t) {
    const HidReportType type = static_cast<HidReportType>(t);
    if (button_counts[t] != 0 && !data->GetButtonCaps(type, button_counts[t], &set->buttons[t])) {
      set->buttons[t].clear();
    }
    if (value_counts[t] != 0 && !data->GetValueCaps(type, value_counts[t], &set->values[t])) {
      set->values[t].clear();
    }
  }
  return true;
}

std::vector<uint8_t> SynthesizeFromCapsSingle(PreparsedDataApi& api, HidCollectionHandle handle) {
  CapabilitySet set;
  if (!GatherCaps(api, handle, &set)) return {};
  return SynthesizeDescriptor(set);
}

RebuildResult SynthesizeFromCaps(PreparsedDataApi& api,
                                 const std::vector<HidCollectionHandle>& handles) {
  RebuildResult result;
  for (HidCollectionHandle handle : handles) {
    const std::vector<uint8_t> bytes = SynthesizeFromCapsSingle(api, handle);
    if (bytes.empty()) continue;
    result.bytes.insert(result.bytes.end(), bytes.begin(), bytes.end());
    ++result.collections;
  }
  return result;
}

}  // namespace vek_native
