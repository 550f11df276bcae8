// A key block whose hook thread cannot be started fails its start instead of
// throwing out of it (into the window procedure), and leaves no block.
#include <gtest/gtest.h>

#include <system_error>

#include "bridge/key_block.h"

namespace vek_native {
namespace {

TEST(KeyBlockThreadTest, AStartWithoutAThreadFailsAndLeavesNoBlock) {
  KeyBlock block([](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_FALSE(block.Start());
  EXPECT_FALSE(block.Active());
  EXPECT_TRUE(StartKeyBlock());  // threads again: the block starts and stops as before
  StopKeyBlock();
  EXPECT_FALSE(KeyBlockActive());
}

}  // namespace
}  // namespace vek_native
