// A keyboard block whose hook thread cannot be started: "startKeyBlock"
// answers its failure instead of letting the thread's exception reach the
// window procedure, and leaves no block behind; once threads can be started
// again the block works as before.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <system_error>

#include "bridge/key_block.h"
#include "bridge/native_bridge.h"
#include "unit/bridge/bridge_test_support.h"
#include "win/bridge/own_operations_bridge.h"

namespace vek_native {
namespace {

using testing_support::ReplyRecord;

TEST(KeyBlockThreadTest, AStartWithoutAThreadFailsAndLeavesNoBlock) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  testing_support::NullMessenger messenger;
  NativeBridge bridge;
  AttachWithOwnOperations(bridge, &messenger, window);
  // Threads come back whatever happens below, so no later test inherits the refusal.
  struct RestoreThreads {
    ~RestoreThreads() { SetKeyBlockThreadStarter(nullptr); }
  } restore;
  int refused = 0;
  SetKeyBlockThreadStarter([&refused](std::function<void()>) {
    ++refused;
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  const auto failed = testing_support::Call(bridge, "startKeyBlock", EncodableValue());
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(failed->kind, ReplyRecord::kError);
  EXPECT_EQ(failed->code, "key-block-start-failed");
  EXPECT_EQ(failed->message, "无法安装键盘钩子（WH_KEYBOARD_LL）");
  EXPECT_FALSE(KeyBlockActive());
  EXPECT_EQ(testing_support::Call(bridge, "stopKeyBlock", EncodableValue())->kind,
            ReplyRecord::kSuccess);

  SetKeyBlockThreadStarter(nullptr);
  const auto started = testing_support::Call(bridge, "startKeyBlock", EncodableValue());
  EXPECT_EQ(started->value, EncodableValue(true));
  EXPECT_TRUE(KeyBlockActive());
  bridge.Detach();  // ends the block
  EXPECT_FALSE(KeyBlockActive());
  DestroyWindow(window);
}

}  // namespace
}  // namespace vek_native
