// The HID methods act on HID collections only. CreateFileW opens whatever a
// path names; a handle the HID class driver does not know (a file, NUL, a
// serial port, a disk: no attributes, no preparsed data) fails each method
// with its message before anything is read or written, while a collection
// that answers either one works as before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/descriptor_report.h"
#include "hid/hid_input.h"
#include "hid/hid_write.h"
#include "support/hid/fake_hid_device_api.h"
#include "unit/hid/hub_fake.h"

namespace vek_native {
namespace {

class CountingRequests : public HidDescriptorRequests {
 public:
  bool GetRawReportDescriptor(HidDevice&, std::vector<uint8_t>*, uint32_t*,
                              uint32_t* error) override {
    ++calls;
    *error = 50;
    return false;
  }
  bool GetIndexedString(HidDevice&, uint32_t, char16_t*, uint32_t) override {
    ++calls;
    return false;
  }
  int calls = 0;
};

TEST(HidCollectionCheckTest, MethodsActOnHidCollectionsOnly) {
  const std::string not_hid = "该路径不是 HID 设备（HID 类驱动无法读取它的属性）";
  const struct {
    const char* path;
    bool attributes;
    bool preparsed;
  } kinds[] = {{"plain-file", false, false},
               {"attributes-only", true, false},
               {"preparsed-only", false, true}};
  for (const auto& kind : kinds) {
    const bool collection = kind.attributes || kind.preparsed;
    fake::FakeHidDeviceSpec spec;
    spec.path = kind.path;
    spec.has_attributes = kind.attributes;
    spec.has_preparsed_data = kind.preparsed;
    spec.caps.input_report_byte_length = 8;
    spec.caps.output_report_byte_length = 8;
    spec.caps.feature_report_byte_length = 8;
    fake::FakeHidDeviceApi api({spec});
    fake::FakeDeviceTree tree;
    vek_test::FakeUsbHubApi hubs;
    CountingRequests requests;

    std::vector<std::pair<const char*, bool>> outcomes;  // method, succeeded
    std::vector<std::string> messages;
    {
      HidInputReaders readers(api, nullptr);
      std::string message;
      outcomes.emplace_back("openHidInput", readers.Open(kind.path, &message));
      messages.push_back(message);
    }
    for (HidReportKind report : {HidReportKind::kOutput, HidReportKind::kFeature}) {
      std::string message;
      outcomes.emplace_back(report == HidReportKind::kOutput ? "writeHidOutput" : "writeHidFeature",
                            WriteHidReport(api, kind.path, {1, 2}, report, &message));
      messages.push_back(message);
    }
    EncodableValue report;
    std::string message;
    outcomes.emplace_back("readHidDescriptors", ReadHidDescriptors(api, tree, hubs, requests,
                                                                   kind.path, &report, &message));
    messages.push_back(message);

    for (size_t i = 0; i < outcomes.size(); ++i) {
      EXPECT_EQ(outcomes[i].second, collection) << kind.path << " " << outcomes[i].first;
      if (!collection) {
        EXPECT_EQ(messages[i], not_hid) << kind.path << " " << outcomes[i].first;
      }
    }
    const fake::FakeHidDeviceState& state = api.State(kind.path);
    EXPECT_EQ(state.open_handles, 0) << kind.path;
    if (!collection) {
      // Nothing touched the device beyond the two questions.
      EXPECT_TRUE(state.read_sizes.empty()) << kind.path;
      EXPECT_TRUE(state.write_file_calls.empty()) << kind.path;
      EXPECT_TRUE(state.set_output_calls.empty()) << kind.path;
      EXPECT_TRUE(state.set_feature_calls.empty()) << kind.path;
      EXPECT_EQ(requests.calls, 0) << kind.path;
      EXPECT_TRUE(hubs.opens.empty()) << kind.path;
    } else {
      EXPECT_EQ(state.write_file_calls.size(), 1u) << kind.path;
      EXPECT_EQ(state.set_feature_calls.size(), 1u) << kind.path;
    }
  }
}

}  // namespace
}  // namespace vek_native
