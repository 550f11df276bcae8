// Rebuilding a report descriptor for the HID collections of one USB interface
// from what the HID class driver exposes: hidapi's reconstruction from the
// preparsed data first, caps synthesis second.
#ifndef VEK_HID_RECONSTRUCT_H_
#define VEK_HID_RECONSTRUCT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hid/descriptor_synthesis.h"

namespace vek_native {

// An opened HID collection, as the enumeration hands it out (a Windows HANDLE).
using HidCollectionHandle = void*;

// A collection's preparsed data, freed when the object goes away.
class PreparsedData {
 public:
  virtual ~PreparsedData() = default;
  // HidP_GetCaps; false unless the status is HIDP_STATUS_SUCCESS.
  virtual bool GetCaps(HidCapsRecord* caps) = 0;
  // HidP_GetButtonCaps / HidP_GetValueCaps for at most `count` records; false
  // on failure, else the records actually returned.
  virtual bool GetButtonCaps(HidReportType type, uint16_t count,
                             std::vector<ButtonCapsRecord>* records) = 0;
  virtual bool GetValueCaps(HidReportType type, uint16_t count,
                            std::vector<ValueCapsRecord>* records) = 0;
  // hidapi's hid_winapi_descriptor_reconstruct_pp_data into `buffer`: the
  // descriptor length, or -1 when the data is not recognised.
  virtual int ReconstructDescriptor(uint8_t* buffer, size_t size) = 0;
};

class PreparsedDataApi {
 public:
  virtual ~PreparsedDataApi() = default;
  // HidD_GetPreparsedData; null when it fails or yields nothing. Never called
  // with a null or invalid handle.
  virtual std::unique_ptr<PreparsedData> GetPreparsedData(HidCollectionHandle handle) = 0;
};

// True for null and INVALID_HANDLE_VALUE.
bool IsInvalidCollectionHandle(HidCollectionHandle handle);

struct RebuildResult {
  std::vector<uint8_t> bytes;
  int collections = 0;  // collections that contributed at least one byte
};

constexpr size_t kReconstructBufferSize = 4096;

RebuildResult ReconstructFromPreparsed(PreparsedDataApi& api,
                                       const std::vector<HidCollectionHandle>& handles);
bool GatherCaps(PreparsedDataApi& api, HidCollectionHandle handle, CapabilitySet* set);
RebuildResult SynthesizeFromCaps(PreparsedDataApi& api,
                                 const std::vector<HidCollectionHandle>& handles);
std::vector<uint8_t> SynthesizeFromCapsSingle(PreparsedDataApi& api, HidCollectionHandle handle);

}  // namespace vek_native

#endif  // VEK_HID_RECONSTRUCT_H_
