// I/O that never ends until the test lets it: a driver that completes a
// cancelled read (or write) late or never. The fakes built on it count open
// devices and pending operations, so a test sees a handle closed under a
// pending operation, and do the late completion's writes for real, so ASan
// sees memory freed too early.
#ifndef VEK_TESTS_SUPPORT_STUCK_IO_H_
#define VEK_TESTS_SUPPORT_STUCK_IO_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace vek_native {
namespace fake {

struct StuckIoGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  int waiting = 0;       // operations issued and waiting for their end or a stop
  int pending = 0;       // operations waiting for the release
  int devices_open = 0;  // devices not yet destroyed
  int late_completions = 0;
  bool closed_under_pending = false;  // a device closed while an operation pended

  // The system finally ends every pending operation.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
  }
  // Waits (generously bounded) until `done` holds under the mutex.
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), done);
  }
  // Called by a pending operation: blocks until released. `pending_here` is
  // the operation's own flag, true meanwhile.
  void Pend(bool* pending_here) {
    std::unique_lock<std::mutex> lock(mutex);
    ++pending;
    *pending_here = true;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
    *pending_here = false;
    --pending;
    ++late_completions;
    changed.notify_all();
  }
  // Called by a device being closed or destroyed, with its operation's flag.
  void NoteClose(const bool& pending_here) {
    std::lock_guard<std::mutex> lock(mutex);
    if (pending_here) closed_under_pending = true;
  }
};

// Runs `work` on a thread of its own; true when it returned within `limit`.
// When it did not, `release` lets it finish before the thread is joined, so
// a failing test still ends.
inline bool ReturnsWithin(std::chrono::seconds limit, const std::function<void()>& work,
                          const std::function<void()>& release) {
  std::promise<void> returned;
  std::future<void> returned_future = returned.get_future();
  std::thread runner([&] {
    work();
    returned.set_value();
  });
  const bool in_time = returned_future.wait_for(limit) == std::future_status::ready;
  if (!in_time) release();
  runner.join();
  return in_time;
}

}  // namespace fake
}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_STUCK_IO_H_
