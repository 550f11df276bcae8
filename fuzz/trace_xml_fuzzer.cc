// Feeds arbitrary bytes to the trace XML readers. The first byte chooses the
// options; the rest is the XML text. Besides memory errors it checks what the
// readers promise: bounded output, valid UTF-8 in every text, descriptors of
// 1 to 4096 bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "capture/trace_text.h"
#include "capture/trace_xml.h"
#include "common/text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string_view xml(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<TraceEventRecord> events;
  bool truncated = false;
  const int64_t start = (options & 2) ? 1714557600000000 : 0;
  const int64_t wall = (options & 4) ? 1714586400000000 : ((options & 8) ? INT64_MAX : 0);
  ParseTraceEvents(xml, start, wall, (options & 1) != 0, &events, &truncated);
  Check(events.size() <= kMaxTraceEventRecords);
  for (const TraceEventRecord& r : events) {
    Check(!r.provider.empty() && r.offsetMs >= 0);
    for (const std::string* s :
         {&r.provider, &r.level, &r.task, &r.opcode, &r.channel, &r.message, &r.dataHex}) {
      Check(IsValidUtf8(*s));
    }
    for (const auto& [key, value] : r.fields) Check(IsValidUtf8(key) && IsValidUtf8(value));
  }

  std::vector<HidDescriptorCapture> captures;
  ParseHidDescriptorEvents(xml, 0x046D, 0xC52B, (options & 16) ? -1 : (options >> 5) & 3,
                           &captures);
  for (const HidDescriptorCapture& c : captures) {
    Check(!c.descriptor.empty() && c.descriptor.size() <= kMaxReportDescriptorBytes);
    Check(c.declaredLength >= 1 && IsValidUtf8(c.instancePath));
  }

  const std::string decoded = DecodeXmlEntities(xml);
  if (IsValidUtf8(xml)) Check(IsValidUtf8(decoded));

  std::vector<uint8_t> bytes;
  if (HexToBytes(xml, &bytes)) {
    std::vector<uint8_t> again;
    Check(HexToBytes(BytesToHex(bytes), &again) && again == bytes);
  }
  int64_t micros = 0;
  if (ParseEventTime(xml, &micros)) Check(micros > 0);
  return 0;
}
