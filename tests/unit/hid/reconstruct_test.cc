#include "hid/reconstruct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reconstruct_pp_data_cases.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/reconstruct_pp_data.h"

namespace vek_native {
namespace {

using fake::FakeHidDeviceSpec;

// Collections of recorded devices, each opened once for the test's length.
class FakeCollections {
 public:
  HidDevice* Add(FakeHidDeviceSpec spec) {
    spec.path = std::to_string(opened_.size());
    api_.Add(spec);
    uint32_t error = 0;
    opened_.push_back(api_.Open(spec.path, HidAccess::kAttributesOnly, false, &error));
    return opened_.back().get();
  }
  // Preparsed data handed out and freed, over every collection.
  int Obtained() { return Sum(&fake::FakeHidDeviceState::preparsed_obtained); }
  int Freed() { return Sum(&fake::FakeHidDeviceState::preparsed_freed); }
  fake::FakeHidDeviceState& State(size_t index) { return api_.State(std::to_string(index)); }

 private:
  int Sum(int fake::FakeHidDeviceState::*count) {
    int total = 0;
    for (size_t i = 0; i < opened_.size(); ++i) total += State(i).*count;
    return total;
  }
  fake::FakeHidDeviceApi api_;
  std::vector<std::unique_ptr<HidDevice>> opened_;
};

FakeHidDeviceSpec Missing() {
  FakeHidDeviceSpec c;
  c.has_preparsed_data = false;
  return c;
}

FakeHidDeviceSpec FromDump(const std::string& name) {
  vek_test::PpDataDump dump;
  std::string error;
  EXPECT_TRUE(vek_test::LoadPpDataDump(std::string(VEK_PP_DATA_DIR) + "/" + name + ".pp_data",
                                       &dump, &error))
      << error;
  FakeHidDeviceSpec c;
  c.preparsed_bytes = dump.blob;
  c.caps = dump.capabilities.caps;
  for (int t = 0; t < 3; ++t) {
    c.buttons[t] = dump.capabilities.buttons[t];
    c.values[t] = dump.capabilities.values[t];
  }
  return c;
}

std::vector<uint8_t> Expected(const std::string& name) {
  return vek_test::LoadByteListing(std::string(VEK_PP_DATA_DIR) + "/" + name +
                                   "_expected.rpt_desc");
}

class RecordedPreparsedData : public ::testing::TestWithParam<const char*> {};

// hidapi's reconstruction of each recorded device, through our rebuilder.
TEST_P(RecordedPreparsedData, ReconstructsHidapisExpectedDescriptor) {
  FakeCollections api;
  HidDevice* const handle = api.Add(FromDump(GetParam()));
  const RebuildResult result = ReconstructFromPreparsed({handle});
  const std::vector<uint8_t> expected = Expected(GetParam());
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_EQ(result.collections, 1);
  EXPECT_EQ(api.Freed(), api.Obtained());
}

INSTANTIATE_TEST_SUITE_P(HidapiDumps, RecordedPreparsedData, ::testing::ValuesIn(kPpDataCases),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

TEST(ReconstructFromPreparsed, ConcatenatesCollectionsInOrderAndSkipsTheUnusable) {
  FakeCollections api;
  HidDevice* const keyboard = api.Add(FromDump("046D_C534_0006_0001"));
  HidDevice* const consumer = api.Add(FromDump("046D_C534_0001_000C"));
  HidDevice* const no_data = api.Add(Missing());
  FakeHidDeviceSpec bad_magic = FromDump("046D_C534_0002_0001");
  bad_magic.preparsed_bytes[0] ^= 0xFF;
  HidDevice* const unrecognised = api.Add(bad_magic);
  FakeHidDeviceSpec empty_blob = FromDump("046D_C534_0002_0001");
  empty_blob.preparsed_bytes.clear();
  HidDevice* const no_bytes = api.Add(empty_blob);

  const RebuildResult result =
      ReconstructFromPreparsed({nullptr, keyboard, no_data, unrecognised, no_bytes, consumer});
  std::vector<uint8_t> expected = Expected("046D_C534_0006_0001");
  const std::vector<uint8_t> second = Expected("046D_C534_0001_000C");
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_EQ(result.collections, 2);
  EXPECT_EQ(api.Obtained(), 4);
  EXPECT_EQ(api.Freed(), 4);
}

TEST(GatherCaps, AsksForEachDeclaredListInOrder) {
  FakeCollections api;
  FakeHidDeviceSpec c = FromDump("047F_C056_0005_000B");  // buttons and values in all three types
  c.caps.number_output_value_caps = 0;                    // declared empty: not asked for
  HidDevice* const handle = api.Add(c);
  CapabilitySet set;
  ASSERT_TRUE(GatherCaps(handle, &set));
  std::vector<std::string> expected;
  const HidCaps& caps = c.caps;
  const uint16_t buttons[3] = {caps.number_input_button_caps, caps.number_output_button_caps,
                               caps.number_feature_button_caps};
  const uint16_t values[3] = {caps.number_input_value_caps, caps.number_output_value_caps,
                              caps.number_feature_value_caps};
  for (int t = 0; t < 3; ++t) {
    if (buttons[t])
      expected.push_back("buttons " + std::to_string(t) + " " + std::to_string(buttons[t]));
    if (values[t])
      expected.push_back("values " + std::to_string(t) + " " + std::to_string(values[t]));
  }
  EXPECT_EQ(api.State(0).caps_requests, expected);
  EXPECT_TRUE(set.values[kHidOutput].empty());
  EXPECT_EQ(set.buttons[kHidInput].size(), caps.number_input_button_caps);
  EXPECT_EQ(api.Freed(), 1);
}

TEST(GatherCaps, FailuresAndEmptyLists) {
  FakeCollections api;
  CapabilitySet set;
  EXPECT_FALSE(GatherCaps(nullptr, &set));
  EXPECT_FALSE(GatherCaps(api.Add(Missing()), &set));
  FakeHidDeviceSpec no_caps = FromDump("046D_C077_0002_0001");
  no_caps.caps_status = 0xC0110004u;
  EXPECT_FALSE(GatherCaps(api.Add(no_caps), &set));
  EXPECT_EQ(api.Freed(), api.Obtained());

  // Button caps that cannot be read leave the header and the values.
  FakeHidDeviceSpec mouse = FromDump("046D_C077_0002_0001");
  mouse.button_caps_fail = true;
  ASSERT_TRUE(GatherCaps(api.Add(mouse), &set));
  EXPECT_TRUE(set.buttons[kHidInput].empty());
  EXPECT_FALSE(set.values[kHidInput].empty());
}

TEST(SynthesizeFromCaps, CountsContributingCollections) {
  FakeCollections api;
  HidDevice* const mouse = api.Add(FromDump("046D_C077_0002_0001"));
  FakeHidDeviceSpec unreadable = FromDump("046D_C52F_0001_000C");
  unreadable.caps_status = 0xC0110004u;
  HidDevice* const broken = api.Add(unreadable);
  FakeHidDeviceSpec bare = FromDump("046D_C52F_0001_000C");
  bare.button_caps_fail = true;
  for (auto& list : bare.values) list.clear();
  HidDevice* const header_only = api.Add(bare);

  const RebuildResult result = SynthesizeFromCaps({mouse, broken, header_only});
  EXPECT_EQ(result.collections, 2);
  const std::vector<uint8_t> first = SynthesizeFromCapsSingle(mouse);
  ASSERT_FALSE(first.empty());
  std::vector<uint8_t> expected = first;
  // Without readable lists: Usage Page, Usage, Collection, fill, End Collection.
  const std::vector<uint8_t> tail = SynthesizeFromCapsSingle(header_only);
  EXPECT_EQ(std::vector<uint8_t>(tail.begin(), tail.begin() + 6),
            (std::vector<uint8_t>{0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01}));
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_TRUE(SynthesizeFromCapsSingle(broken).empty());
  EXPECT_TRUE(SynthesizeFromCapsSingle(nullptr).empty());
}

}  // namespace
}  // namespace vek_native
