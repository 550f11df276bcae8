// Feeds arbitrary bytes to the report descriptor analysis, its channel map and
// the report decoder. The first byte picks the context (packet size, boot
// protocol, caps); of the rest, the last quarter is a report decoded with the
// descriptor the first three quarters make. Items must tile the descriptor,
// findings point into it, texts stay UTF-8 and decoding stays within the report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/text.h"
#include "hid/report_analysis_map.h"
#include "hid/report_descriptor.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vek_native;
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  HidAnalysisContext context;
  context.max_packet_size = (mode & 3u) * 8u;
  context.boot_protocol = static_cast<uint8_t>((mode >> 2) & 3u);
  context.has_caps = (mode & 0x10) != 0;
  context.caps_usage_page = 1;
  context.caps_usage = static_cast<uint16_t>(mode >> 5);
  context.caps_report_byte_length = {data[1], 0, data[1] / 2u};
  const size_t body = size - 1;
  const ByteSpan descriptor(data + 1, body - body / 4);
  const ByteSpan report(data + 1 + descriptor.size, body / 4);

  const HidReportAnalysis analysis = AnalyzeHidReportDescriptor(descriptor, context);
  size_t covered = 0;
  for (const HidItem& item : analysis.items) {
    Check(item.offset == covered && item.length >= 1);
    covered += item.length;
  }
  Check(covered == descriptor.size);
  for (const HidFinding& finding : analysis.findings) {
    Check(finding.offset < descriptor.size && IsValidUtf8(finding.message));
  }
  // Maps of long inputs only slow the search down (std::map under the sanitizers).
  const bool maps = descriptor.size <= 512;
  if (maps) {
    for (const HidItem& item : analysis.items) Check(IsValidUtf8(HidItemText(item)));
    HidReportAnalysisMap(analysis, descriptor, (mode & 0x80) != 0);
  }
  HidDecodedReport decoded;
  for (HidReportKind kind :
       {HidReportKind::kInput, HidReportKind::kOutput, HidReportKind::kFeature}) {
    DecodeHidReport(analysis, kind, report, &decoded);
    Check(decoded.values.size() <= report.size * 8 && decoded.findings.size() <= 1);
    if (maps) HidDecodedReportMap(decoded);
  }
  return 0;
}
