#include "usb/usb_operations.h"

namespace vek_native {

EncodableValue UsbResetResultMap(const UsbResetResult& result) {
  EncodableMap map;
  map[EncodableValue("success")] = EncodableValue(result.success);
  map[EncodableValue("elapsedMs")] = EncodableValue(static_cast<int64_t>(result.elapsed_ms));
  map[EncodableValue("message")] = EncodableValue(result.message);
  map[EncodableValue("vidPid")] = EncodableValue(result.vid_pid);
  return EncodableValue(std::move(map));
}

bool ListUsbDeviceNodeMaps(const UsbNodeSystem& system, bool include_hid_children,
                           EncodableValue* nodes, std::string* message) {
  std::vector<UsbNodeRecord> records;
  if (!ListUsbDeviceNodes(system, include_hid_children, &records, message)) return false;
  EncodableList list;
  list.reserve(records.size());
  for (const UsbNodeRecord& record : records) list.push_back(UsbNodeMap(record));
  *nodes = EncodableValue(std::move(list));
  return true;
}

bool ReadUsbDiagnosticsMap(const UsbDiagnosticsSystem& system, const std::string& instance_id,
                           EncodableValue* report, std::string* message) {
  UsbDiagnosticsReport diagnostics;
  if (!ReadUsbDiagnostics(system, instance_id, &diagnostics, message)) return false;
  *report = UsbDiagnosticsMap(diagnostics);
  return true;
}

}  // namespace vek_native
