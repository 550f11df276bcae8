// A one-shot signal that a piece of work has ended: the join of a thread that
// nobody joins, which a caller can wait for with a time limit.
#ifndef VEK_COMMON_COMPLETION_LATCH_H_
#define VEK_COMMON_COMPLETION_LATCH_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vek_native {

class CompletionLatch {
 public:
  // Marks the work as ended and wakes every waiter. Later calls change nothing.
  void Signal();
  // Waits without a limit.
  void Wait();
  // True once signalled; false when the deadline or the time-out came first.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable signalled_changed_;
  bool signalled_ = false;
};

}  // namespace vek_native

#endif  // VEK_COMMON_COMPLETION_LATCH_H_
