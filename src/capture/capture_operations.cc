#include "capture/capture_operations.h"

namespace vek_native {

std::vector<CapturedHidDescriptor> ToCapturedHidDescriptors(
    const std::vector<HidDescriptorCapture>& records) {
  std::vector<CapturedHidDescriptor> out;
  out.reserve(records.size());
  for (const HidDescriptorCapture& record : records) {
    CapturedHidDescriptor item;
    item.instance_path = record.instance_path;
    item.report_descriptor = record.descriptor;
    item.declared_length = record.declared_length;
    item.interface_number = record.interface_number;
    item.vendor_id = static_cast<int32_t>(record.vendor_id);
    item.product_id = static_cast<int32_t>(record.product_id);
    out.push_back(std::move(item));
  }
  return out;
}

}  // namespace vek_native
