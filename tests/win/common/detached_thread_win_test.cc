#include "common/detached_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vek_native {
namespace {

// Threads started and ended in quick succession, one after another, as the
// bridge's jobs are: every one of them must run. (Detached winpthreads
// threads under Wine lost a few in every thousand this way, so a thousand
// catch that almost always, in half the time of two.)
TEST(DetachedThreadTest, EveryThreadStartedInQuickSuccessionRuns) {
  constexpr int kThreads = 1000;
  std::mutex mutex;
  std::condition_variable done;
  int ran = 0;
  for (int i = 0; i < kThreads; ++i) {
    const int before = i;
    StartDetachedThread([&] {
      std::lock_guard<std::mutex> lock(mutex);
      ++ran;
      done.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    // Generous: a thread that never runs is the fault, not a slow one.
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(30), [&] { return ran > before; }))
        << "thread " << i << " never ran";
  }
  EXPECT_EQ(ran, kThreads);
}

}  // namespace
}  // namespace vek_native
