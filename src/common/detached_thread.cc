#include "common/detached_thread.h"

#ifndef _WIN32
#include <thread>
#include <utility>

namespace vek_native {

void StartDetachedThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace vek_native
#endif  // Windows: detached_thread_win.cc
