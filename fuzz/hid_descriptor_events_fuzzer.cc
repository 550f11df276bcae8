// Feeds arbitrary bytes to the HID report descriptor reader. The first byte
// chooses the wanted interface (any, or 0 to 3); the rest is the XML text,
// searched for device 046D:C52B. Besides memory errors it checks what the
// capture relies on: the list is replaced, not appended to; one record per
// interface in ascending order; only the wanted device and interface; paths
// that name that interface; descriptors of 1 to 4096 bytes.
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "capture/trace_text.h"
#include "capture/trace_xml.h"
#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string_view xml(reinterpret_cast<const char*>(data + 1), size - 1);
  const int32_t wanted = (options & 16) ? -1 : (options >> 5) & 3;
  constexpr uint32_t kVendor = 0x046D;
  constexpr uint32_t kProduct = 0xC52B;

  std::vector<HidDescriptorCapture> captures(1);
  Check(ParseHidDescriptorEvents(xml, kVendor, kProduct, wanted, &captures));
  int32_t previous = -2;
  for (const HidDescriptorCapture& c : captures) {
    Check(!c.descriptor.empty() && c.descriptor.size() <= kMaxReportDescriptorBytes);
    Check(c.declared_length >= 1);
    Check(c.vendor_id == kVendor && c.product_id == kProduct);
    Check(c.interface_number > previous);
    previous = c.interface_number;
    if (wanted >= 0)
      Check(c.interface_number == wanted || (c.interface_number == -1 && wanted == 0));
    Check(IsValidUtf8(c.instance_path));
    UsbInstanceId id;
    Check(ParseUsbInstanceId(c.instance_path, &id) && id.interface_number == c.interface_number);
  }
  return 0;
}
