#include "hid/hid_devices.h"

#include <algorithm>
#include <array>

#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

// Identity strings are read into 256 UTF-16 units; the last one is forced to
// 0 because a driver may fill the buffer without a terminator.
constexpr uint32_t kHidStringUnits = 256;

// The start ID plus this many ancestors are examined on the way to the USB
// device node; deeper trees are not USB-attached HID in practice.
constexpr int kMaxAncestors = 7;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::unique_ptr<HidDevice> OpenHidDevice(HidDeviceApi& api, const std::string& path,
                                         std::string* message, bool overlapped) {
  uint32_t error = 0;
  auto device = api.Open(path, HidAccess::kReadWrite, overlapped, &error);
  if (!device) device = api.Open(path, HidAccess::kRead, overlapped, &error);
  if (!device && message) *message = FormatWin32Failure("打开 HID 设备", error);
  return device;
}

std::unique_ptr<HidDevice> OpenHidDeviceForQuery(HidDeviceApi& api, const std::string& path) {
  auto device = OpenHidDevice(api, path, nullptr);
  if (device) return device;
  uint32_t error = 0;
  return api.Open(path, HidAccess::kAttributesOnly, false, &error);
}

std::unique_ptr<HidDevice> OpenHidDeviceForDescriptors(HidDeviceApi& api, const std::string& path) {
  uint32_t error = 0;
  auto device = api.Open(path, HidAccess::kAttributesOnly, false, &error);
  if (!device) device = api.Open(path, HidAccess::kRead, false, &error);
  return device;
}

bool ConfirmHidCollection(HidDevice& device, std::string* message) {
  HidAttributes attributes;
  if (device.GetAttributes(&attributes) || device.GetPreparsedData() != nullptr) return true;
  if (message) *message = "该路径不是 HID 设备（HID 类驱动无法读取它的属性）";
  return false;
}

bool ReadHidCaps(HidDevice& device, HidCaps* caps, uint32_t* collection_count) {
  std::unique_ptr<HidPreparsedData> preparsed = device.GetPreparsedData();
  if (!preparsed) return false;
  if (preparsed->GetCaps(caps) != kHidpStatusSuccess) return false;

  const uint32_t declared = caps->number_link_collection_nodes;
  uint32_t top_level = 0;
  if (declared > 0) {
    std::vector<HidLinkCollectionNode> nodes(declared);
    uint32_t length = declared;
    if (preparsed->GetLinkCollectionNodes(&nodes, &length) == kHidpStatusSuccess) {
      // Never trust the returned length beyond what was offered.
      const size_t counted = std::min<size_t>({length, declared, nodes.size()});
      for (size_t i = 0; i < counted; ++i) {
        if (nodes[i].parent == 0) ++top_level;
      }
    }
  }
  if (collection_count) *collection_count = top_level != 0 ? top_level : declared;
  return true;
}

std::string ReadHidString(HidDevice& device, HidStringKind kind) {
  std::array<char16_t, kHidStringUnits> buffer{};
  if (!device.GetString(kind, buffer.data(), sizeof(buffer))) return "";
  buffer.back() = 0;
  return Utf16ToUtf8(std::u16string_view(buffer.data()));
}

int ParseHexSuffixField(std::string_view path, std::string_view marker) {
  if (path.size() < 4 || marker.empty()) return 0;
  const std::string lower = AsciiLower(path);
  const size_t at = lower.find(AsciiLower(marker));
  if (at == std::string::npos) return 0;
  const size_t p = at + marker.size();
  if (p + 2 > lower.size()) return 0;
  const int high = HexValue(lower[p]);
  const int low = HexValue(lower[p + 1]);
  if (high < 0 || low < 0) return 0;
  return high * 16 + low;
}

int ClassifyBusType(std::string_view path, std::string_view parent_instance_id) {
  const std::string lower_path = AsciiLower(path);
  const std::string lower_parent = AsciiLower(parent_instance_id);
  if (lower_path.size() >= 5 && Contains(lower_path, "#vid_")) return 1;
  if (StartsWith(lower_parent, "usb\\")) return 1;
  if (lower_parent.empty()) return 0;
  if (StartsWith(lower_parent, "bth")) return 2;
  if (Contains(lower_path, "bth")) return 2;
  // The Bluetooth low-energy HID service's UUID.
  if (Contains(lower_path, "{00001812")) return 2;
  return 3;
}

std::string FindUsbDeviceInstanceId(DeviceTree& tree, const std::string& start_instance_id) {
  std::string current = start_instance_id;
  for (int step = 0;; ++step) {
    if (current.empty()) return "";
    const std::string lower = AsciiLower(current);
    if (StartsWith(lower, "usb\\") && Contains(lower, "vid_") && !Contains(lower, "&mi_")) {
      return current;
    }
    if (step == kMaxAncestors) return "";
    std::string parent;
    uint32_t cm_error = 0;
    if (!tree.GetParentInstanceId(current, &parent, &cm_error)) return "";
    current = std::move(parent);
  }
}

bool ListHidDevices(HidDeviceApi& api, DeviceTree& tree, std::vector<HidDeviceRecord>* records,
                    std::string* message) {
  std::vector<HidInterfaceEntry> entries;
  uint32_t error = 0;
  if (!api.EnumerateInterfaces(&entries, &error)) {
    if (message) *message = FormatWin32Failure("枚举 HID 设备", error);
    return false;
  }
  records->clear();
  for (const HidInterfaceEntry& entry : entries) {
    if (entry.path.empty()) continue;
    std::unique_ptr<HidDevice> device = OpenHidDeviceForQuery(api, entry.path);
    if (!device) continue;
    HidCaps caps;
    uint32_t collection_count = 0;
    if (!ReadHidCaps(*device, &caps, &collection_count)) continue;

    HidDeviceRecord record;
    record.path = entry.path;
    HidAttributes attributes;
    if (!device->GetAttributes(&attributes)) attributes = HidAttributes{};
    record.vendor_id = attributes.vendor_id;
    record.product_id = attributes.product_id;
    record.version_number = attributes.version_number;
    record.product = ReadHidString(*device, HidStringKind::kProduct);
    record.manufacturer = ReadHidString(*device, HidStringKind::kManufacturer);
    record.serial_number = ReadHidString(*device, HidStringKind::kSerialNumber);
    record.usage_page = caps.usage_page;
    record.usage = caps.usage;
    record.bus_type = ClassifyBusType(entry.path, entry.parent_instance_id);
    record.input_report_byte_length = caps.input_report_byte_length;
    record.output_report_byte_length = caps.output_report_byte_length;
    record.feature_report_byte_length = caps.feature_report_byte_length;
    record.collection_count = collection_count;
    record.interface_number = ParseHexSuffixField(entry.path, "&mi_");
    record.collection_number = ParseHexSuffixField(entry.path, "&col");
    record.usb_instance_id = FindUsbDeviceInstanceId(tree, entry.parent_instance_id);
    records->push_back(std::move(record));
  }
  return true;
}

EncodableMap HidDeviceRecordToMap(const HidDeviceRecord& r) {
  auto integer = [](int64_t v) { return EncodableValue(v); };
  auto text = [](const std::string& s) { return EncodableValue(RepairUtf8(s)); };
  return EncodableMap{
      {EncodableValue("path"), text(r.path)},
      {EncodableValue("vendorId"), integer(r.vendor_id)},
      {EncodableValue("productId"), integer(r.product_id)},
      {EncodableValue("versionNumber"), integer(r.version_number)},
      {EncodableValue("product"), text(r.product)},
      {EncodableValue("manufacturer"), text(r.manufacturer)},
      {EncodableValue("serialNumber"), text(r.serial_number)},
      {EncodableValue("usagePage"), integer(r.usage_page)},
      {EncodableValue("usage"), integer(r.usage)},
      {EncodableValue("busType"), integer(r.bus_type)},
      {EncodableValue("inputReportByteLength"), integer(r.input_report_byte_length)},
      {EncodableValue("outputReportByteLength"), integer(r.output_report_byte_length)},
      {EncodableValue("featureReportByteLength"), integer(r.feature_report_byte_length)},
      {EncodableValue("collectionCount"), integer(r.collection_count)},
      {EncodableValue("interfaceNumber"), integer(r.interface_number)},
      {EncodableValue("collectionNumber"), integer(r.collection_number)},
      {EncodableValue("usbInstanceId"), text(r.usb_instance_id)},
  };
}

}  // namespace vek_native
