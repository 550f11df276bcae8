#include "common/completion_latch.h"

namespace vek_native {

void CompletionLatch::Signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  signalled_changed_.notify_all();
}

void CompletionLatch::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  signalled_changed_.wait(lock, [this] { return signalled_; });
}

bool CompletionLatch::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return signalled_changed_.wait_until(lock, deadline, [this] { return signalled_; });
}

bool CompletionLatch::WaitFor(std::chrono::milliseconds timeout) {
  return WaitUntil(std::chrono::steady_clock::now() + timeout);
}

}  // namespace vek_native
