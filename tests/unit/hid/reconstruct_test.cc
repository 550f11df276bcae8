#include "hid/reconstruct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reconstruct_pp_data_cases.h"
#include "unit/hid/reconstruct_pp_data.h"

namespace vek_native {
namespace {

// A collection as the HID class driver would describe it.
struct FakeCollection {
  std::vector<uint8_t> blob;  // preparsed data bytes
  CapabilitySet capabilities;
  bool no_preparsed_data = false;
  bool caps_fail = false;
  bool button_caps_fail = false;
};

struct Calls {
  int obtained = 0;
  int freed = 0;
  std::vector<std::string> log;
};

class FakePreparsedData : public HidPreparsedData {
 public:
  FakePreparsedData(const FakeCollection& collection, Calls* calls)
      : c_(collection), calls_(calls) {
    ++calls_->obtained;
  }
  ~FakePreparsedData() override { ++calls_->freed; }

  uint32_t GetCaps(HidCaps* caps) override {
    if (c_.caps_fail) return 0xC0110004u;
    *caps = c_.capabilities.caps;
    return kHidpStatusSuccess;
  }
  uint32_t GetLinkCollectionNodes(std::vector<HidLinkCollectionNode>*, uint32_t*) override {
    return kHidpStatusNotImplemented;
  }
  uint32_t GetButtonCaps(HidReportType type, uint16_t count,
                         std::vector<ButtonCapsRecord>* records) override {
    calls_->log.push_back("buttons " + std::to_string(type) + " " + std::to_string(count));
    if (c_.button_caps_fail) return 0xC0110004u;
    const auto& all = c_.capabilities.buttons[type];
    records->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
    return kHidpStatusSuccess;
  }
  uint32_t GetValueCaps(HidReportType type, uint16_t count,
                        std::vector<ValueCapsRecord>* records) override {
    calls_->log.push_back("values " + std::to_string(type) + " " + std::to_string(count));
    const auto& all = c_.capabilities.values[type];
    records->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
    return kHidpStatusSuccess;
  }
  const void* NativeData() const override { return nullptr; }
  std::vector<uint8_t> Bytes() const override { return c_.blob; }

 private:
  const FakeCollection& c_;
  Calls* calls_;
};

// An opened collection that only hands out its preparsed data.
class FakeCollectionDevice : public HidDevice {
 public:
  FakeCollectionDevice(FakeCollection collection, Calls* calls)
      : c_(std::move(collection)), calls_(calls) {}
  bool GetAttributes(HidAttributes*) override { return false; }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    if (c_.no_preparsed_data) return nullptr;
    return std::make_unique<FakePreparsedData>(c_, calls_);
  }
  bool GetString(HidStringKind, char16_t*, uint32_t) override { return false; }
  bool WriteReport(const std::vector<uint8_t>&, uint32_t*, uint32_t*) override { return false; }
  bool SetOutputReport(std::vector<uint8_t>*, uint32_t*) override { return false; }
  bool SetFeature(std::vector<uint8_t>*, uint32_t*) override { return false; }
  std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t*) override { return nullptr; }
  void* NativeHandle() const override { return nullptr; }

 private:
  FakeCollection c_;
  Calls* calls_;
};

class FakeCollections {
 public:
  HidDevice* Add(FakeCollection collection) {
    devices_.push_back(std::make_unique<FakeCollectionDevice>(std::move(collection), &calls));
    return devices_.back().get();
  }
  Calls calls;

 private:
  std::vector<std::unique_ptr<FakeCollectionDevice>> devices_;
};

FakeCollection Missing() {
  FakeCollection c;
  c.no_preparsed_data = true;
  return c;
}

FakeCollection FromDump(const std::string& name) {
  vek_test::PpDataDump dump;
  std::string error;
  EXPECT_TRUE(vek_test::LoadPpDataDump(std::string(VEK_PP_DATA_DIR) + "/" + name + ".pp_data",
                                       &dump, &error))
      << error;
  FakeCollection c;
  c.blob = dump.blob;
  c.capabilities = dump.capabilities;
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
  EXPECT_EQ(api.calls.freed, api.calls.obtained);
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
  FakeCollection bad_magic = FromDump("046D_C534_0002_0001");
  bad_magic.blob[0] ^= 0xFF;
  HidDevice* const unrecognised = api.Add(bad_magic);
  FakeCollection empty_blob = FromDump("046D_C534_0002_0001");
  empty_blob.blob.clear();
  HidDevice* const no_bytes = api.Add(empty_blob);

  const RebuildResult result =
      ReconstructFromPreparsed({nullptr, keyboard, no_data, unrecognised, no_bytes, consumer});
  std::vector<uint8_t> expected = Expected("046D_C534_0006_0001");
  const std::vector<uint8_t> second = Expected("046D_C534_0001_000C");
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_EQ(result.collections, 2);
  EXPECT_EQ(api.calls.obtained, 4);
  EXPECT_EQ(api.calls.freed, 4);
}

TEST(GatherCaps, AsksForEachDeclaredListInOrder) {
  FakeCollections api;
  FakeCollection c = FromDump("047F_C056_0005_000B");  // buttons and values in all three types
  c.capabilities.caps.number_output_value_caps = 0;    // declared empty: not asked for
  HidDevice* const handle = api.Add(c);
  CapabilitySet set;
  ASSERT_TRUE(GatherCaps(handle, &set));
  std::vector<std::string> expected;
  const HidCaps& caps = c.capabilities.caps;
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
  EXPECT_EQ(api.calls.log, expected);
  EXPECT_TRUE(set.values[kHidOutput].empty());
  EXPECT_EQ(set.buttons[kHidInput].size(), caps.number_input_button_caps);
  EXPECT_EQ(api.calls.freed, 1);
}

TEST(GatherCaps, FailuresAndEmptyLists) {
  FakeCollections api;
  CapabilitySet set;
  EXPECT_FALSE(GatherCaps(nullptr, &set));
  EXPECT_FALSE(GatherCaps(api.Add(Missing()), &set));
  FakeCollection no_caps = FromDump("046D_C077_0002_0001");
  no_caps.caps_fail = true;
  EXPECT_FALSE(GatherCaps(api.Add(no_caps), &set));
  EXPECT_EQ(api.calls.freed, api.calls.obtained);

  // Button caps that cannot be read leave the header and the values.
  FakeCollection mouse = FromDump("046D_C077_0002_0001");
  mouse.button_caps_fail = true;
  ASSERT_TRUE(GatherCaps(api.Add(mouse), &set));
  EXPECT_TRUE(set.buttons[kHidInput].empty());
  EXPECT_FALSE(set.values[kHidInput].empty());
}

TEST(SynthesizeFromCaps, CountsContributingCollections) {
  FakeCollections api;
  HidDevice* const mouse = api.Add(FromDump("046D_C077_0002_0001"));
  FakeCollection unreadable = FromDump("046D_C52F_0001_000C");
  unreadable.caps_fail = true;
  HidDevice* const broken = api.Add(unreadable);
  FakeCollection bare = FromDump("046D_C52F_0001_000C");
  bare.button_caps_fail = true;
  for (auto& list : bare.capabilities.values) list.clear();
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
