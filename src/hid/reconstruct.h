// Rebuilding a report descriptor for the HID collections of one USB interface
// from what the HID class driver exposes: hidapi's reconstruction from the
// preparsed data first, caps synthesis second.
#ifndef VEK_HID_RECONSTRUCT_H_
#define VEK_HID_RECONSTRUCT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hid/descriptor_synthesis.h"
#include "hid/hid_device_api.h"

namespace vek_native {

// A preparsed-data blob ("HidP KDR" layout) and its size in bytes.
struct PreparsedBlob {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Whether everything hidapi's reconstruction reads lies inside the blob: the
// header, the caps between each report type's first and last cap, the link
// collection nodes, and the nodes the caps and nodes refer to by index.
bool PreparsedBlobFits(PreparsedBlob blob);

// hidapi's hid_winapi_descriptor_reconstruct_pp_data on a blob that fits: the
// descriptor length, or -1 (also for a blob that does not fit).
int ReconstructWithHidapi(PreparsedBlob blob, uint8_t* buffer, size_t size);

struct RebuildResult {
  std::vector<uint8_t> bytes;
  int collections = 0;  // collections that contributed at least one byte
};

// The preparsed-data reconstruction writes into a buffer of this size; a
// longer descriptor is discarded.
constexpr size_t kReconstructBufferSize = 4096;

// The collections are the opened sibling collections in order; null entries
// (collections that did not open) are skipped.
RebuildResult ReconstructFromPreparsed(const std::vector<HidDevice*>& collections);
bool GatherCaps(HidDevice* collection, CapabilitySet* set);
RebuildResult SynthesizeFromCaps(const std::vector<HidDevice*>& collections);
std::vector<uint8_t> SynthesizeFromCapsSingle(HidDevice* collection);

// The report descriptor of one open collection as the HID stack sees it:
// rebuilt from its preparsed data, else synthesised from its caps; empty when
// neither gives bytes.
std::vector<uint8_t> CollectionReportDescriptor(HidDevice& collection);

}  // namespace vek_native

#endif  // VEK_HID_RECONSTRUCT_H_
