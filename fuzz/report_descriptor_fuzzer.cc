// Feeds arbitrary bytes to the report descriptor analysis, its channel map and
// the report decoder. The first byte picks the context (packet size, boot
// protocol, caps); of the rest, the last quarter is a report decoded with the
// descriptor the first three quarters make. Items must tile the descriptor,
// findings point into it, texts stay UTF-8, decoding stays within the report,
// no length wraps or reads as negative, the decoder measures a report by the
// analysis's length, and the encoded replies stay within a fixed factor of
// the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channels/standard_codec.h"
#include "common/text.h"
#include "hid/report_analysis_map.h"
#include "hid/report_descriptor.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// An encoded reply's bytes stay within 400 per input byte (a two-byte "81 02"
// costs two item maps and a field map, a report byte up to eight one-bit
// values) plus 64 KiB.
void CheckReplySize(const vek_native::EncodableValue& value, size_t input) {
  Check(vek_native::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&value)->size() <=
        400 * input + 64 * 1024);
}

bool Told(const std::vector<vek_native::HidFinding>& findings, const char* code) {
  return std::any_of(findings.begin(), findings.end(),
                     [code](const auto& finding) { return std::strcmp(finding.code, code) == 0; });
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
  // Lengths never wrap nor read as negative (as signed 64-bit channel
  // integers), and the impossible ones are told.
  bool impossible = false;
  for (const HidReportLayout& layout : analysis.reports) {
    Check(static_cast<int64_t>(layout.bit_length) >= 0 &&
          layout.ByteLength() > layout.bit_length / 8);
    impossible = impossible || layout.ByteLength() > kHidMaxReportBytes;
  }
  Check(Told(analysis.findings, "impossible-report-length") == impossible);
  // Maps of long inputs only slow the search down (std::map under the sanitizers).
  const bool maps = descriptor.size <= 512;
  if (maps) {
    for (const HidItem& item : analysis.items) Check(IsValidUtf8(HidItemText(item)));
    CheckReplySize(HidReportAnalysisMap(analysis, descriptor, (mode & 0x80) != 0), descriptor.size);
  }
  HidDecodedReport decoded;
  for (HidReportKind kind :
       {HidReportKind::kInput, HidReportKind::kOutput, HidReportKind::kFeature}) {
    DecodeHidReport(analysis, kind, report, &decoded);
    // Raw fields that share a byte each take it whole.
    Check(decoded.values.size() <= std::min<size_t>(report.size * 8, kHidDecodeMaxElements) &&
          decoded.findings.size() <= 3 &&
          decoded.raw_bytes.size() <= report.size + decoded.raw_fields.size());
    // The decoder measures a report by the analysis's length (with the ID
    // byte, or the 0 in front, that a report one byte shorter may lack).
    const uint64_t length = decoded.layout ? decoded.layout->ByteLength() : 0;
    if (decoded.layout && report.size + 1 != length) {
      Check(Told(decoded.findings, "report-too-short") == (report.size + 1 < length));
    }
    if (maps) CheckReplySize(HidDecodedReportMap(decoded), descriptor.size + report.size);
  }
  return 0;
}
