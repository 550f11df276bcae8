#include "hid/reconstruct.h"

#include <memory>
#include <utility>

#include "hid/usb_descriptors.h"

namespace vek_native {

namespace {

// The preparsed-data layout hidapi reads (hidapi_descriptor_reconstruct.h):
// a 44-byte header, then the caps array, with the link collection nodes at a
// byte offset into that array.
constexpr size_t kCapsInfoOffset = 16;  // caps_info[3]: FirstCap, NumberOfCaps, LastCap, ...
constexpr size_t kCapsInfoSize = 8;
constexpr size_t kLastCapField = 4;
constexpr size_t kLinkArrayOffsetField = 40;  // FirstByteOfLinkCollectionArray
constexpr size_t kLinkNodeCountField = 42;    // NumberLinkCollectionNodes
constexpr size_t kCapsArrayOffset = 44;
constexpr size_t kCapSize = 104;
constexpr size_t kCapLinkCollectionField = 18;
constexpr size_t kLinkNodeSize = 16;
// A node's Parent, NextSibling and FirstChild: the indexes hidapi follows.
constexpr size_t kLinkNodeIndexFields[] = {4, 8, 10};
constexpr int kReportTypes = 3;

uint16_t Field16(PreparsedBlob blob, size_t offset) { return ReadLe16(blob.data, offset); }

}  // namespace

bool PreparsedBlobFits(PreparsedBlob blob) {
  if (blob.data == nullptr || blob.size < kCapsArrayOffset) return false;
  const size_t nodes = Field16(blob, kLinkNodeCountField);
  const size_t links = kCapsArrayOffset + Field16(blob, kLinkArrayOffsetField);
  // hidapi starts its walk at node 0 whatever the count says.
  if (nodes == 0 || links + nodes * kLinkNodeSize > blob.size) return false;
  for (size_t node = 0; node < nodes; ++node) {
    for (size_t field : kLinkNodeIndexFields) {
      if (Field16(blob, links + node * kLinkNodeSize + field) >= nodes) return false;
    }
  }
  for (int type = 0; type < kReportTypes; ++type) {
    const size_t info = kCapsInfoOffset + type * kCapsInfoSize;
    const size_t last = Field16(blob, info + kLastCapField);
    if (kCapsArrayOffset + last * kCapSize > blob.size) return false;
    for (size_t cap = Field16(blob, info); cap < last; ++cap) {
      const size_t link =
          Field16(blob, kCapsArrayOffset + cap * kCapSize + kCapLinkCollectionField);
      if (link >= nodes) return false;
    }
  }
  return true;
}

RebuildResult ReconstructFromPreparsed(const std::vector<HidDevice*>& collections) {
  RebuildResult result;
  for (HidDevice* collection : collections) {
    if (collection == nullptr) continue;
    std::unique_ptr<HidPreparsedData> data = collection->GetPreparsedData();
    if (!data) continue;
    // Windows hands out the native blob; recorded devices carry its bytes.
    const std::vector<uint8_t> bytes = data->NativeData() ? std::vector<uint8_t>() : data->Bytes();
    const PreparsedBlob blob = data->NativeData()
                                   ? PreparsedBlob{static_cast<const uint8_t*>(data->NativeData()),
                                                   collection->PreparsedDataSize()}
                                   : PreparsedBlob{bytes.data(), bytes.size()};
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

std::vector<uint8_t> CollectionReportDescriptor(HidDevice& collection) {
  RebuildResult rebuilt = ReconstructFromPreparsed({&collection});
  if (!rebuilt.bytes.empty()) return std::move(rebuilt.bytes);
  return SynthesizeFromCapsSingle(&collection);
}

}  // namespace vek_native
