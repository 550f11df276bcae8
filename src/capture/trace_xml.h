// Readers of the XML dump the trace converter writes: the HID report
// descriptors the HID class driver publishes, and every event of the capture
// providers with a decoded payload. Hand-written forward substring scanners over
// the converter's layout (one Event element per event: System, EventData,
// RenderingInfo), linear in the text; they never fail on malformed input.
#ifndef VEK_CAPTURE_TRACE_XML_H_
#define VEK_CAPTURE_TRACE_XML_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vek_native {

// Records beyond this many are not collected: bounds memory and the reply.
constexpr size_t kMaxTraceEventRecords = 20000;
constexpr size_t kMaxReportDescriptorBytes = 4096;
constexpr size_t kMaxByteListHexChars = 8192;

struct HidDescriptorCapture {
  std::string instance_path;
  std::vector<uint8_t> descriptor;
  int32_t declared_length = 0;
  int32_t interface_number = -1;
  uint32_t vendor_id = 0;
  uint32_t product_id = 0;
};

using TraceFieldMap = std::map<std::string, std::string>;
using TraceValueLists = std::map<std::string, std::vector<std::string>>;

struct TraceEventRecord {
  int32_t offset_ms = 0;
  int64_t timestamp_us = 0;
  std::string provider;
  uint32_t event_id = 0;
  std::string level;
  std::string task;
  std::string opcode;
  std::string channel;
  std::string message;
  std::string data_hex;
  TraceFieldMap fields;
};

// Calls `visit(block)` for every "<Event " ... "</Event>" block in order until
// it returns false or a marker is missing.
template <typename Visit>
void ForEachEventBlock(std::string_view xml, Visit&& visit) {
  size_t pos = 0;
  while (pos < xml.size()) {
    const size_t start = xml.find("<Event ", pos);
    if (start == std::string_view::npos) return;
    const size_t end = xml.find("</Event>", start);
    if (end == std::string_view::npos) return;
    const size_t after = end + 8;
    if (!visit(xml.substr(start, after - start))) return;
    pos = after;
  }
}

// Always true; `captures` is cleared first and filled in ascending interface
// order (-1 first). A negative wanted interface accepts every interface.
bool ParseHidDescriptorEvents(std::string_view xml, uint32_t vendor_id, uint32_t product_id,
                              int32_t interface_number, std::vector<HidDescriptorCapture>* captures,
                              std::string* error = nullptr);

// Appends one record per accepted event; `truncated` is set when the record
// cap stopped the scan. Every text in a record is valid UTF-8.
void ParseTraceEvents(std::string_view xml, int64_t capture_start_us, int64_t capture_start_wall_us,
                      bool include_hid_reports, std::vector<TraceEventRecord>* events,
                      bool* truncated);

// Pieces of the event reader, exposed for tests and for each other.
std::string GetDataValue(std::string_view block, std::string_view name);
std::string GetElementAttribute(std::string_view block, std::string_view element,
                                std::string_view attribute);
std::string_view GetElementText(std::string_view block, std::string_view element);
void ExtractDataFields(std::string_view block, TraceFieldMap* fields, TraceValueLists* all_values);

struct PayloadChoice {
  std::string hex;
  bool is_setup = false;
};
PayloadChoice SelectPayloadHex(const TraceFieldMap& fields);
bool IsPayloadLikeKey(std::string_view name);
std::string ReassembleByteList(const TraceValueLists& all_values, TraceFieldMap* fields);
void DecodeSetupPacket(std::string_view hex, TraceFieldMap* fields);

std::string ProviderLabel(std::string_view provider);
std::string LevelName(uint32_t level);
std::string BuildEventMessage(std::string_view provider, uint32_t event_id,
                              std::string_view data_hex, const TraceFieldMap& fields,
                              std::string_view block);

// offset_ms and timestamp_us of an event from its SystemTime text.
void ComputeEventTimes(std::string_view system_time, int64_t capture_start_us,
                       int64_t capture_start_wall_us, int32_t* offset_ms, int64_t* timestamp_us);

}  // namespace vek_native

#endif  // VEK_CAPTURE_TRACE_XML_H_
