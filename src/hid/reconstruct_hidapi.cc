#include "hid/reconstruct.h"

// hidapi's C entry point, compiled from its windows/hidapi_descriptor_reconstruct.c.
extern "C" int hid_winapi_descriptor_reconstruct_pp_data(void* hidp_preparsed_data,
                                                         unsigned char* buf, size_t buf_size);

namespace vek_native {

int ReconstructWithHidapi(const void* preparsed_data, uint8_t* buffer, size_t size) {
  if (preparsed_data == nullptr || buffer == nullptr) return -1;
  // hidapi only reads the preparsed data; its signature predates const.
  return hid_winapi_descriptor_reconstruct_pp_data(const_cast<void*>(preparsed_data), buffer, size);
}

}  // namespace vek_native
