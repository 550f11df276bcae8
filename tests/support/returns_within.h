// For tests of a time limit: whether some work returns in time.
#ifndef VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_
#define VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_

#include <chrono>
#include <functional>
#include <future>

namespace vek_native {

// Whether `work`, run on a thread of its own, returns within `limit`. When it
// does not, `release` lets it finish, so that the thread can be joined.
inline bool ReturnsWithin(std::chrono::seconds limit, const std::function<void()>& work,
                          const std::function<void()>& release) {
  // The future of std::async waits for the work when it is destroyed.
  std::future<void> returned = std::async(std::launch::async, work);
  if (returned.wait_for(limit) == std::future_status::ready) return true;
  release();
  return false;
}

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_RETURNS_WITHIN_H_
