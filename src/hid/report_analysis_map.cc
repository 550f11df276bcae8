#include "hid/report_analysis_map.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "hid/hid_usage_names.h"
#include "hid/report_encode.h"

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

// Builds a map by moving its values in; a braced list would copy each one.
class MapBuilder {
 public:
  MapBuilder& Add(const char* key, EncodableValue value) {
    map_.emplace_hint(map_.end(), Key(key), std::move(value));
    return *this;
  }
  EncodableValue Build() { return EncodableValue(std::move(map_)); }

 private:
  EncodableMap map_;
};

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
  return MapBuilder()
      .Add("usagePage", Int(page))
      .Add("usage", Int(id))
      .Add("name", EncodableValue(UsageText(page, id)))
      .Build();
}

EncodableValue ItemMap(const HidItem& item, ByteSpan descriptor) {
  const uint8_t* begin = descriptor.data + item.offset;
  return MapBuilder()
      .Add("offset", Int(item.offset))
      .Add("bytes", EncodableValue(std::vector<uint8_t>(begin, begin + item.length)))
      .Add("type", EncodableValue(ItemTypeName(item.type)))
      .Add("tag", Int(item.tag))
      .Add("value", Int(HidItemValue(item)))
      .Add("depth", Int(item.depth))
      .Add("truncated", EncodableValue(item.truncated))
      .Add("text", EncodableValue(HidItemText(item)))
      .Build();
}

EncodableValue CollectionMap(const HidCollection& collection) {
  const uint16_t page = static_cast<uint16_t>(collection.usage >> 16);
  const uint16_t usage = static_cast<uint16_t>(collection.usage);
  MapBuilder map;
  map.Add("offset", Int(collection.offset))
      .Add("kind", EncodableValue(HidCollectionKindText(collection.kind)))
      .Add("usagePage", Int(page))
      .Add("usage", Int(usage))
      .Add("name", EncodableValue(UsageText(page, usage)))
      .Add("parent", Int(collection.parent))
      .Add("depth", Int(collection.depth));
  if (collection.parent < 0) {
    map.Add("inputReportByteLength", Int(collection.report_byte_length[0]))
        .Add("outputReportByteLength", Int(collection.report_byte_length[1]))
        .Add("featureReportByteLength", Int(collection.report_byte_length[2]));
  }
  return map.Build();
}

// How many entries of each bounded kind the map may still list.
struct ListBudget {
  size_t fields = kHidMapMaxFields;
  size_t usages = kHidMapMaxUsages;
};

EncodableValue FieldMap(const HidField& field, ListBudget* budget) {
  EncodableList usages;
  const size_t listed = std::min(field.usages.size(), budget->usages);
  budget->usages -= listed;
  usages.reserve(listed);
  for (size_t i = 0; i < listed; ++i) usages.push_back(UsageMap(field.usages[i]));
  return MapBuilder()
      .Add("offset", Int(field.offset))
      .Add("bitOffset", Int(static_cast<int64_t>(field.bit_offset)))
      .Add("bitSize", Int(field.bit_size))
      .Add("count", Int(field.count))
      .Add("flags", Int(field.flags))
      .Add("flagsText", EncodableValue(HidMainFlagsText(field.main_tag, field.flags)))
      .Add("usagePage", Int(field.usage_page))
      .Add("usages", EncodableValue(std::move(usages)))
      .Add("usageCount", Int(static_cast<int64_t>(field.usages.size())))
      .Add("usageMinimum", field.has_usage_range ? UsageMap(field.usage_minimum) : EncodableValue())
      .Add("usageMaximum", field.has_usage_range ? UsageMap(field.usage_maximum) : EncodableValue())
      .Add("logicalMinimum", Int(field.logical_minimum))
      .Add("logicalMaximum", Int(field.logical_maximum))
      .Add("physicalMinimum", Int(field.physical_minimum))
      .Add("physicalMaximum", Int(field.physical_maximum))
      .Add("unit", Int(field.unit))
      .Add("unitText", EncodableValue(HidUnitText(field.unit)))
      .Add("unitExponent", Int(field.unit_exponent))
      .Add("collection", Int(field.collection))
      .Build();
}

EncodableValue ReportMap(const HidReportLayout& report, ListBudget* budget) {
  EncodableList fields;
  const size_t listed = std::min(report.fields.size(), budget->fields);
  budget->fields -= listed;
  fields.reserve(listed);
  for (size_t i = 0; i < listed; ++i) fields.push_back(FieldMap(report.fields[i], budget));
  return MapBuilder()
      .Add("kind", EncodableValue(HidReportKindName(report.kind)))
      .Add("reportId", Int(report.id))
      .Add("collection", Int(report.top_level))
      .Add("bitLength", Int(static_cast<int64_t>(report.bit_length)))
      .Add("byteLength", Int(static_cast<int64_t>(report.ByteLength())))
      .Add("fields", EncodableValue(std::move(fields)))
      .Add("fieldCount", Int(static_cast<int64_t>(report.fields.size())))
      .Build();
}

EncodableValue FindingsList(const std::vector<HidFinding>& findings) {
  EncodableList list;
  list.reserve(findings.size());
  for (const HidFinding& finding : findings) {
    EncodableList offsets;
    if (finding.offsets.empty()) offsets.push_back(Int(finding.offset));
    for (uint32_t offset : finding.offsets) offsets.push_back(Int(offset));
    list.push_back(MapBuilder()
                       .Add("severity", EncodableValue(HidSeverityName(finding.severity)))
                       .Add("offset", Int(finding.offset))
                       .Add("code", EncodableValue(finding.code))
                       .Add("message", EncodableValue(finding.message))
                       .Add("count", Int(finding.count))
                       .Add("offsets", EncodableValue(std::move(offsets)))
                       .Build());
  }
  return EncodableValue(std::move(list));
}

}  // namespace

EncodableValue HidReportAnalysisMap(const HidReportAnalysis& analysis, ByteSpan descriptor,
                                    bool of_reconstruction) {
  EncodableList items;
  const size_t item_count = std::min(analysis.items.size(), kHidMapMaxItems);
  items.reserve(item_count);
  for (size_t i = 0; i < item_count; ++i) items.push_back(ItemMap(analysis.items[i], descriptor));
  EncodableList collections;
  const size_t collection_count = std::min(analysis.collections.size(), kHidMapMaxCollections);
  collections.reserve(collection_count);
  for (size_t i = 0; i < collection_count; ++i) {
    collections.push_back(CollectionMap(analysis.collections[i]));
  }
  EncodableList reports;
  const size_t report_count = std::min(analysis.reports.size(), kHidMapMaxReports);
  reports.reserve(report_count);
  ListBudget budget;
  for (size_t i = 0; i < report_count; ++i) {
    reports.push_back(ReportMap(analysis.reports[i], &budget));
  }
  return MapBuilder()
      .Add("items", EncodableValue(std::move(items)))
      .Add("itemCount", Int(static_cast<int64_t>(analysis.items.size())))
      .Add("collections", EncodableValue(std::move(collections)))
      .Add("collectionCount", Int(static_cast<int64_t>(analysis.collections.size())))
      .Add("reports", EncodableValue(std::move(reports)))
      .Add("reportCount", Int(static_cast<int64_t>(analysis.reports.size())))
      .Add("findings", FindingsList(analysis.findings))
      .Add("ofReconstruction", EncodableValue(of_reconstruction))
      .Build();
}

EncodableValue HidDecodedReportMap(const HidDecodedReport& report) {
  EncodableList fields;
  if (report.layout) {
    auto next = report.values.begin();          // values are in field order
    auto next_raw = report.raw_fields.begin();  // and so are the raw fields
    size_t listed = 0;
    for (size_t f = 0; f < report.layout->fields.size() && listed < report.decoded_fields; ++f) {
      const HidField& field = report.layout->fields[f];
      if (field.IsConstant()) continue;
      ++listed;
      EncodableList values;
      for (; next != report.values.end() && next->field == f; ++next) {
        EncodableMap value = std::get<EncodableMap>(UsageMap(next->usage));
        value[Key("value")] = Int(next->value);
        values.emplace_back(std::move(value));
      }
      EncodableValue raw;
      if (next_raw != report.raw_fields.end() && next_raw->field == f) {
        const auto begin = report.raw_bytes.begin() + static_cast<std::ptrdiff_t>(next_raw->begin);
        raw = EncodableValue(
            std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(next_raw->size)));
        ++next_raw;
      }
      fields.push_back(MapBuilder()
                           .Add("offset", Int(field.offset))
                           .Add("bitOffset", Int(static_cast<int64_t>(field.bit_offset)))
                           .Add("bitSize", Int(field.bit_size))
                           .Add("count", Int(field.count))
                           .Add("usagePage", Int(field.usage_page))
                           .Add("array", EncodableValue(!field.IsVariable()))
                           .Add("values", EncodableValue(std::move(values)))
                           .Add("raw", std::move(raw))
                           .Build());
    }
  }
  return MapBuilder()
      .Add("reportId", Int(report.report_id))
      .Add("fields", EncodableValue(std::move(fields)))
      .Add("findings", FindingsList(report.findings))
      .Build();
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
                             const std::vector<uint8_t>& report, int kind_index,
                             EncodableValue* value, std::string* message) {
    const HidReportKind kind = static_cast<HidReportKind>(kind_index);
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    HidDecodedReport decoded;
    DecodeHidReport(analysis, kind, report, &decoded);
    // A report no layout of the descriptor can hold is refused, not decoded.
    if (decoded.refused) {
      *message = decoded.findings.front().message;
      return false;
    }
    *value = HidDecodedReportMap(decoded);
    return true;
  };
  ops.encode_hid_report = [](const std::vector<uint8_t>& descriptor, int kind, uint8_t report_id,
                             const std::vector<HidUsageValue>& values, EncodableValue* value,
                             std::string* message) {
    const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
    std::vector<uint8_t> report;
    if (!EncodeHidReport(analysis, static_cast<HidReportKind>(kind), report_id, values, &report,
                         message)) {
      return false;
    }
    *value = EncodableValue(std::move(report));
    return true;
  };
}

}  // namespace vek_native
