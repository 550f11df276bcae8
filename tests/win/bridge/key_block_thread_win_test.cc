// A key block whose hook thread cannot be started, or never runs, fails its
// start instead of throwing out of it (into the window procedure) or waiting
// without a bound, and leaves no block.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <system_error>

#include "bridge/key_block.h"
#include "common/detached_thread.h"
#include "support/returns_within.h"

namespace vek_native {
namespace {

TEST(KeyBlockThreadTest, AStartWithoutARunningThreadFailsInTimeAndLeavesNoBlock) {
  std::function<void()> parked;  // the work of a thread that never ran
  const struct {
    ThreadStarter starter;
    const char* message;
  } rows[] = {
      {[](std::function<void()>) {
         throw std::system_error(8, std::system_category(), "CreateThread");
       },
       "启动键盘钩子线程失败（错误码 8）"},
      {[&parked](std::function<void()> work) { parked = std::move(work); }, ""},
  };
  for (const auto& row : rows) {
    KeyBlock block(row.starter);
    std::string message;
    bool started = true;
    // The ready wait, then the bounded join of a thread that never reported.
    EXPECT_TRUE(ReturnsWithin(
        std::chrono::seconds(30), [&] { started = block.Start(&message); },
        [&] { StartDetachedThread(parked); }));
    EXPECT_FALSE(started);
    EXPECT_EQ(message, row.message);
    EXPECT_FALSE(block.Active());
    EXPECT_TRUE(ReturnsWithin(
        std::chrono::seconds(30), [&] { block.Stop(); }, [] {}));
  }
  // The parked thread, run late, finds itself given up: it removes the hook
  // it installs instead of blocking the keyboard for ever.
  std::function<void()> late = std::move(parked);
  late();
  EXPECT_TRUE(StartKeyBlock());  // threads again: the block starts and stops as before
  StopKeyBlock();
  EXPECT_FALSE(KeyBlockActive());
}

}  // namespace
}  // namespace vek_native
