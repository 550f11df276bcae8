// Readers whose stopped read does not end until the test lets it, as with a
// driver that never completes a cancelled read: Close ("closeHidInput") and
// CloseAll (the teardown) answer within a generous multiple of their 500 ms
// bound, and each device stays open until its read has ended (run under ASan
// and TSan as well: the late end touches the reader's channel).
#include <gtest/gtest.h>

#include <thread>

#include "hid/hid_input.h"
#include "support/hid/fake_hid_device_api.h"
#include "support/returns_within.h"

namespace vek_native {
namespace {

TEST(HidInputStuckReadTest, ClosesAnswerAndDevicesStayOpenUntilTheirReadsEnd) {
  fake::FakeHidDeviceApi api;
  const std::vector<std::string> paths = {"a", "b", "c"};
  for (const std::string& path : paths) {
    fake::FakeHidDeviceSpec spec;
    spec.path = path;
    api.Add(spec);
  }
  auto set_pending = [&](bool pending) {
    for (const std::string& path : paths) {
      fake::FakeHidDeviceState& state = api.State(path);
      std::lock_guard<std::mutex> lock(state.mutex);
      state.cancel_pends = pending;
      state.changed.notify_all();
    }
  };
  set_pending(true);
  HidInputReaders readers(api, nullptr);
  std::string message;
  for (const std::string& path : paths) {
    ASSERT_TRUE(readers.Open(path, &message)) << message;
    api.WaitUntilDrained(path);  // its read is in progress
  }
  const auto release = [&] { set_pending(false); };
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(5), [&] { readers.Close("a"); }, release));
  EXPECT_TRUE(ReturnsWithin(
      std::chrono::seconds(5), [&] { readers.CloseAll(); }, release));
  EXPECT_EQ(readers.ReaderCount(), 0u);
  for (const std::string& path : paths) EXPECT_EQ(api.OpenHandles(path), 1) << path;
  release();
  for (const std::string& path : paths) {
    for (int i = 0; i < 2000 && api.OpenHandles(path) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(api.OpenHandles(path), 0) << path;
  }
}

}  // namespace
}  // namespace vek_native
