// Feeds arbitrary bytes to the report descriptor analysis, its channel map and
// the report decoder. The first byte picks the context (packet size, boot
// protocol, caps); of the rest, the last quarter is a report decoded with the
// descriptor the first three quarters make. Items must tile the descriptor,
// findings point into it, texts stay UTF-8, decoding stays within the report,
// no length wraps or reads as negative, the decoder measures a report by the
// analysis's length, and the encoded replies stay within a fixed factor of
// the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "channels/standard_codec.h"
#include "common/text.h"
#include "hid/report_analysis_map.h"
#include "hid/report_descriptor.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Encoded reply bytes per input byte, beyond a fixed allowance: a two-byte
// "81 02" costs two item maps and a field map, a report byte up to eight
// one-bit values.
constexpr size_t kReplyPerByte = 400;
constexpr size_t kReplyAllowance = 64 * 1024;

bool Told(const std::vector<vek_native::HidFinding>& findings, const char* code) {
  for (const vek_native::HidFinding& finding : findings) {
    if (std::strcmp(finding.code, code) == 0) return true;
  }
  return false;
}

size_t EncodedSize(const vek_native::EncodableValue& value) {
  return vek_native::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(&value)->size();
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
  // Lengths never wrap nor read as negative, not even in a collection's
  // length, and the impossible ones are told.
  bool impossible = false;
  for (const HidReportLayout& layout : analysis.reports) {
    Check(layout.bit_length <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) &&
          layout.ByteLength() > layout.bit_length / 8);
    impossible = impossible || layout.ByteLength() > kHidMaxReportBytes;
    Check(layout.top_level < 0 || analysis.collections[static_cast<size_t>(layout.top_level)]
                                          .report_byte_length[static_cast<size_t>(layout.kind)] >=
                                      std::min<uint64_t>(layout.ByteLength(), 0xFFFFFFFFu));
  }
  Check(Told(analysis.findings, "impossible-report-length") == impossible);
  // Maps of long inputs only slow the search down (std::map under the sanitizers).
  const bool maps = descriptor.size <= 512;
  if (maps) {
    for (const HidItem& item : analysis.items) Check(IsValidUtf8(HidItemText(item)));
    const size_t reply =
        EncodedSize(HidReportAnalysisMap(analysis, descriptor, (mode & 0x80) != 0));
    Check(reply <= kReplyPerByte * descriptor.size + kReplyAllowance);
  }
  HidDecodedReport decoded;
  for (HidReportKind kind :
       {HidReportKind::kInput, HidReportKind::kOutput, HidReportKind::kFeature}) {
    DecodeHidReport(analysis, kind, report, &decoded);
    Check(decoded.values.size() <= report.size * 8 && decoded.findings.size() <= 3);
    // Raw fields that share a byte each take it whole.
    Check(decoded.values.size() <= kHidDecodeMaxElements &&
          decoded.raw_bytes.size() <= report.size + decoded.raw_fields.size());
    if (decoded.layout) {
      // The decoder's "should have N bytes" is the analysis's length.
      const uint64_t expected = decoded.layout->ByteLength() - 1;
      const bool zero_in_front =
          !analysis.uses_report_ids && report.size == expected + 1 && report.data[0] == 0;
      const uint64_t payload = report.size - (analysis.uses_report_ids || zero_in_front ? 1 : 0);
      Check(Told(decoded.findings, "report-too-short") == (payload < expected));
    }
    if (maps) {
      const size_t reply = EncodedSize(HidDecodedReportMap(decoded));
      Check(reply <= kReplyPerByte * (descriptor.size + report.size) + kReplyAllowance);
    }
  }
  return 0;
}
