// Feeds arbitrary bytes to the trace event reader. The first byte chooses the
// options (HID reports kept, capture start known, local start known or at the
// end of the range); the rest is the XML text. Besides memory errors it checks
// what the reader promises the user interface: a bounded list, records with a
// provider and no negative offset, valid UTF-8 in every text, payloads as
// upper-case hex pairs, and no HID report payload when they are filtered out.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "capture/trace_xml.h"
#include "common/text.h"

namespace {

bool IsUpperHexPairs(const std::string& text) {
  if (text.size() % 2 != 0) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string_view xml(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool include_hid_reports = (options & 1) != 0;
  const int64_t start = (options & 2) ? 1714557600000000 : 0;
  const int64_t wall = (options & 4) ? 1714586400000000 : ((options & 8) ? INT64_MAX : 0);

  std::vector<TraceEventRecord> events;
  bool truncated = true;
  ParseTraceEvents(xml, start, wall, include_hid_reports, &events, &truncated);
  Check(events.size() <= kMaxTraceEventRecords);
  Check(!truncated || events.size() == kMaxTraceEventRecords);
  for (const TraceEventRecord& r : events) {
    Check(!r.provider.empty() && !r.level.empty() && !r.message.empty());
    Check(r.offset_ms >= 0);
    Check(IsUpperHexPairs(r.data_hex));
    Check(include_hid_reports || r.data_hex.empty() ||
          r.provider != "Microsoft-Windows-Input-HIDCLASS");
    for (const std::string* s :
         {&r.provider, &r.level, &r.task, &r.opcode, &r.channel, &r.message, &r.data_hex}) {
      Check(IsValidUtf8(*s));
    }
    for (const auto& [key, value] : r.fields) Check(IsValidUtf8(key) && IsValidUtf8(value));
  }
  return 0;
}
