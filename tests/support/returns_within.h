// For tests of a time limit: whether some work returns in time.
#ifndef VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_
#define VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_

#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace vek_native {

// Whether `work`, run on a thread of its own, returns within `limit`. When it
// does not, `release` lets it finish, so that the thread can be joined.
inline bool ReturnsWithin(std::chrono::seconds limit, const std::function<void()>& work,
                          const std::function<void()>& release) {
  std::packaged_task<void()> task(work);
  std::future<void> returned = task.get_future();
  std::thread runner(std::move(task));
  const bool in_time = returned.wait_for(limit) == std::future_status::ready;
  if (!in_time) release();
  runner.join();
  return in_time;
}

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_
