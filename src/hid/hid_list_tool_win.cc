// vek_hid_list: prints what "listHidDevices" returns on this machine, one
// block per HID collection. A console view of the same records for test
// benches and for checking a machine without the user interface.
#include <cstdio>
#include <string>
#include <vector>

#include "common/format.h"
#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "hid/hid_devices.h"

int main() {
  using namespace vek_native;
  std::vector<HidDeviceRecord> records;
  std::string message;
  if (!ListHidDevices(WindowsHidDeviceApi(), WindowsDeviceTree(), &records, &message)) {
    std::fprintf(stderr, "hid-list-failed: %s\n", message.c_str());
    return 1;
  }
  std::printf("%zu HID collection(s)\n", records.size());
  for (const HidDeviceRecord& r : records) {
    std::printf("%s  usage %04x:%04x  bus %d  \"%s\" / \"%s\" / \"%s\"\n",
                FormatVidPid(r.vendor_id, r.product_id).c_str(), r.usage_page, r.usage, r.bus_type,
                r.manufacturer.c_str(), r.product.c_str(), r.serial_number.c_str());
    std::printf("  version %u  reports in/out/feature %u/%u/%u  collections %u  mi %d  col %d\n",
                r.version_number, r.input_report_byte_length, r.output_report_byte_length,
                r.feature_report_byte_length, r.collection_count, r.interface_number,
                r.collection_number);
    std::printf("  path %s\n  usbInstanceId \"%s\"\n", r.path.c_str(), r.usb_instance_id.c_str());
  }
  return 0;
}
