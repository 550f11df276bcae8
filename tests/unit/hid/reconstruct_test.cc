#include "hid/reconstruct.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "reconstruct_pp_data_cases.h"
#include "unit/hid/reconstruct_pp_data.h"

namespace vek_native {
namespace {

// A collection as the HID class driver would describe it.
struct FakeCollection {
  std::vector<uint8_t> blob;  // preparsed data; empty: HidD_GetPreparsedData fails
  CapabilitySet capabilities;
  bool caps_fail = false;
  bool button_caps_fail = false;
  int forced_reconstruct_length = 0;  // non-zero: what the reconstructor returns
};

struct Calls {
  int obtained = 0;
  int freed = 0;
  std::vector<std::string> log;
};

class FakePreparsedData : public PreparsedData {
 public:
  FakePreparsedData(const FakeCollection& collection, Calls* calls)
      : c_(collection), calls_(calls) {
    ++calls_->obtained;
  }
  ~FakePreparsedData() override { ++calls_->freed; }

  bool GetCaps(HidCapsRecord* caps) override {
    if (c_.caps_fail) return false;
    *caps = c_.capabilities.caps;
    return true;
  }
  bool GetButtonCaps(HidReportType type, uint16_t count,
                     std::vector<ButtonCapsRecord>* records) override {
    calls_->log.push_back("buttons " + std::to_string(type) + " " + std::to_string(count));
    if (c_.button_caps_fail) return false;
    const auto& all = c_.capabilities.buttons[type];
    records->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
    return true;
  }
  bool GetValueCaps(HidReportType type, uint16_t count,
                    std::vector<ValueCapsRecord>* records) override {
    calls_->log.push_back("values " + std::to_string(type) + " " + std::to_string(count));
    const auto& all = c_.capabilities.values[type];
    records->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
    return true;
  }
  int ReconstructDescriptor(uint8_t* buffer, size_t size) override {
    if (c_.forced_reconstruct_length != 0) {
      for (size_t i = 0; i < size; ++i) buffer[i] = 0x05;
      return c_.forced_reconstruct_length;
    }
    return ReconstructWithHidapi(c_.blob.data(), buffer, size);
  }

 private:
  const FakeCollection& c_;
  Calls* calls_;
};

// Handles are 1-based indices into the list of collections.
class FakePreparsedDataApi : public PreparsedDataApi {
 public:
  HidCollectionHandle Add(FakeCollection collection) {
    collections_.push_back(std::move(collection));
    return reinterpret_cast<HidCollectionHandle>(static_cast<intptr_t>(collections_.size()));
  }
  std::unique_ptr<PreparsedData> GetPreparsedData(HidCollectionHandle handle) override {
    const intptr_t index = reinterpret_cast<intptr_t>(handle);
    EXPECT_FALSE(IsInvalidCollectionHandle(handle));
    if (index < 1 || static_cast<size_t>(index) > collections_.size()) return nullptr;
    const FakeCollection& c = collections_[index - 1];
    if (c.blob.empty() && c.forced_reconstruct_length == 0 && !c.caps_fail &&
        c.capabilities.caps.UsagePage == 0 && c.capabilities.caps.Usage == 0) {
      return nullptr;
    }
    return std::make_unique<FakePreparsedData>(c, &calls);
  }
  Calls calls;

 private:
  std::vector<FakeCollection> collections_;
};

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

const HidCollectionHandle kInvalid =
    reinterpret_cast<HidCollectionHandle>(static_cast<intptr_t>(-1));

class RecordedPreparsedData : public ::testing::TestWithParam<const char*> {};

// hidapi's reconstruction of each recorded device, through our rebuilder.
TEST_P(RecordedPreparsedData, ReconstructsHidapisExpectedDescriptor) {
  FakePreparsedDataApi api;
  const HidCollectionHandle handle = api.Add(FromDump(GetParam()));
  const RebuildResult result = ReconstructFromPreparsed(api, {handle});
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
  FakePreparsedDataApi api;
  const HidCollectionHandle keyboard = api.Add(FromDump("046D_C534_0006_0001"));
  const HidCollectionHandle consumer = api.Add(FromDump("046D_C534_0001_000C"));
  const HidCollectionHandle no_data = api.Add(FakeCollection());
  FakeCollection bad_magic = FromDump("046D_C534_0002_0001");
  bad_magic.blob[0] ^= 0xFF;
  const HidCollectionHandle unrecognised = api.Add(bad_magic);
  FakeCollection huge;
  huge.forced_reconstruct_length = 4097;
  const HidCollectionHandle too_long = api.Add(huge);

  const RebuildResult result = ReconstructFromPreparsed(
      api, {nullptr, keyboard, kInvalid, no_data, unrecognised, too_long, consumer});
  std::vector<uint8_t> expected = Expected("046D_C534_0006_0001");
  const std::vector<uint8_t> second = Expected("046D_C534_0001_000C");
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_EQ(result.collections, 2);
  EXPECT_EQ(api.calls.obtained, 4);
  EXPECT_EQ(api.calls.freed, 4);
}

TEST(ReconstructFromPreparsed, FullBufferIsKept) {
  FakePreparsedDataApi api;
  FakeCollection full;
  full.forced_reconstruct_length = 4096;
  const RebuildResult result = ReconstructFromPreparsed(api, {api.Add(full)});
  EXPECT_EQ(result.bytes.size(), 4096u);
  EXPECT_EQ(result.collections, 1);
}

TEST(GatherCaps, AsksForEachDeclaredListInOrder) {
  FakePreparsedDataApi api;
  FakeCollection c = FromDump("047F_C056_0005_000B");  // buttons and values in all three types
  c.capabilities.caps.NumberOutputValueCaps = 0;       // declared empty: not asked for
  const HidCollectionHandle handle = api.Add(c);
  CapabilitySet set;
  ASSERT_TRUE(GatherCaps(api, handle, &set));
  std::vector<std::string> expected;
  const HidCapsRecord& caps = c.capabilities.caps;
  const uint16_t buttons[3] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                               caps.NumberFeatureButtonCaps};
  const uint16_t values[3] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                              caps.NumberFeatureValueCaps};
  for (int t = 0; t < 3; ++t) {
    if (buttons[t])
      expected.push_back("buttons " + std::to_string(t) + " " + std::to_string(buttons[t]));
    if (values[t])
      expected.push_back("values " + std::to_string(t) + " " + std::to_string(values[t]));
  }
  EXPECT_EQ(api.calls.log, expected);
  EXPECT_TRUE(set.values[kHidOutput].empty());
  EXPECT_EQ(set.buttons[kHidInput].size(), caps.NumberInputButtonCaps);
  EXPECT_EQ(api.calls.freed, 1);
}

TEST(GatherCaps, FailuresAndEmptyLists) {
  FakePreparsedDataApi api;
  CapabilitySet set;
  EXPECT_FALSE(GatherCaps(api, nullptr, &set));
  EXPECT_FALSE(GatherCaps(api, kInvalid, &set));
  EXPECT_FALSE(GatherCaps(api, api.Add(FakeCollection()), &set));
  FakeCollection no_caps = FromDump("046D_C077_0002_0001");
  no_caps.caps_fail = true;
  EXPECT_FALSE(GatherCaps(api, api.Add(no_caps), &set));
  EXPECT_EQ(api.calls.freed, api.calls.obtained);

  // Button caps that cannot be read leave the header and the values.
  FakeCollection mouse = FromDump("046D_C077_0002_0001");
  mouse.button_caps_fail = true;
  ASSERT_TRUE(GatherCaps(api, api.Add(mouse), &set));
  EXPECT_TRUE(set.buttons[kHidInput].empty());
  EXPECT_FALSE(set.values[kHidInput].empty());
}

TEST(SynthesizeFromCaps, CountsContributingCollections) {
  FakePreparsedDataApi api;
  const HidCollectionHandle mouse = api.Add(FromDump("046D_C077_0002_0001"));
  FakeCollection unreadable = FromDump("046D_C52F_0001_000C");
  unreadable.caps_fail = true;
  const HidCollectionHandle broken = api.Add(unreadable);
  FakeCollection bare = FromDump("046D_C52F_0001_000C");
  bare.button_caps_fail = true;
  for (auto& list : bare.capabilities.values) list.clear();
  const HidCollectionHandle header_only = api.Add(bare);

  const RebuildResult result = SynthesizeFromCaps(api, {mouse, broken, kInvalid, header_only});
  EXPECT_EQ(result.collections, 2);
  const std::vector<uint8_t> first = SynthesizeFromCapsSingle(api, mouse);
  ASSERT_FALSE(first.empty());
  std::vector<uint8_t> expected = first;
  // Without readable lists: Usage Page, Usage, Collection, fill, End Collection.
  const std::vector<uint8_t> tail = SynthesizeFromCapsSingle(api, header_only);
  EXPECT_EQ(std::vector<uint8_t>(tail.begin(), tail.begin() + 6),
            (std::vector<uint8_t>{0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01}));
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(result.bytes, expected);
  EXPECT_TRUE(SynthesizeFromCapsSingle(api, broken).empty());
  EXPECT_TRUE(SynthesizeFromCapsSingle(api, nullptr).empty());
}

}  // namespace
}  // namespace vek_native
