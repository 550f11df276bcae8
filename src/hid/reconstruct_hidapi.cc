#include "hid/reconstruct.h"

// hidapi's C entry point, compiled from its windows/hidapi_descriptor_reconstruct.c.
extern "C" int hid_winapi_descriptor_reconstruct_pp_data(void* hidp_preparsed_data,
                                                         unsigned char* buf, size_t buf_size);

namespace vek_native {

int ReconstructWithHidapi(PreparsedBlob blob, uint8_t* buffer, size_t size) {
  // hidapi trusts the blob's header; a blob it would read past is refused.
  if (!PreparsedBlobFits(blob) || buffer == nullptr) return -1;
  // hidapi only reads the preparsed data; its signature predates const.
  return hid_winapi_descriptor_reconstruct_pp_data(const_cast<uint8_t*>(blob.data), buffer, size);
}

}  // namespace vek_native
