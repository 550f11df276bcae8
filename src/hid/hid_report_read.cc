#include "hid/hid_report_read.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/format.h"
#include "hid/hid_devices.h"
#include "hid/reconstruct.h"
#include "hid/report_analysis_map.h"

namespace vek_native {

namespace {

constexpr char kNoDescriptor[] =
    "HID 类驱动给不出该集合的报告描述符（预解析数据与 caps 都不可用），无法解码";

bool HasError(const std::vector<HidFinding>& findings) {
  return std::any_of(findings.begin(), findings.end(),
                     [](const HidFinding& f) { return f.severity == HidSeverity::kError; });
}

// "fields" and "findings" of a decoded report, moved out of its map.
void TakeDecodedParts(const HidDecodedReport& decoded, EncodableValue* fields,
                      EncodableValue* findings) {
  EncodableMap map = std::get<EncodableMap>(HidDecodedReportMap(decoded));
  *fields = std::move(map[EncodableValue("fields")]);
  *findings = std::move(map[EncodableValue("findings")]);
}

class FieldDecoder : public HidInputDecoder {
 public:
  explicit FieldDecoder(const std::vector<uint8_t>& descriptor)
      : analysis_(AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext())) {}

  // "fields" is one Int64List of (usage, value) pairs: an 8 kHz stream cannot
  // afford a map per value (building and encoding decodeHidReport's form of a
  // mouse report costs some 15 us, this well under 1 us); the user interface
  // names the usages once, from the collection's layout.
  void AddFields(const uint8_t* report, size_t size, EncodableMap* event) override {
    DecodeStackReport(analysis_, HidReportKind::kInput, ByteSpan(report, size), &decoded_);
    std::vector<int64_t> pairs;
    // A report that does not fit the layout gets what is wrong with it, not
    // values read from the wrong bits. Other findings (Windows pads every
    // report of a collection to its longest) are the stream's normal state.
    if (HasError(decoded_.findings)) {
      decoded_.layout = nullptr;
      EncodableValue fields;
      EncodableValue findings;
      TakeDecodedParts(decoded_, &fields, &findings);
      event->emplace(EncodableValue("findings"), std::move(findings));
    } else {
      pairs.reserve(decoded_.values.size() * 2);
      for (const HidDecodedValue& value : decoded_.values) {
        pairs.push_back(value.usage);
        pairs.push_back(value.value);
      }
    }
    event->emplace(EncodableValue("fields"), EncodableValue(std::move(pairs)));
  }

 private:
  const HidReportAnalysis analysis_;
  HidDecodedReport decoded_;  // its buffers are reused from report to report
};

const char* CallName(HidReportKind kind) {
  return kind == HidReportKind::kFeature ? "HidD_GetFeature" : "HidD_GetInputReport";
}

const char* KindName(HidReportKind kind) {
  return kind == HidReportKind::kFeature ? "Feature 报告" : "Input 报告";
}

}  // namespace

void DecodeStackReport(const HidReportAnalysis& analysis, HidReportKind kind, ByteSpan report,
                       HidDecodedReport* out) {
  // Without IDs the ID byte is Windows' 0, not part of the report; passing it
  // over here keeps a short report's bytes where the layout has them.
  if (!analysis.uses_report_ids && report.size > 0)
    report = ByteSpan(report.data + 1, report.size - 1);
  DecodeHidReport(analysis, kind, report, out);
}

bool ReadHidReport(HidDeviceApi& api, const std::string& path, HidReportKind kind,
                   uint8_t report_id, bool decode, EncodableValue* reply, std::string* message) {
  if (path.empty()) {
    *message = "HID 设备路径为空";
    return false;
  }
  std::unique_ptr<HidDevice> device = OpenHidDevice(api, path, message, true);
  if (!device || !ConfirmHidCollection(*device, message)) return false;
  HidCaps caps;
  const bool feature = kind == HidReportKind::kFeature;
  const uint16_t length = !ReadHidCaps(*device, &caps) ? 0
                          : feature                    ? caps.feature_report_byte_length
                                                       : caps.input_report_byte_length;
  if (length == 0) {
    *message = std::string("该集合没有 ") + KindName(kind) + "（caps 中的报告长度为 0 或读不到）";
    return false;
  }

  std::vector<uint8_t> buffer(length, 0);
  buffer[0] = report_id;
  uint32_t transferred = 0;
  uint32_t error = 0;
  const bool ok =
      feature ? device->GetFeature(&buffer, kHidGetReportTimeoutMs, &transferred, &error)
              : device->GetInputReport(&buffer, kHidGetReportTimeoutMs, &transferred, &error);
  const std::string what = std::string(CallName(kind)) + " 读取 ID 为 " +
                           std::to_string(report_id) + " 的 " + KindName(kind);
  if (!ok) {
    *message = FormatWin32Failure(what, error);
    return false;
  }
  // The driver counts the bytes after Windows' 0 when the report has no ID.
  const size_t answered = std::min<size_t>(size_t{transferred} + (report_id == 0 ? 1 : 0), length);
  if (transferred == 0) {
    *message = what + "：设备没有返回任何数据";
    return false;
  }
  buffer.resize(answered);  // never the buffer's unanswered rest

  EncodableMap map{{EncodableValue("reportId"), EncodableValue(int64_t{report_id})}};
  if (decode) {
    HidDecodedReport decoded;
    const std::vector<uint8_t> descriptor = CollectionReportDescriptor(*device);
    HidReportAnalysis analysis;
    if (descriptor.empty()) {
      decoded.report_id = report_id;
      decoded.findings.push_back({HidSeverity::kError, 0, "no-descriptor", kNoDescriptor});
    } else {
      analysis = AnalyzeHidReportDescriptor(descriptor, HidAnalysisContext());
      DecodeStackReport(analysis, kind, buffer, &decoded);
    }
    EncodableValue fields;
    EncodableValue findings;
    TakeDecodedParts(decoded, &fields, &findings);
    map[EncodableValue("fields")] = std::move(fields);
    map[EncodableValue("findings")] = std::move(findings);
  }
  map[EncodableValue("data")] = EncodableValue(std::move(buffer));
  *reply = EncodableValue(std::move(map));
  return true;
}

std::unique_ptr<HidInputDecoder> MakeHidInputDecoder(HidDevice& device, std::string* message) {
  const std::vector<uint8_t> descriptor = CollectionReportDescriptor(device);
  if (descriptor.empty()) {
    *message = kNoDescriptor;
    return nullptr;
  }
  return MakeDescriptorInputDecoder(descriptor);
}

std::unique_ptr<HidInputDecoder> MakeDescriptorInputDecoder(
    const std::vector<uint8_t>& descriptor) {
  return std::make_unique<FieldDecoder>(descriptor);
}

}  // namespace vek_native
