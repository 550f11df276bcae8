// HID report descriptor analysis: the items in order, the report layouts the
// main items build (as the HID 1.11 rules and the Windows HID stack read
// them), and findings about the descriptor's form and about how it agrees with
// what the HID stack and the USB interface say. Report decoding runs on the
// layouts computed here.
#ifndef VEK_HID_REPORT_DESCRIPTOR_H_
#define VEK_HID_REPORT_DESCRIPTOR_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hid/usb_descriptors.h"

namespace vek_native {

enum class HidItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3, kLong = 4 };

// Short item tags by type (HID 1.11 section 6.2.2).
constexpr uint8_t kMainInput = 8;
constexpr uint8_t kMainOutput = 9;
constexpr uint8_t kMainCollection = 10;
constexpr uint8_t kMainFeature = 11;
constexpr uint8_t kMainEndCollection = 12;
constexpr uint8_t kGlobalUsagePage = 0;
constexpr uint8_t kGlobalLogicalMinimum = 1;
constexpr uint8_t kGlobalLogicalMaximum = 2;
constexpr uint8_t kGlobalPhysicalMinimum = 3;
constexpr uint8_t kGlobalPhysicalMaximum = 4;
constexpr uint8_t kGlobalUnitExponent = 5;
constexpr uint8_t kGlobalUnit = 6;
constexpr uint8_t kGlobalReportSize = 7;
constexpr uint8_t kGlobalReportId = 8;
constexpr uint8_t kGlobalReportCount = 9;
constexpr uint8_t kGlobalPush = 10;
constexpr uint8_t kGlobalPop = 11;
constexpr uint8_t kLocalUsage = 0;
constexpr uint8_t kLocalUsageMinimum = 1;
constexpr uint8_t kLocalUsageMaximum = 2;
constexpr uint8_t kLocalDelimiter = 10;

// Main item data bits.
constexpr uint32_t kFlagConstant = 0x01;
constexpr uint32_t kFlagVariable = 0x02;
constexpr uint32_t kFlagRelative = 0x04;
constexpr uint32_t kFlagWrap = 0x08;
constexpr uint32_t kFlagNonLinear = 0x10;
constexpr uint32_t kFlagNoPreferred = 0x20;
constexpr uint32_t kFlagNullState = 0x40;
constexpr uint32_t kFlagVolatile = 0x80;
constexpr uint32_t kFlagBufferedBytes = 0x100;

// One item as it stands in the descriptor: bytes [offset, offset + length).
struct HidItem {
  uint32_t offset = 0;
  uint32_t length = 0;     // bytes present, prefix included
  uint32_t data_size = 0;  // data bytes the prefix declares
  HidItemType type = HidItemType::kMain;
  uint8_t tag = 0;          // the long item's bLongItemTag for long items
  bool truncated = false;   // the descriptor ends inside the item
  uint32_t data = 0;        // data bytes present, little-endian (at most 4)
  uint16_t usage_page = 0;  // Usage Page in effect, for usage names
  uint32_t depth = 0;       // collections open around the item
};

// The item's value: sign-extended for the extents, the unit exponent as its
// signed nibble (or the signed datum when wider), unsigned otherwise.
int64_t HidItemValue(const HidItem& item);

// The item in the conventional one-line form: "Usage Page (Generic
// Desktop)", "Logical Minimum (-127)", "Input (Data,Var,Rel)".
std::string HidItemText(const HidItem& item);

// "Data,Var,Abs" plus the non-default flags (Wrap, NLin, NPrf, Null, Vol,
// Buf); Vol only for Output and Feature.
std::string HidMainFlagsText(uint8_t main_tag, uint32_t flags);

// "Physical", "Application", "Logical", ..., "Vendor-defined 0x80".
std::string HidCollectionKindText(uint32_t kind);

// "SI Linear: Centimeter", "English Rotation: Degrees", "None", ...
std::string HidUnitText(uint32_t unit);

enum class HidReportKind : uint8_t { kInput = 0, kOutput = 1, kFeature = 2 };
constexpr size_t kHidReportKinds = 3;
const char* HidReportKindName(HidReportKind kind);  // "input", "output", "feature"

struct HidCollection {
  uint32_t offset = 0;
  uint32_t kind = 0;    // 0 Physical, 1 Application, 2 Logical, ...
  uint32_t usage = 0;   // extended usage (page << 16 | id), 0 when none
  int32_t parent = -1;  // index in HidReportAnalysis::collections
  uint32_t depth = 0;
  // Top-level collections only: the report byte lengths the Windows HID
  // stack computes (HIDP_CAPS): the longest report of each kind plus the ID
  // byte, which Windows counts also when the descriptor has no IDs; 0 when
  // the collection has no report of that kind.
  std::array<uint32_t, kHidReportKinds> report_byte_length{};
};

// One Usage (minimum == maximum) or Usage Minimum/Maximum range of a field,
// extended (page << 16 | id).
struct HidUsageSpan {
  uint32_t minimum = 0;
  uint32_t maximum = 0;
};

struct HidField {
  uint32_t offset = 0;  // of the main item
  uint8_t main_tag = 0;
  uint32_t flags = 0;
  uint64_t bit_offset = 0;  // from the first bit after the report ID byte
  uint32_t bit_size = 0;
  uint32_t count = 0;
  uint16_t usage_page = 0;       // in effect at the main item
  std::vector<uint32_t> usages;  // extended usages, in order
  bool has_usage_range = false;
  uint32_t usage_minimum = 0;  // extended
  uint32_t usage_maximum = 0;  // extended
  int64_t logical_minimum = 0;
  int64_t logical_maximum = 0;  // read as unsigned when the minimum is not negative
  int64_t physical_minimum = 0;
  int64_t physical_maximum = 0;
  uint32_t unit = 0;
  int32_t unit_exponent = 0;
  int32_t collection = -1;  // innermost collection around the field
  // Every local usage and usage range in the order declared. The elements
  // take them in that order, ranges expanded in place, the last usage
  // repeating (as the Windows HID stack assigns them); `usages` and the range
  // above are the same usages split by form.
  std::vector<HidUsageSpan> usage_spans;

  bool IsConstant() const { return (flags & kFlagConstant) != 0; }
  bool IsVariable() const { return (flags & kFlagVariable) != 0; }
  // Values are signed when the logical minimum is negative.
  bool IsSigned() const { return logical_minimum < 0; }
};

// The usage of element `index` of a variable field: the declared usages
// with ranges expanded in place, the last one repeated (without
// `usage_spans`: the range's next usage up to its maximum, else the listed
// usages with the last one repeated).
uint32_t HidVariableUsage(const HidField& field, uint32_t index);
// The usage an array field's element value selects, or 0 when no control is
// on (out of the logical extent, past the usages, or a page's usage 0).
uint32_t HidArrayUsage(const HidField& field, int64_t value);

// The longest report any HID stack hands over: the report lengths of the
// Windows HID stack's caps are 16-bit. A layout longer than this is an error
// finding ("impossible-report-length"), and the decoder refuses longer reports.
constexpr uint64_t kHidMaxReportBytes = 65535;

// Report bit lengths saturate here, so that they never wrap and their signed
// 64-bit form on the channel is never negative; a layout this long has no
// length that can be told as a number.
constexpr uint64_t kHidSaturatedBitLength = 0x7FFFFFFFFFFFFFFF;

struct HidReportLayout {
  HidReportKind kind = HidReportKind::kInput;
  uint8_t id = 0;
  int32_t top_level = -1;     // index of its top-level collection
  uint32_t first_offset = 0;  // of its first main item
  // After the ID byte; saturates at INT64_MAX, so it never wraps nor reads
  // as negative.
  uint64_t bit_length = 0;
  std::vector<HidField> fields;
  // As Windows hands the report over: the data bytes after the ID byte, which
  // comes first also when the descriptor has no IDs (then 0).
  uint64_t ByteLength() const { return bit_length / 8 + (bit_length % 8 != 0 ? 1 : 0) + 1; }
};

enum class HidSeverity : uint8_t { kError, kWarning, kInfo };
const char* HidSeverityName(HidSeverity severity);  // "error", "warning", "info"

struct HidFinding {
  HidFinding() = default;
  HidFinding(HidSeverity severity_in, uint32_t offset_in, const char* code_in,
             std::string message_in)
      : severity(severity_in), offset(offset_in), code(code_in), message(std::move(message_in)) {}

  HidSeverity severity = HidSeverity::kInfo;
  uint32_t offset = 0;  // into the descriptor
  const char* code = "";
  std::string message;
  // Occurrences this finding stands for: 1, or more when later findings of
  // the same code were folded into it; `offsets` then holds the first
  // kHidFoldedOffsets of them (its own first), else it is empty.
  uint32_t count = 1;
  std::vector<uint32_t> offsets;
};

// A descriptor of 64 KB can repeat one fault thousands of times. The first
// kHidFindingsPerCode findings of a code are kept as they are; every later one
// of that code is folded into one more finding of that code.
constexpr size_t kHidFindingsPerCode = 8;
constexpr size_t kHidFoldedOffsets = 16;

// What is known around the descriptor; every part is optional.
struct HidAnalysisContext {
  // wMaxPacketSize of the interface's interrupt IN endpoint; 0 unknown.
  uint32_t max_packet_size = 0;
  // The HID stack's caps for one top-level collection, found by its usage.
  bool has_caps = false;
  uint16_t caps_usage_page = 0;
  uint16_t caps_usage = 0;
  std::array<uint32_t, kHidReportKinds> caps_report_byte_length{};
  // bInterfaceProtocol of a boot interface (subclass 1): 1 keyboard, 2 mouse;
  // 0 when the interface is not a boot interface or unknown.
  uint8_t boot_protocol = 0;
};

struct HidReportAnalysis {
  std::vector<HidItem> items;
  std::vector<HidCollection> collections;
  std::vector<HidReportLayout> reports;  // in order of first appearance
  std::vector<HidFinding> findings;
  bool uses_report_ids = false;
  // Index in `reports` of the first report of each kind and ID; -1 none.
  std::array<std::array<int32_t, 256>, kHidReportKinds> report_index;

  HidReportAnalysis() {
    for (auto& kind : report_index) kind.fill(-1);
  }
  const HidReportLayout* FindReport(HidReportKind kind, uint8_t id) const;
};

// Items, layouts and findings of `descriptor`. Everything it holds is bounded
// by the descriptor's size; it never reads outside the span.
HidReportAnalysis AnalyzeHidReportDescriptor(ByteSpan descriptor,
                                             const HidAnalysisContext& context);

// One element of a decoded report: a variable field's value, or an array
// field's control that is on.
struct HidDecodedValue {
  uint32_t field = 0;  // index in the layout's fields
  uint32_t usage = 0;  // extended
  int64_t value = 0;
};

// A field given as its bits instead of values: `bytes` [begin, begin + size)
// of HidDecodedReport::raw_bytes hold `bits` bits from the field's first,
// packed little-endian from bit 0 (the last byte's high bits are 0).
struct HidRawField {
  uint32_t field = 0;  // index in the layout's fields
  uint64_t bits = 0;
  size_t begin = 0;
  size_t size = 0;
};

// Bounds of one decoded report, so that a report of any accepted length
// decodes in proportion to its size: values for at most kHidDecodeMaxElements
// elements; a field whose elements do not fit in what is left of that, or
// whose elements are wider than 64 bits, comes as raw bits; the fields after
// the first kHidDecodeMaxFields non-constant ones are not decoded.
constexpr uint64_t kHidDecodeMaxElements = 4096;
constexpr size_t kHidDecodeMaxFields = 1024;

struct HidDecodedReport {
  int32_t report_id = -1;                   // the ID read (0 without IDs)
  const HidReportLayout* layout = nullptr;  // null when the ID is unknown
  std::vector<HidDecodedValue> values;      // in field order
  std::vector<HidFinding> findings;
  std::vector<HidRawField> raw_fields;  // in field order
  std::vector<uint8_t> raw_bytes;
  size_t decoded_fields = 0;        // non-constant fields decoded (or given raw)
  bool refused = false;             // longer than any report of the kind: nothing decoded
  std::vector<uint64_t> span_ends;  // scratch of the array lookup
};

// The longest report of `kind` the decoder accepts: the longest layout of that
// kind with its ID byte (the leading 0 without IDs), at most kHidMaxReportBytes.
uint64_t HidLongestReport(const HidReportAnalysis& analysis, HidReportKind kind);

// Decodes one report of `kind` (with its ID byte when the descriptor has IDs;
// the leading 0 that Windows puts in front of a report without ID is
// recognised and passed over). `out` is cleared first; its buffers are reused.
// A report longer than HidLongestReport is refused: `refused`, one error
// finding "report-longer-than-descriptor", nothing decoded.
void DecodeHidReport(const HidReportAnalysis& analysis, HidReportKind kind, ByteSpan report,
                     HidDecodedReport* out);

}  // namespace vek_native

#endif  // VEK_HID_REPORT_DESCRIPTOR_H_
