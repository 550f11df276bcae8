#include "unit/hid/hid_test_data.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace vek_test {
namespace {

// The "HidP KDR" layout: a 44-byte header (its caps_info entries 8 bytes
// apart), 104-byte caps from byte 44, and 16-byte link-collection nodes from
// byte 44 + FirstByteOfLinkCollectionArray; fields as "name bit-offset width".
constexpr char kHeader[] =
    "Usage 64 16 UsagePage 80 16 Reserved 96 32 FirstCap 128 16 NumberOfCaps 144 16 "
    "LastCap 160 16 ReportByteLength 176 16 FirstByteOfLinkCollectionArray 320 16 "
    "NumberLinkCollectionNodes 336 16";
constexpr char kCap[] =
    "UsagePage 0 16 ReportID 16 8 BitPosition 24 8 BitSize 32 16 ReportCount 48 16 "
    "BytePosition 64 16 BitCount 80 16 BitField 96 32 NextBytePosition 128 16 "
    "LinkCollection 144 16 LinkUsagePage 160 16 LinkUsage 176 16 IsMultipleItemsForArray 192 1 "
    "IsPadding 193 1 IsButtonCap 194 1 IsAbsolute 195 1 IsRange 196 1 IsAlias 197 1 "
    "IsStringRange 198 1 IsDesignatorRange 199 1 Range.UsageMin 480 16 Range.UsageMax 496 16 "
    "Range.StringMin 512 16 Range.StringMax 528 16 Range.DesignatorMin 544 16 "
    "Range.DesignatorMax 560 16 Range.DataIndexMin 576 16 Range.DataIndexMax 592 16 "
    "NotRange.Usage 480 16 NotRange.StringIndex 512 16 NotRange.DesignatorIndex 544 16 "
    "NotRange.DataIndex 576 16 Button.LogicalMin 608 32 Button.LogicalMax 640 32 "
    "NotButton.HasNull 608 8 NotButton.LogicalMin 640 32 NotButton.LogicalMax 672 32 "
    "NotButton.PhysicalMin 704 32 NotButton.PhysicalMax 736 32 Units 768 32 UnitsExp 800 32";
constexpr char kLinkNode[] =
    "LinkUsage 0 16 LinkUsagePage 16 16 Parent 32 16 NumberOfChildren 48 16 NextSibling 64 16 "
    "FirstChild 80 16 CollectionType 96 8 IsAlias 104 1";

using Fields = std::map<std::string, std::pair<size_t, size_t>>;
Fields Table(const char* text) {
  Fields fields;
  std::istringstream in(text);
  std::string name;
  for (size_t offset, width; in >> name >> offset >> width;) fields[name] = {offset, width};
  return fields;
}

}  // namespace

std::string ReadTestData(const std::string& relative) {
  std::ifstream in(std::string(VEK_TEST_DATA) + "/" + relative, std::ios::binary);
  if (!in) throw std::runtime_error("missing test data " + relative);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::map<std::string, std::string>> SysfsDevices() {
  const std::string text = ReadTestData("umockdev_usb/sysfs_descriptors.json");
  static const std::regex pair_re(R"re("(\w+)": "([^"]*)")re");
  std::vector<std::map<std::string, std::string>> devices;
  for (std::sregex_iterator it(text.begin(), text.end(), pair_re), end; it != end; ++it) {
    if ((*it)[1] == "recording") devices.emplace_back();
    if (!devices.empty()) devices.back().emplace((*it)[1], (*it)[2]);
  }
  return devices;
}

vek_native::fake::FakeHidDeviceSpec RecordedCollection(const std::string& name) {
  static const Fields header = Table(kHeader), cap = Table(kCap), link = Table(kLinkNode);
  static const std::regex line_re(
      R"(pp_data->(\w+)(?:\[(\d+)\])?(?:->(?:pp_cap->)?([\w.\[\]]+))?\s*=\s*(\S+))");
  const std::string text = ReadTestData("hidapi_pp_data/" + name + ".pp_data");
  vek_native::fake::FakeHidDeviceSpec spec;
  std::vector<uint8_t>& blob = spec.preparsed_bytes;
  blob.resize(44);
  auto put = [&](size_t bit, size_t width, uint64_t value) {
    blob.resize(std::max(blob.size(), (bit + width + 7) / 8));
    for (size_t i = 0; i < width; ++i) blob[(bit + i) / 8] |= ((value >> i) & 1) << ((bit + i) % 8);
  };
  size_t links = 0, nodes = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), line_re), end; it != end; ++it) {
    const std::string part = (*it)[1], field = (*it)[3].matched ? (*it)[3] : (*it)[1];
    const std::string value = (*it)[4];
    const size_t index = (*it)[2].matched ? std::stoul((*it)[2]) : 0;
    const uint64_t number = value.rfind("0x", 0) == 0 ? std::stoull(value, nullptr, 16)
                                                      : static_cast<uint64_t>(std::stoll(value));
    const Fields& fields = part == "cap" ? cap : part == "LinkCollectionArray" ? link : header;
    const size_t base = part == "cap"                   ? 44 + 104 * index
                        : part == "LinkCollectionArray" ? 44 + links + 16 * index
                                                        : 8 * index;
    if (part == "MagicKey") {  // printed in memory order
      for (size_t i = 0; i < 8; ++i) put(8 * i, 8, number >> (56 - 8 * i));
    } else if (fields.count(field) != 0) {  // not a reserved word or an unused token
      put(8 * base + fields.at(field).first, fields.at(field).second, number);
    }
    if (field == "FirstByteOfLinkCollectionArray") links = number;
    if (field == "NumberLinkCollectionNodes") nodes = number;
  }
  blob.resize(44 + links + 16 * nodes);
  return spec;
}

std::vector<uint8_t> HidapiRebuild(std::initializer_list<const char*> names) {
  std::vector<uint8_t> bytes;
  static const std::regex byte_re("0x([0-9A-Fa-f]{2})");
  for (const char* name : names) {  // an "0x05, 0x01, ..." listing
    const std::string listing =
        ReadTestData("hidapi_pp_data/" + std::string(name) + "_expected.rpt_desc");
    for (std::sregex_iterator it(listing.begin(), listing.end(), byte_re), end; it != end; ++it) {
      bytes.push_back(static_cast<uint8_t>(std::stoi((*it)[1], nullptr, 16)));
    }
  }
  return bytes;
}

}  // namespace vek_test
