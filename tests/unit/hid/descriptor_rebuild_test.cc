// Rebuilding report descriptors: caps synthesis byte for byte, and hidapi's
// rebuild of its recorded collections.
#include <gtest/gtest.h>

#include "hid/descriptor_synthesis.h"
#include "hid/reconstruct.h"
#include "reconstruct_pp_data_cases.h"
#include "unit/hid/hid_test_data.h"

namespace vek_native {
namespace {

ButtonCapsRecord Buttons(uint16_t page, uint8_t id, uint16_t min, uint16_t max, uint16_t bit_field,
                         uint16_t count) {
  return {page, id, bit_field, max != min, true, count, min, max};
}
ValueCapsRecord Value(uint16_t page, uint8_t id, uint16_t usage, uint16_t bits, uint16_t count,
                      int32_t logical_min, int32_t logical_max) {
  return {page, id, false, true, false, bits, count, logical_min, logical_max, 0, 0, usage, 0};
}
CapabilitySet Caps(uint16_t page, uint16_t usage, uint16_t input, uint16_t output,
                   uint16_t feature) {
  CapabilitySet set;
  set.caps = {usage, page, input, output, feature};
  return set;
}

TEST(SynthesizeDescriptorTest, ByteForByte) {
  std::vector<std::tuple<const char*, CapabilitySet, const char*>> cases;
  CapabilitySet s = Caps(0x01, 0x02, 5, 0, 0);
  s.buttons[kHidInput] = {Buttons(0x09, 0, 1, 3, 0x02, 3)};
  s.values[kHidInput] = {Value(0x01, 0, 0x30, 8, 2, -128, 127)};
  s.values[kHidInput][0].is_range = true;
  s.values[kHidInput][0].usage_max = 0x31;
  s.values[kHidInput][0].is_absolute = false;
  // Input length 5 is the zero ID byte and a 4-byte report: 19 bits of
  // fields and 13 of padding.
  cases.emplace_back("a mouse: buttons, relative axes, padding", s,
                     "05 01 09 02 A1 01 05 09 15 00 25 01 75 01 95 03 19 01 29 03 81 02 "
                     "05 01 15 80 25 7F 75 08 95 02 19 30 29 31 81 06 75 01 95 0D 81 01 C0");
  cases.emplace_back("no records: no reports; usage page 0 becomes 1", Caps(0, 0, 8, 0, 0),
                     "05 01 09 00 A1 01 C0");
  s = Caps(0xFF00, 0x01, 3, 0, 3);
  s.buttons[kHidInput] = {Buttons(0x09, 3, 1, 1, 0x02, 1), Buttons(0x09, 1, 2, 2, 0x02, 1)};
  s.values[kHidFeature] = {Value(0xFF00, 2, 0x100, 16, 1, 0, 32768)};
  cases.emplace_back(
      "report IDs 3, 1, 2 come out as 1, 2, 3, each filling every type", s,
      "06 00 FF 09 01 A1 01 "
      "85 01 05 09 15 00 25 01 75 01 95 01 09 02 81 02 75 01 95 0F 81 01 75 01 95 10 B1 01 "
      "85 02 75 01 95 10 81 01 06 00 FF 15 00 27 00 80 00 00 75 10 95 01 0A 00 01 B1 02 "
      "85 03 05 09 15 00 25 01 75 01 95 01 09 01 81 02 75 01 95 0F 81 01 75 01 95 10 B1 01 C0");
  s = Caps(0x01, 0x06, 8196, 0, 0);
  s.values[kHidInput] = {Value(0x01, 0, 0x30, 8, 1, 0, 255)};
  s.buttons[kHidInput] = {Buttons(0x07, 0, 0, 255, 0x00, 1)};
  cases.emplace_back(
      "logical maximum 255: signed for values, unsigned for arrays; padding in 65535-bit items", s,
      "05 01 09 06 A1 01 05 07 15 00 25 FF 75 08 95 01 19 00 29 FF 81 00 "
      "05 01 15 00 26 FF 00 75 08 95 01 09 30 81 02 75 01 96 FF FF 81 01 75 01 95 09 81 01 C0");
  s = Caps(0x01, 0x02, 2, 0, 0);
  s.buttons[kHidInput] = {Buttons(0x09, 0, 1, 12, 0x02, 12), Buttons(0x09, 0, 13, 13, 0x02, 1)};
  cases.emplace_back("a field too long is shortened, a full report takes nothing more", s,
                     "05 01 09 02 A1 01 05 09 15 00 25 01 75 01 95 08 19 01 29 0C 81 02 C0");
  s = Caps(0x0D, 0x04, 0, 0, 0);
  s.values[kHidInput] = {Value(0x0D, 0, 0x30, 32, 1, -129, 128),
                         Value(0x01, 0, 0x38, 0, 0, -32768, 32767)};
  s.values[kHidInput][0].physical_max = -32769;
  s.values[kHidInput][0].has_null = s.values[kHidInput][1].has_null = true;
  s.values[kHidInput][1].is_absolute = false;
  s.buttons[kHidInput] = {Buttons(0x09, 0, 1, 1, 0x06, 0)};
  s.buttons[kHidInput][0].is_absolute = false;
  cases.emplace_back(
      "no length limit; null state, physical range, values at the edges of 1, 2, 4 bytes, defaults",
      s,
      "05 0D 09 04 A1 01 05 09 15 00 25 01 75 01 95 01 09 01 81 06 "
      "05 0D 16 7F FF 26 80 00 35 00 47 FF 7F FF FF 75 20 95 01 09 30 81 42 "
      "05 01 16 00 80 26 FF 7F 75 08 95 01 09 38 81 46 C0");
  for (const auto& c : cases) {
    EXPECT_EQ(SynthesizeDescriptor(std::get<1>(c)), vek_test::FromHex(std::get<2>(c)))
        << std::get<0>(c);
  }
}

// Recorded collections opened as the rebuild sees them; the preparsed data
// handed out and not freed again.
class Collections {
 public:
  HidDevice* Add(fake::FakeHidDeviceSpec spec) {
    spec.path = std::to_string(open_.size());
    api_.Add(spec);
    uint32_t error = 0;
    open_.push_back(api_.Open(spec.path, HidAccess::kAttributesOnly, false, &error));
    return open_.back().get();
  }
  int PreparsedLive() {
    int live = 0;
    for (size_t i = 0; i < open_.size(); ++i) live += api_.State(std::to_string(i)).preparsed_live;
    return live;
  }

 private:
  fake::FakeHidDeviceApi api_;
  std::vector<std::unique_ptr<HidDevice>> open_;
};

class RecordedCollection : public ::testing::TestWithParam<const char*> {};

// hidapi's own rebuild of each recorded collection, through
// ReconstructFromPreparsed; the preparsed data is freed again.
TEST_P(RecordedCollection, RebuiltAsHidapiDoes) {
  Collections collections;
  const RebuildResult rebuilt =
      ReconstructFromPreparsed({collections.Add(vek_test::RecordedCollection(GetParam()))});
  EXPECT_EQ(rebuilt.bytes, vek_test::HidapiRebuild({GetParam()}));
  EXPECT_EQ(rebuilt.collections, 1);
  EXPECT_EQ(collections.PreparsedLive(), 0);
}

INSTANTIATE_TEST_SUITE_P(HidapiDumps, RecordedCollection, ::testing::ValuesIn(kPpDataCases),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// hidapi trusts the header; a blob that does not hold what it names is refused.
TEST(RebuildTest, BlobHoldsWhatItsHeaderNames) {
  const std::vector<uint8_t> whole =
      vek_test::RecordedCollection("046D_C534_0006_0001").preparsed_bytes;
  const struct {
    size_t size;
    int field;  // a 16-bit field set to `value`; -1: none
    uint16_t value;
    bool fits;
  } cases[] = {
      {whole.size(), -1, 0, true},       {whole.size() - 1, -1, 0, false}, {43, -1, 0, false},
      {whole.size(), 20, 0xFFFF, false},   // input LastCap
      {whole.size(), 40, 0xFFFF, false},   // FirstByteOfLinkCollectionArray
      {whole.size(), 42, 0, false},        // NumberLinkCollectionNodes
      {whole.size(), 366, 1, false},       // the one node's FirstChild
      {whole.size(), 44 + 18, 1, false}};  // cap 0's LinkCollection, of the one node
  for (const auto& c : cases) {
    std::vector<uint8_t> blob(whole.begin(), whole.begin() + c.size);
    if (c.field >= 0) {
      blob[c.field] = c.value & 0xFF;
      blob[c.field + 1] = c.value >> 8;
    }
    EXPECT_EQ(PreparsedBlobFits({blob.data(), blob.size()}), c.fits) << c.size << " " << c.field;
  }
}

TEST(RebuildTest, CollectionsInOrderWithoutTheUnusable) {
  Collections collections;
  HidDevice* const keyboard = collections.Add(vek_test::RecordedCollection("046D_C534_0006_0001"));
  HidDevice* const consumer = collections.Add(vek_test::RecordedCollection("046D_C534_0001_000C"));
  fake::FakeHidDeviceSpec bad = vek_test::RecordedCollection("046D_C077_0002_0001");
  bad.has_preparsed_data = false;
  HidDevice* const no_data = collections.Add(bad);
  bad.has_preparsed_data = true;
  bad.preparsed_bytes[0] ^= 0xFF;  // not "HidP KDR"
  bad.caps_status = 0xC0110004u;
  HidDevice* const unrecognised = collections.Add(bad);
  bad.preparsed_bytes.clear();
  HidDevice* const no_bytes = collections.Add(bad);
  const RebuildResult rebuilt =
      ReconstructFromPreparsed({nullptr, keyboard, no_data, unrecognised, no_bytes, consumer});
  EXPECT_EQ(rebuilt.bytes, vek_test::HidapiRebuild({"046D_C534_0006_0001", "046D_C534_0001_000C"}));
  EXPECT_EQ(rebuilt.collections, 2);

  // Synthesis passes over collections without caps; button caps that cannot
  // be read leave the value caps, read as many as the caps count.
  fake::FakeHidDeviceSpec spec;
  spec.caps = Caps(0x01, 0x02, 3, 0, 0).caps;
  spec.caps.number_input_button_caps = spec.caps.number_input_value_caps = 1;
  spec.buttons[kHidInput] = {Buttons(0x09, 0, 1, 3, 0x02, 3)};
  spec.values[kHidInput] = {Value(0x01, 0, 0x30, 8, 1, -127, 127),
                            Value(0x01, 0, 0x31, 8, 1, 0, 1)};
  spec.button_caps_fail = true;
  CapabilitySet expected;
  expected.caps = spec.caps;
  expected.values[kHidInput] = {spec.values[kHidInput][0]};
  const RebuildResult synthesised =
      SynthesizeFromCaps({nullptr, collections.Add(spec), no_data, unrecognised});
  EXPECT_EQ(synthesised.bytes, SynthesizeDescriptor(expected));
  EXPECT_EQ(synthesised.collections, 1);
  EXPECT_EQ(collections.PreparsedLive(), 0);
}

}  // namespace
}  // namespace vek_native
