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

// hidapi's hid_winapi_descriptor_reconstruct_pp_data on a preparsed-data
// blob ("HidP KDR" layout): the descriptor length, or -1.
int ReconstructWithHidapi(const void* preparsed_data, uint8_t* buffer, size_t size);

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

}  // namespace vek_native

#endif  // VEK_HID_RECONSTRUCT_H_
