#include "usb/usb_operations.h"

namespace vek_native {

EncodableValue UsbResetResultMap(const UsbResetResult& result) {
  EncodableMap map;
  map[EncodableValue("success")] = EncodableValue(result.success);
  map[EncodableValue("elapsedMs")] = EncodableValue(static_cast<int64_t>(result.elapsedMs));
  map[EncodableValue("message")] = EncodableValue(result.message);
  map[EncodableValue("vidPid")] = EncodableValue(result.vidPid);
  return EncodableValue(std::move(map));
}

}  // namespace vek_native
