#include "hid/report_analysis_map.h"

#include <string>
#include <utility>

#include "hid/hid_usage_names.h"

namespace vek_native {

namespace {

constexpr uint8_t kEndpointDirectionIn = 0x80;
constexpr uint8_t kEndpointTransferMask = 0x03;
constexpr uint8_t kEndpointInterrupt = 0x03;
constexpr uint16_t kEndpointPacketSizeMask = 0x07FF;
constexpr uint8_t kHidInterfaceClass = 3;
constexpr uint8_t kBootInterfaceSubclass = 1;

EncodableValue Int(int64_t value) { return EncodableValue(value); }
EncodableValue Key(const char* key) { return EncodableValue(key); }

const char* ItemTypeName(HidItemType type) {
  switch (type) {
    case HidItemType::kMain:
      return "main";
    case HidItemType::kGlobal:
      return "global";
    case HidItemType::kLocal:
      return "local";
    case HidItemType::kReserved:
      return "reserved";
    case HidItemType::kLong:
      return "long";
  }
  return "reserved";
}

EncodableValue UsageMap(uint32_t usage) {
  const uint16_t page = static_cast<uint16_t>(usage >> 16);
  const uint16_t id = static_cast<uint16_t>(usage);
  return EncodableValue(EncodableMap{{Key("usagePage"), Int(page)},
                                     {Key("usage"), Int(id)},
                                     {Key("name"), EncodableValue(UsageText(page, id))}});
}

EncodableValue ItemMap(const HidItem& item, ByteSpan descriptor) {
  const uint8_t* begin = descriptor.data + item.offset;
  return EncodableValue(EncodableMap{
      {Key("offset"), Int(item.offset)},
      {Key("bytes"), EncodableValue(std::vector<uint8_t>(begin, begin + item.length))},
      {Key("type"), EncodableValue(ItemTypeName(item.type))},
      {Key("tag"), Int(item.tag)},
      {Key("value"), Int(HidItemValue(item))},
      {Key("depth"), Int(item.depth)},
      {Key("truncated"), EncodableValue(item.truncated)},
      {Key("text"), EncodableValue(HidItemText(item))},
  });
}

EncodableValue CollectionMap(const HidCollection& collection) {
  const uint16_t page = static_cast<uint16_t>(collection.usage >> 16);
  const uint16_t usage = static_cast<uint16_t>(collection.usage);
  EncodableMap map{
      {Key("offset"), Int(collection.offset)},
      {Key("kind"), EncodableValue(HidCollectionKindText(collection.kind))},
      {Key("usagePage"), Int(page)},
      {Key("usage"), Int(usage)},
      {Key("name"), EncodableValue(UsageText(page, usage))},
      {Key("parent"), Int(collection.parent)},
      {Key("depth"), Int(collection.depth)},
  };
  if (collection.parent < 0) {
    map[Key("inputReportByteLength")] = Int(collection.report_byte_length[0]);
    map[Key("outputReportByteLength")] = Int(collection.report_byte_length[1]);
    map[Key("featureReportByteLength")] = Int(collection.report_byte_length[2]);
  }
  return EncodableValue(std::move(map));
}

EncodableValue FieldMap(const HidField& field) {
  EncodableList usages;
  usages.reserve(field.usages.size());
  for (uint32_t usage : field.usages) usages.push_back(UsageMap(usage));
  return EncodableValue(EncodableMap{
      {Key("offset"), Int(field.offset)},
      {Key("bitOffset"), Int(static_cast<int64_t>(field.bit_offset))},
      {Key("bitSize"), Int(field.bit_size)},
      {Key("count"), Int(field.count)},
      {Key("flags"), Int(field.flags)},
      {Key("flagsText"), EncodableValue(HidMainFlagsText(field.main_tag, field.flags))},
      {Key("usagePage"), Int(field.usage_page)},
      {Key("usages"), EncodableValue(std::move(usages))},
      {Key("usageMinimum"),
       field.has_usage_range ? UsageMap(field.usage_minimum) : EncodableValue()},
      {Key("usageMaximum"),
       field.has_usage_range ? UsageMap(field.usage_maximum) : EncodableValue()},
      {Key("logicalMinimum"), Int(field.logical_minimum)},
      {Key("logicalMaximum"), Int(field.logical_maximum)},
      {Key("physicalMinimum"), Int(field.physical_minimum)},
      {Key("physicalMaximum"), Int(field.physical_maximum)},
      {Key("unit"), Int(field.unit)},
      {Key("unitText"), EncodableValue(HidUnitText(field.unit))},
      {Key("unitExponent"), Int(field.unit_exponent)},
      {Key("collection"), Int(field.collection)},
  });
}

EncodableValue ReportMap(const HidReportLayout& report) {
  EncodableList fields;
  fields.reserve(report.fields.size());
  for (const HidField& field : report.fields) fields.push_back(FieldMap(field));
  return EncodableValue(EncodableMap{
      {Key("kind"), EncodableValue(HidReportKindName(report.kind))},
      {Key("reportId"), Int(report.id)},
      {Key("collection"), Int(report.top_level)},
      {Key("bitLength"), Int(static_cast<int64_t>(report.bit_length))},
      {Key("byteLength"), Int(static_cast<int64_t>(report.ByteLength()))},
      {Key("fields"), EncodableValue(std::move(fields))},
  });
}

EncodableValue FindingsList(const std::vector<HidFinding>& findings) {
  EncodableList list;
  list.reserve(findings.size());
  for (const HidFinding& finding : findings) {
    list.emplace_back(EncodableMap{
        {Key("severity"), EncodableValue(HidSeverityName(finding.severity))},
        {Key("offset"), Int(finding.offset)},
        {Key("code"), EncodableValue(finding.code)},
        {Key("message"), EncodableValue(finding.message)},
    });
  }
  return EncodableValue(std::move(list));
}

}  // namespace

EncodableValue HidReportAnalysisMap(const HidReportAnalysis& analysis, ByteSpan descriptor,
                                    bool of_reconstruction) {
  EncodableList items;
  items.reserve(analysis.items.size());
  for (const HidItem& item : analysis.items) items.push_back(ItemMap(item, descriptor));
  EncodableList collections;
  collections.reserve(analysis.collections.size());
  for (const HidCollection& collection : analysis.collections) {
    collections.push_back(CollectionMap(collection));
  }
  EncodableList reports;
  reports.reserve(analysis.reports.size());
  for (const HidReportLayout& report : analysis.reports) reports.push_back(ReportMap(report));
  return EncodableValue(EncodableMap{
      {Key("items"), EncodableValue(std::move(items))},
      {Key("collections"), EncodableValue(std::move(collections))},
      {Key("reports"), EncodableValue(std::move(reports))},
      {Key("findings"), FindingsList(analysis.findings)},
      {Key("ofReconstruction"), EncodableValue(of_reconstruction)},
  });
}

EncodableValue HidDecodedReportMap(const HidDecodedReport& report) {
  EncodableList fields;
  if (report.layout) {
    size_t next = 0;  // values are in field order
    for (size_t f = 0; f < report.layout->fields.size(); ++f) {
      const HidField& field = report.layout->fields[f];
      if (field.IsConstant()) continue;
      EncodableList values;
      for (; next < report.values.size() && report.values[next].field == f; ++next) {
        EncodableMap value = std::get<EncodableMap>(UsageMap(report.values[next].usage));
        value[Key("value")] = Int(report.values[next].value);
        values.emplace_back(std::move(value));
      }
      fields.emplace_back(EncodableMap{
          {Key("offset"), Int(field.offset)},
          {Key("bitOffset"), Int(static_cast<int64_t>(field.bit_offset))},
          {Key("bitSize"), Int(field.bit_size)},
          {Key("count"), Int(field.count)},
          {Key("usagePage"), Int(field.usage_page)},
          {Key("array"), EncodableValue(!field.IsVariable())},
          {Key("values"), EncodableValue(std::move(values))},
      });
    }
  }
  return EncodableValue(EncodableMap{
      {Key("reportId"), Int(report.report_id)},
      {Key("fields"), EncodableValue(std::move(fields))},
      {Key("findings"), FindingsList(report.findings)},
  });
}

HidAnalysisContext UsbInterfaceAnalysisContext(
    const std::vector<UsbConfigurationRecord>& configurations, uint8_t interface_number) {
  HidAnalysisContext context;
  for (const UsbConfigurationRecord& configuration : configurations) {
    for (const UsbInterfaceRecord& interface : configuration.interfaces) {
      if (interface.bInterfaceNumber != interface_number) continue;
      if (interface.bInterfaceClass == kHidInterfaceClass &&
          interface.bInterfaceSubClass == kBootInterfaceSubclass) {
        context.boot_protocol = interface.bInterfaceProtocol;
      }
      for (const UsbEndpointRecord& endpoint : interface.endpoints) {
        if ((endpoint.bEndpointAddress & kEndpointDirectionIn) != 0 &&
            (endpoint.bmAttributes & kEndpointTransferMask) == kEndpointInterrupt) {
          context.max_packet_size = endpoint.wMaxPacketSize & kEndpointPacketSizeMask;
          break;
        }
      }
      return context;
    }
  }
  return context;
}

void BindHidAnalysisOperations(BridgeOperations& ops) {
  ops.analyze_hid_report_descriptor = [](const std::vector<uint8_t>& descriptor,
                                         uint32_t max_packet_size) {
    HidAnalysisContext context;
    context.max_packet_size = max_packet_size;
    return HidReportAnalysisMap(AnalyzeHidReportDescriptor(descriptor, context), descriptor, false);
  };
  ops.decode_hid_report = [](const std::vector<uint8_t>& descriptor,
                             const std::vector<uint8_t>& report, int kind_index) {
    const HidReportKind kind = static_cast<HidReportKind>(kind_index);
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    HidDecodedReport decoded;
    DecodeHidReport(analysis, kind, report, &decoded);
    return HidDecodedReportMap(decoded);
  };
}

}  // namespace vek_native
