#include "hid/report_descriptor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <unordered_map>
#include <utility>

#include "common/format.h"
#include "hid/hid_usage_names.h"

namespace vek_native {

namespace {

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint32_t kShortDataSizes[4] = {0, 1, 2, 4};
constexpr int32_t kIdUnseen = -2;

// Two's complement of the low `size` bytes, without implementation-defined
// narrowing.
int64_t SignExtend(uint32_t data, uint32_t size) {
  if (size == 0) return 0;
  if (size >= 4) return data >= 0x80000000u ? static_cast<int64_t>(data) - 0x100000000LL : data;
  const uint32_t bits = size * 8;
  const uint32_t value = data & ((1u << bits) - 1);
  const uint32_t sign = 1u << (bits - 1);
  return (value & sign) ? static_cast<int64_t>(value) - (int64_t{1} << bits) : value;
}

// The unsigned reading of a value that was written as a signed datum of
// `size` bytes (a negative value has at least one).
int64_t UnsignedReading(int64_t value, uint32_t size) {
  return value & ((int64_t{1} << (size * 8)) - 1);
}

const char* MainName(uint8_t tag) {
  switch (tag) {
    case kMainInput:
      return "Input";
    case kMainOutput:
      return "Output";
    case kMainCollection:
      return "Collection";
    case kMainFeature:
      return "Feature";
    case kMainEndCollection:
      return "End Collection";
    default:
      return "Reserved Main";
  }
}

const char* GlobalName(uint8_t tag) {
  static const char* const kNames[] = {"Usage Page",
                                       "Logical Minimum",
                                       "Logical Maximum",
                                       "Physical Minimum",
                                       "Physical Maximum",
                                       "Unit Exponent",
                                       "Unit",
                                       "Report Size",
                                       "Report ID",
                                       "Report Count",
                                       "Push",
                                       "Pop"};
  return tag < 12 ? kNames[tag] : "Reserved Global";
}

const char* LocalName(uint8_t tag) {
  static const char* const kNames[] = {"Usage",
                                       "Usage Minimum",
                                       "Usage Maximum",
                                       "Designator Index",
                                       "Designator Minimum",
                                       "Designator Maximum",
                                       nullptr,
                                       "String Index",
                                       "String Minimum",
                                       "String Maximum",
                                       "Delimiter"};
  return tag < 11 && kNames[tag] ? kNames[tag] : "Reserved Local";
}

const char* ItemName(const HidItem& item) {
  switch (item.type) {
    case HidItemType::kMain:
      return MainName(item.tag);
    case HidItemType::kGlobal:
      return GlobalName(item.tag);
    case HidItemType::kLocal:
      return LocalName(item.tag);
    case HidItemType::kReserved:
      return "Reserved";
    case HidItemType::kLong:
      return "Long Item";
  }
  return "Reserved";
}

bool IsReservedTag(const HidItem& item) {
  switch (item.type) {
    case HidItemType::kMain:
      return item.tag < kMainInput || item.tag > kMainEndCollection;
    case HidItemType::kGlobal:
      return item.tag > kGlobalPop;
    case HidItemType::kLocal:
      return item.tag == 6 || item.tag > kLocalDelimiter;
    default:
      return true;
  }
}

// A usage as an item states it: with its own page when it is 4 bytes long.
std::string UsageItemText(const HidItem& item) {
  if (item.data_size == 4) {
    const uint16_t page = static_cast<uint16_t>(item.data >> 16);
    return UsagePageText(page) + ": " + UsageText(page, static_cast<uint16_t>(item.data));
  }
  return UsageText(item.usage_page, static_cast<uint16_t>(item.data));
}

int32_t SignedNibble(uint32_t nibble) {
  return nibble >= 8 ? static_cast<int32_t>(nibble) - 16 : static_cast<int32_t>(nibble);
}

std::string Number(int64_t value) { return std::to_string(value); }

std::string Hex4(uint32_t value) { return "0x" + HexDigits(value, 4, true); }

std::string ExtendedUsageText(uint32_t usage) {
  return UsagePageText(static_cast<uint16_t>(usage >> 16)) + " " +
         UsageText(static_cast<uint16_t>(usage >> 16), static_cast<uint16_t>(usage));
}

// The tags before Push (Usage Page ... Report Count) carry a value.
struct Globals {
  std::array<int64_t, kGlobalPush> value{};
  std::array<uint8_t, kGlobalPush> size{};
  std::array<uint32_t, kGlobalPush> offset{};  // of the item that set the value
  uint16_t set = 0;
  bool Has(uint8_t tag) const { return ((set >> tag) & 1) != 0; }
};

struct LocalUsage {
  uint32_t value;
  bool extended;  // 4 bytes long: the page is its own
};

// A Usage, or a Usage Minimum/Maximum pair as far as it has come.
struct LocalSpan {
  LocalUsage minimum;
  LocalUsage maximum;
  bool range;  // from Usage Minimum/Maximum
  bool has_minimum;
  bool has_maximum;
};

struct Locals {
  static constexpr size_t kNoRange = std::numeric_limits<size_t>::max();
  std::vector<LocalSpan> spans;  // in the order declared
  size_t open_range = kNoRange;  // the range item waiting for its other end
  bool in_delimiter = false;
  bool delimiter_usage_taken = false;
  uint32_t delimiter_offset = 0;

  void Clear() {
    spans.clear();
    open_range = kNoRange;
  }
  // Usage Minimum (`minimum`) or Maximum: the other end of the open range
  // when it lacks this one, else the start of a new range.
  void AddRangeEnd(const LocalUsage& usage, bool minimum) {
    LocalSpan* open = open_range != kNoRange ? &spans[open_range] : nullptr;
    if (!open || (minimum ? open->has_minimum : open->has_maximum)) {
      open_range = spans.size();
      spans.push_back({LocalUsage{}, LocalUsage{}, true, false, false});
      open = &spans.back();
    } else {
      open_range = kNoRange;
    }
    (minimum ? open->minimum : open->maximum) = usage;
    (minimum ? open->has_minimum : open->has_maximum) = true;
  }
};

class Analyzer {
 public:
  Analyzer(ByteSpan bytes, const HidAnalysisContext& context, HidReportAnalysis* out)
      : bytes_(bytes), context_(context), out_(*out) {
    id_top_level_.fill(kIdUnseen);
  }

  void Run() {
    out_.items.reserve(bytes_.size / 2 + 1);
    size_t at = 0;
    while (at < bytes_.size) {
      HidItem item = Split(at);
      item.usage_page = static_cast<uint16_t>(globals_.value[kGlobalUsagePage]);
      item.depth = static_cast<uint32_t>(open_.size());
      if (item.truncated) {
        Add(HidSeverity::kError, item.offset, "truncated-item",
            std::string("条目 ") + ItemName(item) + " 声明 " + Number(item.data_size) +
                " 个数据字节，描述符只剩 " + Number(item.length - HeaderLength(item)) +
                " 字节（条目被截断）");
      } else {
        Process(item);
      }
      if (item.type == HidItemType::kMain && item.tag == kMainEndCollection && item.depth > 0 &&
          !item.truncated) {
        --item.depth;
      }
      at += item.length;
      out_.items.push_back(item);
    }
    Finish();
  }

 private:
  static uint32_t HeaderLength(const HidItem& item) {
    return item.type == HidItemType::kLong ? std::min<uint32_t>(3, item.length) : 1;
  }

  HidItem Split(size_t at) const {
    HidItem item;
    item.offset = static_cast<uint32_t>(at);
    const size_t left = bytes_.size - at;
    const uint8_t prefix = bytes_.data[at];
    size_t header = 1;
    size_t total = 0;
    if (prefix == kLongItemPrefix) {
      item.type = HidItemType::kLong;
      header = 3;
      if (left >= 2) item.data_size = bytes_.data[at + 1];
      if (left >= 3) item.tag = bytes_.data[at + 2];
      total = header + item.data_size;
    } else {
      item.type = static_cast<HidItemType>((prefix >> 2) & 3);
      item.tag = static_cast<uint8_t>(prefix >> 4);
      item.data_size = kShortDataSizes[prefix & 3];
      total = header + item.data_size;
    }
    item.truncated = total > left;
    item.length = static_cast<uint32_t>(std::min(total, left));
    const size_t present = item.length - std::min<size_t>(item.length, header);
    for (size_t i = 0; i < present && i < 4; ++i) {
      item.data |= static_cast<uint32_t>(bytes_.data[at + header + i]) << (8 * i);
    }
    return item;
  }

  // Findings beyond kHidFindingsPerCode of one code fold into one more.
  void Add(HidSeverity severity, uint32_t offset, const char* code, std::string message) {
    auto tally = std::find_if(tallies_.begin(), tallies_.end(), [code](const CodeTally& t) {
      return std::strcmp(t.code, code) == 0;
    });
    if (tally == tallies_.end()) tally = tallies_.insert(tallies_.end(), {code, 0, -1});
    if (++tally->seen > kHidFindingsPerCode && tally->folded >= 0) {
      HidFinding& folded = out_.findings[static_cast<size_t>(tally->folded)];
      ++folded.count;
      if (folded.offsets.size() < kHidFoldedOffsets) folded.offsets.push_back(offset);
      return;
    }
    if (tally->seen > kHidFindingsPerCode) {
      tally->folded = static_cast<int64_t>(out_.findings.size());
    }
    out_.findings.push_back({severity, offset, code, std::move(message)});
    if (tally->folded >= 0) out_.findings.back().offsets.push_back(offset);
  }

  // Only once a finding stops growing can its text say how many it stands for.
  void WordFoldedFindings() {
    for (const CodeTally& tally : tallies_) {
      if (tally.folded < 0) continue;
      HidFinding& folded = out_.findings[static_cast<size_t>(tally.folded)];
      folded.message += "（同类问题从这里起共 " + Number(folded.count) + " 处，前 " +
                        Number(static_cast<int64_t>(kHidFindingsPerCode)) +
                        " 处已逐条列出，其余合并为这一条）";
    }
  }

  void Process(const HidItem& item) {
    if (item.type == HidItemType::kLong) {
      Add(HidSeverity::kWarning, item.offset, "long-item",
          "长条目（标签 0x" + HexDigits(item.tag, 2, true) + "，" + Number(item.data_size) +
              " 个数据字节）：HID 1.11 没有定义任何长条目，主机的解析器会忽略或拒绝它");
      return;
    }
    if (IsReservedTag(item)) {
      Add(HidSeverity::kWarning, item.offset, "reserved-item",
          "保留的条目类型或标签（前缀字节 0x" + HexDigits(bytes_.data[item.offset], 2, true) +
              "）：HID 1.11 没有定义它，主机的解析器会忽略或拒绝它");
      if (item.type == HidItemType::kMain) locals_.Clear();
      return;
    }
    switch (item.type) {
      case HidItemType::kMain:
        Main(item);
        break;
      case HidItemType::kGlobal:
        Global(item);
        break;
      case HidItemType::kLocal:
        Local(item);
        break;
      default:
        break;
    }
  }

  void Main(const HidItem& item) {
    if (locals_.in_delimiter) {
      Add(HidSeverity::kError, locals_.delimiter_offset, "unbalanced-delimiter",
          "Delimiter (Open) 在下一个主条目之前没有对应的 Delimiter (Close)");
      locals_.in_delimiter = false;
    }
    switch (item.tag) {
      case kMainCollection:
        OpenCollection(item);
        break;
      case kMainEndCollection:
        if (open_.empty()) {
          Add(HidSeverity::kError, item.offset, "end-collection-without-collection",
              "End Collection 没有对应的 Collection");
        } else {
          open_.pop_back();
        }
        break;
      default:
        AddField(item);
        break;
    }
    locals_.Clear();
  }

  uint32_t Resolve(const LocalUsage& usage) const {
    if (usage.extended) return usage.value;
    return (static_cast<uint32_t>(static_cast<uint16_t>(globals_.value[kGlobalUsagePage])) << 16) |
           (usage.value & 0xFFFF);
  }

  bool NeedsUsagePage() const {
    if (globals_.Has(kGlobalUsagePage)) return false;
    for (const LocalSpan& span : locals_.spans) {
      if ((span.has_minimum && !span.minimum.extended) ||
          (span.has_maximum && !span.maximum.extended)) {
        return true;
      }
    }
    return false;
  }

  void OpenCollection(const HidItem& item) {
    if (NeedsUsagePage()) {
      Add(HidSeverity::kError, item.offset, "missing-usage-page",
          "Collection 之前没有设置 Usage Page，它的用法没有用法页");
    }
    HidCollection collection;
    collection.offset = item.offset;
    collection.kind = item.data;
    for (const LocalSpan& span : locals_.spans) {
      if (span.range) continue;
      collection.usage = Resolve(span.minimum);
      break;
    }
    collection.parent = open_.empty() ? -1 : open_.back();
    collection.depth = static_cast<uint32_t>(open_.size());
    open_.push_back(static_cast<int32_t>(out_.collections.size()));
    out_.collections.push_back(collection);
  }

  void AddField(const HidItem& item) {
    const HidReportKind kind = item.tag == kMainInput    ? HidReportKind::kInput
                               : item.tag == kMainOutput ? HidReportKind::kOutput
                                                         : HidReportKind::kFeature;
    const std::string name = MainName(item.tag);
    HidField field;
    field.offset = item.offset;
    field.main_tag = item.tag;
    field.flags = item.data;
    const bool constant = field.IsConstant();

    if (!globals_.Has(kGlobalReportSize)) {
      Add(HidSeverity::kError, item.offset, "missing-report-size",
          name + " 之前没有设置 Report Size，字段的位宽未知（按 0 计）");
    } else if (globals_.value[kGlobalReportSize] == 0) {
      Add(HidSeverity::kWarning, item.offset, "zero-report-size",
          name + " 的 Report Size 为 0，该字段不占任何位");
    }
    if (!globals_.Has(kGlobalReportCount)) {
      Add(HidSeverity::kError, item.offset, "missing-report-count",
          name + " 之前没有设置 Report Count，字段个数未知（按 0 计）");
    } else if (globals_.value[kGlobalReportCount] == 0) {
      Add(HidSeverity::kWarning, item.offset, "zero-report-count",
          name + " 的 Report Count 为 0，该字段不占任何位");
    }
    if (!constant && NeedsUsagePage()) {
      Add(HidSeverity::kError, item.offset, "missing-usage-page",
          name + " 之前没有设置 Usage Page，字段的用法没有用法页");
    }
    field.bit_size = static_cast<uint32_t>(globals_.value[kGlobalReportSize]);
    field.count = static_cast<uint32_t>(globals_.value[kGlobalReportCount]);
    field.usage_page = static_cast<uint16_t>(globals_.value[kGlobalUsagePage]);
    Usages(item, &field);
    Extents(item, name, &field);
    field.unit = static_cast<uint32_t>(globals_.value[kGlobalUnit]);
    field.unit_exponent = static_cast<int32_t>(globals_.value[kGlobalUnitExponent]);
    field.collection = open_.empty() ? -1 : open_.back();

    const bool has_id = globals_.Has(kGlobalReportId);
    const uint8_t id = has_id ? static_cast<uint8_t>(globals_.value[kGlobalReportId]) : 0;
    if (!has_id && first_without_id_ < 0) first_without_id_ = item.offset;
    const int32_t top_level = open_.empty() ? -1 : open_.front();
    if (open_.empty()) {
      Add(HidSeverity::kError, item.offset, "main-item-outside-collection",
          name + " 不在任何 Collection 之内，Windows 不会把它归入任何顶层集合");
    }
    if (has_id) {
      if (id_top_level_[id] == kIdUnseen) {
        id_top_level_[id] = top_level;
      } else if (id_top_level_[id] != top_level && !id_reported_[id]) {
        id_reported_[id] = true;
        Add(HidSeverity::kError, item.offset, "report-id-in-two-collections",
            "报告 ID " + Number(id) +
                " 出现在两个顶层集合中：Windows 按报告 ID 把报告分给集合，无法确定它属于哪一个");
      }
    }

    HidReportLayout& report = ReportFor(top_level, kind, id, item.offset);
    field.bit_offset = report.bit_length;
    // Two 32-bit globals multiply without overflow; the sum saturates.
    const uint64_t bits = static_cast<uint64_t>(field.bit_size) * field.count;
    report.bit_length += std::min(bits, kHidSaturatedBitLength - report.bit_length);
    report.fields.push_back(std::move(field));
  }

  // The field's usages in declared order, and the findings about its ranges.
  void Usages(const HidItem& item, HidField* field) {
    field->usage_spans.reserve(locals_.spans.size());
    for (const LocalSpan& span : locals_.spans) {
      if (!span.has_minimum || !span.has_maximum) continue;  // half a range names nothing
      const HidUsageSpan usages{Resolve(span.minimum), Resolve(span.maximum)};
      field->usage_spans.push_back(usages);
      if (!span.range) {
        field->usages.push_back(usages.minimum);
        continue;
      }
      field->has_usage_range = true;
      field->usage_minimum = usages.minimum;
      field->usage_maximum = usages.maximum;
      if ((usages.minimum >> 16) != (usages.maximum >> 16)) {
        Add(HidSeverity::kError, item.offset, "usage-range-across-pages",
            "Usage Minimum（" + ExtendedUsageText(usages.minimum) + "）与 Usage Maximum（" +
                ExtendedUsageText(usages.maximum) +
                "）不在同一个用法页：一个用法范围不能跨页，主机无法确定它包含哪些用法");
      } else if (usages.minimum > usages.maximum) {
        Add(HidSeverity::kError, item.offset, "usage-minimum-above-maximum",
            "Usage Minimum（" + ExtendedUsageText(usages.minimum) + "）大于 Usage Maximum（" +
                ExtendedUsageText(usages.maximum) + "），该用法范围是空的");
      }
    }
  }

  // Logical and physical extents, and the findings about them.
  void Extents(const HidItem& item, const std::string& name, HidField* field) {
    const int64_t logical_min = globals_.value[kGlobalLogicalMinimum];
    const int64_t logical_max = globals_.value[kGlobalLogicalMaximum];
    const uint32_t max_size = globals_.size[kGlobalLogicalMaximum];
    // Linux reads the maximum as unsigned when the minimum is not negative,
    // which is what a device writing 0..255 as "25 FF" means (a maximum that
    // is not negative reads the same either way).
    field->logical_minimum = logical_min;
    field->logical_maximum =
        logical_min >= 0 ? UnsignedReading(logical_max, max_size) : logical_max;
    const int64_t physical_max = globals_.value[kGlobalPhysicalMaximum];
    field->physical_minimum = globals_.value[kGlobalPhysicalMinimum];
    field->physical_maximum =
        field->physical_minimum >= 0
            ? UnsignedReading(physical_max, globals_.size[kGlobalPhysicalMaximum])
            : physical_max;
    if (field->IsConstant()) return;
    if (!globals_.Has(kGlobalLogicalMinimum) || !globals_.Has(kGlobalLogicalMaximum)) return;
    if (logical_min > logical_max) {
      if (!FirstTold(1)) return;
      std::string message =
          "逻辑最小值 " + Number(logical_min) + " 大于逻辑最大值 " + Number(logical_max);
      if (field->logical_maximum >= logical_min) {
        message += "：最大值按有符号数写成，Windows 读作 " + Number(logical_max) +
                   "，Linux 读作无符号的 " + Number(field->logical_maximum) +
                   "；应把它写成更长的正数";
        Add(HidSeverity::kWarning, globals_.offset[kGlobalLogicalMaximum],
            "logical-minimum-above-maximum", std::move(message));
      } else {
        Add(HidSeverity::kError, globals_.offset[kGlobalLogicalMaximum],
            "logical-minimum-above-maximum", std::move(message));
      }
      return;
    }
    const uint32_t size = field->bit_size;
    if (size == 0 || size >= 32) return;
    const bool negative = field->logical_minimum < 0;
    const int64_t low = negative ? -(int64_t{1} << (size - 1)) : 0;
    const int64_t high = negative ? (int64_t{1} << (size - 1)) - 1 : (int64_t{1} << size) - 1;
    if ((field->logical_minimum < low || field->logical_maximum > high) && FirstTold(0)) {
      Add(HidSeverity::kWarning, item.offset, "extent-exceeds-report-size",
          name + " 的逻辑范围 " + Number(field->logical_minimum) + " 到 " +
              Number(field->logical_maximum) + " 超出 Report Size " + Number(size) +
              " 位能表示的范围（" + Number(low) + " 到 " + Number(high) + "）");
    }
  }

  // An extent finding is told once per combination of the items involved, not
  // for every main item that inherits them.
  bool FirstTold(uint32_t kind) {
    return told_extents_
        .insert({globals_.offset[kGlobalLogicalMinimum], globals_.offset[kGlobalLogicalMaximum],
                 globals_.offset[kGlobalReportSize], kind})
        .second;
  }

  HidReportLayout& ReportFor(int32_t top_level, HidReportKind kind, uint8_t id, uint32_t offset) {
    const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(top_level + 1)) << 16) |
                         (static_cast<uint64_t>(kind) << 8) | id;
    auto found = report_by_key_.find(key);
    if (found != report_by_key_.end()) return out_.reports[found->second];
    report_by_key_.emplace(key, out_.reports.size());
    HidReportLayout report;
    report.kind = kind;
    report.id = id;
    report.top_level = top_level;
    report.first_offset = offset;
    out_.reports.push_back(std::move(report));
    return out_.reports.back();
  }

  void Global(const HidItem& item) {
    if (item.tag == kGlobalPush) {
      stack_.push_back(globals_);
      return;
    }
    if (item.tag == kGlobalPop) {
      if (stack_.empty()) {
        Add(HidSeverity::kError, item.offset, "pop-without-push",
            "Pop 之前没有 Push：全局条目栈是空的");
      } else {
        globals_ = stack_.back();
        stack_.pop_back();
      }
      return;
    }
    int64_t value = HidItemValue(item);
    if (item.tag == kGlobalUsagePage) value &= 0xFFFF;
    if (item.tag == kGlobalReportId) {
      out_.uses_report_ids = true;
      if (value == 0) {
        Add(HidSeverity::kError, item.offset, "report-id-zero",
            "Report ID 不能为 0：0 留给不使用报告 ID 的设备");
      } else if (value > 255) {
        Add(HidSeverity::kError, item.offset, "report-id-out-of-range",
            "Report ID " + Number(value) + " 超出 1 到 255 的范围");
      }
    }
    if (globals_.Has(item.tag) && globals_.value[item.tag] == value) {
      Add(HidSeverity::kInfo, item.offset, "redundant-global",
          std::string(GlobalName(item.tag)) + " 再次设为当前值 " + Number(value) +
              "，这一条目可以删去");
    }
    globals_.value[item.tag] = value;
    globals_.size[item.tag] = static_cast<uint8_t>(item.data_size);
    globals_.offset[item.tag] = item.offset;
    globals_.set = static_cast<uint16_t>(globals_.set | (1u << item.tag));
  }

  void Local(const HidItem& item) {
    const LocalUsage usage{item.data, item.data_size == 4};
    switch (item.tag) {
      case kLocalUsage:
        // Within a delimited set the first usage counts; the rest are aliases.
        if (locals_.in_delimiter) {
          if (locals_.delimiter_usage_taken) return;
          locals_.delimiter_usage_taken = true;
        }
        locals_.spans.push_back({usage, usage, false, true, true});
        break;
      case kLocalUsageMinimum:
      case kLocalUsageMaximum:
        locals_.AddRangeEnd(usage, item.tag == kLocalUsageMinimum);
        break;
      case kLocalDelimiter:
        if (item.data != 0) {
          if (locals_.in_delimiter) {
            Add(HidSeverity::kError, item.offset, "unbalanced-delimiter",
                "Delimiter (Open) 不能嵌套：前一个 Delimiter (Open) 还没有关闭");
          }
          locals_.in_delimiter = true;
          locals_.delimiter_usage_taken = false;
          locals_.delimiter_offset = item.offset;
        } else if (!locals_.in_delimiter) {
          Add(HidSeverity::kError, item.offset, "unbalanced-delimiter",
              "Delimiter (Close) 之前没有 Delimiter (Open)");
        } else {
          locals_.in_delimiter = false;
        }
        break;
      default:
        break;  // designators and strings do not shape the reports
    }
  }

  void Finish() {
    for (const int32_t index : open_) {
      const HidCollection& collection = out_.collections[static_cast<size_t>(index)];
      Add(HidSeverity::kError, collection.offset, "unclosed-collection",
          "Collection（" + HidCollectionKindText(collection.kind) +
              "）没有对应的 End Collection，描述符结束时它仍未关闭");
    }
    if (locals_.in_delimiter) {
      Add(HidSeverity::kError, locals_.delimiter_offset, "unbalanced-delimiter",
          "Delimiter (Open) 到描述符结束都没有对应的 Delimiter (Close)");
    }
    if (out_.uses_report_ids && first_without_id_ >= 0) {
      Add(HidSeverity::kError, static_cast<uint32_t>(first_without_id_), "mixed-report-ids",
          "描述符使用了报告 ID，但这个主条目出现在任何 Report ID 之前，它的报告没有 ID");
    }
    for (size_t i = 0; i < out_.reports.size(); ++i) {
      const HidReportLayout& report = out_.reports[i];
      int32_t& index = out_.report_index[static_cast<size_t>(report.kind)][report.id];
      if (index < 0) index = static_cast<int32_t>(i);
      if (report.top_level < 0) continue;
      uint32_t& length = out_.collections[static_cast<size_t>(report.top_level)]
                             .report_byte_length[static_cast<size_t>(report.kind)];
      const uint64_t bytes = std::min<uint64_t>(report.ByteLength(), 0xFFFFFFFFu);
      length = std::max(length, static_cast<uint32_t>(bytes));
    }
    CheckReportLengths();
    CheckPacketSize();
    CheckCaps();
    CheckBootLayout();
    WordFoldedFindings();
  }

  void CheckReportLengths() {
    static const char* const kKindTexts[] = {"输入", "输出", "特性"};
    for (const HidReportLayout& report : out_.reports) {
      if (report.ByteLength() <= kHidMaxReportBytes) continue;
      const std::string length = report.bit_length == kHidSaturatedBitLength
                                     ? std::string("超出 64 位整数的范围")
                                     : "为 " + Number(static_cast<int64_t>(report.ByteLength())) +
                                           " 字节（含报告 ID 字节）";
      Add(HidSeverity::kError, report.first_offset, "impossible-report-length",
          std::string(kKindTexts[static_cast<size_t>(report.kind)]) + "报告" +
              (out_.uses_report_ids ? "（ID " + Number(report.id) + "）" : std::string()) +
              "的长度" + length + "，超过 HID 协议栈能表示的 " +
              Number(static_cast<int64_t>(kHidMaxReportBytes)) +
              " 字节（Windows 的报告长度只有 16 位）：这样的报告无法传送");
    }
  }

  void CheckPacketSize() {
    if (context_.max_packet_size == 0) return;
    for (const HidReportLayout& report : out_.reports) {
      if (report.kind != HidReportKind::kInput) continue;
      const uint64_t wire = (report.bit_length + 7) / 8 + (out_.uses_report_ids ? 1 : 0);
      if (wire <= context_.max_packet_size) continue;
      Add(HidSeverity::kWarning, report.first_offset, "report-exceeds-packet",
          "输入报告" + (out_.uses_report_ids ? "（ID " + Number(report.id) + "）" : std::string()) +
              "在总线上长 " + Number(static_cast<int64_t>(wire)) +
              " 字节，超过中断输入端点的最大包长 " + Number(context_.max_packet_size) +
              " 字节，一个报告要分成多个事务传输");
    }
  }

  void CheckCaps() {
    if (!context_.has_caps) return;
    const uint32_t usage =
        (static_cast<uint32_t>(context_.caps_usage_page) << 16) | context_.caps_usage;
    const HidCollection* match = nullptr;
    for (const HidCollection& collection : out_.collections) {
      if (collection.parent < 0 && collection.usage == usage) {
        match = &collection;
        break;
      }
    }
    if (!match) {
      Add(HidSeverity::kWarning, 0, "caps-collection-missing",
          "描述符中没有与 HID 协议栈的集合（用法页 " + Hex4(context_.caps_usage_page) + "，用法 " +
              Hex4(context_.caps_usage) + "）对应的顶层集合");
      return;
    }
    static const char* const kKindTexts[] = {"输入", "输出", "特性"};
    for (size_t kind = 0; kind < kHidReportKinds; ++kind) {
      const uint32_t computed = match->report_byte_length[kind];
      const uint32_t stack = context_.caps_report_byte_length[kind];
      if (computed == stack) continue;
      Add(HidSeverity::kWarning, match->offset, "caps-length-mismatch",
          std::string("按描述符计算的") + kKindTexts[kind] + "报告长度为 " + Number(computed) +
              " 字节，Windows HID 协议栈给出 " + Number(stack) + " 字节");
    }
  }

  // An element of a report: its field (null for none) and its index there.
  struct Element {
    const HidField* field;
    uint32_t index;
  };

  // The element of `report` that starts at `bit`.
  static Element ElementAt(const HidReportLayout& report, uint64_t bit) {
    for (const HidField& field : report.fields) {
      if (field.bit_size == 0 || bit < field.bit_offset) continue;
      const uint64_t into = bit - field.bit_offset;
      if (into / field.bit_size >= field.count || into % field.bit_size != 0) continue;
      return {&field, static_cast<uint32_t>(into / field.bit_size)};
    }
    return {};
  }

  static bool IsVariableElement(const HidReportLayout& report, uint64_t bit, uint32_t size,
                                uint32_t usage, bool relative) {
    const auto [field, index] = ElementAt(report, bit);
    return field && field->IsVariable() && !field->IsConstant() && field->bit_size == size &&
           HidVariableUsage(*field, index) == usage &&
           (!relative || (field->flags & kFlagRelative) != 0);
  }

  // HID 1.11 appendix B: the boot keyboard report is 8 bytes (modifier bits,
  // a reserved byte, six key codes), the boot mouse report starts with three
  // button bits and 8-bit relative X and Y in the next two bytes.
  bool HasBootLayout(const HidReportLayout& report) const {
    if (out_.uses_report_ids) return false;
    if (context_.boot_protocol == 1) {
      if (report.bit_length != 64) return false;
      for (uint32_t i = 0; i < 8; ++i) {
        if (!IsVariableElement(report, i, 1, (uint32_t{kUsagePageKeyboard} << 16) | (0xE0 + i),
                               false)) {
          return false;
        }
      }
      const auto [keys, index] = ElementAt(report, 16);
      return keys && index == 0 && !keys->IsVariable() && !keys->IsConstant() &&
             keys->bit_size == 8 && keys->count == 6 && keys->usage_page == kUsagePageKeyboard;
    }
    for (uint32_t i = 0; i < 3; ++i) {
      if (!IsVariableElement(report, i, 1, (uint32_t{kUsagePageButton} << 16) | (i + 1), false)) {
        return false;
      }
    }
    const uint32_t desktop = uint32_t{kUsagePageGenericDesktop} << 16;
    return IsVariableElement(report, 8, 8, desktop | 0x30, true) &&
           IsVariableElement(report, 16, 8, desktop | 0x31, true);
  }

  void CheckBootLayout() {
    if (context_.boot_protocol != 1 && context_.boot_protocol != 2) return;
    const HidReportLayout* first = nullptr;
    for (const HidReportLayout& report : out_.reports) {
      if (report.kind == HidReportKind::kInput) {
        first = &report;
        break;
      }
    }
    if (first && HasBootLayout(*first)) return;
    const bool keyboard = context_.boot_protocol == 1;
    Add(HidSeverity::kWarning, first ? first->first_offset : 0, "boot-layout-mismatch",
        keyboard ? "接口声明为引导键盘（子类 1，协议 1），但第一个输入报告不是引导布局（无报告 "
                   "ID，8 字节：修饰键位、保留字节、6 个按键码）；BIOS 等只认引导协议的主机会读错"
                 : "接口声明为引导鼠标（子类 1，协议 2），但第一个输入报告不是引导布局（无报告 "
                   "ID，3 个按键位在前，随后是 8 位相对 X、Y）；BIOS 等只认引导协议的主机会读错");
  }

  ByteSpan bytes_;
  const HidAnalysisContext& context_;
  HidReportAnalysis& out_;
  Globals globals_;
  std::vector<Globals> stack_;
  Locals locals_;
  std::vector<int32_t> open_;  // indices of the open collections, outermost first
  std::unordered_map<uint64_t, size_t> report_by_key_;
  std::set<std::array<uint32_t, 4>> told_extents_;
  std::array<int32_t, 256> id_top_level_{};
  std::array<bool, 256> id_reported_{};
  int64_t first_without_id_ = -1;
  struct CodeTally {
    const char* code;
    size_t seen;
    int64_t folded;  // index of the finding later ones fold into, -1 none yet
  };
  std::vector<CodeTally> tallies_;
};

}  // namespace

int64_t HidItemValue(const HidItem& item) {
  if (item.type != HidItemType::kGlobal) return item.data;
  switch (item.tag) {
    case kGlobalLogicalMinimum:
    case kGlobalLogicalMaximum:
    case kGlobalPhysicalMinimum:
    case kGlobalPhysicalMaximum:
      return SignExtend(item.data, item.data_size);
    case kGlobalUnitExponent:
      // A nibble as HID 1.11 defines it; descriptors that write a whole
      // signed byte (0xFD for -3) are read as such.
      return (item.data & ~0xFu) == 0 ? SignedNibble(item.data)
                                      : SignExtend(item.data, item.data_size);
    default:
      return item.data;
  }
}

std::string HidCollectionKindText(uint32_t kind) {
  static const char* const kKinds[] = {"Physical",    "Application",  "Logical",       "Report",
                                       "Named Array", "Usage Switch", "Usage Modifier"};
  if (kind < 7) return kKinds[kind];
  if (kind >= 0x80 && kind <= 0xFF) return "Vendor-defined 0x" + HexDigits(kind, 2, true);
  return "Reserved 0x" + HexDigits(kind, kind > 0xFF ? 4 : 2, true);
}

std::string HidMainFlagsText(uint8_t main_tag, uint32_t flags) {
  std::string text = (flags & kFlagConstant) ? "Cnst" : "Data";
  text += (flags & kFlagVariable) ? ",Var" : ",Arr";
  text += (flags & kFlagRelative) ? ",Rel" : ",Abs";
  if (flags & kFlagWrap) text += ",Wrap";
  if (flags & kFlagNonLinear) text += ",NLin";
  if (flags & kFlagNoPreferred) text += ",NPrf";
  if (flags & kFlagNullState) text += ",Null";
  if ((flags & kFlagVolatile) && main_tag != kMainInput) text += ",Vol";
  if (flags & kFlagBufferedBytes) text += ",Buf";
  return text;
}

std::string HidUnitText(uint32_t unit) {
  if (unit == 0) return "None";
  const uint32_t system = unit & 0xF;
  if (system == 0xF) return "Vendor-defined 0x" + HexDigits(unit, 8, true);
  if (system == 0 || system > 4) return "0x" + HexDigits(unit, 8, true);
  // Base units by system: SI Linear, SI Rotation, English Linear, English Rotation.
  static const char* const kLength[] = {"Centimeter", "Radians", "Inch", "Degrees"};
  static const char* const kMass[] = {"Gram", "Gram", "Slug", "Slug"};
  static const char* const kTemperature[] = {"Kelvin", "Kelvin", "Fahrenheit", "Fahrenheit"};
  static const char* const kSystems[] = {"SI Linear", "SI Rotation", "English Linear",
                                         "English Rotation"};
  const char* names[6] = {kLength[system - 1],      kMass[system - 1], "Seconds",
                          kTemperature[system - 1], "Ampere",          "Candela"};
  std::string terms;
  for (int i = 0; i < 6; ++i) {
    const int32_t exponent = SignedNibble((unit >> (4 * (i + 1))) & 0xF);
    if (exponent == 0) continue;
    if (!terms.empty()) terms += "*";
    terms += names[i];
    if (exponent != 1) terms += "^" + std::to_string(exponent);
  }
  return std::string(kSystems[system - 1]) + ": " + (terms.empty() ? "None" : terms);
}

std::string HidItemText(const HidItem& item) {
  std::string name = ItemName(item);
  if (item.truncated) return name + " (truncated)";
  if (item.type == HidItemType::kLong) {
    return name + " (tag 0x" + HexDigits(item.tag, 2, true) + ", " +
           std::to_string(item.data_size) + " bytes)";
  }
  if (IsReservedTag(item)) return name + " (tag " + std::to_string(item.tag) + ")";
  switch (item.type) {
    case HidItemType::kMain:
      if (item.tag == kMainCollection) return name + " (" + HidCollectionKindText(item.data) + ")";
      if (item.tag == kMainEndCollection) return name;
      return name + " (" + HidMainFlagsText(item.tag, item.data) + ")";
    case HidItemType::kGlobal:
      switch (item.tag) {
        case kGlobalUsagePage:
          return name + " (" + UsagePageText(static_cast<uint16_t>(item.data)) + ")";
        case kGlobalUnit:
          return name + " (" + HidUnitText(item.data) + ")";
        case kGlobalPush:
        case kGlobalPop:
          return name;
        default:
          return name + " (" + std::to_string(HidItemValue(item)) + ")";
      }
    case HidItemType::kLocal:
      switch (item.tag) {
        case kLocalUsage:
        case kLocalUsageMinimum:
        case kLocalUsageMaximum:
          return name + " (" + UsageItemText(item) + ")";
        case kLocalDelimiter:
          return name + (item.data != 0 ? " (Open)" : " (Close)");
        default:
          return name + " (" + std::to_string(item.data) + ")";
      }
    default:
      return name;
  }
}

const char* HidReportKindName(HidReportKind kind) {
  switch (kind) {
    case HidReportKind::kInput:
      return "input";
    case HidReportKind::kOutput:
      return "output";
    case HidReportKind::kFeature:
      return "feature";
  }
  return "input";
}

const char* HidSeverityName(HidSeverity severity) {
  switch (severity) {
    case HidSeverity::kError:
      return "error";
    case HidSeverity::kWarning:
      return "warning";
    case HidSeverity::kInfo:
      return "info";
  }
  return "info";
}

uint32_t HidVariableUsage(const HidField& field, uint32_t index) {
  if (!field.usage_spans.empty()) {
    uint64_t left = index;
    const HidUsageSpan* last = nullptr;
    for (const HidUsageSpan& span : field.usage_spans) {
      if (span.minimum > span.maximum) continue;  // an empty range
      const uint64_t size = uint64_t{span.maximum} - span.minimum + 1;
      if (left < size) return span.minimum + static_cast<uint32_t>(left);
      left -= size;
      last = &span;
    }
    return last ? last->maximum : 0;
  }
  if (field.has_usage_range) {
    const uint64_t usage = static_cast<uint64_t>(field.usage_minimum) + index;
    return usage > field.usage_maximum ? field.usage_maximum : static_cast<uint32_t>(usage);
  }
  if (field.usages.empty()) return 0;
  return field.usages[std::min<size_t>(index, field.usages.size() - 1)];
}

const HidReportLayout* HidReportAnalysis::FindReport(HidReportKind kind, uint8_t id) const {
  const int32_t index = report_index[static_cast<size_t>(kind)][id];
  return index < 0 ? nullptr : &reports[static_cast<size_t>(index)];
}

HidReportAnalysis AnalyzeHidReportDescriptor(ByteSpan descriptor,
                                             const HidAnalysisContext& context) {
  HidReportAnalysis analysis;
  Analyzer(descriptor, context, &analysis).Run();
  return analysis;
}

}  // namespace vek_native
