// Work that runs on a thread of its own which nobody joins: the bridge's jobs,
// the HID and serial readers and the keyboard block's hook thread. Whoever
// needs to know when such work has ended waits on a CompletionLatch the work
// signals, with a time limit where a caller must not hang.
#ifndef VEK_COMMON_DETACHED_THREAD_H_
#define VEK_COMMON_DETACHED_THREAD_H_

#include <functional>

namespace vek_native {

// Starts work on a new thread and lets it go. Throws std::system_error, with
// the system's error code, when the thread cannot be started.
//
// On Windows the thread comes straight from CreateThread: under Wine, a
// detached std::thread of MinGW-w64's winpthreads now and then never runs at
// all when threads come and go quickly, and a job that never runs is a reply
// that never comes.
void StartDetachedThread(std::function<void()> work);

// How features start their threads: StartDetachedThread in the product; tests
// put in one that refuses, to model an exhausted system. Throws as
// StartDetachedThread does.
using ThreadStarter = std::function<void(std::function<void()> work)>;

}  // namespace vek_native

#endif  // VEK_COMMON_DETACHED_THREAD_H_
