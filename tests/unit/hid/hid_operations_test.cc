#include "hid/hid_operations.h"

#include <gtest/gtest.h>

#include "support/hid/fake_hid_device_api.h"

namespace vek_native {
namespace {

using fake::FakeDeviceTree;
using fake::FakeHidDeviceApi;
using fake::FakeHidDeviceSpec;

// Listing, writing, opening and closing through the bound operations are
// exercised through the real bridge in hid_bridge_test.cc; what is left is the
// readers' lifetime: they belong to the operations and go with them.
TEST(BindHidOperationsTest, ReadersStillOpenAreClosedWithTheOperations) {
  FakeHidDeviceSpec spec;
  spec.path = R"(\\?\hid#vid_845e&pid_0001#1)";
  FakeHidDeviceApi api({spec});
  FakeDeviceTree tree;
  {
    BridgeOperations ops;
    BindHidOperations(ops, api, tree, [](EncodableMap&&) {});
    std::string message;
    ASSERT_TRUE(ops.open_hid_input(spec.path, &message)) << message;
    EXPECT_EQ(api.OpenHandles(spec.path), 1);
  }
  EXPECT_EQ(api.OpenHandles(spec.path), 0);
}

}  // namespace
}  // namespace vek_native
