#include "capture/capture_operations.h"

namespace vek_native {

std::vector<CapturedHidDescriptor> ToCapturedHidDescriptors(
    const std::vector<HidDescriptorCapture>& records) {
  std::vector<CapturedHidDescriptor> out;
  out.reserve(records.size());
  for (const HidDescriptorCapture& record : records) {
    CapturedHidDescriptor item;
    item.instance_path = record.instancePath;
    item.report_descriptor = record.descriptor;
    item.declared_length = record.declaredLength;
    item.interface_number = record.interfaceNumber;
    item.vendor_id = static_cast<int32_t>(record.vendorId);
    item.product_id = static_cast<int32_t>(record.productId);
    out.push_back(std::move(item));
  }
  return out;
}

}  // namespace vek_native
