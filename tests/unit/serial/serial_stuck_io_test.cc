// A write still pending after its time-out and cancel, as with a driver that
// never completes a cancelled write, is freed only once it has ended, by a
// thread of its own; with no thread to be had, never.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "serial/serial_connections.h"

namespace vek_native {
namespace {

// state: 0 pending, 1 ended (by the test), 2 freed after its end, -1 freed
// while pending.
struct NeverEndingWrite : SerialPendingWrite {
  explicit NeverEndingWrite(std::atomic<int>* s) : state(s) {}
  ~NeverEndingWrite() override { *state = *state == 1 ? 2 : -1; }
  bool Wait(uint32_t) override { return false; }
  uint32_t Written() override { return 0; }
  void Cancel() override {}
  void WaitUntilEnded() override {
    while (*state == 0) std::this_thread::yield();
  }
  std::atomic<int>* state;
};

TEST(SerialStuckIoTest, AWriteThatDoesNotEndIsFreedOnlyAfterItsEnd) {
  for (const bool threads : {true, false}) {
    auto* state = new std::atomic<int>(0);  // a kept write may point at it for ever
    uint32_t written = 9;
    const ThreadStarter start = [threads](std::function<void()> work) {
      if (!threads) throw std::runtime_error("no threads");
      std::thread(std::move(work)).detach();
    };
    EXPECT_EQ(FinishSerialWrite(std::make_unique<NeverEndingWrite>(state), kSerialWriteTimeoutMs,
                                start, &written),
              SerialWriteOutcome::kTimedOut);
    EXPECT_EQ(state->load(), 0) << threads;
    *state = 1;
    for (int i = 0; i < 2000 && threads && *state != 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state->load(), threads ? 2 : 1) << threads;
    if (threads) delete state;
  }
}

}  // namespace
}  // namespace vek_native
