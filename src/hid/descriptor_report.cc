#include "hid/descriptor_report.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "common/format.h"
#include "common/text.h"
#include "hid/hid_devices.h"
#include "hid/hub_requests.h"
#include "hid/reconstruct.h"
#include "hid/report_analysis_map.h"
#include "hid/usb_descriptors.h"

namespace vek_native {

namespace {

constexpr size_t kFirstRawBuffer = 4096;
constexpr size_t kMaxRawBuffer = 65536;
constexpr int kMaxRawCalls = 4;
constexpr uint32_t kIndexedStringUnits = 256;

EncodableValue Int(int64_t value) { return EncodableValue(value); }
EncodableValue Text(const std::string& text) { return EncodableValue(RepairUtf8(text)); }

std::string SpeedName(uint8_t speed) {
  switch (speed) {
    case 0:
      return "low";
    case 1:
      return "full";
    case 2:
      return "high";
    case 3:
      return "super";
    default:
      return "";
  }
}

struct StringEntry {
  int64_t index;
  std::string kind;
  std::string value;
};

bool HasValue(const std::vector<StringEntry>& entries, const std::string& value) {
  for (const auto& e : entries) {
    if (e.value == value) return true;
  }
  return false;
}

std::string UsbStringKind(const UsbDescriptorRecord& usb, uint8_t index) {
  if (index == usb.iManufacturer) return "manufacturer";
  if (index == usb.iProduct) return "product";
  if (index == usb.iSerialNumber) return "serial";
  for (const auto& config : usb.configurations) {
    if (index == config.iConfiguration) return "configuration";
  }
  for (const auto& config : usb.configurations) {
    for (const auto& interface : config.interfaces) {
      if (index == interface.iInterface) return "interface";
    }
  }
  return "usb";
}

std::vector<StringEntry> CollectStrings(HidDescriptorRequests& requests, HidDevice& device,
                                        const UsbDescriptorRecord& usb) {
  std::vector<StringEntry> entries;
  if (usb.valid) {
    for (const auto& s : usb.strings)
      entries.push_back({s.first, UsbStringKind(usb, s.first), s.second});
  }
  const struct {
    HidStringKind kind;
    const char* name;
    uint8_t usb_index;
  } hid_strings[] = {{HidStringKind::kManufacturer, "manufacturer", usb.iManufacturer},
                     {HidStringKind::kProduct, "product", usb.iProduct},
                     {HidStringKind::kSerialNumber, "serial", usb.iSerialNumber}};
  for (const auto& s : hid_strings) {
    const std::string value = ReadHidString(device, s.kind);
    if (value.empty() || HasValue(entries, value)) continue;
    const bool own_index = usb.valid && s.usb_index != 0 && usb.strings.count(s.usb_index) == 0;
    entries.push_back({own_index ? s.usb_index : 0, s.name, value});
  }
  for (uint32_t index = 1; index <= 9; ++index) {
    std::vector<char16_t> buffer(kIndexedStringUnits, 0);
    if (!requests.GetIndexedString(device, index, buffer.data(), kIndexedStringUnits * 2)) continue;
    buffer[kIndexedStringUnits - 1] = 0;
    const std::string value = Utf16ToUtf8(std::u16string(buffer.data()));
    if (value.empty() || HasValue(entries, value)) continue;
    entries.push_back({index, "index", value});
  }
  return entries;
}

}  // namespace

std::vector<uint8_t> ReadRawReportDescriptor(HidDescriptorRequests& requests, HidDevice& device) {
  size_t size = kFirstRawBuffer;
  for (int call = 0; call < kMaxRawCalls; ++call) {
    std::vector<uint8_t> buffer(size, 0);
    uint32_t returned = 0;
    uint32_t error = 0;
    if (requests.GetRawReportDescriptor(device, &buffer, &returned, &error)) {
      if (returned == 0) return {};
      buffer.resize(std::min<size_t>(returned, buffer.size()));
      return buffer;
    }
    if (error != kErrorInsufficientBuffer || size >= kMaxRawBuffer) return {};
    size = std::min(size * 2, kMaxRawBuffer);
  }
  return {};
}

std::vector<std::string> FindSiblingCollections(HidDeviceApi& api, const std::string& path) {
  std::vector<HidInterfaceEntry> entries;
  uint32_t error = 0;
  if (!api.EnumerateInterfaces(&entries, &error)) entries.clear();
  const std::string wanted = AsciiLower(path);
  std::string parent;
  for (const auto& entry : entries) {
    if (AsciiLower(entry.path) == wanted) {
      parent = entry.parent_instance_id;
      break;
    }
  }
  if (parent.empty()) parent = ParentInstanceIdOfHidPath(api, path);
  if (parent.empty()) return {path};
  const std::string parent_lower = AsciiLower(parent);
  const int interface_number = ParseHexSuffixField(path, "&mi_");
  std::vector<std::string> siblings;
  for (const auto& entry : entries) {
    if (!entry.path.empty() && AsciiLower(entry.parent_instance_id) == parent_lower &&
        ParseHexSuffixField(entry.path, "&mi_") == interface_number) {
      siblings.push_back(entry.path);
    }
  }
  if (siblings.empty()) return {path};
  std::stable_sort(siblings.begin(), siblings.end(),
                   [](const std::string& a, const std::string& b) {
                     const int ca = ParseHexSuffixField(a, "&col");
                     const int cb = ParseHexSuffixField(b, "&col");
                     return ca != cb ? ca < cb : a < b;
                   });
  return siblings;
}

bool ReadHidDescriptors(HidDeviceApi& api, DeviceTree& tree, UsbHubApi& hubs,
                        HidDescriptorRequests& requests, const std::string& path,
                        EncodableValue* report, std::string* message) {
  if (path.empty()) {
    *message = "HID 设备路径为空";
    return false;
  }
  std::unique_ptr<HidDevice> device = OpenHidDeviceForQuery(api, path);
  if (!device) {
    // The last mode tried is attribute-only access; its error is the one told.
    uint32_t error = 0;
    device = api.Open(path, HidAccess::kAttributesOnly, false, &error);
    if (!device) {
      *message = FormatWin32Failure("打开 HID 设备", error);
      return false;
    }
  }
  if (!ConfirmHidCollection(*device, message)) return false;
  HidCaps caps;
  uint32_t collection_count = 0;
  const bool has_caps = ReadHidCaps(device.get(), &caps, &collection_count);
  if (!has_caps) {
    caps = HidCaps();
    collection_count = 0;
  }
  HidAttributes attributes;
  if (!device->GetAttributes(&attributes)) attributes = HidAttributes();

  const UsbDescriptorRecord usb = ReadUsbDescriptorsForHidPath(
      api, tree, hubs, path, attributes.vendor_id, attributes.product_id);
  std::vector<uint8_t> descriptor = ReadRawReportDescriptor(requests, *device);
  std::string source = "device";
  std::string algorithm = "device";
  int rebuilt_count = 0;
  const uint8_t path_interface = static_cast<uint8_t>(ParseHexSuffixField(path, "&mi_"));
  const uint16_t declared = DeclaredReportDescriptorLength(usb.configurations, path_interface);
  uint8_t descriptor_interface = path_interface;
  if (descriptor.empty() && !usb.reportDescriptor.empty()) {
    descriptor = usb.reportDescriptor;
    descriptor_interface = usb.reportDescriptorInterface;
  }
  if (descriptor.empty() && has_caps) {
    std::vector<std::unique_ptr<HidDevice>> siblings;
    std::vector<HidDevice*> handles;
    for (const std::string& sibling : FindSiblingCollections(api, path)) {
      std::unique_ptr<HidDevice> opened = OpenHidDeviceForDescriptors(api, sibling);
      if (!opened) continue;
      handles.push_back(opened.get());
      siblings.push_back(std::move(opened));
    }
    RebuildResult rebuilt = ReconstructFromPreparsed(handles);
    if (!rebuilt.bytes.empty()) {
      algorithm = "hidp-preparsed";
    } else {
      rebuilt = SynthesizeFromCaps(handles);
      if (!rebuilt.bytes.empty()) algorithm = "caps-only";
    }
    siblings.clear();
    if (rebuilt.bytes.empty()) {
      rebuilt.bytes = SynthesizeFromCapsSingle(device.get());
      rebuilt.collections = rebuilt.bytes.empty() ? 0 : 1;
      if (!rebuilt.bytes.empty()) algorithm = "caps-only";
    }
    if (!rebuilt.bytes.empty()) {
      descriptor = std::move(rebuilt.bytes);
      source = "reconstructed";
      rebuilt_count = rebuilt.collections;
    }
  }
  if (source != "reconstructed") {
    rebuilt_count = 0;
    algorithm = "device";
  }

  EncodableList collections;
  if (has_caps) {
    collections.emplace_back(EncodableMap{
        {EncodableValue("usagePage"), Int(caps.usage_page)},
        {EncodableValue("usage"), Int(caps.usage)},
        {EncodableValue("inputReportByteLength"), Int(caps.input_report_byte_length)},
        {EncodableValue("outputReportByteLength"), Int(caps.output_report_byte_length)},
        {EncodableValue("featureReportByteLength"), Int(caps.feature_report_byte_length)},
        {EncodableValue("collectionCount"), Int(collection_count)},
    });
  }
  EncodableList strings;
  for (const StringEntry& entry : CollectStrings(requests, *device, usb)) {
    strings.emplace_back(EncodableMap{{EncodableValue("index"), Int(entry.index)},
                                      {EncodableValue("kind"), EncodableValue(entry.kind)},
                                      {EncodableValue("value"), Text(entry.value)}});
  }

  EncodableValue usb_error;
  if (!usb.usbError.empty()) {
    usb_error = Text(usb.usbError);
  } else if (source == "reconstructed") {
    std::string note =
        "原始报告描述符无法直通读取（" +
        (usb.reportDescriptorError.empty() ? std::string("HID 与集线器请求均失败")
                                           : usb.reportDescriptorError) +
        "），已按同一 USB 接口合并 " + std::to_string(rebuilt_count) + " 个 HID 集合" +
        (algorithm == "hidp-preparsed" ? "从 HidP 预解析数据重建" : "按控制 caps 合成") +
        "，重建 " + std::to_string(descriptor.size()) + " 字节";
    if (declared > 0) note += " / 声明 " + std::to_string(declared) + " 字节";
    note += "（非逐字节还原：Windows 用户态拿不到原始描述符）";
    usb_error = Text(note);
  }

  // The hub may have answered for another interface of the device, whose
  // collections the caps read here do not describe.
  HidAnalysisContext context =
      UsbInterfaceAnalysisContext(usb.configurations, descriptor_interface);
  if (has_caps && descriptor_interface == path_interface) {
    context.has_caps = true;
    context.caps_usage_page = caps.usage_page;
    context.caps_usage = caps.usage;
    context.caps_report_byte_length = {caps.input_report_byte_length,
                                       caps.output_report_byte_length,
                                       caps.feature_report_byte_length};
  }
  EncodableValue analysis = HidReportAnalysisMap(AnalyzeHidReportDescriptor(descriptor, context),
                                                 descriptor, source == "reconstructed");

  *report = EncodableValue(EncodableMap{
      {EncodableValue("devicePath"), Text(path)},
      {EncodableValue("reportDescriptor"), EncodableValue(descriptor)},
      {EncodableValue("reportDescriptorSource"), EncodableValue(source)},
      {EncodableValue("reconstructedCollectionCount"), Int(rebuilt_count)},
      {EncodableValue("reportDescriptorAlgorithm"), EncodableValue(algorithm)},
      {EncodableValue("reportDescriptorDeclaredLength"), Int(declared)},
      {EncodableValue("collections"), EncodableValue(std::move(collections))},
      {EncodableValue("strings"), EncodableValue(std::move(strings))},
      {EncodableValue("usbDevice"), usb.valid ? DeviceDescriptorMap(usb) : EncodableValue()},
      {EncodableValue("usbConfigurations"), ConfigurationList(usb)},
      {EncodableValue("usbSpeed"), EncodableValue(SpeedName(usb.speed))},
      {EncodableValue("usbAddress"), Int(usb.address)},
      {EncodableValue("usbError"), usb_error},
      {EncodableValue("collectionCount"), Int(collection_count)},
      {EncodableValue("reportDescriptorAnalysis"), std::move(analysis)},
  });
  return true;
}

void BindHidDescriptorOperations(BridgeOperations& ops, HidDeviceApi& api, DeviceTree& tree,
                                 UsbHubApi& hubs, HidDescriptorRequests& requests) {
  ops.read_hid_descriptors = [&api, &tree, &hubs, &requests](const std::string& path,
                                                             EncodableValue* value,
                                                             std::string* message) {
    return ReadHidDescriptors(api, tree, hubs, requests, path, value, message);
  };
  BindHidAnalysisOperations(ops);
}

}  // namespace vek_native
