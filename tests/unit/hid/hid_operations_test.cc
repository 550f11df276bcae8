#include "hid/hid_operations.h"

#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeDeviceTree;
using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

TEST(BindHidOperationsTest, FillsTheHidOperationsAndOwnsTheReaders) {
  FakeHidDeviceSpec spec;
  spec.path = R"(\\?\hid#vid_845e&pid_0001#1)";
  spec.caps.output_report_byte_length = 2;
  FakeHidDeviceApi api({spec});
  FakeDeviceTree tree;
  {
    BridgeOperations ops;
    BindHidOperations(ops, api, tree, [](EncodableMap&&) {});
    ASSERT_TRUE(ops.list_hid_devices && ops.open_hid_input && ops.close_hid_input &&
                ops.close_all_hid_inputs && ops.write_hid_report);

    EncodableValue value;
    std::string message;
    ASSERT_TRUE(ops.list_hid_devices(&value, &message));
    const auto& list = std::get<EncodableList>(value);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(std::get<EncodableMap>(list[0]).at(EncodableValue("path")),
              EncodableValue(spec.path));

    ASSERT_TRUE(ops.write_hid_report(spec.path, {7}, false, &message));
    EXPECT_EQ(api.State(spec.path).write_file_calls[0], (std::vector<uint8_t>{7, 0}));

    ASSERT_TRUE(ops.open_hid_input(spec.path, &message));
    EXPECT_EQ(api.OpenHandles(spec.path), 1);
    ops.close_all_hid_inputs();
    EXPECT_EQ(api.OpenHandles(spec.path), 0);
    // A reader still open when the operations go is closed with them.
    ASSERT_TRUE(ops.open_hid_input(spec.path, &message));
  }
  EXPECT_EQ(api.OpenHandles(spec.path), 0);
}

}  // namespace
}  // namespace vek_native
