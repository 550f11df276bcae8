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
    const auto bytes = static_cast<uint32_t>(buffer.size() * sizeof(char16_t));
    if (!requests.GetIndexedString(device, index, buffer.data(), bytes)) continue;
    buffer.back() = 0;
    const std::string value = Utf16ToUtf8(std::u16string(buffer.data()));
    if (value.empty() || HasValue(entries, value)) continue;
    entries.push_back({index, "index", value});
  }
  return entries;
}

}  // namespace

std::vector<uint8_t> ReadRawReportDescriptor(HidDescriptorRequests& requests, HidDevice& device) {
  // Doubled until it holds the longest descriptor a 16-bit length can declare.
  for (size_t size = kFirstRawBuffer;; size = std::min(size * 2, kMaxRawBuffer)) {
    std::vector<uint8_t> buffer(size, 0);
    uint32_t returned = 0;
    uint32_t error = 0;
    if (requests.GetRawReportDescriptor(device, &buffer, &returned, &error)) {
      if (returned == 0) return {};
      buffer.resize(std::min<size_t>(returned, buffer.size()));
      return buffer;
    }
    if (error != kErrorInsufficientBuffer || size >= kMaxRawBuffer) return {};
  }
}

std::vector<std::string> FindSiblingCollections(const std::vector<HidInterfaceEntry>& entries,
                                                const std::string& path) {
  const std::string parent = ParentInstanceIdOfHidPath(entries, path);
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
                     return std::make_pair(ParseHexSuffixField(a, "&col"), a) <
                            std::make_pair(ParseHexSuffixField(b, "&col"), b);
                   });
  return siblings;
}

namespace {

// What the collection tells of itself.
struct CollectionFacts {
  bool has_caps = false;
  HidCaps caps;  // zero unless has_caps
  uint32_t collection_count = 0;
  HidAttributes attributes;  // zero when unreadable
};

CollectionFacts ReadCollectionFacts(HidDevice* device) {
  CollectionFacts facts;
  facts.has_caps = ReadHidCaps(*device, &facts.caps, &facts.collection_count);
  if (!facts.has_caps) {
    facts.caps = HidCaps();
    facts.collection_count = 0;
  }
  if (!device->GetAttributes(&facts.attributes)) facts.attributes = HidAttributes();
  return facts;
}

// What the descriptor sources work from. The sibling collections are opened
// by the first rebuilder that needs them, shared with the next one, and closed
// with the search.
struct DescriptorSearch {
  HidDeviceApi& api;
  HidDescriptorRequests& requests;
  HidDevice& device;
  const std::string& path;
  const std::vector<HidInterfaceEntry>& interfaces;
  const UsbDescriptorRecord& usb;
  uint8_t interface_number;  // the interface the found bytes describe
  bool siblings_opened = false;
  std::vector<std::unique_ptr<HidDevice>> siblings{};
};

std::vector<HidDevice*> SiblingHandles(DescriptorSearch& search) {
  if (!search.siblings_opened) {
    search.siblings_opened = true;
    for (const std::string& sibling : FindSiblingCollections(search.interfaces, search.path)) {
      std::unique_ptr<HidDevice> opened = OpenHidDeviceForDescriptors(search.api, sibling);
      if (opened) search.siblings.push_back(std::move(opened));
    }
  }
  std::vector<HidDevice*> handles;
  for (const std::unique_ptr<HidDevice>& sibling : search.siblings)
    handles.push_back(sibling.get());
  return handles;
}

RebuildResult FromHidStack(DescriptorSearch& search) {
  return {ReadRawReportDescriptor(search.requests, search.device), 0};
}

RebuildResult FromHub(DescriptorSearch& search) {
  if (!search.usb.report_descriptor.empty()) {
    search.interface_number = search.usb.report_descriptor_interface;
  }
  return {search.usb.report_descriptor, 0};
}

RebuildResult FromSiblingPreparsedData(DescriptorSearch& search) {
  return ReconstructFromPreparsed(SiblingHandles(search));
}

RebuildResult FromSiblingCaps(DescriptorSearch& search) {
  return SynthesizeFromCaps(SiblingHandles(search));
}

// The last resort: the path's own collection alone.
RebuildResult FromOwnCaps(DescriptorSearch& search) {
  std::vector<uint8_t> bytes = SynthesizeFromCapsSingle(&search.device);
  const int collections = bytes.empty() ? 0 : 1;
  return {std::move(bytes), collections};
}

struct DescriptorSource {
  const char* source;     // "reportDescriptorSource"
  const char* algorithm;  // "reportDescriptorAlgorithm"
  bool needs_caps;        // rebuilding starts from caps the path's collection gave
  RebuildResult (*read)(DescriptorSearch&);
};

constexpr char kReconstructed[] = "reconstructed";

// Tried in this order; the first that gives bytes is the report descriptor.
constexpr DescriptorSource kDescriptorSources[] = {
    {"device", "device", false, FromHidStack},
    {"device", "device", false, FromHub},
    {kReconstructed, "hidp-preparsed", true, FromSiblingPreparsedData},
    {kReconstructed, "caps-only", true, FromSiblingCaps},
    {kReconstructed, "caps-only", true, FromOwnCaps},
};

struct FoundDescriptor {
  std::vector<uint8_t> bytes;
  std::string source = "device";
  std::string algorithm = "device";
  int rebuilt_count = 0;  // 0 unless reconstructed
  uint8_t interface_number = 0;
  bool Reconstructed() const { return source == kReconstructed; }
};

FoundDescriptor FindReportDescriptor(DescriptorSearch search, bool has_caps) {
  FoundDescriptor found;
  for (const DescriptorSource& candidate : kDescriptorSources) {
    if (candidate.needs_caps && !has_caps) continue;
    RebuildResult result = candidate.read(search);
    if (result.bytes.empty()) continue;
    found.bytes = std::move(result.bytes);
    found.source = candidate.source;
    found.algorithm = candidate.algorithm;
    found.rebuilt_count = result.collections;
    break;
  }
  found.interface_number = search.interface_number;
  return found;
}

std::unique_ptr<HidDevice> OpenCollection(HidDeviceApi& api, const std::string& path,
                                          std::string* message) {
  std::unique_ptr<HidDevice> device = OpenHidDeviceForQuery(api, path);
  if (device) return device;
  // The last mode tried is attribute-only access; its error is the one told.
  uint32_t error = 0;
  device = api.Open(path, HidAccess::kAttributesOnly, false, &error);
  if (!device) *message = FormatWin32Failure("打开 HID 设备", error);
  return device;
}

EncodableList CollectionList(const CollectionFacts& facts) {
  EncodableList collections;
  if (!facts.has_caps) return collections;
  const HidCaps& caps = facts.caps;
  collections.emplace_back(EncodableMap{
      {EncodableValue("usagePage"), Int(caps.usage_page)},
      {EncodableValue("usage"), Int(caps.usage)},
      {EncodableValue("inputReportByteLength"), Int(caps.input_report_byte_length)},
      {EncodableValue("outputReportByteLength"), Int(caps.output_report_byte_length)},
      {EncodableValue("featureReportByteLength"), Int(caps.feature_report_byte_length)},
      {EncodableValue("collectionCount"), Int(facts.collection_count)},
  });
  return collections;
}

EncodableList StringList(HidDescriptorRequests& requests, HidDevice& device,
                         const UsbDescriptorRecord& usb) {
  EncodableList strings;
  for (const StringEntry& entry : CollectStrings(requests, device, usb)) {
    strings.emplace_back(EncodableMap{{EncodableValue("index"), Int(entry.index)},
                                      {EncodableValue("kind"), EncodableValue(entry.kind)},
                                      {EncodableValue("value"), Text(entry.value)}});
  }
  return strings;
}

// The hub's failure; else, for a rebuilt descriptor, what it is and is not.
EncodableValue UsbNote(const UsbDescriptorRecord& usb, const FoundDescriptor& found,
                       uint16_t declared) {
  if (!usb.usb_error.empty()) return Text(usb.usb_error);
  if (!found.Reconstructed()) return EncodableValue();
  std::string note =
      "原始报告描述符无法直通读取（" +
      (usb.report_descriptor_error.empty() ? std::string("HID 与集线器请求均失败")
                                           : usb.report_descriptor_error) +
      "），已按同一 USB 接口合并 " + std::to_string(found.rebuilt_count) + " 个 HID 集合" +
      (found.algorithm == "hidp-preparsed" ? "从 HidP 预解析数据重建" : "按控制 caps 合成") +
      "，重建 " + std::to_string(found.bytes.size()) + " 字节";
  if (declared > 0) note += " / 声明 " + std::to_string(declared) + " 字节";
  note += "（非逐字节还原：Windows 用户态拿不到原始描述符）";
  return Text(note);
}

EncodableValue AnalysisOf(const FoundDescriptor& found, const CollectionFacts& facts,
                          const UsbDescriptorRecord& usb, uint8_t path_interface) {
  // The hub may have answered for another interface of the device, whose
  // collections the caps read here do not describe.
  HidAnalysisContext context =
      UsbInterfaceAnalysisContext(usb.configurations, found.interface_number);
  if (facts.has_caps && found.interface_number == path_interface) {
    context.has_caps = true;
    context.caps_usage_page = facts.caps.usage_page;
    context.caps_usage = facts.caps.usage;
    context.caps_report_byte_length = {facts.caps.input_report_byte_length,
                                       facts.caps.output_report_byte_length,
                                       facts.caps.feature_report_byte_length};
  }
  return HidReportAnalysisMap(AnalyzeHidReportDescriptor(found.bytes, context), found.bytes,
                              found.Reconstructed());
}

}  // namespace

bool ReadHidDescriptors(HidDeviceApi& api, DeviceTree& tree, UsbHubApi& hubs,
                        HidDescriptorRequests& requests, const std::string& path,
                        EncodableValue* report, std::string* message) {
  if (path.empty()) {
    *message = "HID 设备路径为空";
    return false;
  }
  const std::unique_ptr<HidDevice> device = OpenCollection(api, path, message);
  if (!device) return false;
  if (!ConfirmHidCollection(*device, message)) return false;
  const CollectionFacts facts = ReadCollectionFacts(device.get());
  // One enumeration serves the walk to the USB device and the siblings.
  const std::vector<HidInterfaceEntry> interfaces = ListHidInterfaces(api);
  const UsbDescriptorRecord usb = ReadUsbDescriptorsForHidPath(
      interfaces, tree, hubs, path, facts.attributes.vendor_id, facts.attributes.product_id);
  const uint8_t path_interface = static_cast<uint8_t>(ParseHexSuffixField(path, "&mi_"));
  const FoundDescriptor found = FindReportDescriptor(
      {api, requests, *device, path, interfaces, usb, path_interface}, facts.has_caps);
  const uint16_t declared = DeclaredReportDescriptorLength(usb.configurations, path_interface);

  *report = EncodableValue(EncodableMap{
      {EncodableValue("devicePath"), Text(path)},
      {EncodableValue("reportDescriptor"), EncodableValue(found.bytes)},
      {EncodableValue("reportDescriptorSource"), EncodableValue(found.source)},
      {EncodableValue("reconstructedCollectionCount"), Int(found.rebuilt_count)},
      {EncodableValue("reportDescriptorAlgorithm"), EncodableValue(found.algorithm)},
      {EncodableValue("reportDescriptorDeclaredLength"), Int(declared)},
      {EncodableValue("collections"), EncodableValue(CollectionList(facts))},
      {EncodableValue("strings"), EncodableValue(StringList(requests, *device, usb))},
      {EncodableValue("usbDevice"), usb.valid ? DeviceDescriptorMap(usb) : EncodableValue()},
      {EncodableValue("usbConfigurations"), ConfigurationList(usb)},
      {EncodableValue("usbSpeed"), EncodableValue(SpeedName(usb.speed))},
      {EncodableValue("usbAddress"), Int(usb.address)},
      {EncodableValue("usbError"), UsbNote(usb, found, declared)},
      {EncodableValue("collectionCount"), Int(facts.collection_count)},
      {EncodableValue("reportDescriptorAnalysis"), AnalysisOf(found, facts, usb, path_interface)},
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
