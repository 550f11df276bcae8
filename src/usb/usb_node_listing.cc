#include "usb/usb_node_listing.h"

#include <algorithm>
#include <map>

#include "common/text.h"

namespace vek_native {
namespace {

// How far above a HID collection its composite interface and USB device may
// sit and still be marked as carrying it.
constexpr int kHidMarkSteps = 4;

constexpr uint32_t kInterfaceFlags = kDigcfPresent | kDigcfDeviceInterface;

bool IsHid(const UsbNodeRecord& record) { return record.bus_type == "HID"; }

}  // namespace

std::vector<DeviceInfoQuery> UsbNodeListingQueries() {
  return {
      {DeviceInfoClass::kUsbDeviceInterface, nullptr, kInterfaceFlags},
      {DeviceInfoClass::kHidInterface, nullptr, kInterfaceFlags},
      // The setup classes twice: present devices first, then every device the
      // system remembers, so phantoms are listed too.
      {DeviceInfoClass::kUsbSetupClass, nullptr, kDigcfPresent},
      {DeviceInfoClass::kUsbSetupClass, nullptr, 0},
      {DeviceInfoClass::kHidSetupClass, nullptr, kDigcfPresent},
      {DeviceInfoClass::kHidSetupClass, nullptr, 0},
      {DeviceInfoClass::kOtherSetupClass, nullptr, kDigcfPresent},
      {DeviceInfoClass::kOtherSetupClass, nullptr, 0},
      {DeviceInfoClass::kNone, "USB", kDigcfPresent | kDigcfAllClasses},
      {DeviceInfoClass::kNone, "HID", kDigcfPresent | kDigcfAllClasses},
      {DeviceInfoClass::kNone, "USB", kDigcfAllClasses},
  };
}

bool ListUsbDeviceNodes(const UsbNodeSystem& system, bool include_hid_children,
                        std::vector<UsbNodeRecord>* nodes, std::string* message) {
  if (nodes == nullptr) {
    if (message != nullptr) *message = "输出参数为空";
    return false;
  }
  nodes->clear();
  if (message != nullptr) message->clear();

  std::map<std::string, UsbNodeRecord> table;
  for (const DeviceInfoQuery& query : UsbNodeListingQueries()) {
    std::vector<DeviceInfoEntry> devices;
    if (!system.source->ReadDeviceInfoSet(query, &devices)) continue;
    for (const DeviceInfoEntry& device : devices) {
      if (device.instance_id.empty()) continue;
      std::string key = AsciiUpper(device.instance_id);
      if (table.count(key) != 0) continue;
      table.emplace(std::move(key), BuildUsbNodeRecord(*system.tree, *system.properties,
                                                       device.node, device.instance_id));
    }
  }

  for (const auto& entry : table) {
    const UsbNodeRecord& record = entry.second;
    if (!IsHid(record)) continue;
    std::string id = record.parent_instance_id;
    for (int step = 0; step < kHidMarkSteps; ++step) {
      auto above = table.find(AsciiUpper(id));
      if (id.empty() || above == table.end()) break;
      above->second.has_hid_collections = true;
      id = above->second.parent_instance_id;
    }
    if (!record.usb_instance_id.empty()) {
      auto usb = table.find(AsciiUpper(record.usb_instance_id));
      if (usb != table.end()) usb->second.has_hid_collections = true;
    }
  }

  for (auto& entry : table) {
    if (IsHid(entry.second) && !include_hid_children) continue;
    nodes->push_back(std::move(entry.second));
  }
  // The table's keys are the upper-cased IDs in byte order already; a stable
  // partition keeps that order inside both groups.
  std::stable_partition(nodes->begin(), nodes->end(),
                        [](const UsbNodeRecord& r) { return r.problem_code == 0; });
  return true;
}

}  // namespace vek_native
