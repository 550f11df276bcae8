// Loads hidapi's recorded Windows preparsed-data dumps (.pp_data text): the
// binary blob as HidD_GetPreparsedData hands it out, and the HIDP_CAPS,
// button-caps and value-caps records Windows derives from it.
#ifndef VEK_TESTS_UNIT_HID_RECONSTRUCT_PP_DATA_H_
#define VEK_TESTS_UNIT_HID_RECONSTRUCT_PP_DATA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "hid/descriptor_synthesis.h"

namespace vek_test {

struct PpDataDump {
  std::vector<uint8_t> blob;
  vek_native::CapabilitySet capabilities;
};

// False (with `error`) when the file cannot be read or is inconsistent.
bool LoadPpDataDump(const std::string& path, PpDataDump* dump, std::string* error);

// The bytes of an "0x05, 0x01, ..." listing.
std::vector<uint8_t> LoadByteListing(const std::string& path);

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_RECONSTRUCT_PP_DATA_H_
