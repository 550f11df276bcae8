// The rest of a write the system did not finish at once. One still pending
// after its time-out and cancel, as with a driver that never completes a
// cancelled write, is freed only once it has ended, by a thread of its own;
// with no thread to be had, never.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "serial/serial_connections.h"

namespace vek_native {
namespace {

// A write of 3 bytes that ends at its `ends_at`-th wait (0: only when the
// test says so). state: 0 pending, 1 ended, 2 freed after its end, -1 freed
// while pending.
struct StuckWrite : SerialPendingWrite {
  StuckWrite(std::atomic<int>* s, int end, bool* cancel)
      : state(s), ends_at(end), cancelled(cancel) {}
  ~StuckWrite() override { *state = *state == 1 ? 2 : -1; }
  bool Wait(uint32_t) override {
    if (++waits == ends_at) *state = 1;
    return *state == 1;
  }
  uint32_t Written() override { return 3; }
  void Cancel() override { *cancelled = true; }
  void WaitUntilEnded() override {
    while (*state == 0) std::this_thread::yield();
  }
  std::atomic<int>* state;
  int waits = 0, ends_at;
  bool* cancelled;
};

TEST(SerialStuckIoTest, AWriteThatDoesNotEndIsFreedOnlyAfterItsEnd) {
  using O = SerialWriteOutcome;
  // Ends at wait, threads to be had, outcome, bytes written.
  const std::tuple<int, bool, O, uint32_t> rows[] = {{1, true, O::kDone, 3},
                                                     {2, true, O::kTimedOut, 0},
                                                     {0, true, O::kTimedOut, 0},
                                                     {0, false, O::kTimedOut, 0}};
  for (const auto& [ends_at, threads, outcome, bytes] : rows) {
    auto* state = new std::atomic<int>(0);  // a kept write may point at it for ever
    uint32_t written = 9;
    bool cancelled = false;
    const ThreadStarter start = [threads = threads](std::function<void()> work) {
      if (!threads) throw std::runtime_error("no threads");
      std::thread(std::move(work)).detach();
    };
    EXPECT_EQ(FinishSerialWrite(std::make_unique<StuckWrite>(state, ends_at, &cancelled),
                                kSerialWriteTimeoutMs, start, &written),
              outcome);
    EXPECT_EQ(std::make_tuple(state->load(), written, cancelled),
              std::make_tuple(ends_at == 0 ? 0 : 2, bytes, ends_at != 1))
        << ends_at << threads;
    if (ends_at == 0) *state = 1;
    for (int i = 0; i < 2000 && threads && *state != 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state->load(), threads ? 2 : 1) << threads;
    if (threads) delete state;
  }
}

}  // namespace
}  // namespace vek_native
