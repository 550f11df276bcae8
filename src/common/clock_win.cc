#include <windows.h>

#include "common/clock.h"

namespace vek_native {

uint64_t NowMicros() {
  // Function-local static: thread-safe one-time read of the frequency.
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<uint64_t>(f.QuadPart)
                                                           : 0ULL;
  }();
  LARGE_INTEGER counter;
  if (frequency > 0 && QueryPerformanceCounter(&counter)) {
    return MicrosFromCounter(static_cast<uint64_t>(counter.QuadPart), frequency);
  }
  return GetTickCount64() * 1000ULL;
}

}  // namespace vek_native
