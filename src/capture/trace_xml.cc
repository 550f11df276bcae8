#include "capture/trace_xml.h"

#include <limits>

#include "capture/trace_session.h"
#include "capture/trace_text.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr char kHidClassProvider[] = "Microsoft-Windows-Input-HIDCLASS";

// Text taken from a trace file may hold any bytes; everything that reaches the
// user interface must be valid UTF-8.
void MakeValidUtf8(std::string* text) {
  if (!IsValidUtf8(*text)) *text = RepairUtf8(*text);
}

bool ContainsUpper(std::string_view name, std::string_view upper_needle) {
  return AsciiUpper(name).find(upper_needle) != std::string::npos;
}

std::string Hex2(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{'0', 'x', kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::string Hex4(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{'0',
                     'x',
                     kDigits[(value >> 12) & 0xF],
                     kDigits[(value >> 8) & 0xF],
                     kDigits[(value >> 4) & 0xF],
                     kDigits[value & 0xF]};
}

// The value of `name`="..." inside one tag; the first occurrence counts, with
// no check that it starts a word.
std::string GetAttributeValue(std::string_view tag, std::string_view attribute) {
  std::string pattern(attribute);
  pattern += "=\"";
  const size_t at = tag.find(pattern);
  if (at == std::string_view::npos) return std::string();
  const size_t begin = at + pattern.size();
  const size_t end = tag.find('"', begin);
  if (end == std::string_view::npos) return std::string();
  return DecodeXmlEntities(tag.substr(begin, end - begin));
}

int32_t ClampOffsetMs(int64_t delta_us) {
  if (delta_us <= 0) return 0;
  const int64_t ms = delta_us / 1000;
  return ms > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                  : static_cast<int32_t>(ms);
}

}  // namespace

std::string GetDataValue(std::string_view block, std::string_view name) {
  std::string marker = "<Data Name=\"";
  marker += name;
  marker += "\">";
  const size_t at = block.find(marker);
  if (at == std::string_view::npos) return std::string();
  const size_t begin = at + marker.size();
  const size_t end = block.find("</Data>", begin);
  if (end == std::string_view::npos) return std::string();
  return std::string(block.substr(begin, end - begin));
}

std::string GetElementAttribute(std::string_view block, std::string_view element,
                                std::string_view attribute) {
  std::string open = "<";
  open += element;
  const size_t at = block.find(open);
  if (at == std::string_view::npos) return std::string();
  const size_t next = at + open.size();
  if (next >= block.size()) return std::string();
  const char c = block[next];
  if (!IsAsciiBlank(c) && c != '>' && c != '/') return std::string();
  const size_t close = block.find('>', next);
  if (close == std::string_view::npos) return std::string();
  return GetAttributeValue(block.substr(next, close - next), attribute);
}

std::string_view GetElementText(std::string_view block, std::string_view element) {
  std::string open = "<";
  open += element;
  open += ">";
  const size_t at = block.find(open);
  if (at == std::string_view::npos) return std::string_view();
  const size_t begin = at + open.size();
  std::string close = "</";
  close += element;
  close += ">";
  const size_t end = block.find(close, begin);
  if (end == std::string_view::npos) return std::string_view();
  return block.substr(begin, end - begin);
}

void ExtractDataFields(std::string_view block, TraceFieldMap* fields, TraceValueLists* all_values) {
  size_t pos = 0;
  unsigned unnamed = 0;
  while (true) {
    const size_t at = block.find("<Data", pos);
    if (at == std::string_view::npos) return;
    const size_t close = block.find('>', at + 5);
    if (close == std::string_view::npos) return;
    // The '>' lies at or after at + 5, so that position is inside the block.
    const char c = block[at + 5];
    if (!IsAsciiBlank(c) && c != '>') {
      pos = close + 1;
      continue;
    }
    const std::string_view tag = block.substr(at + 5, close - at - 5);
    std::string name = GetAttributeValue(tag, "Name");
    if (name.empty()) name = "Data" + std::to_string(unnamed++);
    MakeValidUtf8(&name);
    std::string value;
    if (!tag.empty() && tag.back() == '/') {
      // An empty element written as <Data Name="x"/> has no end tag; reading
      // on to the next "</Data>" would hand it its neighbour's value.
      pos = close + 1;
    } else {
      const size_t end = block.find("</Data>", close + 1);
      if (end == std::string_view::npos) return;
      value = DecodeXmlEntities(TrimAsciiSpace(block.substr(close + 1, end - close - 1)));
      MakeValidUtf8(&value);
      pos = end + 7;
    }
    if (all_values) (*all_values)[name].push_back(value);
    (*fields)[std::move(name)] = std::move(value);
  }
}

bool IsPayloadLikeKey(std::string_view name) {
  static const char* const kParts[] = {"DATA",  "BUFFER", "PAYLOAD", "HEX",
                                       "BYTES", "REPORT", "SETUP",   "URB"};
  const std::string upper = AsciiUpper(name);
  for (const char* part : kParts) {
    if (upper.find(part) != std::string::npos) return true;
  }
  return false;
}

PayloadChoice SelectPayloadHex(const TraceFieldMap& fields) {
  PayloadChoice choice;
  for (const auto& [name, value] : fields) {
    if (EqualsIgnoreAsciiCase(name, "ReportDescriptor")) {
      choice.hex = NormalizeHex(value);
      if (!choice.hex.empty()) return choice;
      break;
    }
  }
  for (const auto& [name, value] : fields) {
    if (!ContainsUpper(name, "SETUP")) continue;
    choice.hex = NormalizeHex(value);
    if (!choice.hex.empty()) {
      choice.is_setup = true;
      return choice;
    }
  }
  static const char* const kCandidates[] = {"Payload",    "Buffer",      "TransferBuffer", "Data",
                                            "RawData",    "HexData",     "Bytes",          "Report",
                                            "DataBuffer", "ReportBuffer"};
  for (const char* candidate : kCandidates) {
    for (const auto& [name, value] : fields) {
      if (!EqualsIgnoreAsciiCase(name, candidate)) continue;
      choice.hex = NormalizeHex(value);
      if (!choice.hex.empty()) return choice;
    }
  }
  choice.hex.clear();
  for (const auto& [name, value] : fields) {
    if (!IsPayloadLikeKey(name)) continue;
    std::string hex = NormalizeHex(value);
    if (hex.size() >= 16 && hex.size() > choice.hex.size()) choice.hex = std::move(hex);
  }
  return choice;
}

std::string ReassembleByteList(const TraceValueLists& all_values, TraceFieldMap* fields) {
  std::string best;
  const std::string* best_name = nullptr;
  for (const auto& [name, values] : all_values) {
    if (values.size() < 4 || values.size() * 2 > kMaxByteListHexChars) continue;
    std::string hex;
    hex.reserve(values.size() * 2);
    bool ok = true;
    for (std::string_view value : values) {
      if (value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        value.remove_prefix(2);
      }
      char digits[2];
      size_t count = 0;
      for (char c : value) {
        const bool hex_digit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex_digit) continue;
        if (count == 2) {
          ok = false;
          break;
        }
        digits[count++] = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
      }
      if (!ok || count == 0) {
        ok = false;
        break;
      }
      if (count == 1) hex.push_back('0');
      hex.append(digits, count);
    }
    if (ok && hex.size() > best.size()) {
      best = std::move(hex);
      best_name = &name;
    }
  }
  if (best_name == nullptr) return std::string();
  (*fields)[*best_name + "Length"] = std::to_string(best.size() / 2);
  if (ContainsUpper(*best_name, "CONFIGURATIONDESCRIPTOR")) {
    (*fields)["DescriptorType"] = "Configuration";
  }
  return best;
}

void DecodeSetupPacket(std::string_view hex, TraceFieldMap* fields) {
  std::vector<uint8_t> bytes;
  if (!HexToBytes(hex, &bytes) || bytes.size() < 8) return;
  auto word = [&bytes](size_t i) { return static_cast<unsigned>(bytes[i] | bytes[i + 1] << 8); };
  fields->emplace("bmRequestType", Hex2(bytes[0]));
  fields->emplace("bmRequest", Hex2(bytes[0]));
  fields->emplace("bRequest", Hex2(bytes[1]));
  fields->emplace("wValue", Hex4(word(2)));
  fields->emplace("wIndex", Hex4(word(4)));
  fields->emplace("wLength", Hex4(word(6)));
}

std::string ProviderLabel(std::string_view provider) {
  for (const CaptureProvider& row : kCaptureProviderTable) {
    if (provider == row.name) return row.label;
  }
  if (!provider.empty()) return std::string(provider);
  return "未知提供程序";
}

std::string LevelName(uint32_t level) {
  switch (level) {
    case 1:
      return "Critical";
    case 2:
      return "Error";
    case 3:
      return "Warning";
    case 4:
      return "Information";
    case 5:
      return "Verbose";
    default:
      return "Level " + std::to_string(static_cast<int32_t>(level));
  }
}

std::string BuildEventMessage(std::string_view provider, uint32_t event_id,
                              std::string_view data_hex, const TraceFieldMap& fields,
                              std::string_view block) {
  if (provider == kHidClassProvider) {
    for (const auto& [name, value] : fields) {
      if (EqualsIgnoreAsciiCase(name, "ReportDescriptor") && !value.empty()) {
        return "HID 类驱动发布报告描述符（" + std::to_string(data_hex.size() / 2) + " 字节）";
      }
    }
  }
  std::string label = ProviderLabel(provider);
  std::string text = CollapseWhitespace(GetElementText(block, "Message"));
  MakeValidUtf8(&text);
  if (!text.empty()) return label + "：" + text;
  return label + "事件 #" + std::to_string(event_id);
}

void ComputeEventTimes(std::string_view system_time, int64_t capture_start_us,
                       int64_t capture_start_wall_us, int32_t* offset_ms, int64_t* timestamp_us) {
  *offset_ms = 0;
  *timestamp_us = 0;
  int64_t t = 0;
  if (!ParseEventTime(system_time, &t)) return;
  size_t pos = 19;
  if (pos < system_time.size() && system_time[pos] == '.') {
    // Every fraction digit, not just the six that count: the converter writes
    // nine, and the seventh must not be taken for a zone designator.
    ++pos;
    while (pos < system_time.size() && system_time[pos] >= '0' && system_time[pos] <= '9') ++pos;
  }
  while (pos < system_time.size() && IsAsciiBlank(system_time[pos])) ++pos;
  if (pos >= system_time.size() || system_time[pos] == 'Z' || system_time[pos] == 'z') {
    *timestamp_us = t;
    if (capture_start_us > 0) *offset_ms = ClampOffsetMs(t - capture_start_us);
    return;
  }
  // The digits are local time: measure from the local start and move the
  // event onto the UTC scale by that distance.
  const int64_t delta = capture_start_wall_us > 0 ? t - capture_start_wall_us : 0;
  *offset_ms = ClampOffsetMs(delta);
  if (capture_start_us > 0 && capture_start_wall_us > 0) {
    const bool overflows =
        delta > 0 && capture_start_us > std::numeric_limits<int64_t>::max() - delta;
    *timestamp_us = overflows ? 0 : capture_start_us + delta;
  }
}

bool ParseHidDescriptorEvents(std::string_view xml, uint32_t vendor_id, uint32_t product_id,
                              int32_t interface_number, std::vector<HidDescriptorCapture>* captures,
                              std::string* error) {
  captures->clear();
  std::map<int32_t, HidDescriptorCapture> by_interface;
  ForEachEventBlock(xml, [&](std::string_view block) {
    std::string path = DecodeXmlEntities(TrimAsciiSpace(GetDataValue(block, "DeviceInstancePath")));
    UsbInstanceId id;  // only a USB device's path parses
    if (!ParseUsbInstanceId(path, &id)) return true;
    uint32_t vendor = 0;
    uint32_t product = 0;
    if (!ParseUnsignedNumber(GetDataValue(block, "VendorID"), &vendor)) vendor = id.vendor_id;
    if (!ParseUnsignedNumber(GetDataValue(block, "ProductID"), &product)) product = id.product_id;
    if (vendor != vendor_id || product != product_id) return true;
    if (interface_number >= 0) {
      const bool matches =
          id.interface_number < 0 ? interface_number == 0 : id.interface_number == interface_number;
      if (!matches) return true;
    }
    HidDescriptorCapture capture;
    if (!HexToBytes(GetDataValue(block, "ReportDescriptor"), &capture.descriptor) ||
        capture.descriptor.size() > kMaxReportDescriptorBytes) {
      return true;
    }
    uint32_t declared = 0;  // stays 0 when missing or bad
    ParseUnsignedNumber(GetDataValue(block, "ReportDescriptorLength"), &declared);
    capture.declared_length = static_cast<int32_t>(declared);
    if (capture.declared_length < 1) {
      capture.declared_length = static_cast<int32_t>(capture.descriptor.size());
    }
    MakeValidUtf8(&path);
    capture.instance_path = std::move(path);
    capture.interface_number = id.interface_number;
    capture.vendor_id = vendor;
    capture.product_id = product;
    by_interface[capture.interface_number] = std::move(capture);
    return true;
  });
  captures->reserve(by_interface.size());
  for (auto& entry : by_interface) captures->push_back(std::move(entry.second));
  return true;
}

void ParseTraceEvents(std::string_view xml, int64_t capture_start_us, int64_t capture_start_wall_us,
                      bool include_hid_reports, std::vector<TraceEventRecord>* events,
                      bool* truncated) {
  *truncated = false;
  ForEachEventBlock(xml, [&](std::string_view block) {
    TraceEventRecord record;
    record.provider = GetElementAttribute(block, "Provider", "Name");
    if (record.provider.empty()) return true;
    MakeValidUtf8(&record.provider);
    // A missing or bad number reads as 0.
    ParseUnsignedNumber(GetElementText(block, "EventID"), &record.event_id);
    uint32_t level = 0;
    ParseUnsignedNumber(GetElementText(block, "Level"), &level);
    record.level = LevelName(level);
    record.task = std::string(TrimAsciiSpace(GetElementText(block, "Task")));
    record.opcode = std::string(TrimAsciiSpace(GetElementText(block, "Opcode")));
    record.channel = std::string(TrimAsciiSpace(GetElementText(block, "Channel")));
    MakeValidUtf8(&record.task);
    MakeValidUtf8(&record.opcode);
    MakeValidUtf8(&record.channel);

    TraceValueLists all_values;
    ExtractDataFields(block, &record.fields, &all_values);
    PayloadChoice payload = SelectPayloadHex(record.fields);
    record.data_hex = std::move(payload.hex);
    if (record.data_hex.empty()) record.data_hex = ReassembleByteList(all_values, &record.fields);
    if (payload.is_setup && record.data_hex.size() >= 16) {
      DecodeSetupPacket(record.data_hex, &record.fields);
    }
    if (record.provider == kHidClassProvider && !include_hid_reports && !record.data_hex.empty()) {
      return true;
    }
    if (events->size() >= kMaxTraceEventRecords) {
      *truncated = true;
      return false;
    }
    ComputeEventTimes(GetElementAttribute(block, "TimeCreated", "SystemTime"), capture_start_us,
                      capture_start_wall_us, &record.offset_ms, &record.timestamp_us);
    record.message =
        BuildEventMessage(record.provider, record.event_id, record.data_hex, record.fields, block);
    events->push_back(std::move(record));
    return true;
  });
}

}  // namespace vek_native
